#pragma once
// The AOT plug-in run as the station runs it (the shared plug-in test host), with q5gen's sun days or
// the simulator's download as the data file, Morvane found on PATH; the window driven through its
// controls' object names.
#include <QAbstractButton>
#include <QAction>
#include <QChart>
#include <QChartView>
#include <QTest>
#include <QTableWidget>
#include <QWidget>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/AsciiExport.h"
#include "common/Instrument.h"
#include "common/ScnType.h"
#include "common/analysis/CalibFile.h"
#include "common/analysis/tests/support/PlugInTestHost.h"
#include "tools/q5gen/Q5Gen.h"

namespace aot_test {

using namespace plugin_test;

// The plug-in's station, with Morvane on PATH.
class Station : public PlugInStation {
 public:
  Station() : PlugInStation("aot_tests", ZELT_AOT_PLUGIN, "aot", "AotFrm") {
    home.Set("PATH", BinDir() + ":/usr/bin:/bin");
  }
  // The instrument simulator's memory image (the demo's download) written as a data file and loaded.
  void LoadSimulatorImage(const std::string& name, const std::string& options) {
    path = (home.Root() / name).string();
    const std::string command =
        "'" + BinDir() + "/zelt-simulator' --pty " + options + " --write-image '" + path + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) throw std::runtime_error("simulator failed: " + command);
    LoadFile();
  }
  // The calibration file of a site, written by the shared calibration-file code: q5gen's V0 of every
  // sun filter of the station's instrument, in the canonical order.
  static void WriteCalibration(int site) {
    TCalibFile cal;
    cal.FileName = TCalibFile::FileNameFor(site);
    std::string coefficients;
    for (double nm : {1020.0, 870.0, 675.0, 440.0, 500.0, 940.0, 380.0, 340.0, 1640.0})
      coefficients += std::to_string(q5gen::SunV0(nm)) + " ";
    cal.Dates.push_back({"2025 6 1", coefficients});
    if (!cal.Save()) throw std::runtime_error("calibration file not written");
  }
  std::filesystem::path AotFolder() const { return home.Root() / "data" / "zelt" / "Aot"; }
  // Where the results of the current data file's folder are kept.
  std::filesystem::path ResultFolder() const {
    return AotFolder() / "Results" / std::filesystem::weakly_canonical(std::filesystem::path(path).parent_path()).relative_path();
  }
};

// The sun triplets of the current data file, found as the station decodes them: their measurement type
// and, per filter, the byte offsets of its three readings.
class SunTriplets {
 public:
  explicit SunTriplets(Station& station) : station_(station) {
    for (const auto& type : station.lists.Scn().Items)
      if (type->Extension == "NSU") type_ = type.get();
    if (!type_ || !station.file || !station.file->Instrument) throw std::runtime_error("no sun triplets described");
  }
  std::vector<int> ReadingsOf(double nm) const {
    std::vector<int> offsets;
    for (const auto& item : type_->Items) {
      if (!item->ValueDesc || item->ValueDesc->Name != "EL_SUN") continue;
      const TFilterDef* filter = station_.file->Instrument->FindFilter(item->FilterPosition, item->FilterGroup);
      if (filter && filter->Wavelength == nm) offsets.push_back(item->Offset);
    }
    if (offsets.size() != 3) throw std::runtime_error("not three readings of the filter");
    return offsets;
  }
  // Calls `visit` with each sun-triplet record of a data file's `bytes` (its first byte) and its
  // date-time as the window's table shows it.
  void ForEach(std::string& bytes, const std::function<void(uint8_t* record, const QString& when)>& visit) const {
    auto fromBcd = [](uint8_t b) { return (b >> 4) * 10 + (b & 0x0F); };
    for (size_t p = Q5ParamBlockSize; p + 1 < bytes.size();) {
      auto* record = reinterpret_cast<uint8_t*>(&bytes[p]);
      const size_t length = record[1];
      if (record[0] == 0xFF || length == 0 || p + length > bytes.size()) break;
      // Date at 4 (year in the century, month, day), time at 7, as two decimal digits each.
      if (record[0] == type_->Code && static_cast<int>(length) == type_->Length)
        visit(record, QString::asprintf("%02d/%02d/%04d %02d:%02d:%02d", fromBcd(record[6]), fromBcd(record[5]),
                                        2000 + fromBcd(record[4]), fromBcd(record[7]), fromBcd(record[8]),
                                        fromBcd(record[9])));
      p += length;
    }
  }
  // The current data file's bytes.
  std::string Bytes() const { return ScopedTestHome::Read(station_.path); }

 private:
  Station& station_;
  const TScnType* type_ = nullptr;
};

// Writes the 16-bit value `v` at `offset` of a record, most significant byte first.
inline void Put16(uint8_t* record, int offset, uint16_t v) {
  record[offset] = static_cast<uint8_t>(v >> 8);
  record[offset + 1] = static_cast<uint8_t>(v & 0xFF);
}

inline QString Cell(QWidget& w, int row, int column) {
  const QTableWidgetItem* item = w.findChild<QTableWidget*>("StringGrid1")->item(row, column);
  return item ? item->text() : QString();
}

inline std::vector<std::string> Lines(const std::filesystem::path& p) {
  std::vector<std::string> lines;
  ReadAsciiLines(p.string(), lines);
  return lines;
}

inline void Trigger(QWidget& w, const char* actionName) {
  QAction* a = w.findChild<QAction*>(actionName);
  if (!a) throw std::runtime_error(std::string("no action ") + actionName);
  a->trigger();
}

inline void Click(QWidget& w, const char* name) {
  auto* b = w.findChild<QAbstractButton*>(name);
  if (!b) throw std::runtime_error(std::string("no button ") + name);
  b->click();
}

// Drags with the left button across a chart's plot area, from one fraction of it to another.
inline void Drag(QWidget& w, const char* chart, QPointF from, QPointF to) {
  auto* view = w.findChild<QChartView*>(chart);
  const QRectF plot = view->chart()->plotArea();
  auto at = [&](QPointF f) {
    return view->mapFromScene(QPointF(plot.left() + f.x() * plot.width(), plot.top() + f.y() * plot.height()));
  };
  QTest::mousePress(view->viewport(), Qt::LeftButton, {}, at(from));
  QTest::mouseMove(view->viewport(), at((from + to) / 2));
  QTest::mouseMove(view->viewport(), at(to));
  QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, at(to));
}

}  // namespace aot_test
