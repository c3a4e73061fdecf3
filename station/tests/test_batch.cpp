// Batch conversions run as the program itself with no display: the files written are compared with
// golden files; failures end with status 1 and a message on standard error.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/tests/PlatformTestEnv.h"
#include "station/tests/ZeltProcess.h"

namespace fs = std::filesystem;

namespace {

class Batch : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directories(home.Root() / "out");
        // A station whose settings say nothing: the description files come from the data folder.
        ScopedTestHome::Write(home.Root() / "zelt.ini", "[General]\r\n");
    }
    ZeltRun Zelt(const std::string& args) { return RunZelt(home.Root(), args); }
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
    // A conversion short of its folder is a wrong command line: nothing is converted, not even the
    // complete one before it.
    const std::string sample = (fs::path(ZELT_TEST_SOURCE_DIR) / "station" / "tests" / "golden" / "sample.Q5").string();
    ZeltRun r = Zelt("-ASCII '" + sample + "' '" + (home.Root() / "out").string() + "' -ASCII '" +
                     (home.Root() / "x.Q5").string() + "'");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("Incorrect number of parameters!"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Usage: zelt"), std::string::npos) << r.err;
    EXPECT_TRUE(fs::is_empty(home.Root() / "out"));

    const std::string missing = (home.Root() / "missing.Q5").string();
    r = Zelt("-ASCII '" + missing + "' '" + (home.Root() / "out").string() + "'");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Unable to load the file."), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("ERROR: Unable to load " + missing + ": No such file or directory"), std::string::npos) << r.err;

    // A data file with nothing to export is a success with no files.
    ScopedTestHome::Write(home.Root() / "empty.Q5", std::string(256, '\0'));
    r = Zelt("-ASCII '" + (home.Root() / "empty.Q5").string() + "' '" + (home.Root() / "out").string() + "'");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::is_empty(home.Root() / "out"));
    // So is one whose memory after the parameter block is erased.
    ScopedTestHome::Write(home.Root() / "erased.Q5", std::string(256, '\0') + std::string(4096, '\xFF'));
    r = Zelt("-ASCII '" + (home.Root() / "erased.Q5").string() + "' '" + (home.Root() / "out").string() + "'");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::is_empty(home.Root() / "out"));

    // A file that is not a data file: no record can be read from it, which is said, and nothing written.
    std::string noise;
    uint32_t x = 12345;
    for (int i = 0; i < 3000; ++i) noise += static_cast<char>((x = x * 1103515245u + 12345u) >> 24);
    ScopedTestHome::Write(home.Root() / "noise.Q5", noise);
    r = Zelt("-ASCII '" + (home.Root() / "noise.Q5").string() + "' '" + (home.Root() / "out").string() + "'");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("noise.Q5\nNo record could be read from the file."), std::string::npos) << r.err;
    EXPECT_TRUE(fs::is_empty(home.Root() / "out"));
}

TEST_F(Batch, FileNamesInMessagesReachStandardErrorIntact)
{
    // Names are UTF-8 as the file system has them: they must not pass through Windows-1252.
    const fs::path folder = home.Root() / "Données";
    fs::create_directories(folder);
    const fs::path data = folder / "x.SUN";
    ZeltRun r = Zelt("-ASCII '" + data.string() + "' '" + (home.Root() / "out").string() + "'");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Warning: " + data.string() + "\nUnable to load the file."), std::string::npos) << r.err;

    const fs::path sample = fs::path(ZELT_TEST_SOURCE_DIR) / "station" / "tests" / "golden" / "sample.Q5";
    const fs::path missing = home.Root() / "Résultats";
    r = Zelt("-ASCII '" + sample.string() + "' '" + missing.string() + "'");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("The folder " + missing.string() + " doesn't exist."), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("\xC3\x83"), std::string::npos) << "a name decoded twice: " << r.err;

    // A parameter file that cannot be written (a folder holds its name).
    fs::create_directories(folder / "sample_PAR.TXT");
    r = Zelt("/nosplash -par '" + sample.string() + "' '" + folder.string() + "'");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Unable to write the parameters file " + (folder / "sample_PAR.TXT").string()),
              std::string::npos)
        << r.err;
}

namespace {

// The first line of a file (without its CR LF).
std::string FirstLine(const std::string& text) { return text.substr(0, text.find("\r\n")); }

}  // namespace

TEST_F(Batch, AsciiFormatSettingsShapeTheFiles)
{
    // Every format setting of the station, as the options dialog stores it.
    ScopedTestHome::Write(home.Root() / "zelt.ini",
                          "[General]\r\nSepList=;\r\nSepDec=,\r\nSepDate=-\r\nSepTime=.\r\nYear4Digits=0\r\n"
                          "QuotedDateTime=1\r\nShowZeroDate=1\r\nForceDisplayDecimalValue=1\r\nAddASCIIHeader=1\r\n");
    const fs::path data = fs::path(ZELT_TEST_SOURCE_DIR) / "station" / "tests" / "golden" / "sample.Q5";
    const ZeltRun r = Zelt("-ASCII '" + data.string() + "' '" + (home.Root() / "out").string() + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string sun = ScopedTestHome::Read(home.Root() / "out" / "sample.SUN");
    // A header, then dates of two-digit years with their zeros, quoted, and a decimal comma.
    const size_t second = sun.find("\r\n") + 2;
    EXPECT_EQ(FirstLine(sun.substr(second)),
              "\"01-03-26\";\"11.55.00\";9;4000;6500;9000;11500;14000;16500;19000;21500;24000;-16,9");
    EXPECT_NE(FirstLine(sun).find(';'), std::string::npos) << FirstLine(sun);

    // Zeros off, the other way round: the same data file now reads differently.
    ScopedTestHome::Write(home.Root() / "zelt.ini", "[General]\r\nShowZeroDate=0\r\nSepList=\t\r\n");
    ASSERT_EQ(Zelt("-ASCII '" + data.string() + "' '" + (home.Root() / "out").string() + "'").status, 0);
    EXPECT_EQ(FirstLine(ScopedTestHome::Read(home.Root() / "out" / "sample.SUN")),
              "1/3/2026\t11:55:0\t9\t4000\t6500\t9000\t11500\t14000\t16500\t19000\t21500\t24000\t-16.9");
}

TEST_F(Batch, OutputThatWouldReplaceTheDataFileIsRefused)
{
    // A data file named like one of its own ASCII files, converted into its own folder.
    const fs::path data = home.Root() / "out" / "x.SUN";
    fs::copy_file(fs::path(ZELT_TEST_SOURCE_DIR) / "station" / "tests" / "golden" / "sample.Q5", data);
    const std::string before = ScopedTestHome::Read(data);
    ZeltRun r = Zelt("-ASCII '" + data.string() + "' '" + (home.Root() / "out").string() + "'");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("is the data file being converted"), std::string::npos) << r.err;
    EXPECT_EQ(ScopedTestHome::Read(data), before);
    EXPECT_FALSE(fs::exists(home.Root() / "out" / "x.ALM"));  // nothing written at all

    // The same folder written differently is still the same file.
    r = Zelt("-ASCII '" + data.string() + "' '" + (home.Root() / "out" / "." / "").string() + "'");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(ScopedTestHome::Read(data), before);
}

TEST_F(Batch, NamesWithAccentsAreFound)
{
    const fs::path in = home.Root() / "Donn\xC3\xA9" "es";
    const fs::path out = home.Root() / "R\xC3\xA9sultats";
    fs::create_directories(in);
    fs::create_directories(out);
    fs::copy_file(fs::path(ZELT_TEST_SOURCE_DIR) / "station" / "tests" / "golden" / "sample.Q5", in / "\xC3\xA9t\xC3\xA9.Q5");
    ZeltRun r = Zelt("-ASCII '" + (in / "\xC3\xA9t\xC3\xA9.Q5").string() + "' '" + out.string() + "'");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::exists(out / "\xC3\xA9t\xC3\xA9.SUN"));
    r = Zelt("-PAR '" + (in / "\xC3\xA9t\xC3\xA9.Q5").string() + "' '" + out.string() + "'");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::exists(out / "\xC3\xA9t\xC3\xA9_PAR.TXT"));
}

namespace {

// The program as a user starts it from a shell: an environment of PATH and a fresh HOME only (no
// display, no platform, no settings file or data folder given), standard error kept.
ZeltRun RunZeltAsUser(const fs::path& home, const std::string& args)
{
    fs::create_directories(home);
    const fs::path err = home / "stderr.txt";
    const char* path = std::getenv("PATH");
    const std::string cmd = "env -i PATH='" + std::string(path ? path : "/usr/bin:/bin") + "' HOME='" + home.string() +
                            "' timeout 30 '" + ZELT_TEST_BIN_DIR + "/zelt' " + args + " 2>'" + err.string() +
                            "' >/dev/null";
    ZeltRun r;
    const int raw = std::system(cmd.c_str());
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.err = ScopedTestHome::Read(err);
    return r;
}

// Lines of a text (CR LF ends).
std::vector<std::string> TextLines(const std::string& text)
{
    std::vector<std::string> lines;
    for (size_t start = 0, end; start < text.size(); start = end + 2) {
        end = text.find("\r\n", start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
    }
    return lines;
}

}  // namespace

TEST_F(Batch, ACutDataFileIsConvertedAsFarAsItIsWholeAndSaidIncomplete)
{
    // A day of direct-sun triplets, every quarter of an hour while the sun is up.
    const fs::path whole = home.Root() / "day.Q5";
    ASSERT_EQ(std::system(("'" + std::string(ZELT_TEST_BIN_DIR) + "/q5gen' --sun-days 1 --interval 900 '" +
                           whole.string() + "' >/dev/null")
                              .c_str()),
              0);
    const std::string bytes = ScopedTestHome::Read(whole);
    ASSERT_GT(bytes.size(), 4000u);
    const fs::path user = home.Root() / "user";
    const fs::path out = home.Root() / "out";
    auto convert = [&](const fs::path& data) {
        fs::remove_all(out);
        fs::create_directories(out);
        return RunZeltAsUser(user, "-ASCII '" + data.string() + "' '" + out.string() + "'");
    };

    ZeltRun r = convert(whole);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const std::vector<std::string> all = TextLines(ScopedTestHome::Read(out / "day.NSU"));
    ASSERT_GT(all.size(), 40u);

    // Cut at 2000 bytes: the records before the cut are converted as they were, the rest is said missing.
    const fs::path cut = home.Root() / "cut.Q5";
    ScopedTestHome::Write(cut, bytes.substr(0, 2000));
    r = convert(cut);
    EXPECT_EQ(r.status, 3) << r.err;
    const std::vector<std::string> kept = TextLines(ScopedTestHome::Read(out / "cut.NSU"));
    ASSERT_FALSE(kept.empty());
    ASSERT_LT(kept.size(), all.size());
    EXPECT_EQ(kept, std::vector<std::string>(all.begin(), all.begin() + static_cast<long>(kept.size())));
    // Where the cut record begins: the records before it fill the bytes from 256 up to it.
    size_t at = 256;
    for (size_t i = 0; i < kept.size(); ++i) at += static_cast<unsigned char>(bytes[at + 1]);
    const std::string said = cut.string() + "\nThe file ends inside record " + std::to_string(kept.size() + 1) +
                             ", which begins at byte " + std::to_string(at) + " and needs " +
                             std::to_string(static_cast<unsigned char>(bytes[at + 1])) +
                             " bytes: the file has 2000 bytes.";
    EXPECT_NE(r.err.find(said), std::string::npos) << r.err;

    // A whole file followed by erased memory is whole; one with a record's first byte after it is not.
    ScopedTestHome::Write(cut, bytes + std::string(600, '\xFF'));
    r = convert(cut);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(TextLines(ScopedTestHome::Read(out / "cut.NSU")), all);
    ScopedTestHome::Write(cut, bytes + bytes.substr(256, 1));
    r = convert(cut);
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_NE(r.err.find("which begins at byte " + std::to_string(bytes.size()) + ": the file has"), std::string::npos)
        << r.err;
    EXPECT_EQ(TextLines(ScopedTestHome::Read(out / "cut.NSU")), all);

    // Cut inside its first record: nothing could be read, a failure; so is any failure next to a cut file.
    ScopedTestHome::Write(cut, bytes.substr(0, 300));
    r = convert(cut);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("No record could be read from the file."), std::string::npos) << r.err;
    ScopedTestHome::Write(cut, bytes.substr(0, 2000));
    r = RunZeltAsUser(user, "-ASCII '" + cut.string() + "' '" + out.string() + "' -ASCII '" +
                                (home.Root() / "missing.Q5").string() + "' '" + out.string() + "'");
    EXPECT_EQ(r.status, 1) << r.err;
}
