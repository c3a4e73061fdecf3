#pragma once
// Runs the station program as the user does, as a child process: no display, the description files
// of the source tree, the settings of an alternate ini file, standard error kept for the test.
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/wait.h>

#include "common/tests/PlatformTestEnv.h"

struct ZeltRun {
    int status = -1;
    std::string err;
};

// `root` holds "zelt.ini" and receives "stderr.txt". Batch conversions run without any windowing
// platform; a download run gets the offscreen one (there is no screen). Ends after 30 s at most.
inline ZeltRun RunZelt(const std::filesystem::path& root, const std::string& args, bool offscreen = false)
{
    const std::filesystem::path err = root / "stderr.txt";
    const std::string cmd = std::string("env -u DISPLAY -u WAYLAND_DISPLAY ") +
                            (offscreen ? "QT_QPA_PLATFORM=offscreen" : "-u QT_QPA_PLATFORM") + " ZELT_DATA_DIR='" +
                            ZELT_TEST_DATA_DIR + "' timeout 30 '" + ZELT_TEST_BIN_DIR + "/zelt' -CONFIG=" +
                            (root / "zelt.ini").string() + " " + args + " 2>'" + err.string() + "' >/dev/null";
    ZeltRun r;
    const int raw = std::system(cmd.c_str());
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.err = ScopedTestHome::Read(err);
    return r;
}
