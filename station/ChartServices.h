#pragma once
// Chart services on Qt Charts: line and point series, axes with fixed or automatic ranges, value and
// date-time formats, zoom by dragging with undo, right-button pan, conversions between screen pixels
// and values, a canvas the callers may draw on (replaced by the next repaint) and its mouse events.
// Used by the throughput chart of the main window and by the plug-in windows.
#include <QChartView>
#include <QColor>
#include <QImage>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

class QAbstractAxis;
class QValueAxis;
class QDateTimeAxis;
class QXYSeries;
class QChart;

enum class TSeriesKind { Line, Point };

class TChartSeries {
public:
    TChartSeries(QXYSeries* series, TSeriesKind kind) : Series(series), Kind(kind) {}
    void AddXY(double x, double y);
    int Count() const;
    double XValue(int i) const;
    double YValue(int i) const;
    void Clear();
    void SetTitle(const QString& title);
    QString Title() const;
    void SetColor(const QColor& color);
    QColor Color() const;
    // Pointer styles as the windows number them (2 and 4 are used); any other number draws circles.
    void SetPointerStyle(int style);
    void SetPointerVisible(bool on);
    void SetLineVisible(bool on);
    void SetShowInLegend(bool on);
    void SetVisible(bool on);

    QXYSeries* Series;
    TSeriesKind Kind;
    int PointerStyle = 0;
};

class TChart : public QChartView {
    Q_OBJECT
public:
    enum Axis { Bottom = 0, Left = 1 };

    explicit TChart(QWidget* parent = nullptr);
    ~TChart() override;

    void SetTitle(const QString& title);
    void SetLegendVisible(bool on);
    void SetView3D(bool on) { View3D = on; }  // kept for the callers; drawn flat
    bool View3D = false;

    TChartSeries* AddSeries(TSeriesKind kind, const QString& title = QString());
    void FreeAllSeries();
    int SeriesCount() const { return static_cast<int>(FSeries.size()); }
    TChartSeries* Series(int index) const { return FSeries[static_cast<size_t>(index)].get(); }

    // Axes: a fixed range holds until automatic is set again.
    void SetAxisRange(Axis axis, double minimum, double maximum);
    void SetAxisAutomatic(Axis axis);
    bool AxisAutomatic(Axis axis) const { return FAuto[axis]; }
    double AxisMinimum(Axis axis) const;
    double AxisMaximum(Axis axis) const;
    void SetAxisTitle(Axis axis, const QString& title);
    // A "#,##0.###" style pattern: the number of '0' and '#' after the point gives the decimals.
    void SetValueFormat(Axis axis, const QString& pattern);
    // The bottom axis shows date-times (day numbers with a fraction) with this format.
    void SetBottomDateTime(bool on, const QString& format = QStringLiteral("hh:mm"));
    bool BottomDateTime() const { return FDateTime; }
    void SetExactDateTime(bool on) { ExactDateTime = on; }
    bool ExactDateTime = false;

    // Zoom by dragging with the left button when allowed; undo returns to the ranges before.
    void SetAllowZoom(bool on) { FAllowZoom = on; }
    bool AllowZoom() const { return FAllowZoom; }
    void ZoomRect(const QRectF& pixels);
    void UndoZoom();
    bool Zoomed() const { return FZoomed; }
    // Scrolls an axis by a number of values.
    void ScrollAxis(Axis axis, double delta);

    // Pixels of the chart view to values and back, through the current axis ranges.
    double XScreenToValue(double px) const;
    double YScreenToValue(double py) const;
    double XValueToScreen(double x) const;
    double YValueToScreen(double y) const;
    QRectF PlotArea() const;

    void Repaint();
    QImage Grab();
    void CopyToClipboard();
    // What callers draw on, shown over the chart until the next repaint.
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
    void Rescale();
    QAbstractAxis* AxisObject(Axis axis) const;
    void AttachAxes(QXYSeries* series);
    double ToAxisX(double x) const;   // day numbers become milliseconds on a date-time axis
    double FromAxisX(double x) const;

    QChart* FChart;
    QValueAxis* FLeft;
    QValueAxis* FBottomValue;
    QDateTimeAxis* FBottomTime;
    bool FDateTime = false;
    bool FAuto[2] = {true, true};
    double FMin[2] = {0, 0}, FMax[2] = {1, 1};
    std::vector<std::unique_ptr<TChartSeries>> FSeries;
    bool FAllowZoom = true, FZoomed = false;
    struct Ranges { bool autoX, autoY; double minX, maxX, minY, maxY; };
    std::vector<Ranges> FZoomStack;
    QPoint FDragStart;
    bool FDragging = false, FPanning = false;
    QImage FCanvas;
    bool FCanvasDirty = false;
};
