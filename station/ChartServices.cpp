#include "station/ChartServices.h"

#include <QApplication>
#include <QCategoryAxis>
#include <QChart>
#include <QClipboard>
#include <QLegendMarker>
#include <QLineSeries>
#include <QMouseEvent>
#include <QPaintDevice>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QScatterSeries>
#include <QValueAxis>

#include <algorithm>
#include <cmath>
#include <limits>

#include "common/DateTime.h"

namespace {

constexpr int kPointerSize = 7;

// The drawn pointer of the styles that Qt's marker shapes lack (triangles and crosses).
QImage PointerImage(int style, const QColor& color)
{
    QImage image(kPointerSize, kPointerSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(QPen(color, 1));
    p.setBrush(color);
    const int m = kPointerSize - 1, c = kPointerSize / 2;
    switch (style) {
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
    default: break;
    }
    return image;
}

bool DrawnPointer(int style)
{
    return style == psTriangle || style == psDownTriangle || style == psCross || style == psDiagCross;
}

// The step between two date-time labels, in seconds: the smallest of the usual steps that keeps
// the labels at most `count` over `spanSeconds`.
double TimeStep(double spanSeconds, int count)
{
    static const double steps[] = {1,     2,     5,     10,    15,     30,     60,      120,     300,     600,
                                   900,   1800,  3600,  7200,  10800,  21600,  43200,   86400,   172800,  604800,
                                   1209600, 2592000, 7776000, 15552000, 31536000};
    for (double s : steps)
        if (spanSeconds / s <= count) return s;
    return std::ceil(spanSeconds / count / 31536000.0) * 31536000.0;
}

}  // namespace

// ---- series -------------------------------------------------------------------------------------------

TChartSeries::TChartSeries(TChart& chart, QXYSeries* series, TSeriesKind kind, int verticalAxis)
    : Series(series), Kind(kind), FChart(chart), FVertical(verticalAxis), FPointerVisible(kind == TSeriesKind::Point)
{
}

void TChartSeries::AddXY(double x, double y) { Series->append(x, y); }
int TChartSeries::Count() const { return static_cast<int>(Series->count()); }
double TChartSeries::XValue(int i) const { return Series->at(i).x(); }
double TChartSeries::YValue(int i) const { return Series->at(i).y(); }
void TChartSeries::Delete(int i) { Series->remove(i); }
void TChartSeries::Clear() { Series->clear(); }
void TChartSeries::SetTitle(const QString& title) { Series->setName(title); }
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
    if (auto* scatter = qobject_cast<QScatterSeries*>(Series))
        scatter->setMarkerShape(style == psRectangle ? QScatterSeries::MarkerShapeRectangle
                                                     : QScatterSeries::MarkerShapeCircle);
    UpdatePointer();
}

void TChartSeries::SetPointerVisible(bool on)
{
    FPointerVisible = on;
    UpdatePointer();
}

void TChartSeries::UpdatePointer()
{
    if (Kind == TSeriesKind::Line) Series->setPointsVisible(FPointerVisible);
    const bool drawn = FPointerVisible && DrawnPointer(PointerStyle);
    Series->setLightMarker(drawn ? PointerImage(PointerStyle, Series->color()) : QImage());
    if (auto* scatter = qobject_cast<QScatterSeries*>(Series)) {
        // A point series without pointers shows nothing; with a drawn pointer the shape stays hidden.
        scatter->setMarkerSize(FPointerVisible ? kPointerSize : 0);
        if (!FPointerVisible) scatter->setLightMarker(QImage());
    }
}

void TChartSeries::SetLineVisible(bool on)
{
    if (Kind != TSeriesKind::Line) return;
    QPen pen = Series->pen();
    pen.setStyle(on ? Qt::SolidLine : Qt::NoPen);
    Series->setPen(pen);
}

void TChartSeries::SetShowInLegend(bool on)
{
    if (!Series->chart()) return;
    for (QLegendMarker* m : Series->chart()->legend()->markers(Series)) m->setVisible(on);
}

void TChartSeries::SetVisible(bool on) { Series->setVisible(on); }
bool TChartSeries::Visible() const { return Series->isVisible(); }

int TChartSeries::Clicked(int x, int y) const
{
    if (!Visible()) return -1;
    constexpr double kNear = 4.0;
    const auto vertical = static_cast<TChart::Axis>(FVertical);
    for (int i = Count() - 1; i >= 0; --i) {
        const double px = FChart.ValueToScreen(TChart::Bottom, XValue(i));
        const double py = FChart.ValueToScreen(vertical, YValue(i));
        if (std::abs(px - x) <= kNear && std::abs(py - y) <= kNear) return i;
    }
    return -1;
}

// ---- chart --------------------------------------------------------------------------------------------

TChart::TChart(QWidget* parent)
    : QChartView(parent), FChart(new QChart()), FLeft(new QValueAxis()), FRight(new QValueAxis()),
      FBottomValue(new QValueAxis()), FBottomTime(new QCategoryAxis())
{
    setChart(FChart);
    FChart->addAxis(FBottomValue, Qt::AlignBottom);
    FChart->addAxis(FLeft, Qt::AlignLeft);
    FChart->addAxis(FRight, Qt::AlignRight);
    FRight->setVisible(false);
    // Labels at the ticks we choose, in UT (never the local time zone).
    FBottomTime->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    setRenderHint(QPainter::Antialiasing);
}

TChart::~TChart()
{
    // The chart owns the series and axes; the wrappers go first.
    FSeries.clear();
}

void TChart::SetTitle(const QString& title) { FChart->setTitle(title); }
QString TChart::Title() const { return FChart->title(); }
void TChart::SetLegendVisible(bool on) { FChart->legend()->setVisible(on); }
void TChart::SetColor(const QColor& color) { FChart->setBackgroundBrush(color); }
QColor TChart::Color() const { return FChart->backgroundBrush().color(); }

QAbstractAxis* TChart::AxisObject(Axis axis) const
{
    if (axis == Left) return FLeft;
    if (axis == Right) return FRight;
    return FDateTime ? static_cast<QAbstractAxis*>(FBottomTime) : static_cast<QAbstractAxis*>(FBottomValue);
}

QValueAxis* TChart::ValueAxis(Axis axis) const
{
    if (axis == Left) return FLeft;
    if (axis == Right) return FRight;
    return FDateTime ? FBottomTime : FBottomValue;
}

void TChart::AttachAxes(TChartSeries& series)
{
    for (QAbstractAxis* a : series.Series->attachedAxes()) series.Series->detachAxis(a);
    series.Series->attachAxis(AxisObject(Bottom));
    series.Series->attachAxis(AxisObject(static_cast<Axis>(series.VerticalAxis())));
}

void TChart::UpdateRightAxis()
{
    const bool used = std::any_of(FSeries.begin(), FSeries.end(), [](const auto& s) { return s->VerticalAxis() == Right; });
    FRight->setVisible(used);
}

QXYSeries* TChart::NewSeries(TSeriesKind kind, const QString& title)
{
    QXYSeries* s = kind == TSeriesKind::Line ? static_cast<QXYSeries*>(new QLineSeries())
                                             : static_cast<QXYSeries*>(new QScatterSeries());
    s->setName(title);
    if (auto* scatter = qobject_cast<QScatterSeries*>(s)) scatter->setMarkerSize(kPointerSize);
    FChart->addSeries(s);
    return s;
}

TChartSeries* TChart::Add(std::unique_ptr<TChartSeries> series)
{
    AttachAxes(*series);
    if (series->Kind == TSeriesKind::Point) series->SetPointerStyle(psCircle);
    FSeries.push_back(std::move(series));
    UpdateRightAxis();
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

double TChart::AxisMinimum(Axis axis) const { return ValueAxis(axis)->min(); }
double TChart::AxisMaximum(Axis axis) const { return ValueAxis(axis)->max(); }

void TChart::SetAxisTitle(Axis axis, const QString& title)
{
    if (axis == Bottom) {
        FBottomValue->setTitleText(title);
        FBottomTime->setTitleText(title);
    } else {
        ValueAxis(axis)->setTitleText(title);
    }
}

QString TChart::AxisTitle(Axis axis) const { return ValueAxis(axis)->titleText(); }

void TChart::SetValueFormat(Axis axis, const QString& pattern)
{
    const int dot = pattern.indexOf('.');
    const int decimals = dot < 0 ? 0 : static_cast<int>(pattern.size() - dot - 1);
    const QString format = QStringLiteral("%.%1f").arg(decimals);
    (axis == Bottom ? FBottomValue : ValueAxis(axis))->setLabelFormat(format);
}

void TChart::SetBottomDateTime(bool on, const QString& format)
{
    FTimeFormat = format;
    if (on != FDateTime) {
        FChart->removeAxis(AxisObject(Bottom));
        FDateTime = on;
        FChart->addAxis(AxisObject(Bottom), Qt::AlignBottom);
        for (auto& s : FSeries) AttachAxes(*s);
    }
    Rescale();
}

QStringList TChart::BottomDateTimeLabels() const
{
    QStringList labels;
    if (!FDateTime) return labels;
    // Labels made unique with zero-width spaces are shown without them.
    for (QString label : FBottomTime->categoriesLabels()) labels << label.remove(QChar(0x200B));
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
        for (const QPointF& p : s->Series->points()) {
            lo[Bottom] = std::min(lo[Bottom], p.x());
            hi[Bottom] = std::max(hi[Bottom], p.x());
            lo[v] = std::min(lo[v], p.y());
            hi[v] = std::max(hi[v], p.y());
        }
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
        ValueAxis(static_cast<Axis>(a))->setRange(mn, mx);
    }
    UpdateTimeLabels();
}

void TChart::UpdateTimeLabels()
{
    if (!FDateTime) return;
    const double mn = FBottomTime->min(), mx = FBottomTime->max();
    for (const QString& label : FBottomTime->categoriesLabels()) FBottomTime->remove(label);
    const double width = std::max(PlotArea().width(), double(viewport()->width()) * 0.8);
    const int count = std::max(2, static_cast<int>(width / 90));
    const double step = TimeStep((mx - mn) * 86400.0, count);
    // Ticks on whole multiples of the step from midnight UT, in whole seconds.
    const double first = std::ceil(std::round(mn * 86400.0 * 1000.0) / 1000.0 / step) * step;
    FBottomTime->setStartValue(mn - 1e-9);
    QStringList used;
    for (double t = first; t / 86400.0 <= mx + 1e-9; t += step) {
        QString label = QString::fromStdString(FormatDateTime(FTimeFormat.toStdString(), t / 86400.0));
        // The axis needs distinct labels: the same text twice gets an invisible mark.
        while (used.contains(label)) label += QChar(0x200B);
        used << label;
        FBottomTime->append(label, t / 86400.0);
    }
    FBottomTime->setRange(mn, mx);
}

void TChart::Repaint()
{
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
    UpdateTimeLabels();
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
            if (FRight->isVisible()) ScrollAxis(Right, dy[1]);
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
