#include "station/windows/ToolsFrm.h"

#include "common/DecimalSep.h"

#include "station/windows/tests/TestApp.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <gtest/gtest.h>

namespace {

struct Forms {
    QString hh, mm, ss, dec, dd, dmm, min;
    bool west;
    bool error;
};

Forms Read(const TToolsFrm& f)
{
    return {f.HHEdit->text(), f.MMEdit->text(),  f.SSEdit->text(), f.DegDecEdit->text(),
            f.DDMEdit->text(), f.MMMEdit->text(), f.MinEdit->text(), f.WestBtn->isChecked(),
            !f.ErrorLbl->isHidden()};
}

class AngleToolTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestApplication();
        SetDecimalSeparator('.');
    }
};

TEST_F(AngleToolTest, StartsAtZeroEverywhere)
{
    TToolsFrm f;
    Forms s = Read(f);
    EXPECT_EQ(s.hh, "0");
    EXPECT_EQ(s.dec, "0.00");
    EXPECT_EQ(s.dd, "0");
    EXPECT_EQ(s.min, "0");
    EXPECT_FALSE(s.west);
    EXPECT_FALSE(s.error);
}

TEST_F(AngleToolTest, DecimalDegreesFillTheOtherForms)
{
    TToolsFrm f;
    f.DegDecEdit->setText("2.5");
    Forms s = Read(f);
    EXPECT_EQ(std::make_tuple(s.hh, s.mm, s.ss, s.west), std::make_tuple("0", "10", "0", false));
    EXPECT_EQ(std::make_tuple(s.dd, s.dmm, s.min), std::make_tuple("2", "30", "150"));
    EXPECT_EQ(s.dec, "2.5");  // the source is left as typed

    f.DegDecEdit->setText("-45.5");
    s = Read(f);
    EXPECT_EQ(std::make_tuple(s.hh, s.mm, s.ss, s.west), std::make_tuple("3", "2", "0", true));
    EXPECT_EQ(std::make_tuple(s.dd, s.dmm, s.min), std::make_tuple("-45", "30", "-2730"));
}

TEST_F(AngleToolTest, OutOfRangeShowsErrorAndEmptiesTheOthers)
{
    TToolsFrm f;
    f.DegDecEdit->setText("10");
    f.DegDecEdit->setText("181");
    Forms s = Read(f);
    EXPECT_TRUE(s.error);
    EXPECT_EQ(s.dec, "181");
    EXPECT_TRUE(s.hh.isEmpty() && s.dd.isEmpty() && s.dmm.isEmpty() && s.min.isEmpty());
    EXPECT_DOUBLE_EQ(f.Conversion().Value, 10.0);  // the last valid value is kept

    f.DegDecEdit->setText("abc");
    EXPECT_TRUE(Read(f).error);
    f.DegDecEdit->setText("180");
    EXPECT_FALSE(Read(f).error);
}

TEST_F(AngleToolTest, HourlyFormAcceptsTwelveHoursButNotThirteen)
{
    TToolsFrm f;
    f.MMEdit->setText("0");
    f.SSEdit->setText("0");
    f.HHEdit->setText("12");
    EXPECT_FALSE(Read(f).error);
    EXPECT_EQ(Read(f).dec, "180.00");
    f.HHEdit->setText("13");
    EXPECT_TRUE(Read(f).error);
    f.HHEdit->setText("1");
    f.SSEdit->setText("60");
    EXPECT_TRUE(Read(f).error);
    f.SSEdit->setText("0");
    f.WestBtn->setChecked(true);
    Forms s = Read(f);
    EXPECT_FALSE(s.error);
    EXPECT_EQ(s.dec, "-15.00");
    EXPECT_EQ(s.min, "-900");
}

TEST_F(AngleToolTest, DegreesMinutesAndMinutesSources)
{
    TToolsFrm f;
    f.DDMEdit->setText("-10");
    f.MMMEdit->setText("15");
    Forms s = Read(f);
    EXPECT_EQ(s.dec, "-10.25");
    EXPECT_EQ(s.min, "-615");
    f.MMMEdit->setText("60");
    EXPECT_TRUE(Read(f).error);

    f.MinEdit->setText("-30");
    s = Read(f);
    EXPECT_FALSE(s.error);
    // Between -1 and 0 the degrees/minutes form loses the sign.
    EXPECT_EQ(std::make_tuple(s.dd, s.dmm), std::make_tuple("0", "30"));
    EXPECT_EQ(s.dec, "-0.50");
    EXPECT_TRUE(s.west);
}

}  // namespace
