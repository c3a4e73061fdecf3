// Batch conversions run as the program itself with no display: the files written are compared with
// golden files; failures end with status 1 and a message on standard error.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/wait.h>

#include "common/tests/PlatformTestEnv.h"

namespace fs = std::filesystem;

namespace {

struct ZeltRun {
    int status = -1;
    std::string err;
};

class Batch : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directories(home.Root() / "out");
        // A station whose settings say nothing: the description files come from the data folder.
        ScopedTestHome::Write(home.Root() / "zelt.ini", "[General]\r\n");
    }
    ZeltRun Zelt(const std::string& args)
    {
        const fs::path err = home.Root() / "stderr.txt";
        const std::string cmd = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ZELT_DATA_DIR='" +
                                std::string(ZELT_TEST_DATA_DIR) + "' '" + std::string(ZELT_TEST_BIN_DIR) +
                                "/zelt' -CONFIG=" + (home.Root() / "zelt.ini").string() + " " + args + " 2>'" +
                                err.string() + "' >/dev/null";
        ZeltRun r;
        const int raw = std::system(cmd.c_str());
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        r.err = ScopedTestHome::Read(err);
        return r;
    }
    static std::string Golden(const std::string& name)
    {
        return ScopedTestHome::Read(fs::path(ZELT_TEST_SOURCE_DIR) / "station" / "tests" / "golden" / name);
    }
    ScopedTestHome home;
};

}  // namespace

TEST_F(Batch, AsciiFilesOfADataFile)
{
    const fs::path data = fs::path(ZELT_TEST_SOURCE_DIR) / "station" / "tests" / "golden" / "sample.Q5";
    const ZeltRun r = Zelt("-ASCII '" + data.string() + "' '" + (home.Root() / "out").string() + "'");
    EXPECT_EQ(r.status, 0) << r.err;
    int compared = 0;
    for (const auto& e : fs::directory_iterator(fs::path(ZELT_TEST_SOURCE_DIR) / "station" / "tests" / "golden")) {
        const std::string name = e.path().filename().string();
        if (name.rfind("sample.", 0) != 0 || name == "sample.Q5" || name == "sample_PAR.TXT") continue;
        EXPECT_EQ(ScopedTestHome::Read(home.Root() / "out" / name), Golden(name)) << name;
        ++compared;
    }
    EXPECT_GT(compared, 0);
}

TEST_F(Batch, ParameterFileOfADataFile)
{
    const fs::path data = fs::path(ZELT_TEST_SOURCE_DIR) / "station" / "tests" / "golden" / "sample.Q5";
    const ZeltRun r = Zelt("/nosplash -par '" + data.string() + "' '" + (home.Root() / "out").string() + "'");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ScopedTestHome::Read(home.Root() / "out" / "sample_PAR.TXT"), Golden("sample_PAR.TXT"));
}

TEST_F(Batch, FailuresEndWithStatusOne)
{
    ZeltRun r = Zelt("-ASCII '" + (home.Root() / "x.Q5").string() + "'");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Incorrect number of parameters!"), std::string::npos) << r.err;

    r = Zelt("-ASCII '" + (home.Root() / "missing.Q5").string() + "' '" + (home.Root() / "out").string() + "'");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Unable to load the file."), std::string::npos) << r.err;

    // A data file with nothing to export is a success with no files.
    ScopedTestHome::Write(home.Root() / "empty.Q5", std::string(256, '\0'));
    r = Zelt("-ASCII '" + (home.Root() / "empty.Q5").string() + "' '" + (home.Root() / "out").string() + "'");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::is_empty(home.Root() / "out"));
}
