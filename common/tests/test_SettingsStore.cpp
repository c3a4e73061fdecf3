#include "common/SettingsStore.h"
#include "common/tests/PlatformTestEnv.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {
const char* const kKey = "SOFTWARE\\DORAX Quenlith\\ZELT Win";
}

TEST(SettingsStore, KeysMapToOneFilePerProductAndOneSectionPerKey)
{
  ScopedTestHome home;
  const fs::path file = home.Root() / "config" / "DORAX Quenlith" / "ZELT Win.ini";
  EXPECT_EQ(SettingsStoreFile(kKey), file);
  EXPECT_EQ(SettingsStoreFile("software\\DORAX Quenlith\\ZELT Win\\Tessaly"), file);
  EXPECT_EQ(SettingsStoreSection(kKey, ""), "General");
  EXPECT_EQ(SettingsStoreSection(kKey, "Debug"), "Debug");
  EXPECT_EQ(SettingsStoreSection(std::string(kKey) + "\\Status", ""), "Status");
  EXPECT_EQ(SettingsStoreSection(std::string(kKey) + "\\Tessaly\\Status", ""), "Tessaly\\Status");
  // Names that are not file names stay inside the config folder.
  EXPECT_EQ(SettingsStoreFile("SOFTWARE\\..\\a/b"), home.Root() / "config" / "__" / "a_b.ini");
  EXPECT_EQ(SettingsStoreFile(""), home.Root() / "config" / "zelt.ini");
}

TEST(SettingsStore, ReadersShareTheStoreAndSaveAtomically)
{
  ScopedTestHome home;
  const fs::path file = SettingsStoreFile(kKey);
  {
    TRegistryIniFile reg(kKey);
    EXPECT_EQ(reg.ReadString("", "PortNum", "COM1"), "COM1");
    reg.WriteString("", "PortNum", "/dev/ttyUSB0");
    reg.WriteString("", "SepList", "\t");
    reg.WriteBool("Debug", "MakeCnxErrors", true);
    EXPECT_FALSE(fs::exists(file));
  }
  ASSERT_TRUE(fs::exists(file));
  TRegistryIniFile status(std::string(kKey) + "\\Status");
  status.WriteInteger("", "MainFrm_Left", 12);
  TRegistryIniFile tessaly(std::string(kKey) + "\\Tessaly");
  tessaly.WriteString("", "SiteName", "Carpentras");
  TRegistryIniFile tessalyStatus(std::string(kKey) + "\\Tessaly\\Status");
  tessalyStatus.WriteInteger("", "TessalyFrm_Top", 5);
  EXPECT_TRUE(status.UpdateFile());
  EXPECT_TRUE(tessaly.UpdateFile());
  EXPECT_TRUE(tessalyStatus.UpdateFile());

  TIniFile raw(file);
  EXPECT_EQ(raw.ReadString("General", "PortNum", ""), "/dev/ttyUSB0");
  EXPECT_EQ(raw.ReadString("General", "SepList", ""), "\t");
  EXPECT_TRUE(raw.ReadBool("Debug", "MakeCnxErrors", false));
  EXPECT_EQ(raw.ReadInteger("Status", "MainFrm_Left", 0), 12);
  EXPECT_EQ(raw.ReadString("Tessaly", "SiteName", ""), "Carpentras");
  EXPECT_EQ(raw.ReadInteger("Tessaly\\Status", "TessalyFrm_Top", 0), 5);

  TRegistryIniFile root(kKey);
  EXPECT_EQ(root.ReadSections(), (std::vector<std::string>{"Debug", "Status", "Tessaly"}));
  EXPECT_EQ(tessaly.ReadSections(), (std::vector<std::string>{"Status"}));
  EXPECT_EQ(root.ReadSection(""), (std::vector<std::string>{"PortNum", "SepList"}));
  tessaly.EraseSection("");
  EXPECT_TRUE(tessaly.UpdateFile());
  TIniFile after(file);
  EXPECT_EQ(after.ReadSections(), (std::vector<std::string>{"General", "Debug", "Status"}));
}

TEST(SettingsStore, UnwritableConfigFolderReportsFailure)
{
  ScopedTestHome home;
  // The config "folder" is a file: the store cannot be created.
  ScopedTestHome::Write(home.Root() / "blocked", "x");
  home.Set("XDG_CONFIG_HOME", (home.Root() / "blocked").string());
  TRegistryIniFile reg(kKey);
  reg.WriteString("", "A", "1");
  EXPECT_FALSE(reg.UpdateFile());
  EXPECT_FALSE(reg.LastError().empty());
  EXPECT_EQ(ScopedTestHome::Read(home.Root() / "blocked"), "x");
}
