// ASCII export of data files: fresh files per type, period files merged in date order.
#include <gtest/gtest.h>

#include <filesystem>

#include "common/AsciiExport.h"
#include "common/DataPaths.h"
#include "common/Q5File.h"
#include "common/tests/DescTestEnv.h"
#include "common/tests/support/Q5Images.h"

using namespace q5test;

namespace {

const char* kValues = "Date,1,\"Date\",1,\"Date\"\n"
                      "Time,2,\"Time\",2,\"Time\"\n"
                      "Temp,4,\"Temperature\",5,\"Temp \xB0" "C\"\n"
                      "Count,4,\"Count\",3,\"Count\"\n";
const char* kTypes = "S 1,0x12,NSU,\"Sun\",0\n"
                     "E VAL_DATE,4,Date\n"
                     "E VAL_TIME,7,Time\n"
                     "E VAL_TEMP,10,Temp,D=1\n"
                     "S 2,0x13,SKY,\"Sky\",0\n"
                     "E VAL_DATE,4,Date\n"
                     "E VAL_TIME,7,Time\n"
                     "E VAL_CN,10,Count\n";

// A sun record (code 0x12) with a temperature raw value, or a sky record (0x13) with a count.
Bytes Sun(int month, int day, int hour, int minute, uint16_t raw = 500)
{
    return MakeRecord(0x12, {2025, month, day, hour, minute, 0}, {static_cast<uint8_t>(raw >> 8), static_cast<uint8_t>(raw)});
}
Bytes Sky(int month, int day, int hour, uint16_t count)
{
    return MakeRecord(0x13, {2025, month, day, hour, 0, 0}, {static_cast<uint8_t>(count >> 8), static_cast<uint8_t>(count)});
}

struct AsciiExportTest : ::testing::Test {
    ScopedDescLists lists;
    TempDir dir;
    TQ5File file;
    void SetUp() override
    {
        lists.El().LoadFromText(kValues);
        lists.Scn().LoadFromText(kTypes);
        ASSERT_EQ(lists.Scn().Count(), 2);
    }
    void Load(const std::vector<Bytes>& records)
    {
        const Bytes image = MakeImage(MakeParamBlock(0x0A, "SP0A0001"), records, 300);
        ASSERT_TRUE(file.LoadFromBytes(image.data(), image.size()));
    }
    std::vector<std::string> Names() const
    {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir.Path()))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

}   // namespace

TEST_F(AsciiExportTest, FreshFilesPerTypeWithHeader)
{
    Bytes bad = Sun(6, 1, 10, 0);
    bad[bad.size() - 2] = 0;
    Load({Sun(6, 1, 8, 0), Sky(6, 1, 8, 1234), MakeRecord(0x55, {}, {1}), bad, Sun(6, 1, 9, 30, 0x01F9)});
    ASSERT_EQ(file.Events.Count(), 5);
    EXPECT_TRUE(file.ExportAsciiFiles(dir.File("data.q5"), true));
    EXPECT_EQ(Names(), (std::vector<std::string>{"data.NSU", "data.SKY"}));
    EXPECT_EQ(ReadText(dir.File("data.NSU")), "Date,Time,Temp \xB0" "C\r\n1/6/2025,8:0:0,10.0\r\n1/6/2025,9:30:0,10.5\r\n");
    EXPECT_EQ(ReadText(dir.File("data.SKY")), "Date,Time,Count\r\n1/6/2025,8:0:0,1234\r\n");
    // Written again without header: replaced, not appended.
    EXPECT_TRUE(file.ExportAsciiFiles(dir.File("data.q5"), false));
    EXPECT_EQ(ReadText(dir.File("data.SKY")), "1/6/2025,8:0:0,1234\r\n");
}

TEST_F(AsciiExportTest, ATimeWithOneBadPairIsAllZero)
{
    // Time bytes 13 0F 20: the minute is not decimal, so the event is undated and its time reads 0:0:0,
    // in the export written straight from the records as in the texts of the event's own values.
    Load({MakeRecordRawDate(0x12, {0x25, 0x06, 0x01, 0x13, 0x0F, 0x20}, {0x01, 0xF4}),
          MakeRecordRawDate(0x12, {0x25, 0x06, 0x01, 0x13, 0x20, 0x0F}, {0x01, 0xF4}), Sun(6, 1, 13, 20)});
    EXPECT_TRUE(file.ExportAsciiFiles(dir.File("t.q5"), false));
    EXPECT_EQ(ReadText(dir.File("t.NSU")), "1/6/2025,0:0:0,10.0\r\n1/6/2025,0:0:0,10.0\r\n1/6/2025,13:20:0,10.0\r\n");
    lists.Scn().ShowZeroDate = 1;
    EXPECT_EQ(file.Events[0]->Items(1)->GetASCIIString(), "00:00:00");
    EXPECT_EQ(file.Events[0]->AsciiString(), "01/06/2025,00:00:00,10.0");
    EXPECT_EQ(file.Events[0]->DescString(), "Event is not dated.");
}

TEST_F(AsciiExportTest, ExportsMakeNoEventObjects)
{
    // A record becomes an object only when one is asked for: the exports, their header line and the
    // names of their files read the records, so that a large file costs little more than its bytes.
    Load({Sun(6, 1, 8, 0), Sky(6, 1, 8, 1234), Sun(6, 2, 9, 0)});
    EXPECT_EQ(file.AsciiFileNames(dir.File("x.q5")), (std::vector<std::string>{dir.File("x.NSU"), dir.File("x.SKY")}));
    ASSERT_TRUE(file.ExportAsciiFiles(dir.File("x.q5"), true));
    ASSERT_TRUE(file.ExportAscii(dir.File("p"), ASCII_DAY, false));
    for (int i = 0; i < file.Events.Count(); ++i)
        EXPECT_FALSE(file.Events.HasObject(i)) << i;
    EXPECT_EQ(ReadText(dir.File("x.SKY")), "Date,Time,Count\r\n1/6/2025,8:0:0,1234\r\n");
}

TEST_F(AsciiExportTest, SeparatorsAndQuotingComeFromTheList)
{
    lists.Scn().SepList = ";";
    lists.Scn().QuotedDateTime = 1;
    lists.Scn().ShowZeroDate = 1;
    Load({Sun(6, 1, 8, 5)});
    ASSERT_TRUE(file.ExportAscii(dir.File("q"), ASCII_DAY, true));
    const std::string text = ReadText(dir.File("q01062025.NSU"));
    EXPECT_EQ(text, "\"01/06/2025\";\"08:05:00\";10.0\r\n");
    // Quoted lines still sort by their date.
    double expected = 0;
    TryEncodeDateTime(2025, 6, 1, 8, 5, 0, 0, expected);
    EXPECT_EQ(LineDateTime(text.substr(0, text.size() - 2)), expected);
}

TEST_F(AsciiExportTest, DailyExportTwiceChangesNothing)
{
    Load({Sun(6, 1, 9, 0), Sun(6, 1, 8, 0), Sun(6, 2, 8, 0), Sky(6, 1, 8, 7)});
    ASSERT_TRUE(file.ExportAscii(dir.File("st"), ASCII_DAY, false));
    EXPECT_EQ(Names(), (std::vector<std::string>{"st01062025.NSU", "st01062025.SKY", "st02062025.NSU"}));
    // Lines in date order whatever the record order.
    EXPECT_EQ(ReadText(dir.File("st01062025.NSU")), "1/6/2025,8:0:0,10.0\r\n1/6/2025,9:0:0,10.0\r\n");
    const auto before = std::filesystem::last_write_time(dir.File("st01062025.NSU"));
    const std::string first = ReadText(dir.File("st01062025.NSU"));
    ASSERT_TRUE(file.ExportAscii(dir.File("st"), ASCII_DAY, false));
    EXPECT_EQ(ReadText(dir.File("st01062025.NSU")), first);
    EXPECT_EQ(std::filesystem::last_write_time(dir.File("st01062025.NSU")), before);   // not even rewritten
    EXPECT_EQ(Names().size(), 3u);
}

TEST_F(AsciiExportTest, PeriodNames)
{
    Load({Sun(6, 30, 23, 0), Sun(7, 1, 0, 0)});
    ASSERT_TRUE(file.ExportAscii(dir.File("m"), ASCII_MONTH, false));
    EXPECT_EQ(Names(), (std::vector<std::string>{"m062025.NSU", "m072025.NSU"}));
    ASSERT_TRUE(file.ExportAscii(dir.File("h"), ASCII_HOUR, false));
    ASSERT_TRUE(file.ExportAscii(dir.File("y"), ASCII_YEAR, false));
    ASSERT_TRUE(file.ExportAscii(dir.File("all"), ASCII_ALL, false));
    const auto names = Names();
    for (const char* name : {"h2330062025.NSU", "h0001072025.NSU", "y2025.NSU", "all.NSU"})
        EXPECT_NE(std::find(names.begin(), names.end(), name), names.end()) << name;
    EXPECT_EQ(ReadText(dir.File("y2025.NSU")), "30/6/2025,23:0:0,10.0\r\n1/7/2025,0:0:0,10.0\r\n");
}

TEST_F(AsciiExportTest, MergeIntoAnExistingDailyFile)
{
    WriteText(dir.File("d01062025.NSU"), "Date,Time,Temp\r\n1/6/2025,7:0:0,1.0\r\n1/6/2025,9:0:0,2.0\r\n");
    Load({Sun(6, 1, 8, 0), Sun(6, 1, 9, 0)});
    ASSERT_TRUE(file.ExportAscii(dir.File("d"), ASCII_DAY, true));
    // 08:00 between 07:00 and 09:00; a new line goes before an old one of the same time; the header
    // (no date) stays on top; modes 1-5 add no header.
    EXPECT_EQ(ReadText(dir.File("d01062025.NSU")),
              "Date,Time,Temp\r\n1/6/2025,7:0:0,1.0\r\n1/6/2025,8:0:0,10.0\r\n1/6/2025,9:0:0,10.0\r\n"
              "1/6/2025,9:0:0,2.0\r\n");
}

TEST_F(AsciiExportTest, SameTimeLinesGoBeforeOlderOnes)
{
    // Arrival order 09:00 (10.0), 09:00 (11.0), 08:00: each new line goes before every line of its time.
    Load({Sun(6, 1, 9, 0, 500), Sun(6, 1, 9, 0, 510), Sun(6, 1, 8, 0, 500)});
    WriteText(dir.File("s01062025.NSU"), "1/6/2025,7:0:0,1.0\r\n1/6/2025,9:0:0,2.0\r\n");
    ASSERT_TRUE(file.ExportAscii(dir.File("s"), ASCII_DAY, false));
    EXPECT_EQ(ReadText(dir.File("s01062025.NSU")),
              "1/6/2025,7:0:0,1.0\r\n1/6/2025,8:0:0,10.0\r\n1/6/2025,9:0:0,11.0\r\n1/6/2025,9:0:0,10.0\r\n"
              "1/6/2025,9:0:0,2.0\r\n");
    // A file out of date order (a note in the middle): each line walks back from the end.
    WriteText(dir.File("u01062025.NSU"), "1/6/2025,9:0:0,2.0\r\nnote\r\n1/6/2025,7:0:0,1.0\r\n");
    ASSERT_TRUE(file.ExportAscii(dir.File("u"), ASCII_DAY, false));
    EXPECT_EQ(ReadText(dir.File("u01062025.NSU")),
              "1/6/2025,9:0:0,2.0\r\nnote\r\n1/6/2025,7:0:0,1.0\r\n1/6/2025,8:0:0,10.0\r\n1/6/2025,9:0:0,11.0\r\n"
              "1/6/2025,9:0:0,10.0\r\n");
}

TEST_F(AsciiExportTest, FreshModeAndBadModes)
{
    Load({Sun(6, 1, 8, 0)});
    EXPECT_FALSE(file.ExportAscii(dir.File("x"), 6, true));
    EXPECT_FALSE(file.ExportAscii(dir.File("x"), -1, true));
    EXPECT_TRUE(Names().empty());
    ASSERT_TRUE(file.ExportAscii(dir.File("f"), ASCII_FRESH, true));
    const auto names = Names();
    ASSERT_EQ(names.size(), 1u);
    // base + MMDDhhmm of the local time + the type's extension
    EXPECT_EQ(names[0].size(), std::string("f01010000.NSU").size()) << names[0];
    EXPECT_EQ(names[0].substr(names[0].size() - 4), ".NSU");
    EXPECT_EQ(ReadText(dir.File(names[0])).substr(0, 15), "Date,Time,Temp ");
}

TEST_F(AsciiExportTest, WriteFailuresAreReported)
{
    Load({Sun(6, 1, 8, 0), Sky(6, 1, 8, 1)});
    EXPECT_FALSE(file.ExportAsciiFiles(dir.File("missing/folder/x.q5"), false));
    EXPECT_FALSE(file.ExportAscii(dir.File("missing/folder/x"), ASCII_DAY, false));
    // A period file that is a folder: that type fails, the other is still written.
    std::filesystem::create_directory(dir.File("p01062025.NSU"));
    EXPECT_FALSE(file.ExportAscii(dir.File("p"), ASCII_DAY, false));
    EXPECT_EQ(ReadText(dir.File("p01062025.SKY")), "1/6/2025,8:0:0,1\r\n");
}

TEST(LineDateTime, Readings)
{
    double v = 0;
    TryEncodeDateTime(2025, 6, 1, 8, 0, 0, 0, v);
    EXPECT_EQ(LineDateTime("1/6/2025,8:0:0,10.0"), v);
    EXPECT_EQ(LineDateTime("01-06-25 08.00.00;x"), v);
    EXPECT_EQ(LineDateTime("\"01/06/2025\",\"08:00:00\",1"), v);
    TryEncodeDateTime(1999, 6, 1, 8, 0, 0, 0, v);
    EXPECT_EQ(LineDateTime("1/6/99,8:0:0"), v);
    EXPECT_EQ(LineDateTime("Date,Time,Temp"), 0.0);
    EXPECT_EQ(LineDateTime("1/6/2025,8:0"), 0.0);
    EXPECT_EQ(LineDateTime("31/4/2025,8:0:0"), 0.0);
    EXPECT_EQ(LineDateTime(""), 0.0);
    EXPECT_EQ(LineDateTime("\""), 0.0);
    EXPECT_EQ(LineDateTime("99999999999999/1/1,1:1:1"), 0.0);
}

TEST(LineDateTime, DaysBeforeTheFirstDay)
{
    // Before 30/12/1899 the day counts backwards and the time of day forwards: a line's date-time reads
    // back as the same day and time, and period files take their names from it.
    struct Case {
        const char* line;
        double value;
        const char* hourlyName;
    } cases[] = {
        {"29/12/1899,06:00:00", -1.25, "b0629121899.NSU"},
        {"29/12/1899,18:00:00", -1.75, "b1829121899.NSU"},
        {"29/12/1899,00:00:00", -1.0, "b0029121899.NSU"},
        {"28/12/1899,23:59:59", -2.0 - 86399.0 / 86400, "b2328121899.NSU"},
        {"30/12/1899,06:00:00", 0.25, "b0630121899.NSU"},
        {"30/12/1899,00:00:00", 0.0, "b0030121899.NSU"},
        {"31/12/1899,00:00:00", 1.0, "b0031121899.NSU"},
        {"01/01/1900,12:00:00", 2.5, "b1201011900.NSU"},
        {"01/01/1899,06:00:00", -363.25, "b0601011899.NSU"},
    };
    for (const Case& c : cases) {
        const double value = LineDateTime(c.line);
        EXPECT_DOUBLE_EQ(value, c.value) << c.line;
        EXPECT_EQ(AsciiPeriodFileName("b", ASCII_HOUR, value, "NSU"), c.hourlyName) << c.line;
        EXPECT_EQ(FormatDateTime("dd/mm/yyyy,hh:nn:ss", value), c.line);
    }
}

// The station's own description files on a small data file, against files checked by hand.
TEST(AsciiExportGolden, StationDescriptions)
{
    ScopedDescLists lists;
    lists.LoadFolder(InstalledDataDir());
    TempDir dir;
    auto counts = [](std::initializer_list<int> values) {
        Bytes b;
        for (int v : values) {
            b.push_back(static_cast<uint8_t>(v >> 8));
            b.push_back(static_cast<uint8_t>(v));
        }
        return b;
    };
    Bytes sun = counts({1200, 2300, 3400, 4500, 5600, 6700, 7800, 8900, 0xFFFB, 652});
    Bytes alm = counts({0, 100, 200, 300, 400, 500, 600, 700, 800, 648});
    alm[0] = 0x03;   // filter position 3 (byte 10), then the counts from byte 12
    Bytes tmp = counts({652, 3520, 1250});
    for (uint8_t b : {0x7D, 0x64, 0x01, 0xA5})
        tmp.push_back(b);
    Bytes sunRec = MakeRecord(0x10, {2025, 6, 1, 8, 0, 5}, sun);
    sunRec[3] = 7;
    Bytes almRec = MakeRecord(0x20, {2025, 6, 1, 8, 2, 0}, alm);
    almRec[2] = 1;
    almRec[3] = 8;
    Bytes tmpRec = MakeRecord(0x30, {2025, 6, 1, 9, 0, 0}, tmp);
    tmpRec[3] = 9;
    ASSERT_EQ(sunRec.size(), 32u);
    ASSERT_EQ(almRec.size(), 32u);
    ASSERT_EQ(tmpRec.size(), 22u);
    const std::string path = dir.File("golden.q5");
    WriteFile(path, MakeImage(MakeParamBlock(0x0A, "SP0A0123"), {sunRec, almRec, tmpRec}, 512));
    TQ5File file(path);
    ASSERT_EQ(file.NbEvt(), 3);
    ASSERT_TRUE(file.ExportAsciiFiles(path, true));
    const std::string golden = std::string(ZELT_TEST_SOURCE_DIR) + "/common/tests/golden/";
    for (const char* ext : {".SUN", ".ALM", ".TMP"})
        EXPECT_EQ(ReadText(dir.File(std::string("golden") + ext)), ReadText(golden + "golden" + ext)) << ext;
    if (std::getenv("ZELT_WRITE_GOLDEN") != nullptr)
        for (const char* ext : {".SUN", ".ALM", ".TMP"})
            std::filesystem::copy_file(dir.File(std::string("golden") + ext), golden + "golden" + ext,
                                       std::filesystem::copy_options::overwrite_existing);
}
