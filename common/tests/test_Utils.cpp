// Utilities, date-time values and the decimal separator.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <random>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <regex>

#include "common/DataPaths.h"
#include "common/DateTime.h"
#include "common/DecimalSep.h"
#include "common/Utils.h"
#include "common/tests/support/Q5Images.h"

using namespace q5test;

namespace {
struct SeparatorGuard {
    char saved = DecimalSeparator();
    ~SeparatorGuard() { SetDecimalSeparator(saved); }
};
using Fields = std::vector<std::string>;
}   // namespace

TEST(SplitString, FieldsSeparatorsAndTrimming)
{
    EXPECT_EQ(SplitString("a,,b", ',', false, false), (Fields{"a", "", "b"}));
    EXPECT_EQ(SplitString("a,,b", ',', true, false), (Fields{"a", "b"}));
    EXPECT_EQ(SplitString("a,b,", ',', false, false), (Fields{"a", "b"}));
    EXPECT_EQ(SplitString(",a", ',', false, false), (Fields{"", "a"}));
    EXPECT_EQ(SplitString(",,a", ',', true, false), (Fields{"a"}));
    EXPECT_EQ(SplitString(" a , b ", ',', false, true), (Fields{"a", "b"}));
    EXPECT_EQ(SplitString("", ',', false, false), Fields{});
    EXPECT_EQ(SplitString("SP010000-SP01FFFF", '-', false, false), (Fields{"SP010000", "SP01FFFF"}));
}

TEST(TextHelpers, RemoveReplaceTrim)
{
    EXPECT_EQ(RemoveChars("\"a,b\"", "\""), "a,b");
    std::string s = "a.b.c";
    ReplaceChar(s, '.', ',');
    EXPECT_EQ(s, "a,b,c");
    EXPECT_EQ(Trim("\t x y \r\n"), "x y");
    EXPECT_EQ(IncludeTrailingBackslash(""), "");
    EXPECT_EQ(IncludeTrailingBackslash("/tmp"), "/tmp/");
    EXPECT_EQ(IncludeTrailingBackslash("/tmp/"), "/tmp/");
}

TEST(HexHelpers, ConversionsBothWays)
{
    EXPECT_EQ(HexToByte("f"), 0);
    EXPECT_EQ(HexToByte("fe"), 254);
    EXPECT_EQ(HexToByte("FE12"), 254);
    EXPECT_EQ(HexToWord("1A2B3"), 0x1A2B);
    EXPECT_EQ(HexToWord("1a"), 0x1A);
    EXPECT_EQ(HexToInt("FFFFFF00", 6), 0xFFFFFFu);
    EXPECT_EQ(HexToInt("AB", 6), 0xABu);
    EXPECT_EQ(NibbleToHexChar(11), 'B');
    EXPECT_EQ(HexCharToNibble('c'), 12);
    EXPECT_EQ(ByteToHex(0x0A), "0A");
    const uint8_t bytes[] = {0x00, 0x7F, 0xFF};
    EXPECT_EQ(BytesToHex(bytes, 3), "007FFF");
}

TEST(HexHelpers, BytesToPrintable)
{
    const uint8_t frame[] = {0x02, 0x31, 0x32, 0x17};
    EXPECT_EQ(BytesToPrintable(frame, 4, false), "|02|12|17|");
    const uint8_t text[] = {'A', '%', '|', 'b'};
    EXPECT_EQ(BytesToPrintable(text, 4, false), "A%%|7C|b");
    const uint8_t plain[] = {'O', 'K'};
    EXPECT_EQ(BytesToPrintable(plain, 2, true), "|4F|4B|");
    EXPECT_EQ(BytesToPrintable(plain, 2, false), "OK");
}

TEST(DateTime, EncodeDecodeAndPivotYears)
{
    double v = 0;
    ASSERT_TRUE(TryEncodeDate(2025, 6, 1, v));
    EXPECT_EQ(v, 45809.0);
    ASSERT_TRUE(TryEncodeDate(1899, 12, 30, v));
    EXPECT_EQ(v, 0.0);
    EXPECT_FALSE(TryEncodeDate(2025, 4, 31, v));
    EXPECT_FALSE(TryEncodeDate(2023, 2, 29, v));
    EXPECT_TRUE(TryEncodeDate(2024, 2, 29, v));
    EXPECT_FALSE(TryEncodeTime(25, 0, 0, 0, v));
    ASSERT_TRUE(TryEncodeDateTime(2025, 6, 1, 23, 59, 59, 0, v));
    int y, mo, d, h, mi, s, ms;
    DecodeDateTime(v, y, mo, d, h, mi, s, ms);
    EXPECT_EQ((std::vector<int>{y, mo, d, h, mi, s, ms}), (std::vector<int>{2025, 6, 1, 23, 59, 59, 0}));
    EXPECT_EQ(FormatDateTime("dd/mm/yyyy hh:nn:ss", v), "01/06/2025 23:59:59");
    EXPECT_EQ(FormatDateTime("d/m/yy h:n:s.zzz \"mm\"", v), "1/6/25 23:59:59.000 mm");
    EXPECT_EQ(ExpandYear(0), 2000);
    EXPECT_EQ(ExpandYear(80), 2080);
    EXPECT_EQ(ExpandYear(81), 1981);
    EXPECT_EQ(ExpandYear(99), 1999);
    EXPECT_EQ(ExpandYear(2021), 2021);
    EXPECT_EQ(ExpandYear(-1), -1);
}

TEST(DateTime, DaysBeforeTheFirstDay)
{
    // Before 30/12/1899 the whole part counts days backwards and the fraction is still the time of day:
    // every date-time encodes to a value that decodes and shows as itself.
    struct Case {
        int y, mo, d, h, mi, s, ms;
        double value;
    } cases[] = {
        {1899, 12, 29, 6, 0, 0, 0, -1.25},    {1899, 12, 29, 18, 0, 0, 0, -1.75},
        {1899, 12, 29, 0, 0, 0, 0, -1.0},     {1899, 12, 28, 12, 0, 0, 0, -2.5},
        {1899, 12, 30, 6, 0, 0, 0, 0.25},     {1899, 12, 30, 0, 0, 0, 0, 0.0},
        {1899, 12, 31, 18, 0, 0, 0, 1.75},    {1900, 1, 1, 0, 0, 0, 0, 2.0},
        {1899, 1, 1, 12, 0, 0, 0, -363.5},    {1800, 1, 1, 23, 59, 59, 999, -36522.0 - 86399.999 / 86400},
    };
    for (const Case& c : cases) {
        double v = 0;
        ASSERT_TRUE(TryEncodeDateTime(c.y, c.mo, c.d, c.h, c.mi, c.s, c.ms, v));
        EXPECT_DOUBLE_EQ(v, c.value) << c.y << "-" << c.mo << "-" << c.d << " " << c.h << ":" << c.mi;
        int y, mo, d, h, mi, s, ms;
        DecodeDateTime(v, y, mo, d, h, mi, s, ms);
        EXPECT_EQ((std::vector<int>{y, mo, d, h, mi, s, ms}), (std::vector<int>{c.y, c.mo, c.d, c.h, c.mi, c.s, c.ms}))
            << v;
    }
    double v = 0;
    ASSERT_TRUE(TryEncodeDateTime(1899, 12, 29, 6, 0, 0, 0, v));
    EXPECT_EQ(ShortDateText(v) + " " + TimeText(v), "29/12/1899 06:00:00");
    // A negative fraction of the first day is a time of that day, as it is read.
    EXPECT_EQ(FormatDateTime("dd/mm/yyyy hh:nn", -0.25), "30/12/1899 06:00");
    EXPECT_EQ(FormatDateTime("dd/mm/yyyy hh:nn", -0.75), "30/12/1899 18:00");
}

TEST(DateTime, NowIsTheSystemClock)
{
    const double expected = UnixMsToDateTime(static_cast<long long>(std::time(nullptr)) * 1000);
    EXPECT_NEAR(NowUTC(), expected, 5.0 / 86400);
    std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    EXPECT_NEAR(NowLocal() - NowUTC(), local.tm_gmtoff / 86400.0, 5.0 / 86400);
    EXPECT_EQ(DateTimeToUnixMs(UnixMsToDateTime(1700000000123LL)), 1700000000123LL);
}

TEST(DecimalSeparator, FixedNotation)
{
    SeparatorGuard guard;
    SetDecimalSeparator('.');
    EXPECT_EQ(FormatFixed(0.52f, 8), "0.52000000");
    EXPECT_EQ(FormatFixed(10.0, 1), "10.0");
    EXPECT_EQ(FormatFixed(0.00123456789, 8), "0.00123457");
    EXPECT_EQ(FormatFixed(1234567, 0), "1234567");
    EXPECT_EQ(FormatFixed(12345.678, 2), "12345.70");
    EXPECT_EQ(FormatFixed(-0.001, 2), "0.00");
    EXPECT_EQ(FormatFixed(-2.5, 1), "-2.5");
    EXPECT_EQ(FormatFixed(0, 3), "0.000");
    SetDecimalSeparator(',');
    EXPECT_EQ(FormatFixed(10.0, 1), "10,0");
    EXPECT_EQ(FormatFixedDot(10.0, 1), "10.0");
    EXPECT_EQ(FormatFixed(7, 0), "7");
}

// The exact decimal expansion of the value, rounded half away from zero by hand: what the fixed notation
// must give, digit for digit, for any value.
std::string ReferenceFixed(double value, int decimals, int significant)
{
    int kept = decimals;
    if (value != 0 && significant > 0) {
        const int intDigits = static_cast<int>(std::floor(std::log10(std::fabs(value)))) + 1;
        kept = std::min(decimals, std::max(0, significant - intDigits));
    }
    std::vector<char> buf(1500);
    const auto res = std::to_chars(buf.data(), buf.data() + buf.size(), std::fabs(value), std::chars_format::fixed, 1100);
    const std::string exact(buf.data(), res.ptr);
    const size_t point = exact.find('.');
    std::string digits = exact.substr(0, point) + exact.substr(point + 1, static_cast<size_t>(kept));
    if (exact[point + 1 + static_cast<size_t>(kept)] >= '5') {
        int i = static_cast<int>(digits.size()) - 1;
        for (; i >= 0 && digits[static_cast<size_t>(i)] == '9'; --i)
            digits[static_cast<size_t>(i)] = '0';
        if (i < 0)
            digits = "1" + digits;
        else
            ++digits[static_cast<size_t>(i)];
    }
    std::string text = digits.substr(0, digits.size() - static_cast<size_t>(kept));
    if (kept > 0)
        text += "." + digits.substr(digits.size() - static_cast<size_t>(kept));
    if (value < 0 && digits.find_first_not_of('0') != std::string::npos)
        text = "-" + text;
    if (decimals > kept)
        text += (kept == 0 ? "." : "") + std::string(static_cast<size_t>(decimals - kept), '0');
    return text;
}

TEST(DecimalSeparator, FixedNotationDigitForDigit)
{
    std::mt19937_64 random(7);
    std::uniform_int_distribution<int> exponent(-30, 60);
    std::uniform_int_distribution<int> places(0, 12);
    int checked = 0;
    for (int i = 0; i < 200000; ++i) {
        const uint64_t bits = random();
        double value = std::ldexp(static_cast<double>(bits >> 11) / 0x1p53, exponent(random));
        if (i % 3 == 0)
            value = static_cast<float>(value);                      // the values of the records
        if (i % 5 == 0)
            value = std::ldexp(std::round(std::ldexp(value, 4)), -4);   // many exact halves
        if (i % 7 == 0)
            value = static_cast<double>(bits % 100000) * 0.0125 - 40;   // scaled counts
        if (bits & 1)
            value = -value;
        const int decimals = places(random);
        for (int significant : {0, 6, 8}) {
            ASSERT_EQ(FormatFixedSignificant(value, decimals, significant, '.'), ReferenceFixed(value, decimals, significant))
                << std::hexfloat << value << " " << decimals << " " << significant;
            ++checked;
        }
    }
    for (double edge : {999.9999999999999, 0.09999999999999999, 99999.95, 1e15, 123456789012345678.0, 5e-324, 0.0, -0.0,
                        0.5, 1.5, 2.5, -0.5, 1e-20, 4503599627370495.5})
        for (int decimals : {0, 1, 2, 6, 20, 30})
            for (int significant : {0, 6, 8})
                EXPECT_EQ(FormatFixedSignificant(edge, decimals, significant, '.'), ReferenceFixed(edge, decimals, significant))
                    << edge << " " << decimals << " " << significant;
    EXPECT_EQ(checked, 600000);
}

TEST(DecimalSeparator, ParsingFollowsTheSeparator)
{
    SeparatorGuard guard;
    SetDecimalSeparator(',');
    EXPECT_DOUBLE_EQ(StrToFloat(" 1,5 "), 1.5);
    EXPECT_THROW(StrToFloat("1.5"), std::invalid_argument);
    EXPECT_DOUBLE_EQ(StrToFloatAnySep("1.5"), 1.5);
    EXPECT_DOUBLE_EQ(StrToFloatAnySep("-2,25"), -2.25);
    SetDecimalSeparator('.');
    EXPECT_DOUBLE_EQ(StrToFloatAnySep("1,5"), 1.5);
    EXPECT_DOUBLE_EQ(StrToFloatAnySep("+3.5e2"), 350.0);
    EXPECT_THROW(StrToFloatAnySep("abc"), std::invalid_argument);
    EXPECT_THROW(StrToFloatAnySep(""), std::invalid_argument);
    double v = 0;
    EXPECT_FALSE(TryStrToFloat("1.5x", v));
}

TEST(FindFiles, MasksAttributesAndRecursion)
{
    TempDir dir;
    WriteText(dir.File("b.so"), "x");
    WriteText(dir.File("A.SO"), "x");
    WriteText(dir.File("c.txt"), "x");
    std::filesystem::create_directories(dir.File("sub/deeper"));
    WriteText(dir.File("sub/d.so"), "x");
    WriteText(dir.File("sub/deeper/e.so"), "x");
    EXPECT_EQ(FindFiles(dir.Path(), "*.so", 0, false), (Fields{"A.SO", "b.so"}));
    EXPECT_EQ(FindFiles(dir.Path(), "*.so", 0, true), (Fields{"A.SO", "b.so", "sub/d.so", "sub/deeper/e.so"}));
    EXPECT_EQ(FindFiles(dir.Path(), "*", faDirectory, false), (Fields{"sub"}));
    EXPECT_EQ(FindFiles(dir.Path(), "?.txt", 0, true), (Fields{"c.txt"}));
    EXPECT_TRUE(FindFiles("", "*", 0, true).empty());
    EXPECT_TRUE(FindFiles(dir.File("missing"), "*", 0, true).empty());
}

TEST(AppendToLogFile, CreatesAppendsAndTimestamps)
{
    TempDir dir;
    const std::string log = dir.File("ZELTWIN.LOG");
    ASSERT_TRUE(AppendToLogFile(log, "  first line \t", false));
    ASSERT_TRUE(AppendToLogFile(log, "second", true));
    const std::string text = ReadText(log);
    EXPECT_TRUE(std::regex_match(text, std::regex("first line\r\n\\d\\d/\\d\\d/\\d{4},\\d\\d:\\d\\d:\\d\\d\\.\\d{1,3},second\r\n")))
        << text;
    // An offset from the end writes over the tail: here the last line end.
    ASSERT_TRUE(AppendToLogFile(dir.File("o.txt"), "abc", false));
    ASSERT_TRUE(AppendToLogFile(dir.File("o.txt"), "def", false, -2));
    EXPECT_EQ(ReadText(dir.File("o.txt")), "abcdef\r\n");
    EXPECT_FALSE(AppendToLogFile(dir.File("no/such/folder/x.log"), "x", false));
}

TEST(AppendToLogFile, GivesUpWhileAnotherWriterHoldsTheFile)
{
    TempDir dir;
    const std::string log = dir.File("busy.log");
    WriteText(log, "");
    const int fd = ::open(log.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(AppendToLogFile(log, "x", false));
    EXPECT_GE(timer.elapsed(), 14 * 20);
    ::close(fd);
    EXPECT_TRUE(AppendToLogFile(log, "x", false));
    EXPECT_EQ(ReadText(log), "x\r\n");
}

TEST(Delay, WaitsAndKeepsEventsFlowing)
{
    QElapsedTimer timer;
    timer.start();
    Delay(0, true);
    EXPECT_LT(timer.elapsed(), 60000);  // returns: nothing to wait for
    timer.restart();
    Delay(30, false);
    EXPECT_GE(timer.elapsed(), 30);

    int argc = 1;
    char name[] = "test";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    bool fired = false;
    QTimer::singleShot(5, [&] { fired = true; });
    Delay(60, true);
    EXPECT_TRUE(fired);
}

TEST(SystemHelpers, VersionAndPorts)
{
    int build = -1;
    EXPECT_EQ(GetProductVersionString("", &build), "5.12");
    EXPECT_EQ(build, 0);
    std::vector<std::string> ports;
    const int n = FillComPortList(ports, "/dev/ttyZELT3", 11);
    EXPECT_EQ(n, static_cast<int>(ports.size()));
    EXPECT_NE(std::find(ports.begin(), ports.end(), "/dev/ttyZELT3"), ports.end());
    EXPECT_NE(std::find(ports.begin(), ports.end(), "/dev/ttyS10"), ports.end());
    const auto s1 = std::find(ports.begin(), ports.end(), "/dev/ttyS1");
    const auto s10 = std::find(ports.begin(), ports.end(), "/dev/ttyS10");
    if (s1 != ports.end()) {
        EXPECT_LT(s1, s10);   // by number, not as text
    }
    // Listing it again as current adds nothing.
    EXPECT_EQ(FillComPortList(ports, "/dev/ttyS10", 11), n - 1);
}

TEST(RegisterFileAssociation, WritesTheDesktopEntries)
{
    TempDir dir;
    const char* saved = std::getenv("XDG_DATA_HOME");
    const std::string keep = saved ? saved : "";
    setenv("XDG_DATA_HOME", dir.Path().c_str(), 1);
    // No desktop tools on the path: the refresh they would run is not this test's business.
    const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
    setenv("PATH", dir.Path().c_str(), 1);
    EXPECT_TRUE(RegisterFileAssociation(".q5", "/opt/zelt/zelt", 0, "ZELT data file"));
    // A program that moved (another build, an install) writes the entry again, with its own path: one
    // that the desktop's quoting reserves characters of.
    const std::string moved = "/opt/new place/\"odd\" $dir %1 `x` \\/zelt";
    EXPECT_TRUE(RegisterFileAssociation(".q5", moved, 0, "ZELT data file"));
    setenv("PATH", path.c_str(), 1);
    const std::string entry = ReadText(dir.File("applications/zelt-q5.desktop"));
    EXPECT_NE(entry.find("Exec=\"/opt/new place/\\\\\"odd\\\\\" \\\\$dir %%1 \\\\`x\\\\` \\\\\\\\/zelt\" %F\n"),
              std::string::npos) << entry;
    EXPECT_NE(entry.find("MimeType=application/x-zelt-q5;"), std::string::npos);
    // The icon of the data folder, named by its path, and nothing the desktop's checker refuses.
    EXPECT_NE(entry.find("Icon=" + (InstalledDataDir() / "zelt.svg").string() + "\n"), std::string::npos) << entry;
    EXPECT_EQ(entry.find("NoDisplay"), std::string::npos) << entry;
    const std::string checker = "desktop-file-validate '" + dir.File("applications/zelt-q5.desktop") + "' 2>&1";
    std::string said;
    if (FILE* p = ::popen(checker.c_str(), "r")) {
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, p)) said += buffer;
        EXPECT_EQ(::pclose(p), 0) << said;
    }
    EXPECT_EQ(said, "");
    const std::string mime = ReadText(dir.File("mime/packages/zelt-q5.xml"));
    EXPECT_NE(mime.find("<glob pattern=\"*.q5\""), std::string::npos);
    EXPECT_NE(mime.find("ZELT data file"), std::string::npos);
    if (saved)
        setenv("XDG_DATA_HOME", keep.c_str(), 1);
    else
        unsetenv("XDG_DATA_HOME");
}
