// Radiance and brightness temperature of counts, with the calibration in force and the substitutes
// of the nearest acquisition; the formula against Planck's law with CODATA 2018 constants.
#include "plugins/radiometre/RadData.h"

#include "common/DateTime.h"
#include "common/tests/PlatformTestEnv.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace radio;

namespace {

// CODATA 2018 (exact since the 2019 SI): Planck, speed of light, Boltzmann.
constexpr double kH = 6.62607015e-34, kC = 299792458.0, kK = 1.380649e-23;
constexpr double kC1 = 2 * kH * kC * kC;  // W m2 sr-1
constexpr double kC2 = kH * kC / kK;      // m K

double Planck(double lambda, double kelvin)
{
    return 2 * kH * kC * kC / std::pow(lambda, 5) / std::expm1(kH * kC / (lambda * kK * kelvin));
}

// A calibration whose body term is Planck's law at one wavelength, with unit gain.
void PlanckCoef(TCoef& coef, double lambda)
{
    coef.a = kC1 / std::pow(lambda, 5);
    coef.b = kC2 / lambda;
    coef.n = 1;
    coef.d = 1;
    coef.S = 1;
}

double Day(int y, int m, int d, int hh = 0, int nn = 0)
{
    double v = 0;
    TryEncodeDateTime(y, m, d, hh, nn, 0, 0, v);
    return v;
}

}  // namespace

TEST(Planck, RadianceAndTemperatureFollowPlanckOverTheInfraredWindow)
{
    TCalibr calibration(1);
    TCoef coef;
    for (double micron = 8; micron <= 14.0001; micron += 0.5) {
        const double lambda = micron * 1e-6;
        PlanckCoef(coef, lambda);
        for (double celsius = -80; celsius <= 50.0001; celsius += 5) {
            double radiance = 0, back = 0, again = 0;
            // A count equal to its mirror reference: the radiance is the body's at the head temperature.
            ASSERT_TRUE(RadianceOf(coef, calibration, 1000, 1000, celsius, radiance));
            const double expected = Planck(lambda, celsius + 273.15);
            EXPECT_NEAR(radiance / expected, 1.0, 1e-12) << micron << " um " << celsius << " C";
            ASSERT_TRUE(TemperatureOf(coef, radiance, back));
            EXPECT_NEAR(back, celsius, 1e-9);
            // And the round trip L -> T -> L.
            ASSERT_TRUE(RadianceOf(coef, calibration, 0, 0, back, again));
            EXPECT_NEAR(again / radiance, 1.0, 1e-9);
        }
    }
}

TEST(Planck, GainAndTemperatureCorrection)
{
    TCalibr calibration(1);
    calibration.Tcal = 20;
    TCoef coef;
    PlanckCoef(coef, 10e-6);
    coef.S = 4;
    coef.Amp = 0;
    double plain = 0, corrected = 0;
    ASSERT_TRUE(RadianceOf(coef, calibration, 1400, 1000, 25, plain));
    calibration.UseTemp = true;
    ASSERT_TRUE(RadianceOf(coef, calibration, 1400, 1000, 25, corrected));
    EXPECT_DOUBLE_EQ(plain, corrected);  // & = 0: USETEMP changes nothing
    EXPECT_NEAR(plain - Planck(10e-6, 298.15), 100.0, 1e-6);
    coef.Amp = 0.01;
    ASSERT_TRUE(RadianceOf(coef, calibration, 1400, 1000, 25, corrected));
    EXPECT_NEAR(corrected - Planck(10e-6, 298.15), 400 / (4 * std::exp(0.05)), 1e-6);
}

TEST(Planck, ArithmeticFaultsGiveNoValue)
{
    TCalibr calibration(1);
    TCoef coef;
    PlanckCoef(coef, 10e-6);
    double v = 0;
    coef.S = 0;  // division by a zero gain
    EXPECT_FALSE(RadianceOf(coef, calibration, 1, 0, 20, v));
    coef.S = 1;
    EXPECT_FALSE(RadianceOf(coef, calibration, 1, 0, -273.15, v));  // b / 0
    coef.n = 0.5;
    EXPECT_FALSE(RadianceOf(coef, calibration, 1, 0, -300, v));  // root of a negative
    coef.n = 1;
    coef.d = std::exp(coef.b / 293.15);  // exp(...) - d == 0
    EXPECT_FALSE(RadianceOf(coef, calibration, 0, 0, 20, v));
    coef.d = 1;
    calibration.UseTemp = true;
    coef.Amp = 1000;  // exp overflows
    EXPECT_FALSE(RadianceOf(coef, calibration, 1, 0, 20, v));

    EXPECT_FALSE(TemperatureOf(coef, 0, v));
    EXPECT_FALSE(TemperatureOf(coef, -1, v));
    EXPECT_FALSE(TemperatureOf(coef, NAN, v));
    // ln(d + a/L) is what is computed: with d = -2 and a/L = 1 its argument is negative, although
    // ln(a/L) + d alone would not tell.
    coef.d = -2;
    coef.a = 1;
    EXPECT_FALSE(TemperatureOf(coef, 1, v));
    // d + a/L == 1: ln is 0, b / 0 is no temperature.
    coef.d = 0;
    EXPECT_FALSE(TemperatureOf(coef, 1, v));
    // A negative b gives a negative base: no temperature.
    coef.d = 1;
    coef.b = -1;
    EXPECT_FALSE(TemperatureOf(coef, 1, v));
}

class DataSetTest : public ::testing::Test {
protected:
    TCNSerie* AddSerie(double date, float head, double count, double mirror, int filter = 1)
    {
        auto* s = new TCNSerie;
        s->DateTime = date;
        s->HeadTemp = head;
        auto* cn = new TCN;
        cn->Serie = s;
        cn->FilterNumber = filter;
        cn->Count = count;
        cn->MirrorCount = mirror;
        s->Add(cn);
        data.SerieList.Add(s);
        return s;
    }
    TCalibr* AddCalibration(double date)
    {
        TCalibr* c = data.GetCalibration(date);
        TCoef* coef = c->AddCoef(1);
        PlanckCoef(*coef, 10e-6);
        return c;
    }
    ScopedTestHome home;
    TRadiometreData data;
    std::vector<std::string> cautions;
    void SetUp() override
    {
        data.OnCaution = [this](const std::string& t) { cautions.push_back(t); };
    }
};

TEST_F(DataSetTest, CalibrationInForce)
{
    TCalibr* march = AddCalibration(Day(2024, 3, 10));
    TCalibr* may = AddCalibration(Day(2024, 5, 20));
    EXPECT_EQ(data.GetCalibrationInForce(Day(2024, 5, 15)), march);
    EXPECT_EQ(data.GetCalibrationInForce(Day(2024, 3, 1)), nullptr);
    EXPECT_EQ(data.GetCalibrationInForce(Day(2024, 5, 20, 12)), may);
    EXPECT_EQ(data.GetCalibration(Day(2024, 3, 10)), march);
    EXPECT_EQ(data.Calibrations.Count(), 2);

    double radiance = 0;
    TCNSerie* early = AddSerie(Day(2024, 3, 1, 10), 20, 1000, 1000);
    EXPECT_FALSE(data.GetRadiance(*early->Items(0), radiance));
    TCNSerie* late = AddSerie(Day(2024, 5, 15, 10), 20, 1000, 1000);
    EXPECT_TRUE(data.GetRadiance(*late->Items(0), radiance));
    // A filter without coefficients has no value.
    late->Items(0)->FilterNumber = 2;
    EXPECT_FALSE(data.GetRadiance(*late->Items(0), radiance));
}

TEST_F(DataSetTest, NearestMirrorAndHeadTemperatureWithOneCautionPerAcquisition)
{
    AddCalibration(Day(2024, 1, 1));
    AddSerie(Day(2024, 6, 1, 10, 0), 20, 1000, 900);
    AddSerie(Day(2024, 6, 1, 9, 0), 20, 1000, 800);  // farther
    TCNSerie* s = AddSerie(Day(2024, 6, 1, 10, 10), 20, 1000, kMissing);
    auto* second = new TCN;
    second->Serie = s;
    second->FilterNumber = 1;
    second->Count = 1100;
    second->MirrorCount = kMissing;
    s->Add(second);

    double radiance = 0;
    ASSERT_TRUE(data.GetRadiance(*s->Items(0), radiance));
    EXPECT_NEAR(radiance, Planck(10e-6, 293.15) + 100, 1e-6);  // the 10:00 mirror, 900
    ASSERT_EQ(cautions.size(), 1u);
    EXPECT_EQ(cautions[0], "Caution : mirror reference value older than 5 minutes for acquisition of 01/06/2024 10:10:00");
    ASSERT_TRUE(data.GetRadiance(*s->Items(1), radiance));
    EXPECT_EQ(cautions.size(), 1u);
    EXPECT_TRUE(FindCN(*s, 1, 2) == s->Items(1));

    // A later substitute never cautions.
    s->Caution = false;
    cautions.clear();
    TCNSerie* before = AddSerie(Day(2024, 6, 1, 9, 59), kMissing, 1000, 1000);
    ASSERT_TRUE(data.GetRadiance(*before->Items(0), radiance));  // head temperature of 10:00
    EXPECT_TRUE(cautions.empty());
}

TEST_F(DataSetTest, HeadTemperatureMissingEverywhereGivesNoValueAndNoCaution)
{
    AddCalibration(Day(2024, 1, 1));
    AddSerie(Day(2024, 6, 1, 10, 0), kMissing, 1000, 900);
    TCNSerie* s = AddSerie(Day(2024, 6, 1, 11, 0), kMissing, 1000, 900);
    double v = 0;
    EXPECT_FALSE(data.GetRadiance(*s->Items(0), v));
    EXPECT_FALSE(data.GetTemperature(*s->Items(0), v));
    EXPECT_TRUE(cautions.empty());

    TCNSerie* warm = AddSerie(Day(2024, 6, 1, 11, 20), 20, 1000, 1000);
    ASSERT_TRUE(data.GetRadiance(*s->Items(0), v));
    ASSERT_EQ(cautions.size(), 0u);  // the substitute is later
    (void)warm;
    TCNSerie* afterwards = AddSerie(Day(2024, 6, 1, 11, 40), kMissing, 1000, 1000);
    ASSERT_TRUE(data.GetRadiance(*afterwards->Items(0), v));
    ASSERT_EQ(cautions.size(), 1u);
    EXPECT_EQ(cautions[0], "Caution : head temperature reference older than 5 minutes for acquisition of01/06/2024 11:40:00");
    double t = 0;
    ASSERT_TRUE(data.GetTemperature(*afterwards->Items(0), t));
    EXPECT_NEAR(t, 20, 1e-9);
}

TEST_F(DataSetTest, NearestBlackTemperatureAndClearForgetsTheInstrument)
{
    TCNSerie* a = AddSerie(Day(2024, 6, 1, 10), 20, 1, 1);
    a->BlackTemp = 12.5f;
    TCNSerie* b = AddSerie(Day(2024, 6, 1, 12), 20, 1, 1);
    TNearest n = data.FindNearestBlackTemp(*b);
    EXPECT_EQ(n.Value, 12.5);
    EXPECT_EQ(n.Date, a->DateTime);
    data.SerieList.Delete(0);
    n = data.FindNearestBlackTemp(*b);
    EXPECT_EQ(n.Value, kMissing);
    EXPECT_EQ(n.Date, 0);

    data.InstrumentId = "1234";
    AddCalibration(1000);
    data.Clear();
    EXPECT_EQ(data.InstrumentId, "");
    EXPECT_EQ(data.Calibrations.Count(), 0);
    EXPECT_EQ(data.GetNbTotalCN(), 0);
}
