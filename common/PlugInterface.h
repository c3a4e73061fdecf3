/* The binary interface between the station program and its analysis plug-ins.
 *
 * A plug-in is a shared object ("*.so") in the plug-ins folder exporting C functions:
 *   const unsigned char* _GetZELTPlugMenuCaption(unsigned char buffer[256]);   required
 *   void _ExtendedPlugInsFunc(int32_t code, void* record);                      optional
 *   bool _Initialize(TPlugInContext* context);                                  to be run
 *   int32_t _Execute(int32_t reserved);                                         to be run
 * The caption buffer holds a length byte and that many characters (bytes shown as Windows-1252).
 *
 * Host and plug-ins are compiled separately, so every record here has natural alignment, no packing,
 * and its offsets are pinned below. Records that carry text between the two sides hold plain C
 * character pointers owned by the side that wrote them: nothing allocated by one side is freed by
 * the other.
 */
#ifndef ZELT_PLUGINTERFACE_H
#define ZELT_PLUGINTERFACE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Changes whenever a record here or a host object read by the plug-ins changes layout. The host writes
 * it in the first four bytes of Reserved each time it fills the context; a plug-in built for another
 * number refuses to run. */
#define ZELT_PLUGIN_ABI 0x5A310002u

#define ZELT_PLUGIN_CONTEXT_VERSION 2

/* Filled by the host before every run; the plug-in may keep its address for the life of the process. */
typedef struct TPlugInContext {
    int32_t Version;               /* 2 */
    uint8_t ExpertMode;            /* kept current when the mode changes */
    void* Medium;                  /* the host's current TMedia, may be null */
    void* CurrentDataFile;         /* address of the host's TQ5File* variable (which may hold null) */
    void* ScnList;                 /* the global TListScn */
    void* InstrumentList;          /* the global TInstrumentList */
    void* PlugInFileName;          /* std::string* with the running plug-in's full path */
    uint8_t ConfirmWrite;          /* ask before overwriting files */
    void* Application;             /* the host's QApplication */
    void* StationParams;           /* TParamsList decoded for this run from the data file, or null */
    uint8_t Reserved[512];         /* first four bytes: ZELT_PLUGIN_ABI; the rest zero */
} TPlugInContext;

/* Code 1 of _ExtendedPlugInsFunc: the plug-in fills this record (the host zero-fills it first). */
typedef struct TPlugInExtInfo {
    uint8_t Unused[8];
    uint8_t HideMainForm;
    uint8_t CloseMainForm;
    uint8_t ReloadData;
    uint8_t Unused2;
    int32_t MenuCount;
} TPlugInExtInfo;

/* Code 2 of _ExtendedPlugInsFunc: one menu entry, Index set by the host, the rest zero-filled by the
 * host and written by the plug-in. The texts stay owned by the plug-in (static strings or storage it
 * keeps while loaded); the host copies them. */
typedef struct TPlugInMenuDef {
    int32_t Index;
    uint8_t Skip;                  /* non-zero: the entry is not added */
    uint8_t NoClick1;              /* either non-zero: the entry has no click action */
    uint8_t NoClick2;
    uint8_t Unused;
    const char* FormName;
    const char* ControlName;
    const char* Caption;
    const char* InsertBefore;
    void* Unused2;
} TPlugInMenuDef;

enum { ZELT_EXT_INFO = 1, ZELT_EXT_MENU = 2 };

typedef const unsigned char* (*TGetMenuCaptionFunc)(unsigned char* buffer);
typedef void (*TExtendedFunc)(int32_t code, void* record);
typedef uint8_t (*TInitializeFunc)(TPlugInContext* context);
typedef int32_t (*TExecuteFunc)(int32_t reserved);

#ifdef __cplusplus
}
#endif

#if defined(__cplusplus) && (defined(__x86_64__) || defined(__aarch64__))
static_assert(sizeof(void*) == 8, "64-bit layout");
static_assert(offsetof(TPlugInContext, ExpertMode) == 4, "context layout");
static_assert(offsetof(TPlugInContext, Medium) == 8, "context layout");
static_assert(offsetof(TPlugInContext, CurrentDataFile) == 16, "context layout");
static_assert(offsetof(TPlugInContext, ScnList) == 24, "context layout");
static_assert(offsetof(TPlugInContext, InstrumentList) == 32, "context layout");
static_assert(offsetof(TPlugInContext, PlugInFileName) == 40, "context layout");
static_assert(offsetof(TPlugInContext, ConfirmWrite) == 48, "context layout");
static_assert(offsetof(TPlugInContext, Application) == 56, "context layout");
static_assert(offsetof(TPlugInContext, StationParams) == 64, "context layout");
static_assert(offsetof(TPlugInContext, Reserved) == 72, "context layout");
static_assert(sizeof(TPlugInContext) == 584, "context layout");
static_assert(offsetof(TPlugInExtInfo, HideMainForm) == 8, "extended info layout");
static_assert(offsetof(TPlugInExtInfo, MenuCount) == 12, "extended info layout");
static_assert(sizeof(TPlugInExtInfo) == 16, "extended info layout");
static_assert(offsetof(TPlugInMenuDef, Skip) == 4, "menu record layout");
static_assert(offsetof(TPlugInMenuDef, FormName) == 8, "menu record layout");
static_assert(offsetof(TPlugInMenuDef, InsertBefore) == 32, "menu record layout");
static_assert(sizeof(TPlugInMenuDef) == 48, "menu record layout");
#endif

#endif
