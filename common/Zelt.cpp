#include "common/Zelt.h"

#include <cctype>
#include <cerrno>
#include <cstring>

#include "common/DataPaths.h"
#include "common/FileUtils.h"
#include "common/Instrument.h"
#include "common/Prompt.h"
#include <QString>
#include "common/ScnElement.h"
#include "common/ScnType.h"
#include "common/SettingsStore.h"

const char* const ZELTRegistryKey = "SOFTWARE\\DORAX Quenlith\\ZELT Win";
TZELT* gZELT = nullptr;

namespace {

std::function<void(const std::string&)>& ScriptsLoad()
{
  static std::function<void(const std::string&)> load;
  return load;
}

std::function<void()>& ScriptsFree()
{
  static std::function<void()> free;
  return free;
}

bool StartsWithNoCase(const std::string& s, const char* prefix)
{
  std::string p(prefix);
  return s.size() >= p.size() && IniNameEquals(s.substr(0, p.size()), p);
}

}  // namespace

TZELT::TZELT(const std::vector<std::string>& args, const std::filesystem::path& programDir)
{
  Construct(args, programDir);
}

TZELT::TZELT(int argc, char** argv)
{
  std::vector<std::string> args;
  for (int i = 0; i < argc && argv && argv[i]; ++i) args.emplace_back(argv[i]);
  Construct(args, {});
}

void TZELT::Construct(const std::vector<std::string>& args, const std::filesystem::path& programDir)
{
  gZELT = this;
  RegKey = ZELTRegistryKey;
  AltIniFile.clear();
  ChooseAlternateFile(args, programDir.empty() ? ProgramDir() : programDir);
  ReadDirectories();
  LoadLists();
}

TZELT::~TZELT()
{
  // The lists belong to the current settings object only.
  if (gZELT != this) return;
  FreeLists(true);
  gZELT = nullptr;
}

bool TZELT::IsAlternateFileOption(const std::string& arg)
{
  return arg.size() > 7 && StartsWithNoCase(arg, "-CONFIG") && !std::isalnum(static_cast<unsigned char>(arg[7]));
}

std::filesystem::path TZELT::AlternateFileOf(const std::string& arg, const std::filesystem::path& programDir)
{
  // The eighth character separates the option from the name and is dropped.
  const std::string name = arg.size() > 8 ? arg.substr(8) : std::string();
  if (name.empty()) return {};
  const std::filesystem::path path(name);
  return path.is_absolute() ? path : (programDir.empty() ? ProgramDir() : programDir) / path;
}

std::string TZELT::AlternateFileProblem(const std::filesystem::path& path)
{
  if (path.empty()) return "no file name";
  if (DirectoryExists(path)) return std::strerror(EISDIR);
  if (FileExists(path)) return {};
  // Prove that the file can be created, then leave no trace of the test.
  errno = 0;
  if (!AppendFileBytes(path, "TEST\r\n")) return std::strerror(errno ? errno : EACCES);
  DeleteFileIfExists(path);
  return {};
}

void TZELT::ChooseAlternateFile(const std::vector<std::string>& args, const std::filesystem::path& programDir)
{
  for (const auto& arg : args) {
    if (!IsAlternateFileOption(arg)) continue;
    const std::filesystem::path path = AlternateFileOf(arg, programDir);
    AltIniFile = (path.empty() ? programDir / "" : path).string();
    if (AlternateFileProblem(path).empty()) continue;
    ShowWarning(TextWithFileName("Bad alternate config file ", AltIniFile));
    AltIniFile.clear();
  }
}

std::unique_ptr<TCustomIniFile> TZELT::OpenSettings() const
{
  if (!AltIniFile.empty()) return std::make_unique<TIniFile>(AltIniFile);
  return std::make_unique<TRegistryIniFile>(RegKey);
}

void TZELT::SetPARDirectory(const std::string& dir)
{
  ParDirectory = IncludeTrailingSlash(dir);
}

void TZELT::SetPlugInsDirectory(const std::string& dir)
{
  PlugInsDir = IncludeTrailingSlash(dir);
}

void TZELT::ReadDirectories()
{
  // Description files lie in the installed data folder, plug-ins in the folder beside the program,
  // unless the settings name others. An empty value would mean the root folder: the default holds.
  const std::string parDefault = InstalledDataDir().string();
  const std::string plugDefault = PlugInDir().string();
  std::unique_ptr<TCustomIniFile> reader = OpenSettings();
  std::string par = reader->ReadString(RegBaseSecName(), "PARDirectory", parDefault);
  std::string plug = reader->ReadString(RegBaseSecName(), "PlugInsDirectory", plugDefault);
  reader.reset();
  SetPARDirectory(par.empty() ? parDefault : par);
  SetPlugInsDirectory(plug.empty() ? plugDefault : plug);
}

void TZELT::SetScriptsListHooks(std::function<void(const std::string&)> load, std::function<void()> free)
{
  ScriptsLoad() = std::move(load);
  ScriptsFree() = std::move(free);
}

void TZELT::LoadLists()
{
  LoadDescriptionLists(ParDirectory);
  if (ScriptsLoad()) ScriptsLoad()(ParDirectory + "Scripts.lst");
}

void TZELT::LoadDescriptionLists(const std::string& parDirectory)
{
  // New lists replace older ones. A missing description file leaves its list empty, without a
  // message. The measurement types refer to the value descriptions, so those come first.
  FreeLists(false);
  const std::string dir = IncludeTrailingSlash(parDirectory);
  gInstrumentList = new TInstrumentList;
  gInstrumentList->LoadFromFile(dir + "InsList.dat");
  gListElScn = new TListElScn;
  gListElScn->LoadFromFile(dir + "ScnElList.dat");
  gListScn = new TListScn;
  gListScn->LoadFromFile(dir + "ScnList.dat");
  gListScn->LoadFromFile(dir + "ExtraScn.dat");
}

void TZELT::FreeLists(bool withScripts)
{
  // Measurement types, value descriptions, scripts, instruments.
  delete gListScn;
  gListScn = nullptr;
  delete gListElScn;
  gListElScn = nullptr;
  if (withScripts && ScriptsFree()) ScriptsFree()();
  delete gInstrumentList;
  gInstrumentList = nullptr;
}
