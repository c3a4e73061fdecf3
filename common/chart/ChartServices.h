#pragma once
// Chart services on Qt Charts: line and point series on a bottom axis and a left or right axis,
// fixed or automatic ranges, value formats, a bottom axis of date-times (day numbers with a
// fraction, labelled in UT), zoom by dragging with undo, right-button pan, conversions between
// screen pixels and values, printing, a canvas the callers may draw on (replaced by the next repaint)
// and its mouse events. Used by the throughput chart of the main window and by the plug-in windows.
//
// Qt Charts lays out every point of its own series again on each change, and a point series as one
// graphics item a point: hundreds of thousands of points would take minutes. So the points live here,
// and one plot item draws them (each pointer once per pixel); Qt Charts draws the axes, its series
// holding the names, colours and visibility but no points. The legend is our own (TChartLegend):
// Qt's cuts the entries that do not fit the chart's height.
#include <QChartView>
#include <QColor>
#include <QFont>
#include <QImage>
#include <QList>
#include <QMargins>
#include <QPointF>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

class QAbstractAxis;
class QCategoryAxis;
class QPaintDevice;
class QValueAxis;
class QXYSeries;
class QChart;
class TChart;
class TChartLegend;
class TChartPlot;

enum class TSeriesKind { Line, Point };

// Pointer styles as the windows number them.
enum TPointerStyle { psRectangle = 0, psCircle = 1, psTriangle = 2, psDownTriangle = 3, psCross = 4, psDiagCross = 5 };

class TChartSeries {
public:
    TChartSeries(TChart& chart, QXYSeries* series, TSeriesKind kind, int verticalAxis);
    virtual ~TChartSeries() = default;

    void AddXY(double x, double y);
    // Points added together (one drawing for all of them).
    void AddPoints(const QList<QPointF>& points);
    int Count() const { return static_cast<int>(FPoints.size()); }
    double XValue(int i) const { return FPoints[i].x(); }
    double YValue(int i) const { return FPoints[i].y(); }
    const QList<QPointF>& Points() const { return FPoints; }
    void Delete(int i);
    // Deletes the points at these indexes (any order, repeats allowed) in one pass.
    void Delete(std::vector<int> indexes);
    void Clear();
    void SetTitle(const QString& title);
    QString Title() const;
    void SetColor(const QColor& color);
    QColor Color() const;
    void SetPointerStyle(int style);
    void SetPointerVisible(bool on);
    void SetLineVisible(bool on);
    void SetShowInLegend(bool on);
    bool ShowInLegend() const { return FShowInLegend; }
    // A hidden series is not drawn and takes no part in automatic ranges.
    void SetVisible(bool on);
    bool Visible() const;
    // The vertical axis the series is drawn against (TChart::Left or TChart::Right).
    int VerticalAxis() const { return FVertical; }
    // The index of the point drawn within `pixels` of (x, y) of the chart view, or -1.
    int Clicked(int x, int y, double pixels = 4.0) const;
    bool PointerVisible() const { return FPointerVisible; }
    bool LineVisible() const { return Kind == TSeriesKind::Line && FLineVisible; }
    // The pointer as drawn at each point (empty when pointers are hidden).
    const QImage& PointerImage() const { return FPointerImage; }
    // The smallest and largest x and y of the points (minima above maxima when there are none), kept
    // until the points change: automatic ranges read them at every change of axes.
    struct Bounds {
        double minX, maxX, minY, maxY;
    };
    const Bounds& PointBounds() const;

    // Name, colour, pen and visibility of the series; it holds no points.
    QXYSeries* Series;
    TSeriesKind Kind;
    int PointerStyle = psCircle;

private:
    void UpdatePointer();
    void PointsChanged();
    TChart& FChart;
    int FVertical;
    bool FPointerVisible;
    bool FLineVisible = true;
    bool FShowInLegend = true;
    QList<QPointF> FPoints;
    QImage FPointerImage;
    mutable Bounds FBounds{};
    mutable bool FBoundsKnown = false;
};

// The two kinds under the names the windows use.
class TLineSeries : public TChartSeries {
public:
    using TChartSeries::TChartSeries;
};
class TPointSeries : public TChartSeries {
public:
    using TChartSeries::TChartSeries;
};

class TChart : public QChartView {
    Q_OBJECT
public:
    enum Axis { Bottom = 0, Left = 1, Right = 2 };
    enum Panning { PanNone, PanHorizontal, PanVertical, PanBoth };

    explicit TChart(QWidget* parent = nullptr);
    ~TChart() override;

    void SetTitle(const QString& title);
    QString Title() const;
    void SetLegendVisible(bool on);
    // The entries of the legend as laid out: each series' name and the rectangle of its marker and
    // name, in pixels of the chart view.
    struct TLegendEntry {
        QString Name;
        QRectF Rect;
    };
    QList<TLegendEntry> LegendEntries();
    QFont LegendFont() const;
    // A series' name, colour, styles or listing changed: the legend is laid out again.
    void LegendChanged();
    void SetView3D(bool on) { View3D = on; }  // kept for the callers; drawn flat
    bool View3D = false;
    // The chart's background colour (white for copies and prints).
    void SetColor(const QColor& color);
    QColor Color() const;

    // Series appear in the legend in creation order; vertical is Left or Right. Points, titles and
    // styles show at once; automatic axis ranges follow the points at the next Repaint.
    TChartSeries* AddSeries(TSeriesKind kind, const QString& title = QString(), Axis vertical = Left);
    TLineSeries* AddLineSeries(const QString& title = QString(), Axis vertical = Left);
    TPointSeries* AddPointSeries(const QString& title = QString(), Axis vertical = Left);
    void FreeAllSeries();
    int SeriesCount() const { return static_cast<int>(FSeries.size()); }
    TChartSeries* Series(int index) const { return FSeries[static_cast<size_t>(index)].get(); }

    // Axes: a fixed range holds until automatic is set again. The right axis shows when a series
    // is drawn against it.
    void SetAxisRange(Axis axis, double minimum, double maximum);
    void SetAxisAutomatic(Axis axis);
    bool AxisAutomatic(Axis axis) const { return FAuto[axis]; }
    double AxisMinimum(Axis axis) const;
    double AxisMaximum(Axis axis) const;
    void SetAxisTitle(Axis axis, const QString& title);
    QString AxisTitle(Axis axis) const;
    // A "#,##0.###" style pattern: the number of '0' and '#' after the point gives the decimals.
    void SetValueFormat(Axis axis, const QString& pattern);
    // The bottom axis shows date-times (day numbers with a fraction, UT) labelled with this format
    // (tokens yyyy yy mm dd hh nn ss, n for minutes) while the shown span lies within one day; past
    // a day every label carries its date.
    void SetBottomDateTime(bool on, const QString& format = QStringLiteral("hh:nn"));
    bool BottomDateTime() const { return FDateTime; }
    void SetExactDateTime(bool on) { ExactDateTime = on; }
    bool ExactDateTime = false;
    // The labels on show on the bottom axis of date-times, left to right.
    QStringList BottomDateTimeLabels() const;

    // Zoom by dragging with the left button when allowed; undo returns to the ranges before.
    void SetAllowZoom(bool on) { FAllowZoom = on; }
    bool AllowZoom() const { return FAllowZoom; }
    void ZoomRect(const QRectF& pixels);
    // Zooms to a bottom-axis range over the full vertical ranges (a chart following another's zoom).
    void ZoomBottomRange(double minimum, double maximum);
    void UndoZoom();
    bool Zoomed() const { return FZoomed; }
    // Dragging with the right button scrolls these axes (both by default).
    void SetPanning(Panning mode) { FPanning = mode; }
    // Scrolls an axis by a number of values.
    void ScrollAxis(Axis axis, double delta);

    // Pixels of the chart view to values and back, through the current axis ranges; exact inverses.
    double ScreenToValue(Axis axis, double pixel) const;
    double ValueToScreen(Axis axis, double value) const;
    double XScreenToValue(double px) const { return ScreenToValue(Bottom, px); }
    double YScreenToValue(double py, Axis vertical = Left) const { return ScreenToValue(vertical, py); }
    double XValueToScreen(double x) const { return ValueToScreen(Bottom, x); }
    double YValueToScreen(double y, Axis vertical = Left) const { return ValueToScreen(vertical, y); }
    // Through a series' own axes.
    double YScreenToValue(double py, const TChartSeries* series) const;
    double YValueToScreen(double y, const TChartSeries* series) const;
    QRectF PlotArea() const;

    void Repaint();
    // The points or styles of a series changed: drawn again with the next paint.
    void PlotChanged();
    QImage Grab();
    void CopyToClipboard();
    // Draws the whole chart as shown, scaled to fit the device's page (a printer, a PDF writer).
    void Print(QPaintDevice& device);
    // The print dialog, then the chart on the chosen printer; false when cancelled.
    bool PrintWithDialog(QWidget* parent = nullptr);
    // What callers draw on, shown over the chart until the next repaint. It starts transparent, so
    // pixels saved from it and written back take a figure away.
    QImage& Canvas();
    void CanvasChanged() { viewport()->update(); }

    std::function<void()> OnZoom, OnUndoZoom;
    std::function<void(Qt::MouseButton, Qt::KeyboardModifiers, int x, int y)> OnMouseDown, OnMouseUp;
    std::function<void(Qt::KeyboardModifiers, int x, int y)> OnMouseMove;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    static constexpr int kAxes = 3;
    TChartSeries* Add(std::unique_ptr<TChartSeries> series);
    void PushZoom();
    QXYSeries* NewSeries(TSeriesKind kind, const QString& title);
    void Rescale();
    void UpdateTickLabels();
    void UpdateTickLabels(Axis axis);
    QStringList TickLabels(Axis axis, std::vector<double>& values) const;
    QString TimeLabelFormat(double minimum, double maximum, bool midnights) const;
    void UpdateLegend();
    QValueAxis* ValueAxis(Axis axis) const;
    void AttachAxes(TChartSeries& series);
    void UpdateRightAxis();

    QChart* FChart;
    QCategoryAxis* FAxes[3];
    TChartPlot* FPlot;
    TChartLegend* FLegend;
    QMargins FMargins;  // the chart's own, without the legend
    bool FLegendVisible = true, FLegendDirty = false, FLegendQueued = false;
    QString FTimeFormat = QStringLiteral("hh:nn");
    bool FDateTime = false;
    int FDecimals[3] = {-1, -1, -1};  // -1: as many as the tick step needs
    bool FAuto[kAxes] = {true, true, true};
    double FMin[kAxes] = {0, 0, 0}, FMax[kAxes] = {1, 1, 1};
    std::vector<std::unique_ptr<TChartSeries>> FSeries;
    bool FAllowZoom = true, FZoomed = false;
    Panning FPanning = PanBoth;
    struct Ranges {
        bool automatic[kAxes];
        double minimum[kAxes], maximum[kAxes];
    };
    std::vector<Ranges> FZoomStack;
    QPoint FDragStart, FDragNow;
    bool FDragging = false, FPanDragging = false, FPanned = false;
    QImage FCanvas;
    bool FCanvasDirty = false;
};
