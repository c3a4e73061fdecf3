#include "plugins/tessaly/TessalyPlots.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>

#include "common/analysis/BgrData.h"

namespace {

// The x values that have a temperature point already: open addressing on the values' bits, where a
// standard set would allocate a node for each of hundreds of thousands of points. Equal values are
// one (0 and -0 too); a value that is not a number equals none, as in a standard set.
class TSeenValues {
 public:
  // True when x was not seen before (and is now).
  bool Insert(double x) {
    if (x != x) return true;
    const uint64_t key = std::bit_cast<uint64_t>(x == 0 ? 0.0 : x);
    if ((count_ + 1) * 2 > slots_.size()) Grow();
    for (size_t i = Slot(key);; i = (i + 1) & (slots_.size() - 1)) {
      if (slots_[i] == key) return false;
      if (slots_[i] == kEmpty) {
        slots_[i] = key;
        ++count_;
        return true;
      }
    }
  }

 private:
  static constexpr uint64_t kEmpty = 0x7ff8000000000000ULL;  // a NaN: never kept
  size_t Slot(uint64_t key) const {
    key ^= key >> 33;
    key *= 0xff51afd7ed558ccdULL;
    key ^= key >> 33;
    return static_cast<size_t>(key) & (slots_.size() - 1);
  }
  void Grow() {
    std::vector<uint64_t> old = std::move(slots_);
    slots_.assign(std::max<size_t>(1024, old.size() * 2), kEmpty);
    count_ = 0;
    for (uint64_t key : old)
      if (key != kEmpty) Insert(std::bit_cast<double>(key));
  }
  std::vector<uint64_t> slots_;
  size_t count_ = 0;
};

}  // namespace

void TDataValueLst::SetDataValue(double value, double time) {
  // The triplets come in time order: a later time is a new item without a search.
  if (Items.empty() || time > Items.back().Time) {
    Items.push_back(TDateValue{value, time});
    return;
  }
  for (TDateValue& item : Items)
    if (item.Time == time) {
      item.Value = value;
      return;
    }
  Items.push_back(TDateValue{value, time});
}

void TTessalyPlots::Clear() {
  for (TKindPlot& plot : kinds_) plot = TKindPlot();
}

bool TTessalyPlots::Current(const TKindPlot& plot) const {
  if (!plot.Made || plot.Series.size() != data_.SerieList.size()) return false;
  for (size_t k = 0; k < plot.Series.size(); ++k)
    if (plot.Series[k].Serie != data_.SerieList[k].get() || plot.Series[k].SerieCount != data_.SerieList[k]->Count())
      return false;
  return true;
}

const std::vector<TTessalyPlots::TSeriesPlot>& TTessalyPlots::Series(int kind) {
  TKindPlot& plot = kinds_[kind];
  if (!Current(plot)) {
    plot = TKindPlot();
    Make(kind, plot);
  }
  return plot.Series;
}

void TTessalyPlots::Make(int kind, TKindPlot& plot) const {
  plot.Series.reserve(data_.SerieList.size());
  for (const auto& serie : data_.SerieList) {
    plot.Series.push_back(TSeriesPlot{serie.get(), serie->Count(), {}, {}, {}});
    TSeriesPlot& out = plot.Series.back();
    out.Points.reserve(static_cast<qsizetype>(serie->Points.size()));
    if (kind == KindCounts) {
      out.Temperatures.reserve(serie->Points.size());
      for (const auto& p : serie->Points) {
        out.Points.append(QPointF(p->Time, p->GetCorrectedCN()));
        out.Temperatures.push_back(p->Temperature);
      }
    } else if (kind == KindTriplets) {
      // Readings recorded together form a triplet: its spread in percent of its mean.
      TDataValueLst spreads;
      size_t i = 0;
      while (i < serie->Points.size()) {
        const double time = serie->Points[i]->OriginalTime;
        double lo = 0, hi = 0, sum = 0;
        size_t n = 0;
        for (; i < serie->Points.size() && serie->Points[i]->OriginalTime == time; ++i, ++n) {
          const double c = serie->Points[i]->GetCorrectedCN();
          lo = n == 0 ? c : std::min(lo, c);
          hi = n == 0 ? c : std::max(hi, c);
          sum += c;
        }
        if (sum == 0) continue;  // no counts: no spread to show
        const double dispersion = static_cast<double>(n) * (hi - lo) * 100 / sum;
        out.Points.append(QPointF(time, dispersion));
        spreads.SetDataValue(dispersion, time);
      }
      out.Spreads = std::move(spreads.Items);
    } else {
      for (const auto& p : serie->Points) {
        double m = 0;
        const double c = p->GetCorrectedCN();
        if (!(c > 0) || !p->GetAirMass(m)) continue;
        out.Points.append(QPointF(m, std::log(c)));
        out.Temperatures.push_back(p->Temperature);
      }
    }
  }
  plot.Made = true;
}

const QList<QPointF>& TTessalyPlots::Temperatures(int kind, const std::vector<bool>& shown) {
  const std::vector<TSeriesPlot>& series = Series(kind);
  TKindPlot& plot = kinds_[kind];
  if (plot.TemperaturesMade && plot.TemperaturesShown == shown) return plot.Temperatures;
  plot.Temperatures.clear();
  TSeenValues seen;
  for (size_t k = 0; k < series.size() && k < shown.size(); ++k) {
    if (!shown[k]) continue;
    const TSeriesPlot& s = series[k];
    for (size_t i = 0; i < s.Temperatures.size(); ++i) {
      const double x = s.Points[static_cast<qsizetype>(i)].x();
      if (seen.Insert(x)) plot.Temperatures.append(QPointF(x, s.Temperatures[i]));
    }
  }
  plot.TemperaturesShown = shown;
  plot.TemperaturesMade = true;
  return plot.Temperatures;
}
