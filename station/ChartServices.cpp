#include "station/ChartServices.h"

#include <QApplication>
#include <QChart>
#include <QClipboard>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QLegendMarker>
#include <QLineSeries>
#include <QMouseEvent>
#include <QPainter>
#include <QScatterSeries>
#include <QValueAxis>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {
// Day numbers from 1899-12-30 to milliseconds since the epoch (UTC) and back.
constexpr double kEpochDays = 25569.0;
double DaysToMs(double days) { return (days - kEpochDays) * 86400000.0; }
double MsToDays(double ms) { return ms / 86400000.0 + kEpochDays; }
}  // namespace

// ---- series -------------------------------------------------------------------------------------------

void TChartSeries::AddXY(double x, double y) { Series->append(x, y); }
int TChartSeries::Count() const { return static_cast<int>(Series->count()); }
double TChartSeries::XValue(int i) const { return Series->at(i).x(); }
double TChartSeries::YValue(int i) const { return Series->at(i).y(); }
void TChartSeries::Clear() { Series->clear(); }
void TChartSeries::SetTitle(const QString& title) { Series->setName(title); }
QString TChartSeries::Title() const { return Series->name(); }
void TChartSeries::SetColor(const QColor& color) { Series->setColor(color); }
QColor TChartSeries::Color() const { return Series->color(); }

void TChartSeries::SetPointerStyle(int style)
{
    PointerStyle = style;
    if (auto* scatter = qobject_cast<QScatterSeries*>(Series))
        scatter->setMarkerShape(style == 2 || style == 4 ? QScatterSeries::MarkerShapeRectangle
                                                         : QScatterSeries::MarkerShapeCircle);
}

void TChartSeries::SetPointerVisible(bool on) { Series->setPointsVisible(on); }

void TChartSeries::SetLineVisible(bool on)
{
    QPen pen = Series->pen();
    pen.setStyle(on ? Qt::SolidLine : Qt::NoPen);
    if (Kind == TSeriesKind::Line) Series->setPen(pen);
}

void TChartSeries::SetShowInLegend(bool on)
{
    if (!Series->chart()) return;
    for (QLegendMarker* m : Series->chart()->legend()->markers(Series)) m->setVisible(on);
}

void TChartSeries::SetVisible(bool on) { Series->setVisible(on); }

// ---- chart --------------------------------------------------------------------------------------------

TChart::TChart(QWidget* parent)
    : QChartView(parent), FChart(new QChart()), FLeft(new QValueAxis()), FBottomValue(new QValueAxis()),
      FBottomTime(new QDateTimeAxis())
{
    setChart(FChart);
    FChart->addAxis(FBottomValue, Qt::AlignBottom);
    FChart->addAxis(FLeft, Qt::AlignLeft);
    FBottomTime->setFormat("hh:mm");
    setRenderHint(QPainter::Antialiasing);
}

TChart::~TChart()
{
    // The chart owns the series and axes; the wrappers go first.
    FSeries.clear();
}

void TChart::SetTitle(const QString& title) { FChart->setTitle(title); }
void TChart::SetLegendVisible(bool on) { FChart->legend()->setVisible(on); }

QAbstractAxis* TChart::AxisObject(Axis axis) const
{
    if (axis == Left) return FLeft;
    return FDateTime ? static_cast<QAbstractAxis*>(FBottomTime) : static_cast<QAbstractAxis*>(FBottomValue);
}

void TChart::AttachAxes(QXYSeries* series)
{
    for (QAbstractAxis* a : series->attachedAxes()) series->detachAxis(a);
    series->attachAxis(AxisObject(Bottom));
    series->attachAxis(FLeft);
}

TChartSeries* TChart::AddSeries(TSeriesKind kind, const QString& title)
{
    QXYSeries* s = kind == TSeriesKind::Line ? static_cast<QXYSeries*>(new QLineSeries())
                                             : static_cast<QXYSeries*>(new QScatterSeries());
    s->setName(title);
    if (kind == TSeriesKind::Point) static_cast<QScatterSeries*>(s)->setMarkerSize(6);
    FChart->addSeries(s);
    AttachAxes(s);
    FSeries.push_back(std::make_unique<TChartSeries>(s, kind));
    return FSeries.back().get();
}

void TChart::FreeAllSeries()
{
    FSeries.clear();
    FChart->removeAllSeries();
}

double TChart::ToAxisX(double x) const { return FDateTime ? DaysToMs(x) : x; }
double TChart::FromAxisX(double x) const { return FDateTime ? MsToDays(x) : x; }

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

double TChart::AxisMinimum(Axis axis) const
{
    if (axis == Left) return FLeft->min();
    return FDateTime ? MsToDays(double(FBottomTime->min().toMSecsSinceEpoch())) : FBottomValue->min();
}

double TChart::AxisMaximum(Axis axis) const
{
    if (axis == Left) return FLeft->max();
    return FDateTime ? MsToDays(double(FBottomTime->max().toMSecsSinceEpoch())) : FBottomValue->max();
}

void TChart::SetAxisTitle(Axis axis, const QString& title)
{
    if (axis == Left) {
        FLeft->setTitleText(title);
    } else {
        FBottomValue->setTitleText(title);
        FBottomTime->setTitleText(title);
    }
}

void TChart::SetValueFormat(Axis axis, const QString& pattern)
{
    const int dot = pattern.indexOf('.');
    const int decimals = dot < 0 ? 0 : static_cast<int>(pattern.size() - dot - 1);
    const QString format = QStringLiteral("%.%1f").arg(decimals);
    (axis == Left ? FLeft : FBottomValue)->setLabelFormat(format);
}

void TChart::SetBottomDateTime(bool on, const QString& format)
{
    FBottomTime->setFormat(format);
    if (on == FDateTime) return;
    FChart->removeAxis(FDateTime ? static_cast<QAbstractAxis*>(FBottomTime) : static_cast<QAbstractAxis*>(FBottomValue));
    FDateTime = on;
    FChart->addAxis(AxisObject(Bottom), Qt::AlignBottom);
    for (auto& s : FSeries) AttachAxes(s->Series);
    Rescale();
}

void TChart::Rescale()
{
    double lo[2] = {std::numeric_limits<double>::max(), std::numeric_limits<double>::max()};
    double hi[2] = {std::numeric_limits<double>::lowest(), std::numeric_limits<double>::lowest()};
    for (auto& s : FSeries) {
        if (!s->Series->isVisible()) continue;
        for (const QPointF& p : s->Series->points()) {
            lo[0] = std::min(lo[0], p.x());
            hi[0] = std::max(hi[0], p.x());
            lo[1] = std::min(lo[1], p.y());
            hi[1] = std::max(hi[1], p.y());
        }
    }
    for (int a = 0; a < 2; ++a) {
        double mn = FMin[a], mx = FMax[a];
        if (FAuto[a]) {
            if (lo[a] > hi[a]) {
                mn = 0;
                mx = 1;
            } else {
                mn = lo[a];
                mx = hi[a];
                if (mn == mx) {
                    mn -= 0.5;
                    mx += 0.5;
                }
            }
        }
        if (a == Left) {
            FLeft->setRange(mn, mx);
        } else if (FDateTime) {
            FBottomTime->setRange(QDateTime::fromMSecsSinceEpoch(qint64(DaysToMs(mn)), Qt::UTC),
                                  QDateTime::fromMSecsSinceEpoch(qint64(DaysToMs(mx)), Qt::UTC));
        } else {
            FBottomValue->setRange(mn, mx);
        }
    }
}

void TChart::Repaint()
{
    Rescale();
    FCanvasDirty = false;
    FCanvas = QImage();
    viewport()->update();
}

QRectF TChart::PlotArea() const { return FChart->mapRectToScene(FChart->plotArea()); }

double TChart::XScreenToValue(double px) const
{
    const QRectF area = PlotArea();
    const double mn = AxisMinimum(Bottom), mx = AxisMaximum(Bottom);
    return area.width() <= 0 ? mn : mn + (px - area.left()) * (mx - mn) / area.width();
}

double TChart::YScreenToValue(double py) const
{
    const QRectF area = PlotArea();
    const double mn = AxisMinimum(Left), mx = AxisMaximum(Left);
    return area.height() <= 0 ? mn : mx - (py - area.top()) * (mx - mn) / area.height();
}

double TChart::XValueToScreen(double x) const
{
    const QRectF area = PlotArea();
    const double mn = AxisMinimum(Bottom), mx = AxisMaximum(Bottom);
    return mx == mn ? area.left() : area.left() + (x - mn) * area.width() / (mx - mn);
}

double TChart::YValueToScreen(double y) const
{
    const QRectF area = PlotArea();
    const double mn = AxisMinimum(Left), mx = AxisMaximum(Left);
    return mx == mn ? area.bottom() : area.top() + (mx - y) * area.height() / (mx - mn);
}

void TChart::ZoomRect(const QRectF& pixels)
{
    const QRectF r = pixels.normalized();
    if (r.width() < 3 || r.height() < 3) return;
    FZoomStack.push_back({FAuto[Bottom], FAuto[Left], FMin[Bottom], FMax[Bottom], FMin[Left], FMax[Left]});
    const double x0 = XScreenToValue(r.left()), x1 = XScreenToValue(r.right());
    const double y0 = YScreenToValue(r.bottom()), y1 = YScreenToValue(r.top());
    FAuto[Bottom] = FAuto[Left] = false;
    FMin[Bottom] = x0;
    FMax[Bottom] = x1;
    FMin[Left] = y0;
    FMax[Left] = y1;
    FZoomed = true;
    Rescale();
    if (OnZoom) OnZoom();
}

void TChart::UndoZoom()
{
    if (!FZoomStack.empty()) {
        const Ranges r = FZoomStack.front();
        FZoomStack.clear();
        FAuto[Bottom] = r.autoX;
        FAuto[Left] = r.autoY;
        FMin[Bottom] = r.minX;
        FMax[Bottom] = r.maxX;
        FMin[Left] = r.minY;
        FMax[Left] = r.maxY;
    }
    FZoomed = false;
    Rescale();
    if (OnUndoZoom) OnUndoZoom();
}

void TChart::ScrollAxis(Axis axis, double delta)
{
    const double mn = AxisMinimum(axis), mx = AxisMaximum(axis);
    FAuto[axis] = false;
    FMin[axis] = mn + delta;
    FMax[axis] = mx + delta;
    Rescale();
}

QImage TChart::Grab() { return grab().toImage(); }

void TChart::CopyToClipboard()
{
    if (QClipboard* cb = QApplication::clipboard()) cb->setImage(Grab());
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
}

void TChart::resizeEvent(QResizeEvent* event)
{
    QChartView::resizeEvent(event);
    FCanvas = QImage();
    FCanvasDirty = false;
}

void TChart::mousePressEvent(QMouseEvent* event)
{
    const QPoint p = event->position().toPoint();
    if (OnMouseDown) OnMouseDown(event->button(), event->modifiers(), p.x(), p.y());
    if (event->button() == Qt::LeftButton && FAllowZoom) {
        FDragging = true;
        FDragStart = p;
    } else if (event->button() == Qt::RightButton) {
        FPanning = true;
        FDragStart = p;
    }
    event->accept();
}

void TChart::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint p = event->position().toPoint();
    if (OnMouseMove) OnMouseMove(event->modifiers(), p.x(), p.y());
    if (FPanning) {
        ScrollAxis(Bottom, XScreenToValue(FDragStart.x()) - XScreenToValue(p.x()));
        ScrollAxis(Left, YScreenToValue(FDragStart.y()) - YScreenToValue(p.y()));
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
        // Dragging to the left and up undoes the zoom, to the right and down zooms.
        if (p.x() < FDragStart.x() && p.y() < FDragStart.y())
            UndoZoom();
        else
            ZoomRect(QRectF(FDragStart, p));
    }
    FPanning = false;
    event->accept();
}
