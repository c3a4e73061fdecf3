// The ".q5x" reader on the sample files of data/q5x and on hand-written files, damaged ones included.
#include "common/analysis/Q5xReader.h"

#include "common/DecimalSep.h"
#include "common/FileUtils.h"

#include <QTemporaryDir>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>

using namespace radio;

namespace {

std::string SourceDir()
{
    const char* dir = std::getenv("ZELT_SOURCE_DIR");
    return dir ? dir : ".";
}

class Q5xReaderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        // The data set reads the site from the per-user settings: a fresh, empty account.
        setenv("XDG_CONFIG_HOME", dir.filePath("config").toLocal8Bit().constData(), 1);
    }

    std::string Write(const std::string& name, const std::string& bytes)
    {
        const std::string path = dir.filePath(QString::fromStdString(name)).toStdString();
        EXPECT_TRUE(WriteFileAtomically(path, bytes));
        return path;
    }

    // Reads `body` wrapped in a document with one instrument and two filters.
    int Import(const std::string& data, TRadData& set, TImportDataXml** out = nullptr)
    {
        const std::string path = Write("t.q5x", "<?xml version=\"1.0\"?>\n<q5x><ins><n>SP0A0123</n>"
                                                "<f id=\"1\">8700</f><f id=\"2\">10800.5</f></ins>\n<data>" +
                                                    data + "</data></q5x>\n");
        auto* import = new TImportDataXml(path, set);
        const int status = import->Status;
        if (out)
            *out = import;
        else
            delete import;
        return status;
    }

    QTemporaryDir dir;
};

const char* const kAcq = "<a><d>2024-03-05</d><h>10:20:30</h>";

}  // namespace

TEST(Q5xNumbers, NumberRule)
{
    EXPECT_DOUBLE_EQ(Q5xNumber("21.5", -9999), 21.5);
    EXPECT_DOUBLE_EQ(Q5xNumber("21,5", -9999), 21.5);
    EXPECT_DOUBLE_EQ(Q5xNumber(" 12345", -9999), 12345);       // not 0.12345
    EXPECT_DOUBLE_EQ(Q5xNumber("\n\t-3.25 \r\n", -9999), -3.25);
    EXPECT_DOUBLE_EQ(Q5xNumber("1e5", -9999), 100000);          // not 1.5
    EXPECT_DOUBLE_EQ(Q5xNumber("+2.5E-2", -9999), 0.025);
    EXPECT_DOUBLE_EQ(Q5xNumber(".5", -9999), 0.5);
    EXPECT_DOUBLE_EQ(Q5xNumber("1,234.5", -9999), -9999);
    EXPECT_DOUBLE_EQ(Q5xNumber("n/a", -9999), -9999);
    EXPECT_DOUBLE_EQ(Q5xNumber("", -9999), -9999);
    EXPECT_DOUBLE_EQ(Q5xNumber("12 34", 7), 7);
    EXPECT_DOUBLE_EQ(Q5xNumber("1e", 7), 7);
    EXPECT_DOUBLE_EQ(Q5xNumber("1e999", 7), 7);
    EXPECT_DOUBLE_EQ(Q5xNumber("nan", 7), 7);
    EXPECT_DOUBLE_EQ(Q5xNumber("0x10", 7), 7);
    EXPECT_DOUBLE_EQ(Q5xNumber("10,5", 0.1, true), 0.1);      // wavelengths: "." only
    // The result does not depend on the process separator.
    SetDecimalSeparator(',');
    EXPECT_DOUBLE_EQ(Q5xNumber("21.5", -9999), 21.5);
    EXPECT_EQ(ShortestRealText(21.5), "21,5");
    SetDecimalSeparator('.');

    int32_t v = 0;
    EXPECT_TRUE(Q5xInteger(" 42\n", v));
    EXPECT_EQ(v, 42);
    EXPECT_TRUE(Q5xInteger("-2147483648", v));
    EXPECT_EQ(v, INT32_MIN);
    EXPECT_FALSE(Q5xInteger("2147483648", v));
    EXPECT_FALSE(Q5xInteger("4.0", v));
    EXPECT_FALSE(Q5xInteger("", v));
    EXPECT_FALSE(Q5xInteger("-", v));

    EXPECT_EQ(ShortestRealText(31250), "31250");
    EXPECT_EQ(ShortestRealText(0.1), "0.1");
    EXPECT_EQ(ShortestRealText(-12.75), "-12.75");
    EXPECT_EQ(ShortestRealText(1e20), "1E20");
}

TEST(Q5xNumbers, DatesByFixedPositions)
{
    double v = 0;
    ASSERT_TRUE(Q5xDateTime("2024-03-05", "10:20:30", v));
    EXPECT_EQ(Q5xDateTimeText(v), "05/03/2024 10:20:30");
    ASSERT_TRUE(Q5xDateTime("2024/03/05", "00:00:00", v));
    EXPECT_EQ(Q5xDateTimeText(v), "05/03/2024");   // midnight shows the date alone
    EXPECT_FALSE(Q5xDateTime("2024-13-05", "10:20:30", v));
    EXPECT_FALSE(Q5xDateTime("2023-02-29", "10:20:30", v));
    EXPECT_FALSE(Q5xDateTime("2024-03-05", "25:00:00", v));
    EXPECT_FALSE(Q5xDateTime("24-3-5", "10:20:30", v));
    EXPECT_FALSE(Q5xDateTime("2024-03-05", "10:20", v));
    EXPECT_FALSE(Q5xDateTime("", "", v));
    EXPECT_FALSE(Q5xDateTime("yyyy-mm-dd", "hh:nn:ss", v));
}

TEST_F(Q5xReaderTest, SampleFilesRead)
{
    TRadData set;
    TImportDataXml day(SourceDir() + "/data/q5x/zenith-day.q5x", set);
    ASSERT_EQ(day.Status, 0) << day.Error.Message();
    EXPECT_EQ(set.InstrumentId, "SP0A0123");
    ASSERT_EQ(set.FilterList.Count(), 3);
    EXPECT_EQ(set.FilterList[0]->GetName(), "8700 nm");
    EXPECT_EQ(set.FilterList[2]->Number(), 3);
    EXPECT_EQ(set.FilterList[1]->Color, 0x00FF00u);
    EXPECT_EQ(set.SerieList.Count(), 168);
    // The first acquisition as the generator writes it.
    const TCNSerie* first = set.SerieList[0];
    EXPECT_EQ(Q5xDateTimeText(first->DateTime), "15/01/2025 00:00:30");
    EXPECT_EQ(first->Position, 1);
    EXPECT_FLOAT_EQ(first->HeadTemp, -5.33f);
    EXPECT_FLOAT_EQ(first->BlackTemp, -4.53f);
    EXPECT_DOUBLE_EQ((*first)[0]->MirrorCount, 29977);
    EXPECT_EQ(first->Count(), 3);
    for (const TCNSerie* s : set.SerieList)
        for (const TCN* cn : *s) {
            EXPECT_EQ(cn->Filter, set.FindFilter(cn->FilterNumber));
            EXPECT_EQ(cn->Serie, s);
        }

    TRadData night;
    TImportDataXml cold(SourceDir() + "/data/q5x/cold-night.q5x", night);
    ASSERT_EQ(cold.Status, 0) << cold.Error.Message();
    ASSERT_EQ(night.FilterList.Count(), 2);
    for (const TCNSerie* s : night.SerieList) {
        if (s->HeadTemp != -9999.0f) {
            EXPECT_LT(s->HeadTemp, 0.0f);
        }
    }
}

TEST_F(Q5xReaderTest, AcquisitionRules)
{
    TRadData set;
    const std::string data =
        std::string(kAcq) +
        "<p>2</p>"
        "<m id=\"EL_TEMPHEAD\">n/a</m><m id=\"EL_TEMPHEAD\"> 21,5 </m>"
        "<m id=\"EL_TEMPBLACK\">-3.5</m><m id=\"EL_HUM\">45</m>"
        "<m id=\"EL_RAD\" t=\"IR\" f=\"1\">31250.5</m>"
        "<m id=\"EL_RAD\" t=\"MIR\" f=\"1\">30000</m>"
        "<m id=\"EL_RAD\" t=\"IR\" f=\"2\">1e4</m>"
        "<m id=\"EL_RAD\" t=\"MIR\" f=\"02\">11</m>"   // "02" is not filter 2
        "<m id=\"EL_RAD\" t=\"IR\" f=\"7\">5</m>"       // no such filter
        "<m id=\"EL_RAD\" t=\"IR\" f=\"1\">-9999</m>"   // missing: not stored
        "<m id=\"EL_RAD\" t=\"IR\" f=\"2\"/>"           // no text: skipped
        "<m id=\"EL_RAD\" t=\"IR\" f=\"2\">17<x/>34</m>"   // mixed content: the first text
        "<m id=\"EL_RAD\" t=\"MIR\" f=\"1\">1</m>"      // a second mirror count: the first counts
        "</a>"
        "<b></b><c>   </c>"                             // empty acquisitions are skipped
        "<a><d>2024-03-05</d><h>10:30:00</h><m id=\"EL_RAD\" t=\"IR\" f=\"1\">1</m></a>";
    ASSERT_EQ(Import(data, set), 0);
    ASSERT_EQ(set.SerieList.Count(), 2);
    const TCNSerie* s = set.SerieList[0];
    EXPECT_EQ(s->Position, 2);
    EXPECT_FLOAT_EQ(s->HeadTemp, 21.5f);
    EXPECT_FLOAT_EQ(s->BlackTemp, -3.5f);
    EXPECT_FLOAT_EQ(s->Humidity, 45.0f);
    ASSERT_EQ(s->Count(), 4);
    EXPECT_DOUBLE_EQ((*s)[0]->Count, 31250.5);
    EXPECT_DOUBLE_EQ((*s)[0]->MirrorCount, 30000);
    EXPECT_DOUBLE_EQ((*s)[1]->Count, 10000);
    EXPECT_DOUBLE_EQ((*s)[1]->MirrorCount, -9999);
    EXPECT_EQ((*s)[2]->FilterNumber, 7);
    EXPECT_EQ((*s)[2]->Filter, nullptr);
    EXPECT_DOUBLE_EQ((*s)[3]->Count, 17);
    EXPECT_EQ(set.SerieList[1]->Position, 0);   // no "p"
    EXPECT_FLOAT_EQ(set.SerieList[1]->HeadTemp, -9999.0f);
}

TEST_F(Q5xReaderTest, StatusOfIncompleteFiles)
{
    auto status = [this](const std::string& text) {
        TRadData set;
        TImportDataXml import(Write("s.q5x", text), set);
        return import.Status;
    };
    EXPECT_EQ(status("<q5x><data/></q5x>"), TImportDataXml::StatusNoInstrument);
    EXPECT_EQ(status("<q5x><ins><n>X</n></ins><data/></q5x>"), TImportDataXml::StatusNoFilters);
    EXPECT_EQ(status("<q5x><ins><f id=\"1\">8</f></ins></q5x>"), TImportDataXml::StatusNoCounts);
    EXPECT_EQ(status("<q5x><ins><f id=\"1\">8</f></ins><data><a/><b>  </b></data></q5x>"),
              TImportDataXml::StatusNoCounts);
    // Any name for the document element; "ins" inside another element does not count.
    EXPECT_EQ(status("<other><ins><f id=\"1\">8</f></ins><data><a><d>2024-01-01</d><h>01:00:00</h>"
                     "<m id=\"EL_RAD\" t=\"IR\" f=\"1\">5</m></a></data></other>"),
              0);
    EXPECT_EQ(status("<q5x><x><ins><f id=\"1\">8</f></ins></x></q5x>"), TImportDataXml::StatusNoInstrument);

    // The radiometer plug-in's variant: no filters is status 1, no humidity.
    TRadData set;
    TImportDataXml noFilter(Write("r.q5x", "<q5x><ins/></q5x>"), set, TQ5xVariant::Radiometre);
    EXPECT_EQ(noFilter.Status, TImportDataXml::StatusNoInstrument);
    TImportDataXml radio(Write("r.q5x", "<q5x><ins><f id=\"4\">10,5</f></ins><data><a><d>2024-01-01</d>"
                                        "<h>01:00:00</h><m id=\"EL_HUM\">40</m>"
                                        "<m id=\"EL_RAD\" t=\"IR\" f=\"4\">5</m></a></data></q5x>"),
                         set, TQ5xVariant::Radiometre);
    ASSERT_EQ(radio.Status, 0);
    EXPECT_DOUBLE_EQ(set.FilterList[0]->FilterDef.Wavelength, 10.5);
    EXPECT_FLOAT_EQ(set.SerieList[0]->Humidity, -9999.0f);
}

TEST_F(Q5xReaderTest, TenFiltersGiveNine)
{
    std::string ins = "<q5x><ins>";
    for (int i = 1; i <= 10; ++i) ins += "<f id=\"" + std::to_string(i) + "\">" + std::to_string(i * 1000) + "</f>";
    ins += "<f id=\"x\">bad filter after the ninth is not read</f>";
    const std::string text = ins + "</ins><data><a><d>2024-01-01</d><h>01:00:00</h>"
                                   "<m id=\"EL_RAD\" t=\"IR\" f=\"10\">5</m></a></data></q5x>";
    TRadData set;
    TImportDataXml import(Write("ten.q5x", text), set);
    ASSERT_EQ(import.Status, 0) << import.Error.Message();
    ASSERT_EQ(set.FilterList.Count(), 9);
    EXPECT_EQ(set.FilterList[3]->Color, 0xFF0080u);   // violet: 128, 0, 255
    EXPECT_EQ(set.FilterList[8]->Color, 0u);
    EXPECT_EQ((*set.SerieList[0])[0]->Filter, nullptr);
    // A wavelength that is not a number gives 0.1.
    TRadData other;
    TImportDataXml bad(Write("w.q5x", "<q5x><ins><f id=\"3\">ten</f></ins></q5x>"), other);
    EXPECT_DOUBLE_EQ(other.FilterList[0]->FilterDef.Wavelength, 0.1);
}

TEST_F(Q5xReaderTest, DamagedFilesFailWithLineAndElement)
{
    struct Case {
        const char* what;
        std::string text;
        long long line;
        const char* element;
    };
    const std::string head = "<q5x><ins><f id=\"1\">8700</f></ins>\n<data>\n";
    const Case cases[] = {
        {"truncated", head + "<a><d>2024-03-05</d><h>10:2", 3, "h"},
        {"bad date", head + std::string(kAcq).replace(9, 10, "2024-02-30") + "</a></data></q5x>", 3, "d"},
        {"no date", head + "<a><m id=\"EL_HUM\">4</m></a></data></q5x>", 3, "a"},
        {"bad position", head + kAcq + "\n<p>one</p></a></data></q5x>", 4, "p"},
        {"bad filter number", head + kAcq + "\n\n<m id=\"EL_RAD\" t=\"IR\" f=\"1.0\">5</m></a></data></q5x>", 5,
         "m"},
        {"bad mirror count", head + kAcq + "<m id=\"EL_RAD\" t=\"IR\" f=\"1\">5</m><m id=\"EL_RAD\" t=\"MIR\" f=\"1\">"
                                            "5.5</m></a></data></q5x>",
         3, "m"},
        {"bad filter id", "<q5x>\n<ins><f id=\"one\">8700</f></ins></q5x>", 2, "f"},
        {"mismatched tags", head + "<a></b></data></q5x>", 3, "a"},
        {"two roots", "<q5x/><q5x/>", 1, ""},
        {"undeclared entity", head + "<a>&nothing;</a></data></q5x>", 3, "a"},
        // The decoder reads ahead of the parser: the line is that of the bad byte, and no element.
        {"invalid UTF-8", head + "<a><d>2024-03-05</d>\xB0</a></data></q5x>", 3, ""},
        {"truncated UTF-8", head + "<a>\n\r\n\r<d>\xE2\x82</d></a></data></q5x>", 6, ""},
        {"surrogate in UTF-8", head + "\n<a><d>\xED\xA0\x80</d></a></data></q5x>", 4, ""},
        // A fault of the markup before a bad byte is the one named.
        {"mismatched before a bad byte", head + "<a></b>\n\n\xB0</data></q5x>", 3, "a"},
        {"unknown encoding", "<?xml version=\"1.0\" encoding=\"no-such-code\"?><q5x/>", 1, ""},
        {"empty file", "", 1, ""},
    };
    for (const Case& c : cases) {
        TRadData set;
        TImportDataXml import(Write("bad.q5x", c.text), set);
        EXPECT_EQ(import.Status, TImportDataXml::StatusUnreadable) << c.what;
        EXPECT_EQ(import.Error.Line, c.line) << c.what << ": " << import.Error.Message();
        EXPECT_EQ(import.Error.Element, c.element) << c.what << ": " << import.Error.Message();
        EXPECT_FALSE(import.Error.Reason.empty()) << c.what;
        EXPECT_NE(import.Error.Message().find("bad.q5x"), std::string::npos) << c.what;
    }
    TRadData set;
    TImportDataXml missing(dir.filePath("none.q5x").toStdString(), set);
    EXPECT_EQ(missing.Status, TImportDataXml::StatusUnreadable);
    EXPECT_NE(missing.Error.Message().find("cannot be opened"), std::string::npos);
}

TEST_F(Q5xReaderTest, EncodingsAndEntities)
{
    // Latin-1 and UTF-16 files declare their encoding; the instrument name keeps its byte 0xB0.
    TRadData set;
    const std::string latin = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><q5x><ins><n>T\xB0</n>"
                              "<f id=\"1\">8</f></ins></q5x>";
    TImportDataXml l(Write("latin.q5x", latin), set);
    EXPECT_EQ(l.Status, TImportDataXml::StatusNoCounts);
    EXPECT_EQ(set.InstrumentId, "T\xB0");

    const std::u16string wide = u"\xFEFF<?xml version=\"1.0\" encoding=\"UTF-16\"?><q5x><ins><n>W\u00B0</n>"
                                u"<f id=\"1\">8</f></ins></q5x>";
    TRadData w;
    TImportDataXml u(Write("wide.q5x", std::string(reinterpret_cast<const char*>(wide.data()), wide.size() * 2)), w);
    EXPECT_EQ(u.Status, TImportDataXml::StatusNoCounts) << u.Error.Message();
    EXPECT_EQ(w.InstrumentId, "W\xB0");

    // Predefined and character entities; an internal entity of the document type is expanded.
    TRadData e;
    TImportDataXml ent(Write("ent.q5x", "<!DOCTYPE q5x [<!ENTITY id \"SP&#48;A\">]><q5x><ins><n>&id;&lt;&#x41;</n>"
                                        "<f id=\"1\">8</f></ins></q5x>"),
                       e);
    EXPECT_EQ(ent.Status, TImportDataXml::StatusNoCounts) << ent.Error.Message();
    EXPECT_EQ(e.InstrumentId, "SP0A<A");

    // An external entity is never fetched.
    TRadData x;
    TImportDataXml ext(Write("ext.q5x", "<!DOCTYPE q5x [<!ENTITY pw SYSTEM \"file:///etc/passwd\">]>"
                                        "<q5x><ins><n>&pw;</n><f id=\"1\">8</f></ins></q5x>"),
                       x);
    EXPECT_NE(ext.Status, TImportDataXml::StatusOk);
    EXPECT_EQ(x.InstrumentId, "");

    // Entities that expand to a huge text are refused, not expanded (that would take hours).
    std::string laughs = "<!DOCTYPE q5x [<!ENTITY l0 \"lol\">";
    for (int i = 1; i <= 9; ++i)
        laughs += "<!ENTITY l" + std::to_string(i) + " \"" + [&] {
            std::string s;
            for (int k = 0; k < 10; ++k) s += "&l" + std::to_string(i - 1) + ";";
            return s;
        }() + "\">";
    laughs += "]><q5x><ins><n>&l9;</n></ins></q5x>";
    const auto start = std::chrono::steady_clock::now();
    TRadData b;
    TImportDataXml bomb(Write("bomb.q5x", laughs), b);
    EXPECT_EQ(bomb.Status, TImportDataXml::StatusUnreadable);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
}

TEST_F(Q5xReaderTest, DeepNestingIsRefusedAtItsLimit)
{
    // Nesting within the limit reads (deep elements are ignored), beyond it fails at its line.
    auto nested = [](int depth) {
        std::string open, close;
        for (int i = 0; i < depth; ++i) {
            open += "<x>\n";
            close = "</x>" + close;
        }
        return "<q5x><ins><f id=\"1\">8</f>" + open + close + "</ins></q5x>";
    };
    TRadData set;
    TImportDataXml ok(Write("ok.q5x", nested(kQ5xMaxDepth - 3)), set);
    EXPECT_EQ(ok.Status, TImportDataXml::StatusNoCounts) << ok.Error.Message();
    TImportDataXml deep(Write("deep.q5x", nested(kQ5xMaxDepth)), set);
    EXPECT_EQ(deep.Status, TImportDataXml::StatusUnreadable);
    EXPECT_EQ(deep.Error.Line, kQ5xMaxDepth - 1);
    EXPECT_EQ(deep.Error.Element, "x");

    // Two million levels: refused, without running out of stack or a quadratic walk (hours).
    std::string huge(2000000 * 3, ' ');
    for (size_t i = 0; i < huge.size(); i += 3) huge.replace(i, 3, "<x>");
    const auto start = std::chrono::steady_clock::now();
    TImportDataXml bomb(Write("huge.q5x", huge), set);
    EXPECT_EQ(bomb.Status, TImportDataXml::StatusUnreadable);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
}

TEST_F(Q5xReaderTest, ManyMeasuresInOneAcquisitionAreReadWhole)
{
    // 20,000 infrared counts with their mirror counts, each on a filter of its own: in one acquisition,
    // and spread over 10,000 acquisitions. Both are read whole (how the time grows with the measures of
    // one acquisition is the q5x benchmark's to show).
    constexpr int counts = 20000;
    std::string one = kAcq, spread;
    for (int f = 1; f <= counts; ++f) {
        const std::string pair = "<m id=\"EL_RAD\" t=\"IR\" f=\"" + std::to_string(f) + "\">" + std::to_string(f) +
                                 ".5</m><m id=\"EL_RAD\" t=\"MIR\" f=\"" + std::to_string(f) + "\">" +
                                 std::to_string(30000 + f) + "</m>";
        one += pair;
        spread += (f % 2 ? kAcq : "") + pair + (f % 2 ? "" : "</a>");
    }
    one += "</a>";
    auto readWhole = [&](const std::string& acquisitions, int series) {
        SCOPED_TRACE(series);
        TRadData set;
        EXPECT_EQ(Import(acquisitions, set), 0);
        ASSERT_EQ(set.SerieList.Count(), series);
        EXPECT_EQ(set.GetNbTotalCN(), counts);
        const TCNSerie* last = set.SerieList[series - 1];
        EXPECT_DOUBLE_EQ((*last)[last->Count() - 1]->MirrorCount, 30000 + counts);
    };
    readWhole(one, 1);
    readWhole(spread, counts / 2);
}

TEST_F(Q5xReaderTest, SwapKeepsThePreviousSetOnFailure)
{
    TRadData shown;
    TImportDataXml first(SourceDir() + "/data/q5x/cold-night.q5x", shown);
    ASSERT_EQ(first.Status, 0);
    const int series = shown.SerieList.Count();
    TRadData fresh;
    TImportDataXml second(Write("bad.q5x", "<q5x><ins><f id=\"1\">8</f></ins><data><a><d>x</d></a></data></q5x>"),
                          fresh);
    ASSERT_NE(second.Status, 0);
    EXPECT_EQ(shown.SerieList.Count(), series);

    TRadData other;
    ASSERT_EQ(Import(std::string(kAcq) + "<m id=\"EL_RAD\" t=\"IR\" f=\"2\">5</m></a>", other), 0);
    shown.Swap(other);
    EXPECT_EQ(shown.SerieList.Count(), 1);
    EXPECT_EQ(shown.FilterList.Count(), 2);
    EXPECT_EQ((*shown.SerieList[0])[0]->Filter, shown.FilterList[1]);
    EXPECT_EQ(other.SerieList.Count(), series);
    EXPECT_EQ(shown.Site.Name, "No name");
}
