// The AOT window on sun triplets that read 0 on a filter of the Angstrom fit (a reading lost, the sun
// too low for the channel): Morvane has no optical thickness there, and no alpha through it.
#include <gtest/gtest.h>

#include <QRadioButton>
#include <QTableWidget>
#include <set>
#include <stdexcept>

#include "common/Prompt.h"
#include "plugins/aot/tests/AotTestEnv.h"

using namespace aot_test;

namespace {

// Three days of q5gen's quarter-hour triplets with noise, at its site 1, calibrated.
const char kDays[] = "--sun-days 3 --interval 900 --start 2025-03-01T00:00:00 --sun-noise 0.01";

// The current data file's bytes with the three readings of the `nm` filter counted 0 in every
// `every`-th sun triplet, from the first; `when` gets the date-times of those records as the window's
// table shows them.
std::string WithZeroCounts(Station& station, double nm, int every, std::set<QString>& when) {
  const SunTriplets triplets(station);
  const std::vector<int> offsets = triplets.ReadingsOf(nm);
  std::string bytes = triplets.Bytes();
  int triplet = 0;
  triplets.ForEach(bytes, [&](uint8_t* record, const QString& at) {
    if (triplet++ % every != 0) return;
    for (int offset : offsets) Put16(record, offset, 0);
    when.insert(at);
  });
  return bytes;
}

// q5gen's days, calibrated, with the `nm` filter at 0 in every fifth triplet.
void LoadDaysWithZeroAt(Station& station, double nm, std::set<QString>& zeroed) {
  station.LoadSunDays("Z.Q5", kDays);
  station.LoadBytes("Z.Q5", WithZeroCounts(station, nm, 5, zeroed));
  Station::WriteCalibration(1);
}

// The table's rows of the records read 0 and of the others; the cell of `column` must be empty on the
// former and on them alone.
struct TRows {
  int Zeroed = 0, Others = 0;
};
TRows ExpectEmptyWhereZero(QWidget& w, const std::set<QString>& zeroed, int column) {
  TRows rows;
  const auto* grid = w.findChild<QTableWidget*>("StringGrid1");
  for (int r = 1; r < grid->rowCount(); ++r) {
    const bool zero = zeroed.count(Cell(w, r, 0)) > 0;
    EXPECT_EQ(Cell(w, r, column).isEmpty(), zero) << Cell(w, r, 0).toStdString() << ", column " << column;
    ++(zero ? rows.Zeroed : rows.Others);
  }
  return rows;
}

}  // namespace

// Before, the fit took ln(1e-05) for the missing 500 nm: alpha near -5 on those records, where q5gen's
// aerosol has 1.3. Now Morvane fits none there and the window draws no point and leaves the cell empty;
// every other record keeps its alpha.
TEST(AotZeroCount, ARecordWithoutAnOpticalThicknessInTheFitHasNoAlpha) {
  Station station;
  std::set<QString> zeroed;
  LoadDaysWithZeroAt(station, 500, zeroed);  // one of the fit's 870, 675, 440 and 500 nm
  ASSERT_GT(zeroed.size(), 20u);
  ScopedPromptScript prompts;
  bool driven = false;
  station.Run([&](QWidget& w) {
    driven = true;
    w.findChild<QRadioButton*>("RBLvl15")->setChecked(true);
    const int alphaColumn = w.findChild<QTableWidget*>("StringGrid1")->columnCount() - 1;
    ASSERT_EQ(Cell(w, 0, alphaColumn), "Alpha");
    const TRows rows = ExpectEmptyWhereZero(w, zeroed, alphaColumn);
    EXPECT_GT(rows.Zeroed, 5);
    EXPECT_GT(rows.Others, 4 * rows.Zeroed - 10);
    const auto alpha = SeriesOf(w, "ChartRatio");
    ASSERT_EQ(alpha.size(), 1u);
    ASSERT_EQ(alpha[0]->Count(), rows.Others);
    for (int i = 0; i < alpha[0]->Count(); ++i) ASSERT_NEAR(alpha[0]->YValue(i), 1.3, 0.2) << i;
  });
  EXPECT_TRUE(driven);
  EXPECT_TRUE(prompts.Texts().empty()) << prompts.Texts().front();
}

// Morvane's placeholder for the optical thickness of 500 nm on those records is no optical thickness
// either (it was drawn at 0): no point, an empty cell, and no word of calibration, as the filter is
// calibrated. The other filters keep every record.
TEST(AotZeroCount, TheFilterReadingZeroHasNoOpticalThicknessThere) {
  Station station;
  std::set<QString> zeroed;
  LoadDaysWithZeroAt(station, 500, zeroed);
  ScopedPromptScript prompts;
  bool driven = false;
  station.Run([&](QWidget& w) {
    driven = true;
    ASSERT_EQ(Cell(w, 0, 5), "500 nm");
    const TRows rows = ExpectEmptyWhereZero(w, zeroed, 5);
    EXPECT_EQ(rows.Zeroed, static_cast<int>(zeroed.size()));
    ExpectEmptyWhereZero(w, {}, 4);  // 440 nm on every record
    const auto series = SeriesOf(w, "GfxChart");
    ASSERT_EQ(series.size(), 8u);
    ASSERT_EQ(series[4]->Title(), "500 nm");
    ASSERT_EQ(series[4]->Count(), rows.Others);
    for (int i = 0; i < series[4]->Count(); ++i) ASSERT_GT(series[4]->YValue(i), 0.05) << i;
    EXPECT_EQ(series[3]->Count(), rows.Others + rows.Zeroed);
  });
  EXPECT_TRUE(driven);
  EXPECT_TRUE(prompts.Texts().empty()) << prompts.Texts().front();
}

// 940 nm, the water-vapour channel, at 0: no water vapour on those records, and no word of calibration.
TEST(AotZeroCount, NoWaterVapourWhereItsChannelReadsZero) {
  Station station;
  std::set<QString> zeroed;
  LoadDaysWithZeroAt(station, 940, zeroed);
  ScopedPromptScript prompts;
  bool driven = false;
  station.Run([&](QWidget& w) {
    driven = true;
    w.findChild<QRadioButton*>("RbLvlWv")->setChecked(true);
    ASSERT_EQ(Cell(w, 0, 1), "WV");
    const TRows rows = ExpectEmptyWhereZero(w, zeroed, 1);
    EXPECT_GT(rows.Zeroed, 5);
    const auto series = SeriesOf(w, "GfxChart");
    ASSERT_EQ(series.size(), 1u);
    ASSERT_EQ(series[0]->Count(), rows.Others);
    for (int i = 0; i < series[0]->Count(); ++i) ASSERT_GT(series[0]->YValue(i), 0.01) << i;
  });
  EXPECT_TRUE(driven);
  EXPECT_TRUE(prompts.Texts().empty()) << prompts.Texts().front();
}
