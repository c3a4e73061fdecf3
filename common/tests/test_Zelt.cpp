#include "common/DataPaths.h"
#include "common/Instrument.h"
#include "common/Prompt.h"
#include "common/ScnElement.h"
#include "common/ScnType.h"
#include "common/SettingsStore.h"
#include "common/Zelt.h"
#include "common/tests/PlatformTestEnv.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;

TEST(Zelt, WithoutArgumentsSettingsLiveInThePerUserStore)
{
  ScopedTestHome home;
  home.Set("ZELT_DATA_DIR", (home.Root() / "share").string());
  {
    TZELT zelt({"/opt/zelt/zelt"}, home.Root());
    EXPECT_EQ(gZELT, &zelt);
    EXPECT_EQ(zelt.RegBaseSecName(), "");
    EXPECT_EQ(zelt.AlternateIniFile(), "");
    EXPECT_EQ(zelt.RegistryKey(), "SOFTWARE\\DORAX Quenlith\\ZELT Win");
    EXPECT_EQ(zelt.PARDirectory(), (home.Root() / "share").string() + "/");
    EXPECT_EQ(zelt.PlugInsDirectory().back(), '/');

    auto reader = zelt.OpenSettings();
    for (const char* sep : {",", ";", "\t", " "}) {
      reader->WriteString(zelt.RegBaseSecName(), "SepList", sep);
      ASSERT_TRUE(reader->UpdateFile()) << reader->LastError();
      EXPECT_EQ(zelt.OpenSettings()->ReadString(zelt.RegBaseSecName(), "SepList", ""), sep);
    }
    reader->WriteString(zelt.RegBaseSecName(), "PARDirectory", (home.Root() / "par").string());
    reader->WriteString(zelt.RegBaseSecName(), "PlugInsDirectory", "");
  }
  EXPECT_EQ(gZELT, nullptr);
  TIniFile store(SettingsStoreFile(ZELTRegistryKey));
  EXPECT_EQ(store.ReadString("General", "SepList", ""), " ");

  // The folder read back gets its trailing '/'; an empty one keeps the default.
  TZELT again({}, home.Root());
  EXPECT_EQ(again.PARDirectory(), (home.Root() / "par").string() + "/");
  EXPECT_NE(again.PlugInsDirectory(), "/");
}

TEST(Zelt, AlternateFileFromTheProgramFolder)
{
  ScopedTestHome home;
  const fs::path programDir = home.Root() / "bin";
  fs::create_directories(programDir);
  {
    ScopedPromptScript prompts;
    TZELT zelt({"zelt", "-config:local.ini"}, programDir);
    EXPECT_TRUE(prompts.Asked().empty());
    EXPECT_EQ(zelt.AlternateIniFile(), (programDir / "local.ini").string());
    EXPECT_EQ(zelt.RegBaseSecName(), "General");
    // The creation test leaves nothing behind.
    EXPECT_FALSE(fs::exists(programDir / "local.ini"));
    auto reader = zelt.OpenSettings();
    reader->WriteString(zelt.RegBaseSecName(), "SepDec", ",");
    reader->WriteString(zelt.RegBaseSecName(), "PARDirectory", "/srv/par");
    EXPECT_TRUE(reader->UpdateFile());
  }
  TIniFile local(programDir / "local.ini");
  EXPECT_EQ(local.ReadString("General", "SepDec", ""), ",");
  EXPECT_FALSE(fs::exists(SettingsStoreFile(ZELTRegistryKey)));

  TZELT fromFile({"zelt", "-CONFIG=local.ini"}, programDir);
  EXPECT_EQ(fromFile.PARDirectory(), "/srv/par/");
  // An absolute name is kept as it is.
  TZELT absolute({"zelt", "-CONFIG:" + (programDir / "local.ini").string()}, home.Root());
  EXPECT_EQ(absolute.PARDirectory(), "/srv/par/");
}

TEST(Zelt, BadAlternateFileWarnsAndUsesTheStore)
{
  ScopedTestHome home;
  ScopedPromptScript prompts;
  TZELT zelt({"zelt", "-CONFIG:missing/x.ini"}, home.Root());
  ASSERT_EQ(prompts.Texts().size(), 1u);
  EXPECT_EQ(prompts.Texts()[0], "Bad alternate config file " + (home.Root() / "missing" / "x.ini").string());
  EXPECT_EQ(prompts.Asked()[0].kind, PromptKind::Warning);
  EXPECT_EQ(zelt.AlternateIniFile(), "");
  EXPECT_EQ(zelt.RegBaseSecName(), "");
  EXPECT_FALSE(fs::exists(home.Root() / "missing"));

  // An option without a name, or a folder as the name, is refused the same way.
  TZELT bare({"-CONFIG="}, home.Root());
  fs::create_directories(home.Root() / "dir");
  TZELT dir({"-CONFIG:dir"}, home.Root());
  EXPECT_EQ(dir.AlternateIniFile(), "");
  EXPECT_EQ(prompts.Texts().size(), 3u);
  // A bare "-CONFIG", or a longer word, is no such option: it names no file.
  TZELT word({"-CONFIG"}, home.Root());
  TZELT longer({"-CONFIGURE"}, home.Root());
  EXPECT_EQ(longer.AlternateIniFile(), "");
  EXPECT_EQ(prompts.Texts().size(), 3u);
  EXPECT_FALSE(fs::exists(home.Root() / "RE"));
}

TEST(Zelt, ScriptListHooksRunWithTheParameterFolder)
{
  ScopedTestHome home;
  home.Set("ZELT_DATA_DIR", (home.Root() / "par").string());
  std::vector<std::string> calls;
  TZELT::SetScriptsListHooks([&](const std::string& file) { calls.push_back("load " + file); },
                             [&] { calls.push_back("free"); });
  {
    TZELT zelt({}, home.Root());
    EXPECT_EQ(calls, std::vector<std::string>{"load " + (home.Root() / "par" / "Scripts.lst").string()});
  }
  EXPECT_EQ(calls.back(), "free");
  TZELT::SetScriptsListHooks(nullptr, nullptr);
}

TEST(Zelt, DescriptionListsComeFromTheParameterFolder)
{
  ScopedTestHome home;
  const fs::path par = home.Root() / "par";
  fs::create_directories(par);
  // Only the instruments and ScnList.dat exist: the other lists stay empty, without a message.
  // The installed data folder compiled in: the source tree's data/.
  home.Set("ZELT_DATA_DIR", nullptr);
  const fs::path data = InstalledDataDir();
  fs::copy_file(data / "InsList.dat", par / "InsList.dat");
  home.Set("ZELT_DATA_DIR", par.string());
  {
    ScopedPromptScript prompts;
    TZELT zelt({}, home.Root());
    ASSERT_NE(gInstrumentList, nullptr);
    ASSERT_NE(gListElScn, nullptr);
    ASSERT_NE(gListScn, nullptr);
    EXPECT_GT(gInstrumentList->Count(), 0);
    EXPECT_EQ(gListElScn->Count(), 0);
    EXPECT_EQ(gListScn->Count(), 0);
    EXPECT_TRUE(prompts.Asked().empty());
  }
  EXPECT_EQ(gInstrumentList, nullptr);
  EXPECT_EQ(gListScn, nullptr);

  // The full set: "ExtraScn.dat" types follow those of "ScnList.dat" in the one list.
  home.Set("ZELT_DATA_DIR", data.string());
  TListScn alone;
  alone.LoadFromFile((data / "ScnList.dat").string());
  TZELT zelt({}, home.Root());
  ASSERT_NE(gListScn, nullptr);
  EXPECT_GT(gListElScn->Count(), 0);
  EXPECT_GT(gListScn->Count(), alone.Count());
  EXPECT_EQ((*gListScn)[0]->Description, alone[0]->Description);
  // A second settings object replaces the lists; the older one leaves them alone when freed.
  auto* second = new TZELT({}, home.Root());
  EXPECT_EQ(gZELT, second);
  delete second;
  EXPECT_EQ(gListScn, nullptr);
}
