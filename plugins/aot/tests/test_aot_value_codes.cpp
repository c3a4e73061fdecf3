// The AOT window on sun triplets where the instrument wrote a code in place of a reading (over range,
// no value, hardware error, absent): no optical thickness, alpha or water vapour comes from it, and the
// window says once how many readings were codes.
#include <gtest/gtest.h>

#include <QRadioButton>
#include <QTableWidget>
#include <map>
#include <set>
#include <stdexcept>

#include "common/Prompt.h"
#include "plugins/aot/tests/AotTestEnv.h"

using namespace aot_test;

namespace {

// Three days of q5gen's quarter-hour triplets with a little noise, at its site 1, calibrated.
const char kDays[] = "--sun-days 3 --interval 900 --start 2025-06-28T00:00:00 --sun-noise 0.005 --seed 3";

// The instrument's codes: over range, no value, hardware error, absent.
const uint16_t kCodes[] = {0xFFFD, 0xFFFF, 0xFFFE, 0xFFFB};

// Where codes are written: a filter of the Angstrom fit and a reference of the water vapour, each at
// four records of midday with one code each in its three readings; and 440 nm once more, a code in its
// second reading alone.
struct TCoded {
  double Nm;
  const char* When;
  uint16_t Code;
  bool SecondReadingOnly = false;
};
const TCoded kCoded[] = {
    {440, "29/06/2025 11:30:00", kCodes[0]},  {440, "29/06/2025 11:45:00", kCodes[1]},
    {440, "29/06/2025 12:00:00", kCodes[2]},  {440, "29/06/2025 12:15:00", kCodes[3]},
    {1020, "29/06/2025 13:30:00", kCodes[0]}, {1020, "29/06/2025 13:45:00", kCodes[1]},
    {1020, "29/06/2025 14:00:00", kCodes[2]}, {1020, "29/06/2025 14:15:00", kCodes[3]},
    {440, "29/06/2025 15:00:00", kCodes[0], true},
};
const char kCodedReadings[] = "25 readings";  // eight records of three, and one

// The current data file's bytes with the codes written in.
std::string WithCodes(Station& station) {
  const SunTriplets triplets(station);
  std::string bytes = triplets.Bytes();
  int written = 0;
  triplets.ForEach(bytes, [&](uint8_t* record, const QString& when) {
    for (const TCoded& c : kCoded) {
      if (when != c.When) continue;
      const std::vector<int> readings = triplets.ReadingsOf(c.Nm);
      if (c.SecondReadingOnly)
        Put16(record, readings[1], c.Code);
      else
        for (int offset : readings) Put16(record, offset, c.Code);
      ++written;
    }
  });
  if (written != static_cast<int>(std::size(kCoded))) throw std::runtime_error("a record to code is missing");
  return bytes;
}

using TTable = std::vector<std::vector<QString>>;

TTable TableOf(QWidget& w) {
  const auto* grid = w.findChild<QTableWidget*>("StringGrid1");
  TTable table;
  for (int r = 0; r < grid->rowCount(); ++r) {
    table.emplace_back();
    for (int c = 0; c < grid->columnCount(); ++c) table.back().push_back(Cell(w, r, c));
  }
  return table;
}

// Level 1, Level 1.5 and the water vapour as the window's table shows them.
struct TShown {
  TTable Level1, Level15, Vapour;
};
TShown Show(QWidget& w) {
  TShown shown;
  shown.Level1 = TableOf(w);
  w.findChild<QRadioButton*>("RBLvl15")->setChecked(true);
  shown.Level15 = TableOf(w);
  w.findChild<QRadioButton*>("RbLvlWv")->setChecked(true);
  shown.Vapour = TableOf(w);
  return shown;
}

std::map<QString, std::vector<QString>> RowsByTime(const TTable& table) {
  std::map<QString, std::vector<QString>> rows;
  for (size_t r = 1; r < table.size(); ++r) rows[table[r][0]] = table[r];
  return rows;
}

// A screened table: no row at a coded record, and every other row as the run without codes shows it.
void ExpectScreenedOut(const TTable& coded, const TTable& clean, const char* what) {
  ASSERT_FALSE(coded.empty());
  EXPECT_EQ(coded[0], clean[0]) << what;
  const auto cleanRows = RowsByTime(clean);
  for (const TCoded& c : kCoded) EXPECT_TRUE(cleanRows.count(c.When)) << what << ": " << c.When << " is screened anyway";
  int rows = 0;
  for (const auto& [when, row] : RowsByTime(coded)) {
    ++rows;
    for (const TCoded& c : kCoded) EXPECT_NE(when, c.When) << what << " has the coded record";
    const auto same = cleanRows.find(when);
    if (same == cleanRows.end()) {
      ADD_FAILURE() << what << ": " << when.toStdString() << " is not shown without codes";
      continue;
    }
    EXPECT_EQ(row, same->second) << what << " at " << when.toStdString();
  }
  EXPECT_GT(rows, 20) << what;
}

}  // namespace

TEST(AotValueCodes, NoOpticalThicknessAlphaOrWaterVapourComesFromAnInstrumentCode) {
  Station station;
  station.LoadSunDays("C.Q5", kDays);
  Station::WriteCalibration(1);
  TShown clean, coded;
  {
    ScopedPromptScript prompts;
    station.Run([&](QWidget& w) { clean = Show(w); });
    ASSERT_TRUE(prompts.Texts().empty()) << prompts.Texts().front();
  }
  station.LoadBytes("C.Q5", WithCodes(station));
  ScopedPromptScript prompts;
  station.Run([&](QWidget& w) {
    coded = Show(w);
    // Shown again, nothing more is said.
    w.findChild<QRadioButton*>("RBLvl1")->setChecked(true);
    w.findChild<QRadioButton*>("RBLvl15")->setChecked(true);
  });

  // Level 1: the coded filter has no optical thickness on its records; every other cell is the one
  // of the run without codes.
  ASSERT_EQ(coded.Level1.size(), clean.Level1.size());
  ASSERT_GT(clean.Level1.size(), 100u);
  const std::vector<QString>& titles = clean.Level1[0];
  ASSERT_EQ(coded.Level1[0], titles);
  int emptied = 0;
  for (size_t r = 1; r < clean.Level1.size(); ++r) {
    ASSERT_EQ(coded.Level1[r][0], clean.Level1[r][0]);
    for (size_t c = 1; c < titles.size(); ++c) {
      bool codedHere = false;
      for (const TCoded& k : kCoded)
        codedHere = codedHere || (clean.Level1[r][0] == k.When && titles[c] == QString("%1 nm").arg(k.Nm));
      if (codedHere) {
        EXPECT_TRUE(coded.Level1[r][c].isEmpty()) << titles[c].toStdString() << " at " << clean.Level1[r][0].toStdString()
                                                  << ": " << coded.Level1[r][c].toStdString();
        EXPECT_FALSE(clean.Level1[r][c].isEmpty());
        ++emptied;
      } else {
        EXPECT_EQ(coded.Level1[r][c], clean.Level1[r][c]) << titles[c].toStdString() << " at "
                                                          << clean.Level1[r][0].toStdString();
      }
    }
  }
  EXPECT_EQ(emptied, static_cast<int>(std::size(kCoded)));

  // Level 1.5 and the water vapour: the coded records are screened out, as a reading lost is.
  ExpectScreenedOut(coded.Level15, clean.Level15, "Level 1.5");
  ExpectScreenedOut(coded.Vapour, clean.Vapour, "the water vapour");

  // One message, with the number of readings.
  const auto texts = prompts.Texts();
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_NE(texts[0].find(kCodedReadings), std::string::npos) << texts[0];
  EXPECT_NE(texts[0].find("instrument code"), std::string::npos) << texts[0];
}
