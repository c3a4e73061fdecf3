#pragma once
// Where the station's files live on this machine. All functions return folders without a trailing
// slash; none create anything except where said.
#include <filesystem>
#include <string>

// Installed data folder (description files, Morvane's tables, help pages): share/zelt of an installed
// program's tree, else the folder compiled in at build time (the build tree's data/); the environment
// variable ZELT_DATA_DIR, when set and not empty, replaces both.
std::filesystem::path InstalledDataDir();
// A file of the installed data folder: InstalledDataDir() / name.
std::filesystem::path InstalledDataFile(const std::string& name);

// Per-user data folder (logs, history, automatic recordings): $XDG_DATA_HOME/zelt, by default
// ~/.local/share/zelt. Created when missing if `create` is true (creation failures are ignored here;
// the caller's write reports them).
std::filesystem::path UserDataDir(bool create = true);
// Per-user configuration folder: $XDG_CONFIG_HOME, by default ~/.config (not created).
std::filesystem::path UserConfigDir();

// Folder of the running program (from /proc/self/exe); the current folder when it cannot be found.
std::filesystem::path ProgramDir();
// Plug-in folder: "PlugIns" beside the program (the build tree), else the installed plug-ins folder.
std::filesystem::path PlugInDir();

// A file the station writes beside a program or plug-in: `folder / name` when that folder is
// writable, otherwise the same name in the per-user data folder.
std::filesystem::path WritableFileBeside(const std::filesystem::path& folder, const std::string& name);

// Home folder ($HOME, else the password database; "/" as a last resort).
std::filesystem::path HomeDir();
