#include "common/chart/ChartServices.h"

#include <QApplication>
#include <QCategoryAxis>
#include <QChart>
#include <QClipboard>
#include <QGraphicsItem>
#include <QLineSeries>
#include <QMouseEvent>
#include <QPaintDevice>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QRegularExpression>
#include <QScatterSeries>
#include <QValueAxis>

#include <algorithm>
#include <cmath>
#include <limits>

#include "common/DateTime.h"
#include "common/chart/ChartLegend.h"

namespace {

constexpr int kPointerSize = 7;

// The pointer drawn at each point of a series, in its colour.
QImage PointerImage(int style, const QColor& color)
{
    QImage image(kPointerSize, kPointerSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, style == psCircle);
    p.setPen(QPen(color, 1));
    p.setBrush(color);
    const int m = kPointerSize - 1, c = kPointerSize / 2;
    switch (style) {
    case psRectangle: p.drawRect(0, 0, m, m); break;
    case psTriangle: p.drawPolygon(QPolygon({QPoint(c, 0), QPoint(m, m), QPoint(0, m)})); break;
    case psDownTriangle: p.drawPolygon(QPolygon({QPoint(0, 0), QPoint(m, 0), QPoint(c, m)})); break;
    case psCross:
        p.drawLine(c, 0, c, m);
        p.drawLine(0, c, m, c);
        break;
    case psDiagCross:
        p.drawLine(0, 0, m, m);
        p.drawLine(0, m, m, 0);
        break;
    default: p.drawEllipse(QRectF(0.5, 0.5, m - 1, m - 1)); break;
    }
    return image;
}

// The ticks of a date-time axis over [mn, mx] (day numbers), at most about `count`: whole multiples of
// the smallest usual time step from midnight UT that keeps to the count, or, past two weeks a step,
// the first days of whole multiples of months. `midnights`: every tick falls on a midnight.
std::vector<double> TimeTicks(double mn, double mx, int count, bool& midnights)
{
    static const double steps[] = {1,    2,    5,    10,   15,    30,    60,    120,   300,    600,
                                   900,  1800, 3600, 7200, 10800, 21600, 43200, 86400, 172800, 604800,
                                   1209600};
    std::vector<double> ticks;
    const double spanSeconds = (mx - mn) * 86400.0;
    for (double step : steps) {
        if (spanSeconds / step > count) continue;
        midnights = step >= 86400;
        // In whole seconds, so that a tick on a whole minute is not a rounding error off it.
        const double first = std::ceil(std::round(mn * 86400.0 * 1000.0) / 1000.0 / step);
        for (double k = first; k * step / 86400.0 <= mx + 1e-9; ++k) ticks.push_back(k * step / 86400.0);
        return ticks;
    }
    midnights = true;
    int months = 0;
    for (int m : {1, 2, 3, 6, 12})
        if ((mx - mn) / (30.44 * m) <= count) {
            months = m;
            break;
        }
    if (months == 0) months = 12 * static_cast<int>(std::ceil((mx - mn) / 365.25 / count));
    int year = 0, month = 0, day = 0;
    DecodeDate(mn, year, month, day);
    // Months counted from year 0; the steps start on January of a year that is a multiple of theirs.
    for (int index = (year * 12 + month - 1) / months * months;; index += months) {
        double tick = 0;
        if (!TryEncodeDate(index / 12, index % 12 + 1, 1, tick) || tick > mx + 1e-9) break;
        if (tick >= mn - 1e-9) ticks.push_back(tick);
    }
    return ticks;
}

bool SameYear(double a, double b)
{
    int ya = 0, yb = 0, month = 0, day = 0;
    DecodeDate(a, ya, month, day);
    DecodeDate(b, yb, month, day);
    return ya == yb;
}

}  // namespace

// ---- the plot: every series' lines and pointers, drawn from the points kept here ------------------

// The line through `points` as drawn on the screen. A run of consecutive points inside one pixel column
// covers no more than its first and last points and its lowest and highest ones (in their order): the
// rest add nothing to the picture but the time to stroke them, which on a year of data is most of it.
template <typename Map>
QPolygonF ScreenLine(const QList<QPointF>& points, const Map& map)
{
    QPolygonF line;
    line.reserve(std::min<qsizetype>(points.size(), 4096));
    QPointF first, low, high, last;
    qsizetype lowAt = 0, highAt = 0, count = 0;
    int column = std::numeric_limits<int>::min();
    auto flush = [&] {
        if (count == 0) return;
        line << first;
        if (count > 2) {
            if (lowAt < highAt) line << low << high;
            else if (highAt < lowAt) line << high << low;
        }
        if (count > 1) line << last;
    };
    qsizetype index = 0;
    for (const QPointF& p : points) {
        const QPointF q = map(p);
        ++index;
        if (!std::isfinite(q.x()) || !std::isfinite(q.y())) continue;
        const int x = static_cast<int>(std::floor(q.x()));
        if (x != column) {
            flush();
            column = x;
            first = low = high = last = q;
            lowAt = highAt = index;
            count = 1;
            continue;
        }
        last = q;
        ++count;
        if (q.y() < low.y()) low = q, lowAt = index;
        if (q.y() > high.y()) high = q, highAt = index;
    }
    flush();
    return line;
}

// One graphics item over the plot area of the chart. Pointers may reach half their size past the
// area (a point on the edge is drawn whole); lines stay inside it.
class TChartPlot : public QGraphicsItem {
public:
    TChartPlot(QChart* chart, const std::vector<std::unique_ptr<TChartSeries>>& series, const TChart& owner)
        : QGraphicsItem(chart), FChart(chart), FSeries(series), FOwner(owner)
    {
        setZValue(100);  // over Qt's (empty) series and the grid
    }
    QRectF boundingRect() const override { return Margin(FChart->plotArea()); }
    void AreaChanged() { prepareGeometryChange(); }
    void paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) override;

private:
    static QRectF Margin(const QRectF& area)
    {
        const double m = kPointerSize / 2 + 1;
        return area.adjusted(-m, -m, m, m);
    }
    QChart* FChart;
    const std::vector<std::unique_ptr<TChartSeries>>& FSeries;
    const TChart& FOwner;
};

void TChartPlot::paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*)
{
    const QRectF area = FChart->plotArea();
    if (area.width() <= 0 || area.height() <= 0) return;
    const double x0 = FOwner.AxisMinimum(TChart::Bottom), x1 = FOwner.AxisMaximum(TChart::Bottom);
    if (!(x1 > x0)) return;
    const QRect pointerClip = Margin(area).toAlignedRect();
    const int cells = pointerClip.width() * pointerClip.height();
    std::vector<bool> drawn;
    for (const auto& s : FSeries) {
        if (!s->Visible() || s->Count() == 0) continue;
        const auto vertical = static_cast<TChart::Axis>(s->VerticalAxis());
        const double y0 = FOwner.AxisMinimum(vertical), y1 = FOwner.AxisMaximum(vertical);
        if (!(y1 > y0)) continue;
        const double sx = area.width() / (x1 - x0), sy = area.height() / (y1 - y0);
        const double left = area.left(), top = area.top();
        auto map = [&](const QPointF& p) { return QPointF(left + (p.x() - x0) * sx, top + (y1 - p.y()) * sy); };
        const QList<QPointF>& points = s->Points();
        if (s->LineVisible()) {
            const QPolygonF line = ScreenLine(points, map);
            painter->save();
            painter->setClipRect(area);
            // Stroked in short pieces: a wide antialiased pen strokes one long polyline as a single
            // outline whose filling grows faster than its length (a year of results took seconds). Flat
            // caps keep the pieces' shared ends from standing out of the line.
            QPen pen = s->Series->pen();
            pen.setCapStyle(Qt::FlatCap);
            painter->setPen(pen);
            constexpr qsizetype kPiece = 32;
            for (qsizetype from = 0; from + 1 < line.size(); from += kPiece - 1)
                painter->drawPolyline(line.constData() + from, int(std::min(kPiece, line.size() - from)));
            painter->restore();
        }
        const QImage& pointer = s->PointerImage();
        if (pointer.isNull()) continue;
        // Each pointer once per pixel: the picture is the same, the cost bounded by the area.
        drawn.assign(static_cast<size_t>(cells), false);
        const int half = pointer.width() / 2;
        for (const QPointF& p : points) {
            const QPointF q = map(p);
            if (!(q.x() >= pointerClip.left() && q.x() <= pointerClip.right() && q.y() >= pointerClip.top() &&
                  q.y() <= pointerClip.bottom()))
                continue;
            const int px = static_cast<int>(std::lround(q.x())), py = static_cast<int>(std::lround(q.y()));
            const int cx = std::clamp(px - pointerClip.left(), 0, pointerClip.width() - 1);
            const int cy = std::clamp(py - pointerClip.top(), 0, pointerClip.height() - 1);
            const size_t cell = static_cast<size_t>(cy) * static_cast<size_t>(pointerClip.width()) + static_cast<size_t>(cx);
            if (drawn[cell]) continue;
            drawn[cell] = true;
            painter->drawImage(px - half, py - half, pointer);
        }
    }
}

// ---- series -------------------------------------------------------------------------------------------

TChartSeries::TChartSeries(TChart& chart, QXYSeries* series, TSeriesKind kind, int verticalAxis)
    : Series(series), Kind(kind), FChart(chart), FVertical(verticalAxis), FPointerVisible(kind == TSeriesKind::Point)
{
}

void TChartSeries::PointsChanged()
{
    FBoundsKnown = false;
    FChart.PlotChanged();
}

const TChartSeries::Bounds& TChartSeries::PointBounds() const
{
    if (!FBoundsKnown) {
        FBounds = {std::numeric_limits<double>::max(), std::numeric_limits<double>::lowest(),
                   std::numeric_limits<double>::max(), std::numeric_limits<double>::lowest()};
        for (const QPointF& p : FPoints) {
            FBounds.minX = std::min(FBounds.minX, p.x());
            FBounds.maxX = std::max(FBounds.maxX, p.x());
            FBounds.minY = std::min(FBounds.minY, p.y());
            FBounds.maxY = std::max(FBounds.maxY, p.y());
        }
        FBoundsKnown = true;
    }
    return FBounds;
}

void TChartSeries::AddXY(double x, double y)
{
    FPoints.append(QPointF(x, y));
    PointsChanged();
}

void TChartSeries::AddPoints(const QList<QPointF>& points)
{
    // The first points shared with the caller's list (copied only when either changes).
    if (FPoints.isEmpty())
        FPoints = points;
    else
        FPoints.append(points);
    PointsChanged();
}

void TChartSeries::Delete(int i)
{
    FPoints.remove(i);
    PointsChanged();
}

void TChartSeries::Delete(std::vector<int> indexes)
{
    std::sort(indexes.begin(), indexes.end());
    indexes.erase(std::unique(indexes.begin(), indexes.end()), indexes.end());
    QList<QPointF> kept;
    kept.reserve(FPoints.size() - static_cast<qsizetype>(indexes.size()));
    size_t next = 0;
    for (int i = 0; i < FPoints.size(); ++i) {
        if (next < indexes.size() && indexes[next] == i) {
            ++next;
            continue;
        }
        kept.append(FPoints[i]);
    }
    FPoints = std::move(kept);
    PointsChanged();
}

void TChartSeries::Clear()
{
    FPoints.clear();
    PointsChanged();
}

void TChartSeries::SetTitle(const QString& title)
{
    Series->setName(title);
    FChart.LegendChanged();
}
QString TChartSeries::Title() const { return Series->name(); }
QColor TChartSeries::Color() const { return Series->color(); }

void TChartSeries::SetColor(const QColor& color)
{
    Series->setColor(color);
    if (auto* scatter = qobject_cast<QScatterSeries*>(Series)) scatter->setBorderColor(color);
    UpdatePointer();
}

void TChartSeries::SetPointerStyle(int style)
{
    PointerStyle = style;
    UpdatePointer();
}

void TChartSeries::SetPointerVisible(bool on)
{
    FPointerVisible = on;
    UpdatePointer();
}

void TChartSeries::UpdatePointer()
{
    FPointerImage = FPointerVisible ? ::PointerImage(PointerStyle, Series->color()) : QImage();
    FChart.PlotChanged();
    FChart.LegendChanged();
}

void TChartSeries::SetLineVisible(bool on)
{
    if (Kind != TSeriesKind::Line) return;
    FLineVisible = on;
    QPen pen = Series->pen();
    pen.setStyle(on ? Qt::SolidLine : Qt::NoPen);
    Series->setPen(pen);
    FChart.PlotChanged();
    FChart.LegendChanged();
}

void TChartSeries::SetShowInLegend(bool on)
{
    FShowInLegend = on;
    FChart.LegendChanged();
}

void TChartSeries::SetVisible(bool on)
{
    Series->setVisible(on);
    FChart.PlotChanged();
    FChart.LegendChanged();
}

bool TChartSeries::Visible() const { return Series->isVisible(); }

int TChartSeries::Clicked(int x, int y, double pixels) const
{
    if (!Visible()) return -1;
    // The square of `pixels` around (x, y) in values, then the points within it.
    const auto vertical = static_cast<TChart::Axis>(FVertical);
    const double xa = FChart.ScreenToValue(TChart::Bottom, x - pixels), xb = FChart.ScreenToValue(TChart::Bottom, x + pixels);
    const double ya = FChart.ScreenToValue(vertical, y + pixels), yb = FChart.ScreenToValue(vertical, y - pixels);
    const double xlo = std::min(xa, xb), xhi = std::max(xa, xb), ylo = std::min(ya, yb), yhi = std::max(ya, yb);
    for (int i = Count() - 1; i >= 0; --i) {
        const QPointF& p = FPoints[i];
        if (p.x() >= xlo && p.x() <= xhi && p.y() >= ylo && p.y() <= yhi) return i;
    }
    return -1;
}

// ---- chart --------------------------------------------------------------------------------------------

TChart::TChart(QWidget* parent) : QChartView(parent), FChart(new QChart())
{
    setChart(FChart);
    const Qt::Alignment sides[kAxes] = {Qt::AlignBottom, Qt::AlignLeft, Qt::AlignRight};
    for (int a = 0; a < kAxes; ++a) {
        // Labels at the ticks we choose: nice steps, never "-0", date-times in UT.
        FAxes[a] = new QCategoryAxis();
        FAxes[a]->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
        FChart->addAxis(FAxes[a], sides[a]);
    }
    FAxes[Right]->setVisible(false);
    // Our legend beside the plot in place of Qt's; the chart's right margin makes room for it.
    FChart->legend()->hide();
    FMargins = FChart->margins();
    // The chart takes the view's size: a legend of many columns must not widen the window.
    FChart->setMinimumSize(1, 1);
    FLegend = new TChartLegend(FChart, FChart->legend()->font());
    FPlot = new TChartPlot(FChart, FSeries, *this);
    connect(FChart, &QChart::plotAreaChanged, this, [this] {
        FPlot->AreaChanged();
        UpdateTickLabels();
        // The legend starts at the plot's top, below the title.
        LegendChanged();
    });
    setRenderHint(QPainter::Antialiasing);
}

TChart::~TChart()
{
    // The chart owns the series, axes and the plot; the wrappers go first.
    FSeries.clear();
}

void TChart::SetTitle(const QString& title) { FChart->setTitle(title); }
QString TChart::Title() const { return FChart->title(); }
void TChart::SetLegendVisible(bool on)
{
    FLegendVisible = on;
    FLegend->setVisible(on);
    LegendChanged();
}

void TChart::LegendChanged()
{
    FLegendDirty = true;
    // Once for all the changes of one fill of the chart; Repaint lays it out at once.
    if (FLegendQueued) return;
    FLegendQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            FLegendQueued = false;
            if (FLegendDirty) UpdateLegend();
        },
        Qt::QueuedConnection);
}

void TChart::UpdateLegend()
{
    FLegendDirty = false;
    QList<TChartLegend::TItem> items;
    if (FLegendVisible)
        for (const auto& s : FSeries)
            if (s->Visible() && s->ShowInLegend())
                items << TChartLegend::TItem{s->Title(), s->LineVisible() ? s->Series->pen() : QPen(Qt::NoPen),
                                             s->PointerImage(), s->Color()};
    const QRectF chart = FChart->rect();
    const double top = std::max(chart.top() + FMargins.top(), FChart->plotArea().top());
    const double bottom = chart.bottom() - FMargins.bottom();
    // The plot keeps most of the width: past this the legend's font gets smaller.
    const double width = FLegend->Layout(items, chart.right() - FMargins.right(), top, bottom, chart.width() * 0.3);
    QMargins margins = FMargins;
    if (width > 0) margins.setRight(FMargins.right() + static_cast<int>(std::ceil(width)) + FMargins.right() / 2);
    if (FChart->margins() != margins) FChart->setMargins(margins);
}

QList<TChart::TLegendEntry> TChart::LegendEntries()
{
    if (FLegendDirty) UpdateLegend();
    QList<TLegendEntry> entries;
    if (!FLegend->isVisible()) return entries;
    for (const TChartLegend::TEntry& e : FLegend->Entries()) entries << TLegendEntry{e.Item.Name, FChart->mapRectToScene(e.Rect)};
    return entries;
}

QFont TChart::LegendFont() const { return FLegend->Font(); }
void TChart::SetColor(const QColor& color) { FChart->setBackgroundBrush(color); }
QColor TChart::Color() const { return FChart->backgroundBrush().color(); }

void TChart::PlotChanged() { FPlot->update(); }

QValueAxis* TChart::ValueAxis(Axis axis) const { return FAxes[axis]; }

void TChart::AttachAxes(TChartSeries& series)
{
    for (QAbstractAxis* a : series.Series->attachedAxes()) series.Series->detachAxis(a);
    series.Series->attachAxis(FAxes[Bottom]);
    series.Series->attachAxis(FAxes[series.VerticalAxis()]);
}

void TChart::UpdateRightAxis()
{
    const bool used = std::any_of(FSeries.begin(), FSeries.end(), [](const auto& s) { return s->VerticalAxis() == Right; });
    FAxes[Right]->setVisible(used);
}

QXYSeries* TChart::NewSeries(TSeriesKind kind, const QString& title)
{
    QXYSeries* s = kind == TSeriesKind::Line ? static_cast<QXYSeries*>(new QLineSeries())
                                             : static_cast<QXYSeries*>(new QScatterSeries());
    s->setName(title);
    FChart->addSeries(s);
    return s;
}

TChartSeries* TChart::Add(std::unique_ptr<TChartSeries> series)
{
    AttachAxes(*series);
    series->SetPointerStyle(psCircle);
    FSeries.push_back(std::move(series));
    UpdateRightAxis();
    LegendChanged();
    return FSeries.back().get();
}

TChartSeries* TChart::AddSeries(TSeriesKind kind, const QString& title, Axis vertical)
{
    if (kind == TSeriesKind::Line) return AddLineSeries(title, vertical);
    return AddPointSeries(title, vertical);
}

TLineSeries* TChart::AddLineSeries(const QString& title, Axis vertical)
{
    const int axis = vertical == Right ? Right : Left;
    auto s = std::make_unique<TLineSeries>(*this, NewSeries(TSeriesKind::Line, title), TSeriesKind::Line, axis);
    return static_cast<TLineSeries*>(Add(std::move(s)));
}

TPointSeries* TChart::AddPointSeries(const QString& title, Axis vertical)
{
    const int axis = vertical == Right ? Right : Left;
    auto s = std::make_unique<TPointSeries>(*this, NewSeries(TSeriesKind::Point, title), TSeriesKind::Point, axis);
    return static_cast<TPointSeries*>(Add(std::move(s)));
}

void TChart::FreeAllSeries()
{
    FSeries.clear();
    FChart->removeAllSeries();
    UpdateRightAxis();
    PlotChanged();
    LegendChanged();
}

void TChart::SetAxisRange(Axis axis, double minimum, double maximum)
{
    FAuto[axis] = false;
    FMin[axis] = minimum;
    FMax[axis] = maximum;
    Rescale();
}

void TChart::SetAxisAutomatic(Axis axis)
{
    FAuto[axis] = true;
    Rescale();
}

double TChart::AxisMinimum(Axis axis) const { return FAxes[axis]->min(); }
double TChart::AxisMaximum(Axis axis) const { return FAxes[axis]->max(); }

void TChart::SetAxisTitle(Axis axis, const QString& title) { FAxes[axis]->setTitleText(title); }

QString TChart::AxisTitle(Axis axis) const { return FAxes[axis]->titleText(); }

void TChart::SetValueFormat(Axis axis, const QString& pattern)
{
    const int dot = pattern.indexOf('.');
    FDecimals[axis] = dot < 0 ? 0 : static_cast<int>(pattern.size() - dot - 1);
    UpdateTickLabels(axis);
}

void TChart::SetBottomDateTime(bool on, const QString& format)
{
    FTimeFormat = format;
    FDateTime = on;
    Rescale();
}

QStringList TChart::BottomDateTimeLabels() const
{
    QStringList labels;
    if (!FDateTime) return labels;
    // Labels made unique with zero-width spaces are shown without them.
    for (QString label : FAxes[Bottom]->categoriesLabels()) labels << label.remove(QChar(0x200B));
    return labels;
}

void TChart::Rescale()
{
    double lo[kAxes], hi[kAxes];
    std::fill(std::begin(lo), std::end(lo), std::numeric_limits<double>::max());
    std::fill(std::begin(hi), std::end(hi), std::numeric_limits<double>::lowest());
    for (auto& s : FSeries) {
        if (!s->Visible()) continue;
        const int v = s->VerticalAxis();
        const TChartSeries::Bounds& b = s->PointBounds();
        lo[Bottom] = std::min(lo[Bottom], b.minX);
        hi[Bottom] = std::max(hi[Bottom], b.maxX);
        lo[v] = std::min(lo[v], b.minY);
        hi[v] = std::max(hi[v], b.maxY);
    }
    for (int a = 0; a < kAxes; ++a) {
        double mn = FMin[a], mx = FMax[a];
        if (FAuto[a]) {
            if (lo[a] > hi[a]) {
                mn = 0;
                mx = 1;
            } else {
                mn = lo[a];
                mx = hi[a];
                if (mn == mx) {
                    // One value: a span around it (a second either side on a date-time axis).
                    const double half = a == Bottom && FDateTime ? 1.0 / 86400 : 0.5;
                    mn -= half;
                    mx += half;
                }
            }
        }
        FAxes[a]->setRange(mn, mx);
    }
    UpdateTickLabels();
    PlotChanged();
}

// The labelled values of an axis over its range and their texts: whole multiples of a step of 1, 2 or
// 5 times a power of ten (date-times: of the usual time steps from midnight UT), about one every 90
// pixels across and 40 up.
QStringList TChart::TickLabels(Axis axis, std::vector<double>& values) const
{
    QStringList labels;
    values.clear();
    const double mn = FAxes[axis]->min(), mx = FAxes[axis]->max();
    if (!(mx > mn) || !std::isfinite(mn) || !std::isfinite(mx)) return labels;
    const QRectF area = PlotArea();
    const bool across = axis == Bottom;
    const double pixels = across ? std::max(area.width(), double(viewport()->width()) * 0.8)
                                 : std::max(area.height(), double(viewport()->height()) * 0.7);
    const int count = std::max(2, static_cast<int>(pixels / (across ? 90 : 40)));
    auto add = [&](QString label, double value) {
        // The axis needs distinct labels: the same text twice gets an invisible mark.
        while (labels.contains(label)) label += QChar(0x200B);
        labels << label;
        values.push_back(value);
    };
    if (across && FDateTime) {
        bool midnights = false;
        const std::vector<double> ticks = TimeTicks(mn, mx, count, midnights);
        const std::string format = TimeLabelFormat(mn, mx, midnights).toStdString();
        for (double tick : ticks) add(QString::fromStdString(FormatDateTime(format, tick)), tick);
        return labels;
    }
    const double raw = (mx - mn) / count;
    double step = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (raw <= m * std::pow(10.0, std::floor(std::log10(raw))) * (1 + 1e-9)) {
            step = m * std::pow(10.0, std::floor(std::log10(raw)));
            break;
        }
    int decimals = std::max(0, static_cast<int>(std::ceil(-std::log10(step) - 1e-9)));
    if (FDecimals[axis] >= 0) {
        // The format's decimals: no step finer than they show.
        step = std::max(step, std::pow(10.0, -FDecimals[axis]));
        decimals = FDecimals[axis];
    }
    for (double k = std::ceil(mn / step - 1e-9); k * step <= mx + step * 1e-9; ++k) {
        QString text = QString::number(k * step, 'f', decimals);
        // A tick a rounding error below zero reads 0, not -0.
        if (text.startsWith('-') && text.count(QRegularExpression("[1-9]")) == 0) text.remove(0, 1);
        add(text, k * step);
    }
    return labels;
}

// Within one UT day the caller's format; past a day each label carries its date, and labels on
// midnights their date alone (with the year when the span reaches into another).
QString TChart::TimeLabelFormat(double minimum, double maximum, bool midnights) const
{
    if (std::floor(minimum) == std::floor(maximum)) return FTimeFormat;
    if (!midnights) return FTimeFormat.contains(QStringLiteral("dd")) ? FTimeFormat : QStringLiteral("dd/mm ") + FTimeFormat;
    return SameYear(minimum, maximum) ? QStringLiteral("dd/mm") : QStringLiteral("dd/mm/yyyy");
}

void TChart::UpdateTickLabels()
{
    for (int a = 0; a < kAxes; ++a) UpdateTickLabels(static_cast<Axis>(a));
}

void TChart::UpdateTickLabels(Axis axis)
{
    QCategoryAxis* a = FAxes[axis];
    std::vector<double> values;
    const QStringList labels = TickLabels(axis, values);
    // Unchanged labels are left alone: a new set moves the plot area, which asks for labels again.
    bool same = labels == a->categoriesLabels();
    for (int i = 0; same && i < labels.size(); ++i) same = a->endValue(labels[i]) == values[static_cast<size_t>(i)];
    if (same) return;
    const double mn = a->min(), mx = a->max();
    for (const QString& label : a->categoriesLabels()) a->remove(label);
    a->setStartValue(mn - 1e-9 * std::max(1.0, std::abs(mn)));
    for (int i = 0; i < labels.size(); ++i) a->append(labels[i], values[static_cast<size_t>(i)]);
    a->setRange(mn, mx);
}

void TChart::Repaint()
{
    if (FLegendDirty) UpdateLegend();
    Rescale();
    FCanvasDirty = false;
    FCanvas = QImage();
    viewport()->update();
}

// The chart view shows its scene unscrolled and unscaled: scene coordinates are view pixels.
QRectF TChart::PlotArea() const { return FChart->mapRectToScene(FChart->plotArea()); }

double TChart::ScreenToValue(Axis axis, double pixel) const
{
    const QRectF area = PlotArea();
    const double mn = AxisMinimum(axis), mx = AxisMaximum(axis);
    if (axis == Bottom) return area.width() <= 0 ? mn : mn + (pixel - area.left()) * (mx - mn) / area.width();
    return area.height() <= 0 ? mn : mx - (pixel - area.top()) * (mx - mn) / area.height();
}

double TChart::ValueToScreen(Axis axis, double value) const
{
    const QRectF area = PlotArea();
    const double mn = AxisMinimum(axis), mx = AxisMaximum(axis);
    if (axis == Bottom) return mx == mn ? area.left() : area.left() + (value - mn) * area.width() / (mx - mn);
    return mx == mn ? area.bottom() : area.top() + (mx - value) * area.height() / (mx - mn);
}

double TChart::YScreenToValue(double py, const TChartSeries* series) const
{
    return ScreenToValue(series ? static_cast<Axis>(series->VerticalAxis()) : Left, py);
}

double TChart::YValueToScreen(double y, const TChartSeries* series) const
{
    return ValueToScreen(series ? static_cast<Axis>(series->VerticalAxis()) : Left, y);
}

void TChart::PushZoom()
{
    Ranges before{};
    for (int a = 0; a < kAxes; ++a) {
        before.automatic[a] = FAuto[a];
        before.minimum[a] = FMin[a];
        before.maximum[a] = FMax[a];
    }
    FZoomStack.push_back(before);
    FZoomed = true;
}

void TChart::ZoomRect(const QRectF& pixels)
{
    const QRectF r = pixels.normalized();
    if (r.width() < 3 || r.height() < 3) return;
    double to[kAxes][2];
    for (int a = 0; a < kAxes; ++a) {
        const auto axis = static_cast<Axis>(a);
        to[a][0] = ScreenToValue(axis, a == Bottom ? r.left() : r.bottom());
        to[a][1] = ScreenToValue(axis, a == Bottom ? r.right() : r.top());
    }
    PushZoom();
    for (int a = 0; a < kAxes; ++a) {
        FAuto[a] = false;
        FMin[a] = to[a][0];
        FMax[a] = to[a][1];
    }
    Rescale();
    if (OnZoom) OnZoom();
}

void TChart::ZoomBottomRange(double minimum, double maximum)
{
    PushZoom();
    FAuto[Bottom] = false;
    FMin[Bottom] = minimum;
    FMax[Bottom] = maximum;
    FAuto[Left] = FAuto[Right] = true;
    Rescale();
    if (OnZoom) OnZoom();
}

void TChart::UndoZoom()
{
    if (!FZoomStack.empty()) {
        const Ranges r = FZoomStack.front();
        FZoomStack.clear();
        for (int a = 0; a < kAxes; ++a) {
            FAuto[a] = r.automatic[a];
            FMin[a] = r.minimum[a];
            FMax[a] = r.maximum[a];
        }
    }
    FZoomed = false;
    Rescale();
    if (OnUndoZoom) OnUndoZoom();
}

void TChart::ScrollAxis(Axis axis, double delta)
{
    // A pan is a change of view like a zoom: undoing the zoom returns to the view before it.
    if (FPanDragging && !FPanned) {
        FPanned = true;
        if (FZoomStack.empty()) PushZoom();
    }
    const double mn = AxisMinimum(axis), mx = AxisMaximum(axis);
    FAuto[axis] = false;
    FMin[axis] = mn + delta;
    FMax[axis] = mx + delta;
    Rescale();
}

QImage TChart::Grab()
{
    if (FLegendDirty) UpdateLegend();
    return grab().toImage();
}

void TChart::CopyToClipboard()
{
    if (QClipboard* cb = QApplication::clipboard()) cb->setImage(Grab());
}

void TChart::Print(QPaintDevice& device)
{
    QPainter painter(&device);
    const QRect page = painter.viewport();
    QSizeF size = viewport()->size();
    size.scale(page.size(), Qt::KeepAspectRatio);
    const QRectF target(page.left() + (page.width() - size.width()) / 2, page.top(), size.width(), size.height());
    render(&painter, target, viewport()->rect(), Qt::KeepAspectRatio);
}

bool TChart::PrintWithDialog(QWidget* parent)
{
    QPrinter printer(QPrinter::HighResolution);
    printer.setPageOrientation(QPageLayout::Landscape);
    QPrintDialog dialog(&printer, parent ? parent : this);
    dialog.setObjectName("PrintDialog");
    if (dialog.exec() != QDialog::Accepted) return false;
    Print(printer);
    return true;
}

QImage& TChart::Canvas()
{
    if (FCanvas.size() != viewport()->size()) {
        FCanvas = QImage(viewport()->size(), QImage::Format_ARGB32_Premultiplied);
        FCanvas.fill(Qt::transparent);
    }
    FCanvasDirty = true;
    return FCanvas;
}

void TChart::paintEvent(QPaintEvent* event)
{
    QChartView::paintEvent(event);
    if (FCanvasDirty && !FCanvas.isNull()) {
        QPainter p(viewport());
        p.drawImage(0, 0, FCanvas);
    }
    if (FDragging && FDragNow != FDragStart) {
        // The zoom rectangle while the left button is held.
        QPainter p(viewport());
        p.setPen(QPen(Qt::black, 1, Qt::DashLine));
        p.drawRect(QRect(FDragStart, FDragNow).normalized());
    }
}

void TChart::resizeEvent(QResizeEvent* event)
{
    QChartView::resizeEvent(event);
    FCanvas = QImage();
    FCanvasDirty = false;
    UpdateLegend();
    UpdateTickLabels();
}

void TChart::mousePressEvent(QMouseEvent* event)
{
    const QPoint p = event->position().toPoint();
    if (OnMouseDown) OnMouseDown(event->button(), event->modifiers(), p.x(), p.y());
    if (event->button() == Qt::LeftButton && FAllowZoom) {
        FDragging = true;
        FDragStart = FDragNow = p;
    } else if (event->button() == Qt::RightButton && FPanning != PanNone) {
        FPanDragging = true;
        FPanned = false;
        FDragStart = p;
    }
    event->accept();
}

void TChart::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint p = event->position().toPoint();
    if (OnMouseMove) OnMouseMove(event->modifiers(), p.x(), p.y());
    if (FDragging) {
        FDragNow = p;
        viewport()->update();
    }
    if (FPanDragging) {
        if (FPanning == PanHorizontal || FPanning == PanBoth)
            ScrollAxis(Bottom, XScreenToValue(FDragStart.x()) - XScreenToValue(p.x()));
        if (FPanning == PanVertical || FPanning == PanBoth) {
            const double dy[2] = {ScreenToValue(Left, FDragStart.y()) - ScreenToValue(Left, p.y()),
                                  ScreenToValue(Right, FDragStart.y()) - ScreenToValue(Right, p.y())};
            ScrollAxis(Left, dy[0]);
            if (FAxes[Right]->isVisible()) ScrollAxis(Right, dy[1]);
        }
        FDragStart = p;
    }
    event->accept();
}

void TChart::mouseReleaseEvent(QMouseEvent* event)
{
    const QPoint p = event->position().toPoint();
    if (OnMouseUp) OnMouseUp(event->button(), event->modifiers(), p.x(), p.y());
    if (FDragging && event->button() == Qt::LeftButton) {
        FDragging = false;
        viewport()->update();
        // Dragging to the left and up undoes the zoom, to the right and down zooms.
        if (p.x() < FDragStart.x() && p.y() < FDragStart.y())
            UndoZoom();
        else
            ZoomRect(QRectF(FDragStart, p));
    }
    if (event->button() == Qt::RightButton) FPanDragging = false;
    event->accept();
}
