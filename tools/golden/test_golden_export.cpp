// Exports of generated data files, byte for byte against the expected files: every measurement type of
// the data folder, damaged records among them, under several display settings and period modes.
// ZELT_WRITE_GOLDEN=1 writes the expected files anew (see CMakeLists.txt).
#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "common/AsciiExport.h"
#include "common/DecimalSep.h"
#include "common/FileUtils.h"
#include "common/Q5File.h"
#include "common/tests/DescTestEnv.h"
#include "common/tests/support/TestWait.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

const fs::path kSource = ZELT_TEST_SOURCE_DIR;

// The display settings of the main window's options, as the export reads them.
struct Display {
  std::string sepList = ",", sepDec = ".", sepDate = "/", sepTime = ":";
  bool year4 = true, quoted = false, zeroDate = false, forced = false;
};

class GoldenExport : public ::testing::Test {
 protected:
  void SetUp() override {
    lists.LoadFolder(kSource / "data");
    out = home.Root() / "out";
    fs::create_directories(out);
  }
  void TearDown() override { SetDecimalSeparator('.'); }

  // A data file from q5gen with the given options (every measurement type of the instrument).
  std::string Generate(const std::string& name, const std::vector<std::string>& options) {
    const std::string path = (home.Root() / name).string();
    std::vector<std::string> args = {ZELT_Q5GEN_BIN, "--data", (kSource / "data").string()};
    args.insert(args.end(), options.begin(), options.end());
    args.push_back(path);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    EXPECT_EQ(posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ), 0);
    const int status = WaitForChild(pid, kTestProcessSeconds * 1000);
    EXPECT_TRUE(status >= 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0) << "q5gen failed";
    return path;
  }

  void Apply(const Display& d) {
    TListScn& scn = lists.Scn();
    scn.SepList = d.sepList;
    scn.SepDec = d.sepDec;
    scn.SepDate = d.sepDate;
    scn.SepTime = d.sepTime;
    scn.Year4Digits = d.year4;
    scn.QuotedDateTime = d.quoted;
    scn.ShowZeroDate = d.zeroDate;
    scn.ForceDisplayDecimalValue = d.forced;
    SetDecimalSeparator(d.sepDec[0]);
  }

  // Every file written to `out` equals the expected file of the same name under expected/<set>, and
  // no expected file is missing.
  void Compare(const std::string& set) {
    const fs::path expected = kSource / "tools" / "golden" / "expected" / set;
    if (std::getenv("ZELT_WRITE_GOLDEN")) {
      std::error_code ec;
      fs::remove_all(expected, ec);
      fs::create_directories(expected);
      for (const auto& e : fs::directory_iterator(out)) fs::copy_file(e.path(), expected / e.path().filename());
    }
    std::map<std::string, fs::path> written;
    for (const auto& e : fs::directory_iterator(out)) written[e.path().filename().string()] = e.path();
    std::vector<std::string> wanted;
    for (const auto& e : fs::directory_iterator(expected)) wanted.push_back(e.path().filename().string());
    EXPECT_EQ(written.size(), wanted.size()) << set;
    for (const std::string& name : wanted) {
      auto it = written.find(name);
      if (it == written.end()) {
        ADD_FAILURE() << set << ": " << name << " not written";
        continue;
      }
      std::string got, want;
      ReadFileBytes(it->second, got);
      ReadFileBytes(expected / name, want);
      EXPECT_TRUE(got == want) << set << ": " << name << " differs (" << got.size() << " bytes, expected "
                               << want.size() << ")";
    }
  }

  ScopedTestHome home;
  ScopedDescLists lists;
  fs::path out;
};

// Records of every type, a tenth of them damaged in every way, over eight days.
const std::vector<std::string> kMixed = {"--records", "400", "--damaged", "40", "--seed", "3",
                                         "--interval", "1733", "--erased", "600"};
// Every count an instrument marker.
const std::vector<std::string> kMarkers = {"--records", "60", "--damaged", "60", "--damage-kinds", "16",
                                           "--seed", "5", "--start", "2024-12-31T23:00:00"};

TEST_F(GoldenExport, FreshFilesUnderEachDisplaySetting) {
  const std::string mixed = Generate("mixed.q5", kMixed);
  const std::string markers = Generate("markers.q5", kMarkers);
  const std::vector<std::pair<std::string, Display>> settings = {
      {"default", Display{}},
      {"european", Display{";", ",", ".", ":", false, true, true, false}},
      {"forced", Display{"\t", ".", "-", "h", true, false, true, true}},
  };
  for (const auto& [name, display] : settings) {
    Apply(display);
    for (const std::string& path : {mixed, markers}) {
      TQ5File file(path);
      ASSERT_GT(file.NbEvt(), 0);
      const std::string stem = (out / fs::path(path).stem()).string();
      EXPECT_TRUE(file.ExportAsciiFiles(stem + "_head.q5", true));
      EXPECT_TRUE(file.ExportAsciiFiles(stem + ".q5", false));
    }
    Compare("fresh_" + name);
    fs::remove_all(out);
    fs::create_directories(out);
  }
}

TEST_F(GoldenExport, PeriodFilesMergedFromTwoDataFiles) {
  // The second file overlaps the first: its records land between and after the first's.
  const std::string first = Generate("first.q5", kMixed);
  std::vector<std::string> overlapping = {"--records", "300", "--damaged", "10", "--seed", "9",
                                          "--interval", "2011", "--start", "2025-06-23T10:00:00"};
  const std::string second = Generate("second.q5", overlapping);
  Apply(Display{});
  for (int mode : {ASCII_DAY, ASCII_MONTH, ASCII_ALL}) {
    const std::string base = (out / ("p" + std::to_string(mode) + "_")).string();
    for (const std::string& path : {first, second, first}) {
      TQ5File file(path);
      EXPECT_TRUE(file.ExportAscii(base, mode, true));
    }
  }
  Apply(Display{",", ".", "/", ":", true, true, true, false});
  const std::string quotedBase = (out / "quoted_").string();
  for (const std::string& path : {second, first}) {
    TQ5File file(path);
    EXPECT_TRUE(file.ExportAscii(quotedBase, ASCII_DAY, false));
  }
  Compare("period");
}

// A file's records read without their objects give what the event objects give, and the running totals
// follow deletions, additions and a rebuild.
TEST_F(GoldenExport, RecordsReadAsTheirEvents) {
  const std::string path = Generate("mixed.q5", kMixed);
  TQ5File records(path), objects(path);
  ASSERT_EQ(records.Events.Count(), objects.Events.Count());
  std::string text, hex;
  for (int i = 0; i < records.Events.Count(); ++i) {
    const TEvenement* event = objects.Events[i];
    ASSERT_FALSE(records.Events.HasObject(i));
    EXPECT_EQ(records.Events.Valid(i), event->Valid != 0) << i;
    EXPECT_EQ(records.Events.Empty(i), event->Empty != 0) << i;
    EXPECT_EQ(records.Events.ErrorKind(i), event->ErrorKind) << i;
    EXPECT_EQ(records.Events.Length(i), event->Length) << i;
    EXPECT_EQ(records.Events.ScnType(i), event->ScnType) << i;
    EXPECT_EQ(records.Events.Date(i), event->Date) << i;
    EXPECT_EQ(records.Events.SymbolString(i), event->SymbolString()) << i;
    EXPECT_EQ(records.Events.RecordHex(i, hex), event->Evt()) << i;
    text.clear();
    records.Events.AppendAsciiString(i, text);
    EXPECT_EQ(text, event->AsciiString()) << i;
    ASSERT_GT(event->Count(), -1);   // built elements give the same text as the record
    EXPECT_EQ(text, event->AsciiString()) << i;
  }
  EXPECT_EQ(records.DataSize(), objects.DataSize());
  EXPECT_EQ(records.NbEvt(), objects.NbEvt());

  // Delete some records (with and without objects), add a downloaded event, rebuild: the totals and
  // the texts are those of the file saved and read again.
  records.Events.Delete(3);
  (void)records.Events[10];
  records.Events.Delete(10);
  auto* added = new TEvenement(&records);
  added->SetEvt(TEvenement::BuildFrame(objects.Events[0]->Evt()));
  records.Events.Add(added);
  const int nb = records.NbEvt();
  const int size = records.DataSize();
  ASSERT_TRUE(records.Rebuild());
  ASSERT_TRUE(records.SaveToFile((home.Root() / "edited.q5").string()));
  TQ5File back((home.Root() / "edited.q5").string());
  EXPECT_EQ(back.NbEvt(), nb);
  EXPECT_EQ(back.DataSize(), size);
  ASSERT_EQ(back.Events.Count(), records.Events.Count());
  for (int i = 0; i < back.Events.Count(); ++i) {
    std::string a, b;
    back.Events.AppendAsciiString(i, a);
    records.Events.AppendAsciiString(i, b);
    EXPECT_EQ(a, b) << i;
  }
  EXPECT_EQ(records.Events.IndexOf(added), records.Events.Count() - 1);
  records.Events.Clear();
  EXPECT_EQ(records.DataSize(), 0);
  EXPECT_EQ(records.NbEvt(), 0);
}

}  // namespace
