// The calibration store "radiometre.ini": reading key by key with warnings for what cannot be read,
// writing one calibration, the per-user file with the copy beside the plug-in as a fallback.
#include "plugins/radiometre/RadData.h"

#include "common/DecimalSep.h"
#include "common/IniFile.h"
#include "common/tests/PlatformTestEnv.h"

#include <gtest/gtest.h>

using namespace radio;

namespace {
struct SeparatorGuard {
    char old = DecimalSeparator();
    ~SeparatorGuard() { SetDecimalSeparator(old); }
};
}  // namespace

class StoreTest : public ::testing::Test {
protected:
    std::filesystem::path Write(const std::string& text)
    {
        const auto path = home.Root() / "radiometre.ini";
        ScopedTestHome::Write(path, text);
        return path;
    }
    ScopedTestHome home;
    TRadiometreData data;
    std::vector<std::string> warnings;
    std::string error;
};

TEST_F(StoreTest, ReadsCalibrationsInStoreOrder)
{
    const auto path = Write(
        "; calibrations of the site\r\n"
        "[1234]\r\n39083-1=1.5E-5;1,5;1;1;2;0.01\r\n39083-TEMP=21,5\r\n39083-usetemp=1\r\n"
        "39000-2=1;2;3;4;5\r\n39000-TEMP=warm\r\nNOTE=ignored\r\n"
        "[12345]\r\n39083-1=9;9;9;9;9;9\r\n");
    data.InstrumentId = "1234";
    ASSERT_TRUE(data.LoadCalibrations(path, warnings, error)) << error;
    ASSERT_EQ(data.Calibrations.Count(), 2);
    const TCalibr* first = data.Calibrations[0];
    EXPECT_EQ(first->DayNumber(), 39083);
    EXPECT_DOUBLE_EQ(first->Tcal, 21.5);
    EXPECT_TRUE(first->UseTemp);
    const TCoef* c = first->FindCoef(1);
    ASSERT_NE(c, nullptr);
    EXPECT_DOUBLE_EQ(c->a, 1.5e-5);
    EXPECT_DOUBLE_EQ(c->b, 1.5);  // "1,5" whatever the separator
    EXPECT_DOUBLE_EQ(c->Amp, 0.01);
    const TCalibr* second = data.Calibrations[1];
    EXPECT_DOUBLE_EQ(second->Tcal, 29);  // not a number
    ASSERT_NE(second->FindCoef(2), nullptr);  // five fields: a record of zeros
    for (int i = 0; i < kCoefCount; ++i) EXPECT_EQ(second->FindCoef(2)->Value(i), 0);
    EXPECT_EQ(warnings.size(), 2u);
}

TEST_F(StoreTest, MalformedKeysAndValuesAreNamedAndTheRestLoads)
{
    const auto path = Write(
        "[7]\n"
        "x9-1=1;2;3;4;5;6\n"         // day not an integer
        "39083-F1=1;2;3;4;5;6\n"     // filter not an integer
        "99999999999-1=1;2;3;4;5;6\n"  // day beyond 32 bits
        "39083-2=1;zz;3;4;5;6\n"     // one field not a number
        "39083-3=1;2;3;4;5;6\n"
        "-4=1;2;3;4;5;6\n"
        "39083-03=9;9;9;9;9;9\n");  // filter 3 again
    data.InstrumentId = "7";
    ASSERT_TRUE(data.LoadCalibrations(path, warnings, error)) << error;
    ASSERT_EQ(data.Calibrations.Count(), 1);
    const TCalibr* c = data.Calibrations[0];
    ASSERT_NE(c->FindCoef(3), nullptr);
    EXPECT_EQ(c->FindCoef(3)->Amp, 6);
    ASSERT_NE(c->FindCoef(2), nullptr);
    EXPECT_EQ(c->FindCoef(2)->b, 0);
    EXPECT_EQ(c->FindCoef(2)->n, 3);
    ASSERT_EQ(warnings.size(), 6u);
    EXPECT_NE(warnings[5].find("\"39083-03\""), std::string::npos);
    EXPECT_NE(warnings[0].find("\"x9-1\""), std::string::npos);
    EXPECT_NE(warnings[1].find("\"39083-F1\""), std::string::npos);
    EXPECT_NE(warnings[3].find("\"39083-2\""), std::string::npos);
    EXPECT_NE(warnings[4].find("\"-4\""), std::string::npos);
}

TEST_F(StoreTest, SavingKeepsExponentsSignsAndTheOtherKeys)
{
    SeparatorGuard guard;
    SetDecimalSeparator(',');
    const auto path = Write("; kept\n[5]\n39083-1=1;2;3;4;5;6\n40000-1=7;7;7;7;7;7\n");
    data.InstrumentId = "5";
    ASSERT_TRUE(data.LoadCalibrations(path, warnings, error)) << error;
    TCalibr* c = data.Calibrations[0];
    TCoef* coef = c->FindCoef(1);
    coef->a = 1.5e-5;
    coef->b = -1234.5;
    coef->n = 1e20;
    c->Tcal = 22.25;
    ASSERT_TRUE(data.SaveCalibrations(path, *c, error)) << error;
    TIniFile ini(path);
    EXPECT_EQ(ini.ReadString("5", "39083-1", ""), "1.5E-5;-1234.5;1E20;4;5;6");
    EXPECT_EQ(ini.ReadString("5", "39083-TEMP", ""), "22,25");
    EXPECT_EQ(ini.ReadString("5", "39083-USETEMP", ""), "0");
    EXPECT_EQ(ini.ReadString("5", "40000-1", ""), "7;7;7;7;7;7");
    EXPECT_EQ(ScopedTestHome::Read(path).substr(0, 7), "; kept\n");

    TRadiometreData again;
    again.InstrumentId = "5";
    ASSERT_TRUE(again.LoadCalibrations(path, warnings, error)) << error;
    EXPECT_DOUBLE_EQ(again.Calibrations[0]->FindCoef(1)->a, 1.5e-5);
    EXPECT_DOUBLE_EQ(again.Calibrations[0]->FindCoef(1)->b, -1234.5);
    EXPECT_DOUBLE_EQ(again.Calibrations[0]->Tcal, 22.25);

    TCalibrations::EraseKeys(ini, "5", *c);
    ASSERT_TRUE(ini.UpdateFile());
    EXPECT_EQ(ini.ReadSection("5"), std::vector<std::string>{"40000-1"});
}

TEST_F(StoreTest, UserFileWithTheCopyBesideThePlugInAsFallback)
{
    const auto plugins = home.Root() / "plugins";
    std::filesystem::create_directories(plugins);
    TCalibrationStore store(plugins);
    EXPECT_EQ(store.ReadPath(), home.Root() / "data" / "zelt" / "radiometre.ini");
    ScopedTestHome::Write(plugins / "radiometre.ini", "[1]\n39083-TEMP=20\n");
    EXPECT_EQ(store.ReadPath(), plugins / "radiometre.ini");
    const auto user = store.PrepareWrite();
    EXPECT_EQ(user, home.Root() / "data" / "zelt" / "radiometre.ini");
    EXPECT_EQ(ScopedTestHome::Read(user), "[1]\n39083-TEMP=20\n");
    EXPECT_EQ(store.ReadPath(), user);
    data.InstrumentId = "1";
    TCalibr* c = data.GetCalibration(39083);
    c->Tcal = 25;
    ASSERT_TRUE(data.SaveCalibrations(user, *c, error));
    EXPECT_EQ(ScopedTestHome::Read(plugins / "radiometre.ini"), "[1]\n39083-TEMP=20\n");
}

TEST(EditorNumbers, CleaningKeepsSignsAndExponents)
{
    EXPECT_EQ(CleanNumberText("12,5", '.'), "12.5");
    EXPECT_EQ(CleanNumberText("12.5", '.'), "12.5");
    EXPECT_EQ(CleanNumberText("1.2.3", '.'), "1.2");
    EXPECT_EQ(CleanNumberText("1.5E-5", '.'), "1.5E-5");
    EXPECT_EQ(CleanNumberText("-2,5e+3", ','), "-2,5E+3");
    EXPECT_EQ(CleanNumberText("+7", '.'), "7");
    EXPECT_EQ(CleanNumberText("1E", '.'), "1");
    EXPECT_EQ(CleanNumberText("abc", '.'), ".");
    double v = 0;
    EXPECT_TRUE(ReadCalibrationReal(CleanNumberText("1.5E-5", ','), v));
    EXPECT_DOUBLE_EQ(v, 1.5e-5);
    EXPECT_FALSE(ReadCalibrationReal(CleanNumberText("abc", '.'), v));
}
