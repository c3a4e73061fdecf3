#pragma once
// What each kind of chart of the calibration window plots, worked out from the data set once and kept
// until the window changes the data set: a change of view hands the kept values to the chart instead
// of reading every point again (hundreds of thousands on a year, each with its solar geometry).
#include <QList>
#include <QPointF>
#include <vector>

class TBgrData;
class TCNSerie;

struct TDateValue {
  double Value = 0, Time = 0;
};
struct TDataValueLst {
  int FilterNumber = 0;
  std::vector<TDateValue> Items;
  void SetDataValue(double value, double time);
};

class TTessalyPlots {
 public:
  enum { KindCounts = 0, KindTriplets = 1, KindLangley = 2 };

  // One series in one kind: its points as plotted; in the counts and Langley kinds the temperature
  // of each point (same order); in the triplets kind the spreads as the deletion reads them.
  struct TSeriesPlot {
    const TCNSerie* Serie = nullptr;
    int SerieCount = 0;  // the series' points when worked out
    QList<QPointF> Points;
    std::vector<double> Temperatures;
    std::vector<TDateValue> Spreads;
  };

  explicit TTessalyPlots(const TBgrData& data) : data_(data) {}

  // Every series of the data set, in its order, as the kind plots it.
  const std::vector<TSeriesPlot>& Series(int kind);
  // One temperature point per x over the series shown (flags in the data set's order), whichever
  // series brought it first.
  const QList<QPointF>& Temperatures(int kind, const std::vector<bool>& shown);
  // The data set's points, times or site changed: everything is worked out again when next asked.
  void Clear();

 private:
  struct TKindPlot {
    bool Made = false;
    std::vector<TSeriesPlot> Series;
    std::vector<bool> TemperaturesShown;  // the series the temperatures were gathered over
    bool TemperaturesMade = false;
    QList<QPointF> Temperatures;
  };
  void Make(int kind, TKindPlot& plot) const;
  bool Current(const TKindPlot& plot) const;

  const TBgrData& data_;
  TKindPlot kinds_[3];
};
