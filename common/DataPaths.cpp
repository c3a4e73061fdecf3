#include "common/DataPaths.h"

#include "common/FileUtils.h"
#include "common/InstallLayout.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace fs = std::filesystem;

#ifndef ZELT_BUILD_DATA_DIR
#define ZELT_BUILD_DATA_DIR "/usr/share/zelt"
#endif

namespace {

// An environment variable that is set and not empty.
bool EnvValue(const char* name, std::string& value)
{
  const char* v = std::getenv(name);
  if (!v || !*v) return false;
  value = v;
  return true;
}

// XDG folders must be absolute; a relative value is ignored, as the base directory rules say.
fs::path XdgFolder(const char* variable, const fs::path& fallbackUnderHome)
{
  std::string value;
  if (EnvValue(variable, value) && fs::path(value).is_absolute()) return fs::path(value);
  return HomeDir() / fallbackUnderHome;
}

}  // namespace

fs::path HomeDir()
{
  std::string value;
  if (EnvValue("HOME", value)) return fs::path(value);
  if (struct passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir && *pw->pw_dir) return fs::path(pw->pw_dir);
  return fs::path("/");
}

fs::path InstalledDataDir()
{
  std::string value;
  if (EnvValue("ZELT_DATA_DIR", value)) return fs::path(value);
  const fs::path installed = zelt_install::InstalledDataFolder();
  return installed.empty() ? fs::path(ZELT_BUILD_DATA_DIR) : installed;
}

fs::path InstalledDataFile(const std::string& name)
{
  return InstalledDataDir() / name;
}

fs::path UserDataDir(bool create)
{
  fs::path dir = XdgFolder("XDG_DATA_HOME", fs::path(".local") / "share") / "zelt";
  if (create) ForceDirectories(dir);
  return dir;
}

fs::path UserConfigDir()
{
  return XdgFolder("XDG_CONFIG_HOME", ".config");
}

fs::path ProgramDir()
{
  const fs::path program = zelt_install::RunningProgramDir();
  if (!program.empty()) return program;
  std::error_code ec;
  return fs::current_path(ec);
}

fs::path PlugInDir()
{
  // The build tree keeps the plug-ins beside the programs; an installed program has its own folder.
  const fs::path beside = ProgramDir() / "PlugIns";
  std::error_code ec;
  if (fs::is_directory(beside, ec)) return beside;
  const fs::path installed = zelt_install::InstalledPlugInsFolder();
  return installed.empty() ? beside : installed;
}

fs::path WritableFileBeside(const fs::path& folder, const std::string& name)
{
  if (IsFolderWritable(folder)) return folder / name;
  return UserDataDir(true) / name;
}
