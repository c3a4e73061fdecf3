#include "plugins/tessaly/TessalyPlots.h"

#include <algorithm>
#include <cmath>

#include "common/analysis/BgrData.h"
#include "common/analysis/ValueMap.h"

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
  // The x values seen, kept as keys (a value that is not a number is never one: each is a point).
  TValueMap seen;
  for (size_t k = 0; k < series.size() && k < shown.size(); ++k) {
    if (!shown[k]) continue;
    const TSeriesPlot& s = series[k];
    for (size_t i = 0; i < s.Temperatures.size(); ++i) {
      const double x = s.Points[static_cast<qsizetype>(i)].x();
      if (x != x || seen.Insert(x, 0)) plot.Temperatures.append(QPointF(x, s.Temperatures[i]));
    }
  }
  plot.TemperaturesShown = shown;
  plot.TemperaturesMade = true;
  return plot.Temperatures;
}
