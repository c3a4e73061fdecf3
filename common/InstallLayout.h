#pragma once
// Where an installed program finds the rest of the system: relative to its own file, as the install
// lays it out (<prefix>/bin, <prefix>/share/zelt, <prefix>/lib/zelt/PlugIns), so that an installed
// tree works wherever it is put. The build compiles the relative paths in; a program of the build tree
// finds none of them and uses the build tree's folders instead. Header only: Morvane, which links none
// of the station's libraries, uses it too.
#include <filesystem>
#include <system_error>

#ifndef ZELT_DATA_FROM_BIN
#define ZELT_DATA_FROM_BIN "../share/zelt"
#endif
#ifndef ZELT_PLUGINS_FROM_BIN
#define ZELT_PLUGINS_FROM_BIN "../lib/zelt/PlugIns"
#endif

namespace zelt_install {

// Folder of the running program (from /proc/self/exe); empty when it cannot be read.
inline std::filesystem::path RunningProgramDir()
{
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path() : exe.parent_path();
}

// The folder `relative` to the running program's folder when it exists, else empty.
inline std::filesystem::path FolderBesideProgram(const char* relative)
{
    const std::filesystem::path program = RunningProgramDir();
    if (program.empty()) return {};
    const std::filesystem::path folder = (program / relative).lexically_normal();
    std::error_code ec;
    return std::filesystem::is_directory(folder, ec) ? folder : std::filesystem::path();
}

// The installed data folder (description files, Morvane's tables, help pages), when this program is
// an installed one; else empty.
inline std::filesystem::path InstalledDataFolder() { return FolderBesideProgram(ZELT_DATA_FROM_BIN); }

// The installed plug-ins folder, when this program is an installed one; else empty.
inline std::filesystem::path InstalledPlugInsFolder() { return FolderBesideProgram(ZELT_PLUGINS_FROM_BIN); }

}  // namespace zelt_install
