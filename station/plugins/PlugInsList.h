// The plug-in host: finds the analysis plug-ins in the plug-ins folder, lists them in the
// "&Processing" menu (or, for extended plug-ins, in the tool-button menus they name) and runs them.
#pragma once

#include "common/PlugInterface.h"

#include <QObject>
#include <memory>
#include <string>
#include <vector>

class QAction;
class QLibrary;
class QMenu;
class QWidget;

// What the host needs of the main window. The main window implements it; tests use a small fake.
class TPlugInHostWindow {
public:
    virtual ~TPlugInHostWindow() = default;
    virtual QWidget* HostForm() = 0;             // hidden, shown or closed around a run
    virtual QMenu* ProcessingMenu() = 0;          // "&Processing"
    virtual QAction* ProcessingButton() = 0;      // its tool-bar button, visible with the menu
    virtual bool TransferInProgress() = 0;        // no run while the instrument is being read
    // Decodes the current data file's parameter block for one run; null without a data file.
    // The host frees it with FreeStationParams after the run.
    virtual void* DecodeStationParams() = 0;
    virtual void FreeStationParams(void* params) = 0;
    // After a run that asks for it: take the current data file back from memory and rebuild the list.
    virtual void ReloadCurrentDataFile() = 0;
};

// One loaded plug-in. The library stays loaded until the process ends.
struct TPlugIns {
    QLibrary* Library = nullptr;                  // null: nothing to run
    std::string FileName;                         // full path
    std::string Caption;
    bool Extended = false;
    TPlugInExtInfo ExtInfo{};                     // extended plug-ins only
    struct MenuDef {                              // copied from the plug-in's records
        bool Skip = false;
        bool NoClick = false;
        std::string FormName, ControlName, Caption, InsertBefore;
    };
    std::vector<MenuDef> Menus;                   // extended plug-ins only
};

class TPlugInsList : public QObject {
    Q_OBJECT
public:
    // Upper bound on the menu entries one extended plug-in may declare.
    static constexpr int MaxMenuCount = 64;

    TPlugInsList(TPlugInHostWindow& host, const std::string& plugInsDirectory);
    ~TPlugInsList() override;

    const std::vector<std::unique_ptr<TPlugIns>>& Items() const { return items_; }
    TPlugInContext& Context() { return context_; }

    // Writes the context fields that follow the main window (everything but the per-run ones).
    void FillContext(bool expertMode, void* medium, void* currentDataFileSlot, void* scnList,
                     void* instrumentList, bool confirmWrite);
    void SetExpertMode(bool on) { context_.ExpertMode = on ? 1 : 0; }

    // Adds the extended plug-ins' entries to the tool-button menus of a form.
    void AddFormMenus(QWidget* form);

    // 0 when the plug-in has nothing to run, else 1.
    int RunPlugIn(TPlugIns& plugIn);
    // What the last run's _Execute returned (negative: the plug-in refused, failed or did not start).
    int32_t LastExecuteResult() const { return lastExecuteResult_; }
    // The plug-in whose library file name matches, case-insensitively (".so" added when the name has
    // no extension); null when none does.
    TPlugIns* FindByName(const std::string& name);
    // Runs the plug-in FindByName finds; 0 when there is none.
    int RunByName(const std::string& name);

    // Relative names of every "*.so" under the folder and its sub-folders, sorted.
    static std::vector<std::string> FindPlugInFiles(const std::string& directory);

private slots:
    void PlugInMenuClick();

private:
    void Load(const std::string& directory, const std::string& relativeName);
    void AddProcessingEntries();
    void RemoveMenus();
    void UpdateProcessingVisibility();
    void ResetReserved();

    TPlugInHostWindow& host_;
    std::vector<std::unique_ptr<TPlugIns>> items_;
    std::vector<QWidget*> formsWithMenus_;
    TPlugInContext context_{};
    int32_t lastExecuteResult_ = -1;
};

// The caption of a 256-byte length-prefixed buffer.
std::string ShortStringToString(const unsigned char* buffer);
// The first child of parent (depth first) named name, or null.
QWidget* FindControlByName(QWidget* parent, const QString& name);
