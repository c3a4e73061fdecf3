// The AOT window on sun triplets that read 0 on a filter of the Angstrom fit (a reading lost, the sun
// too low for the channel): Morvane has no optical thickness there, and no alpha through it.
#include <gtest/gtest.h>

#include <QRadioButton>
#include <QTableWidget>
#include <fstream>
#include <iterator>
#include <set>
#include <stdexcept>

#include "common/Instrument.h"
#include "common/Prompt.h"
#include "common/ScnType.h"
#include "plugins/aot/tests/AotTestEnv.h"

using namespace aot_test;

namespace {

// Three days of q5gen's quarter-hour triplets with noise, at its site 1, calibrated.
const char kDays[] = "--sun-days 3 --interval 900 --start 2025-03-01T00:00:00 --sun-noise 0.01";

int FromBcd(uint8_t b) { return (b >> 4) * 10 + (b & 0x0F); }

// The current data file's bytes with the three readings of the `nm` filter counted 0 in every
// `every`-th sun triplet, from the first; `when` gets the date-times of those records as the window's
// table shows them. The readings are found as the station decodes them: by the measurement type's items.
std::string WithZeroCounts(Station& station, double nm, int every, std::set<QString>& when) {
  std::ifstream in(station.path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const TScnType* nsu = nullptr;
  for (const auto& type : station.lists.Scn().Items)
    if (type->Extension == "NSU") nsu = type.get();
  if (!nsu || !station.file || !station.file->Instrument) throw std::runtime_error("no sun triplets described");
  std::vector<int> offsets;
  for (const auto& item : nsu->Items) {
    if (!item->ValueDesc || item->ValueDesc->Name != "EL_SUN") continue;
    const TFilterDef* filter = station.file->Instrument->FindFilter(item->FilterPosition, item->FilterGroup);
    if (filter && filter->Wavelength == nm) offsets.push_back(item->Offset);
  }
  if (offsets.size() != 3) throw std::runtime_error("not three readings of the filter");
  int triplet = 0;
  for (size_t p = Q5ParamBlockSize; p + 1 < bytes.size();) {
    const auto* record = reinterpret_cast<uint8_t*>(&bytes[p]);
    const size_t length = record[1];
    if (record[0] == 0xFF || length == 0 || p + length > bytes.size()) break;
    if (record[0] == nsu->Code && static_cast<int>(length) == nsu->Length && triplet++ % every == 0) {
      for (int offset : offsets) bytes[p + static_cast<size_t>(offset)] = bytes[p + static_cast<size_t>(offset) + 1] = 0;
      // Date at 4 (year in the century, month, day), time at 7, as two decimal digits each.
      when.insert(QString::asprintf("%02d/%02d/%04d %02d:%02d:%02d", FromBcd(record[6]), FromBcd(record[5]),
                                    2000 + FromBcd(record[4]), FromBcd(record[7]), FromBcd(record[8]),
                                    FromBcd(record[9])));
    }
    p += length;
  }
  return bytes;
}

// q5gen's days with 500 nm (one of the fit's 870, 675, 440 and 500 nm) at 0 in every fifth triplet.
void LoadDaysWith500nmAtZero(Station& station, std::set<QString>& zeroed) {
  station.LoadSunDays("Z.Q5", kDays);
  station.LoadBytes("Z.Q5", WithZeroCounts(station, 500, 5, zeroed));
  Station::WriteCalibration(1);
}

}  // namespace

// Before, the fit took ln(1e-05) for the missing 500 nm: alpha near -5 on those records, where q5gen's
// aerosol has 1.3. Now Morvane fits none there and the window draws no point and leaves the cell empty;
// every other record keeps its alpha.
TEST(AotZeroCount, ARecordWithoutAnOpticalThicknessInTheFitHasNoAlpha) {
  Station station;
  std::set<QString> zeroed;
  LoadDaysWith500nmAtZero(station, zeroed);
  ASSERT_GT(zeroed.size(), 20u);
  ScopedPromptScript prompts;
  bool driven = false;
  station.Run([&](QWidget& w) {
    driven = true;
    w.findChild<QRadioButton*>("RBLvl15")->setChecked(true);
    auto* grid = w.findChild<QTableWidget*>("StringGrid1");
    const int alphaColumn = grid->columnCount() - 1;
    ASSERT_EQ(Cell(w, 0, alphaColumn), "Alpha");
    int with = 0, without = 0;
    for (int r = 1; r < grid->rowCount(); ++r) {
      if (zeroed.count(Cell(w, r, 0))) {
        EXPECT_EQ(Cell(w, r, alphaColumn), "") << Cell(w, r, 0).toStdString();
        ++without;
      } else {
        EXPECT_NE(Cell(w, r, alphaColumn), "") << Cell(w, r, 0).toStdString();
        ++with;
      }
    }
    EXPECT_GT(without, 5);
    EXPECT_GT(with, 4 * without - 10);
    const auto alpha = SeriesOf(w, "ChartRatio");
    ASSERT_EQ(alpha.size(), 1u);
    ASSERT_EQ(alpha[0]->Count(), with);
    for (int i = 0; i < alpha[0]->Count(); ++i) ASSERT_NEAR(alpha[0]->YValue(i), 1.3, 0.2) << i;
  });
  EXPECT_TRUE(driven);
  EXPECT_TRUE(prompts.Texts().empty()) << prompts.Texts().front();
}
