#include "common/DataPaths.h"
#include "common/FileUtils.h"
#include "common/tests/PlatformTestEnv.h"
#include "common/tests/support/AsUser.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

// Files left in a folder other than the expected ones (a stray temporary file is a fault).
std::vector<std::string> Names(const fs::path& folder)
{
  std::vector<std::string> names;
  for (auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

TEST(FileUtils, AtomicWriteCreatesAndReplacesKeepingBytesAndMode)
{
  ScopedTestHome home;
  fs::path target = home.Root() / "a.q5";
  std::string bytes("\0\x01\xff\r\n;,\t", 8);
  std::string error;
  ASSERT_TRUE(WriteFileAtomically(target, bytes, &error)) << error;
  EXPECT_EQ(ScopedTestHome::Read(target), bytes);

  ::chmod(target.c_str(), 0640);
  ASSERT_TRUE(WriteFileAtomically(target, std::string("second"), &error)) << error;
  EXPECT_EQ(ScopedTestHome::Read(target), "second");
  struct stat st {};
  ASSERT_EQ(::stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);

  ASSERT_TRUE(WriteFileAtomically(target, std::string(), &error)) << error;
  EXPECT_EQ(FileSize(target), 0);
  EXPECT_EQ(Names(home.Root()), (std::vector<std::string>{"a.q5", "home"}));

  std::string read;
  EXPECT_TRUE(ReadFileBytes(target, read));
  EXPECT_TRUE(read.empty());
}

TEST(FileUtils, AtomicWriteThroughALinkKeepsTheLink)
{
  ScopedTestHome home;
  fs::create_directories(home.Root() / "real");
  ScopedTestHome::Write(home.Root() / "real" / "zelt.ini", "old");
  fs::create_symlink(home.Root() / "real" / "zelt.ini", home.Root() / "link.ini");
  ASSERT_TRUE(WriteFileAtomically(home.Root() / "link.ini", std::string("new")));
  EXPECT_TRUE(fs::is_symlink(home.Root() / "link.ini"));
  EXPECT_EQ(ScopedTestHome::Read(home.Root() / "real" / "zelt.ini"), "new");
}

TEST(FileUtils, FailedWriteLeavesTargetUntouched)
{
  ScopedTestHome home;
  fs::path target = home.Root() / "keep.ini";
  ScopedTestHome::Write(target, "original");
  std::string error;

  // A write that the system refuses half-way (file size limit, as a full disk would).
  bool ok = true;
  ScopedTestHome::WithFileSizeLimit(4, [&] { ok = WriteFileAtomically(target, std::string(100, 'x'), &error); });
  EXPECT_FALSE(ok);
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(ScopedTestHome::Read(target), "original");
  EXPECT_EQ(Names(home.Root()), (std::vector<std::string>{"home", "keep.ini"}));

  // Missing folder, a folder in the way, no file name.
  EXPECT_FALSE(WriteFileAtomically(home.Root() / "missing" / "x", std::string("x"), &error));
  EXPECT_NE(error.find("missing"), std::string::npos);
  EXPECT_FALSE(WriteFileAtomically(home.Root() / "home", std::string("x"), &error));
  EXPECT_TRUE(DirectoryExists(home.Root() / "home"));
  EXPECT_FALSE(WriteFileAtomically(fs::path(), std::string("x"), &error));
}

TEST(FileUtils, ReadOnlyFolderRefusesAndKeepsTarget)
{
  // /proc refuses new files even to root: a folder that is truly read-only.
  std::string before, after, error;
  ASSERT_TRUE(ReadFileBytes("/proc/version", before));
  EXPECT_FALSE(WriteFileAtomically("/proc/version", std::string("x"), &error));
  EXPECT_FALSE(error.empty());
  ASSERT_TRUE(ReadFileBytes("/proc/version", after));
  EXPECT_EQ(before, after);

  ScopedTestHome home;
  fs::path folder = home.Root() / "ro";
  fs::create_directories(folder);
  ScopedTestHome::Write(folder / "f", "old");
  ::chmod(folder.c_str(), 0555);
  // Root writes past the folder's mode: the user whom the mode binds tries.
  EXPECT_TRUE(test_user::AsUnprivileged([&]() -> ::testing::AssertionResult {
    std::string refusal;
    if (WriteFileAtomically(folder / "f", std::string("new"), &refusal))
      return ::testing::AssertionFailure() << "a file of a read-only folder was replaced";
    if (refusal.empty()) return ::testing::AssertionFailure() << "refused without a reason";
    if (IsFolderWritable(folder)) return ::testing::AssertionFailure() << "a read-only folder counts as writable";
    return ::testing::AssertionSuccess();
  }));
  ::chmod(folder.c_str(), 0755);
  EXPECT_EQ(ScopedTestHome::Read(folder / "f"), "old");
  EXPECT_EQ(Names(folder), std::vector<std::string>{"f"});
  EXPECT_FALSE(IsFolderWritable("/proc"));
}

TEST(FileUtils, FolderHelpersAndMasks)
{
  ScopedTestHome home;
  fs::path deep = home.Root() / "a" / "b" / "c";
  EXPECT_TRUE(ForceDirectories(deep));
  EXPECT_TRUE(ForceDirectories(deep));
  EXPECT_TRUE(IsFolderWritable(deep));
  EXPECT_TRUE(Names(deep).empty());
  ScopedTestHome::Write(deep / "x.Q5", "1");
  ScopedTestHome::Write(deep / "y.q5", "22");
  ScopedTestHome::Write(deep / "z.txt", "");
  fs::create_directories(deep / "dir.q5");
  auto files = ListFiles(deep, "*.q5");
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files[0].filename(), "x.Q5");
  EXPECT_EQ(FileSize(deep / "y.q5"), 2);
  EXPECT_EQ(FileSize(deep / "dir.q5"), -1);
  EXPECT_TRUE(ListFiles(home.Root() / "nowhere").empty());
  std::string error;
  EXPECT_FALSE(ForceDirectories(deep / "x.Q5" / "sub", &error));

  EXPECT_TRUE(MatchesFileMask("STATION.PAR", "*.par"));
  EXPECT_TRUE(MatchesFileMask("a1b", "a?b"));
  EXPECT_FALSE(MatchesFileMask("ab", "a?b"));
  EXPECT_TRUE(MatchesFileMask("abcabd", "*ab*d"));
  EXPECT_FALSE(MatchesFileMask("abc", "*d*"));
  EXPECT_FALSE(MatchesFileMask(std::string(5000, 'a'), std::string(200, '*') + "b"));

  EXPECT_TRUE(CopyFileAtomically(deep / "y.q5", deep / "copy"));
  EXPECT_EQ(ScopedTestHome::Read(deep / "copy"), "22");
  EXPECT_TRUE(RenameFile(deep / "copy", deep / "x.Q5"));
  EXPECT_EQ(ScopedTestHome::Read(deep / "x.Q5"), "22");
  EXPECT_TRUE(AppendFileBytes(deep / "x.Q5", "3"));
  EXPECT_EQ(ScopedTestHome::Read(deep / "x.Q5"), "223");
  EXPECT_TRUE(DeleteFileIfExists(deep / "x.Q5"));
  EXPECT_TRUE(DeleteFileIfExists(deep / "x.Q5"));
  EXPECT_FALSE(FileExists(deep / "x.Q5"));
  std::string bytes;
  EXPECT_FALSE(ReadFileBytes(deep / "x.Q5", bytes, &error));
  EXPECT_FALSE(ReadFileBytes(deep, bytes, &error));
}

TEST(FileUtils, NameHelpers)
{
  EXPECT_EQ(ExtractFileName("/a/b.q5"), "b.q5");
  EXPECT_EQ(ExtractFileDir("/a/b.q5"), "/a");
  EXPECT_EQ(ExtractFileDir("b.q5"), "");
  EXPECT_EQ(ExtractFileExt("/a.d/b"), "");
  EXPECT_EQ(ExtractFileExt("b.tar.q5"), ".q5");
  EXPECT_EQ(ChangeFileExt("/a.d/b", ".txt"), "/a.d/b.txt");
  EXPECT_EQ(ChangeFileExt("/a/b.q5", ".txt"), "/a/b.txt");
  EXPECT_EQ(IncludeTrailingSlash("/a"), "/a/");
  EXPECT_EQ(IncludeTrailingSlash("/a/"), "/a/");
}

TEST(DataPaths, FoldersFollowTheEnvironment)
{
  ScopedTestHome home;
  home.Set("ZELT_DATA_DIR", (home.Root() / "share").string());
  EXPECT_EQ(InstalledDataDir(), home.Root() / "share");
  EXPECT_EQ(InstalledDataFile("InsList.dat"), home.Root() / "share" / "InsList.dat");
  home.Set("ZELT_DATA_DIR", "");
  EXPECT_FALSE(InstalledDataDir().empty());
  EXPECT_NE(InstalledDataDir(), home.Root() / "share");

  EXPECT_EQ(UserDataDir(false), home.Root() / "data" / "zelt");
  EXPECT_FALSE(DirectoryExists(home.Root() / "data" / "zelt"));
  EXPECT_EQ(UserDataDir(), home.Root() / "data" / "zelt");
  EXPECT_TRUE(DirectoryExists(home.Root() / "data" / "zelt"));
  EXPECT_EQ(UserConfigDir(), home.Root() / "config");

  // Unset or relative XDG values fall back under $HOME.
  home.Set("XDG_DATA_HOME", nullptr);
  home.Set("XDG_CONFIG_HOME", "relative/path");
  EXPECT_EQ(UserDataDir(false), home.Root() / "home" / ".local" / "share" / "zelt");
  EXPECT_EQ(UserConfigDir(), home.Root() / "home" / ".config");

  EXPECT_TRUE(DirectoryExists(ProgramDir()));
  EXPECT_EQ(PlugInDir(), ProgramDir() / "PlugIns");
  EXPECT_EQ(WritableFileBeside(home.Root(), "x.log"), home.Root() / "x.log");
  EXPECT_EQ(WritableFileBeside("/proc", "x.log"), home.Root() / "home" / ".local" / "share" / "zelt" / "x.log");
}
