#pragma once
// The station program's settings object: decides where settings live (the per-user store standing
// for the product's registry key, or an alternate ini file given by -CONFIG), reads the parameter
// and plug-in folders and creates the global description lists (gInstrumentList, gListElScn,
// gListScn) from the files of the parameter folder; its destructor frees them.
#include "common/IniFile.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

extern const char* const ZELTRegistryKey;  // "SOFTWARE\DORAX Quenlith\ZELT Win"

class TZELT {
 public:
  // `args` is the whole command line, the program path included. A relative -CONFIG name is taken
  // from `programDir` (the running program's folder by default).
  explicit TZELT(const std::vector<std::string>& args, const std::filesystem::path& programDir = {});
  TZELT(int argc, char** argv);
  virtual ~TZELT();
  TZELT(const TZELT&) = delete;
  TZELT& operator=(const TZELT&) = delete;

  // A fresh settings reader (the caller owns it): the alternate ini file when one is in use, else
  // the per-user store of the registry key. Pass RegBaseSecName() as the section.
  std::unique_ptr<TCustomIniFile> OpenSettings() const;
  // "General" with an alternate ini file, else empty (the values of the key itself).
  std::string RegBaseSecName() const { return AltIniFile.empty() ? std::string() : std::string("General"); }

  const std::string& RegistryKey() const { return RegKey; }
  const std::string& AlternateIniFile() const { return AltIniFile; }
  // Folders, always ending in '/'.
  const std::string& PARDirectory() const { return ParDirectory; }
  const std::string& PlugInsDirectory() const { return PlugInsDir; }
  void SetPARDirectory(const std::string& dir);
  void SetPlugInsDirectory(const std::string& dir);

  // The script list lives in the link library: the program registers how to create it from a file
  // and how to free it before it creates the settings object. Without them no script list is made.
  static void SetScriptsListHooks(std::function<void(const std::string& fileName)> load,
                                  std::function<void()> free);

  // True for the -CONFIG option: "-CONFIG", one separator that is no letter or digit ("=", ":"), then
  // the file's name. "-CONFIGURE" and a bare "-CONFIG" are not it.
  static bool IsAlternateFileOption(const std::string& arg);
  // The settings file a -CONFIG option names (empty for none), a relative name taken from `programDir`
  // (the running program's folder by default).
  static std::filesystem::path AlternateFileOf(const std::string& arg, const std::filesystem::path& programDir = {});
  // Why that file can neither be read nor created (the system's words), or empty when it can.
  static std::string AlternateFileProblem(const std::filesystem::path& path);

  // Creates the global instrument, value-description and measurement-type lists from the files of
  // a folder, replacing those there were (for programs and tools that run without settings).
  static void LoadDescriptionLists(const std::string& parDirectory);

 private:
  void Construct(const std::vector<std::string>& args, const std::filesystem::path& programDir);
  void ChooseAlternateFile(const std::vector<std::string>& args, const std::filesystem::path& programDir);
  void ReadDirectories();
  void LoadLists();
  static void FreeLists(bool withScripts);

  std::string RegKey;
  std::string AltIniFile;
  std::string ParDirectory;
  std::string PlugInsDir;
};

// The one settings object, set from the start of its construction to its destruction.
extern TZELT* gZELT;
