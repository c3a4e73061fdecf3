#include "common/DecimalSep.h"
#include "common/IniFile.h"
#include "common/tests/PlatformTestEnv.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

const std::string kSample =
    "; station settings\r\n"
    "stray line before any section\r\n"
    "[General]\r\n"
    "Count=2\r\n"
    "  Name = padded  \r\n"
    "# a comment inside\r\n"
    "\r\n"
    "[Scr0]\r\n"
    "Cmd=\xB0\x01\xFFraw\r\n"
    "Empty=\r\n"
    "[general]\r\n"
    "Extra=yes";

}  // namespace

TEST(IniFile, ReadsWithoutCaseAndKeepsValuesRaw)
{
  TIniFile ini = TIniFile::FromBytes(kSample);
  EXPECT_EQ(ini.ReadInteger("GENERAL", "count", 0), 2);
  EXPECT_EQ(ini.ReadString("General", "NAME", "x"), " padded  ");
  EXPECT_EQ(ini.ReadString("scr0", "cmd", ""), "\xB0\x01\xFFraw");
  EXPECT_TRUE(ini.ValueExists("Scr0", "Empty"));
  EXPECT_EQ(ini.ReadString("Scr0", "Empty", "dflt"), "");
  EXPECT_EQ(ini.ReadString("Scr0", "Missing", "dflt"), "dflt");
  // A second block of the same section counts as the same section.
  EXPECT_EQ(ini.ReadString("General", "Extra", ""), "yes");
  EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"General", "Scr0"}));
  EXPECT_EQ(ini.ReadSection("general"), (std::vector<std::string>{"Count", "Name", "Extra"}));
  EXPECT_EQ(ini.ReadSectionValues("Scr0"), (std::vector<std::string>{"Cmd=\xB0\x01\xFFraw", "Empty="}));
  EXPECT_FALSE(ini.SectionExists("Scr1"));
  EXPECT_EQ(ini.Bytes(), kSample);
}

TEST(IniFile, NumbersAndBooleans)
{
  TIniFile ini = TIniFile::FromBytes(
      "[N]\nA= 42 \nB=-7\nC=$1F\nD=0x10\nE=12abc\nF=99999999999\nG=$FFFFFFFF\nH=-2147483648\n"
      "T=1\nZ=0\nX=yes\nF1=3.25\nF2= -1e3\nF3=abc\n");
  EXPECT_EQ(ini.ReadInteger("N", "A", 0), 42);
  EXPECT_EQ(ini.ReadInteger("N", "B", 0), -7);
  EXPECT_EQ(ini.ReadInteger("N", "C", 0), 31);
  EXPECT_EQ(ini.ReadInteger("N", "D", 0), 16);
  EXPECT_EQ(ini.ReadInteger("N", "E", 5), 5);
  EXPECT_EQ(ini.ReadInteger("N", "F", 5), 5);
  EXPECT_EQ(ini.ReadInteger("N", "G", 5), -1);
  EXPECT_EQ(ini.ReadInteger("N", "H", 5), INT32_MIN);
  EXPECT_TRUE(ini.ReadBool("N", "T", false));
  EXPECT_FALSE(ini.ReadBool("N", "Z", true));
  EXPECT_TRUE(ini.ReadBool("N", "X", true));
  EXPECT_FALSE(ini.ReadBool("N", "none", false));
  EXPECT_DOUBLE_EQ(ini.ReadFloat("N", "F1", 0), 3.25);
  EXPECT_DOUBLE_EQ(ini.ReadFloat("N", "F2", 0), -1000);
  EXPECT_DOUBLE_EQ(ini.ReadFloat("N", "F3", 9.5), 9.5);
  ini.WriteFloat("N", "W", 0.1);
  EXPECT_DOUBLE_EQ(ini.ReadFloat("N", "W", 0), 0.1);
  // The process decimal separator writes; either separator reads.
  SetDecimalSeparator(',');
  ini.WriteFloat("N", "Comma", 2.5);
  EXPECT_EQ(ini.ReadString("N", "Comma", ""), "2,5");
  EXPECT_DOUBLE_EQ(ini.ReadFloat("N", "Comma", 0), 2.5);
  EXPECT_DOUBLE_EQ(ini.ReadFloat("N", "F1", 0), 3.25);
  SetDecimalSeparator('.');
  ini.WriteBool("N", "T", false);
  ini.WriteInteger("N", "A", -3);
  EXPECT_NE(ini.Bytes().find("T=0\nZ"), std::string::npos);
  EXPECT_NE(ini.Bytes().find("A=-3\n"), std::string::npos);
}

TEST(IniFile, RoundTripKeepsCommentsBytesAndLineEnds)
{
  ScopedTestHome home;
  fs::path path = home.Root() / "Scripts.lst";
  ScopedTestHome::Write(path, kSample);
  {
    TIniFile ini(path);
    // Separators as values survive: list separator ',', ';', a blank, a tab.
    EXPECT_TRUE(ini.WriteString("General", "SepList", "\t"));
    EXPECT_TRUE(ini.WriteString("General", "SepDec", ","));
    EXPECT_TRUE(ini.WriteString("General", "SepX", ";"));
    EXPECT_TRUE(ini.WriteString("General", "SepSpace", " "));
    EXPECT_TRUE(ini.WriteString("GENERAL", "name", "new"));
    EXPECT_TRUE(ini.WriteString("New", "Key", "v"));
    EXPECT_TRUE(ini.Modified());
    EXPECT_TRUE(ini.UpdateFile()) << ini.LastError();
    EXPECT_FALSE(ini.Modified());
  }
  const std::string expected =
      "; station settings\r\n"
      "stray line before any section\r\n"
      "[General]\r\n"
      "Count=2\r\n"
      "  Name =new\r\n"
      "SepList=\t\r\n"
      "SepDec=,\r\n"
      "SepX=;\r\n"
      "SepSpace= \r\n"
      "# a comment inside\r\n"
      "\r\n"
      "[Scr0]\r\n"
      "Cmd=\xB0\x01\xFFraw\r\n"
      "Empty=\r\n"
      "[general]\r\n"
      "Extra=yes\r\n"
      "[New]\r\n"
      "Key=v\r\n";
  EXPECT_EQ(ScopedTestHome::Read(path), expected);
  TIniFile again(path);
  EXPECT_EQ(again.ReadString("general", "seplist", ""), "\t");
  EXPECT_EQ(again.ReadString("general", "sepdec", ""), ",");
  EXPECT_EQ(again.ReadString("general", "sepx", ""), ";");
  EXPECT_EQ(again.ReadString("general", "sepspace", ""), " ");

  // A file with LF ends gets LF lines; a new file gets CR LF.
  TIniFile lf = TIniFile::FromBytes("[A]\nx=1\n");
  lf.WriteString("B", "y", "2");
  EXPECT_EQ(lf.Bytes(), "[A]\nx=1\n[B]\ny=2\n");
  TIniFile fresh(home.Root() / "fresh.ini");
  fresh.WriteString("S", "k", "v");
  EXPECT_EQ(fresh.Bytes(), "[S]\r\nk=v\r\n");
}

TEST(IniFile, DeleteEraseAndNamesThatCannotBeStored)
{
  TIniFile ini = TIniFile::FromBytes(kSample);
  ini.DeleteKey("general", "NAME");
  EXPECT_FALSE(ini.ValueExists("General", "Name"));
  ini.EraseSection("GENERAL");
  EXPECT_FALSE(ini.SectionExists("General"));
  EXPECT_EQ(ini.Bytes(), "; station settings\r\nstray line before any section\r\n[Scr0]\r\nCmd=\xB0\x01\xFFraw\r\nEmpty=\r\n");

  EXPECT_FALSE(ini.WriteString("", "k", "v"));
  EXPECT_FALSE(ini.WriteString("a]b", "k", "v"));
  EXPECT_FALSE(ini.WriteString("S", "k=x", "v"));
  EXPECT_FALSE(ini.WriteString("S", ";k", "v"));
  EXPECT_FALSE(ini.WriteString("S", "a\nb", "v"));
  EXPECT_FALSE(ini.WriteString("S", "  ", "v"));
  // A line end in a value would start a new line: the value is cut there.
  EXPECT_TRUE(ini.WriteString("S", "k", "one\r\n[Evil]\r\nx=1"));
  EXPECT_EQ(ini.ReadString("S", "k", ""), "one");
  EXPECT_FALSE(ini.SectionExists("Evil"));
  // No file behind a text image.
  EXPECT_FALSE(ini.UpdateFile());
}

TEST(IniFile, TwoWritersOnOneFileKeepEachOthersChanges)
{
  ScopedTestHome home;
  fs::path path = home.Root() / "store.ini";
  TIniFile a(path), b(path);
  a.WriteString("General", "A", "1");
  b.WriteString("Status", "B", "2");
  EXPECT_TRUE(a.UpdateFile());
  // b sees a's saved value before saving its own.
  EXPECT_EQ(b.ReadString("General", "A", ""), "1");
  EXPECT_EQ(b.ReadString("Status", "B", ""), "2");
  EXPECT_TRUE(b.UpdateFile());
  TIniFile c(path);
  EXPECT_EQ(c.ReadString("General", "A", ""), "1");
  EXPECT_EQ(c.ReadString("Status", "B", ""), "2");
  // The destructor saves what is pending.
  {
    TIniFile d(path);
    d.WriteInteger("General", "D", 4);
  }
  EXPECT_EQ(c.ReadInteger("General", "D", 0), 4);
}

TEST(IniFile, FailedSaveKeepsTheOldFileAndTheChanges)
{
  ScopedTestHome home;
  fs::path path = home.Root() / "infos.ini";
  ScopedTestHome::Write(path, "[0012]\r\nName=Site\r\n");
  TIniFile ini(path);
  ini.WriteString("0012", "Name", std::string(200, 'x'));

  bool ok = true;
  ScopedTestHome::WithFileSizeLimit(16, [&] { ok = ini.UpdateFile(); });
  EXPECT_FALSE(ok);
  EXPECT_FALSE(ini.LastError().empty());
  EXPECT_EQ(ScopedTestHome::Read(path), "[0012]\r\nName=Site\r\n");
  EXPECT_TRUE(ini.Modified());
  EXPECT_TRUE(ini.UpdateFile());
  EXPECT_EQ(ScopedTestHome::Read(path), "[0012]\r\nName=" + std::string(200, 'x') + "\r\n");

  // A folder that does not exist: nothing is created, the save fails.
  TIniFile lost(home.Root() / "nofolder" / "x.ini");
  lost.WriteString("S", "k", "v");
  EXPECT_FALSE(lost.UpdateFile());
  EXPECT_FALSE(fs::exists(home.Root() / "nofolder"));
  lost.DiscardChanges();
  EXPECT_FALSE(lost.Modified());
  EXPECT_FALSE(lost.ValueExists("S", "k"));
}

TEST(IniFile, AnyBytesParseAndRebuildIdentically)
{
  // Lines of every kind, NULs, lone CRs, unterminated sections, '=' without a name.
  std::string odd("[\0]\r\r\n[x\n=v\n\xFF=\xFE\n [ s ] tail\n k = v \n[s]\r\n\0k\0=\0\n]\n[", 48);
  TIniFile bom = TIniFile::FromBytes("\xEF\xBB\xBF[General]\r\nA=1\r\n");
  EXPECT_EQ(bom.ReadInteger("General", "A", 0), 1);
  EXPECT_EQ(bom.Bytes(), "\xEF\xBB\xBF[General]\r\nA=1\r\n");
  TIniFile ini = TIniFile::FromBytes(odd);
  EXPECT_EQ(ini.Bytes(), odd);
  EXPECT_EQ(ini.ReadString("s", "k", ""), " v ");
  EXPECT_EQ(ini.ReadString("x", "\xFF", ""), "\xFE");
  uint32_t seed = 1;
  for (int round = 0; round < 200; ++round) {
    std::string bytes;
    for (int i = 0; i < 300; ++i) {
      seed = seed * 1103515245u + 12345u;
      const char pick[] = "[]=;#\r\n \tab\0";
      bytes.push_back(pick[(seed >> 16) % (sizeof pick)]);
    }
    TIniFile any = TIniFile::FromBytes(bytes);
    ASSERT_EQ(any.Bytes(), bytes);
    for (const auto& s : any.ReadSections())
      for (const auto& k : any.ReadSection(s)) any.ReadString(s, k, "");
  }
}

TEST(IniFile, LookupsStayRightWhileKeysComeAndGoInsideTheFile)
{
  TIniFile ini = TIniFile::FromBytes("[A]\nk1=1\nK1=dup\n[B]\nx=1\ny=2\n[a]\nk2=2\n[C]\nz=3\n");
  // A name is met once, with its first value, across the blocks of a section and whatever its case.
  EXPECT_EQ(ini.ReadSection("A"), (std::vector<std::string>{"k1", "k2"}));
  EXPECT_EQ(ini.ReadSectionValues("a"), (std::vector<std::string>{"k1=1", "k2=2"}));
  // Keys added inside the file and deleted from it move the lines after them.
  ini.WriteString("A", "new", "n");
  ini.WriteString("B", "w", "4");
  ini.DeleteKey("A", "K1");
  ini.WriteString("B", "y", "22");
  ini.DeleteKey("B", "x");
  ini.WriteString("C", "z", "33");
  EXPECT_EQ(ini.Bytes(), "[A]\nnew=n\n[B]\ny=22\nw=4\n[a]\nk2=2\n[C]\nz=33\n");
  TIniFile fresh = TIniFile::FromBytes(ini.Bytes());
  for (TIniFile* f : {&ini, &fresh})
    for (const char* section : {"A", "B", "C"})
      for (const std::string& key : fresh.ReadSection(section))
        EXPECT_EQ(f->ReadString(section, key, "?"), fresh.ReadString(section, key, "!")) << section << key;
  EXPECT_EQ(ini.ReadString("A", "k2", ""), "2");
  EXPECT_FALSE(ini.ValueExists("A", "k1"));
}
