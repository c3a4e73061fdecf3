#include "common/chart/ChartLegend.h"

#include <QFontInfo>
#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {
// Below this many pixels a name is hard to read: columns are added instead.
constexpr int kSmallestPixels = 8;
constexpr int kMarkerWidth = 16;
}  // namespace

TChartLegend::TChartLegend(QGraphicsItem* chart, const QFont& font)
    : QGraphicsItem(chart), FBaseFont(font), FFont(font)
{
    setZValue(100);
}

QFont TChartLegend::FontOfSize(int pixelSize) const
{
    QFont font = FBaseFont;
    font.setPixelSize(pixelSize);
    return font;
}

TChartLegend::TPlan TChartLegend::Plan(const QList<TItem>& items, int pixelSize, double height) const
{
    const QFontMetricsF metrics(FontOfSize(pixelSize));
    const double spacing = std::max(1, pixelSize / 4), rowHeight = std::ceil(metrics.height()) + spacing;
    const double gap = std::max(3, pixelSize / 3), columnGap = pixelSize;
    // Rows a column holds: the last row needs no spacing below it.
    const int rows = std::max(1, static_cast<int>(std::floor((height + spacing) / rowHeight)));
    TPlan plan;
    double x = 0;
    for (qsizetype first = 0; first < items.size(); first += rows) {
        const qsizetype last = std::min(items.size(), first + rows);
        double names = 0;
        for (qsizetype i = first; i < last; ++i) names = std::max(names, std::ceil(metrics.horizontalAdvance(items[i].Name)));
        const double width = kMarkerWidth + gap + names;
        for (qsizetype i = first; i < last; ++i)
            plan.Rects << QRectF(x, static_cast<double>(i - first) * rowHeight, width, std::ceil(metrics.height()));
        x += width + columnGap;
    }
    plan.Width = items.isEmpty() ? 0 : x - columnGap;
    return plan;
}

double TChartLegend::Layout(const QList<TItem>& items, double right, double top, double bottom, double maxWidth)
{
    prepareGeometryChange();
    FEntries.clear();
    FBounds = QRectF();
    if (items.isEmpty()) return 0;
    const double height = std::max(1.0, bottom - top);
    // The largest font whose columns keep within the width; else the smallest, with all its columns.
    int pixels = std::max(kSmallestPixels, QFontInfo(FBaseFont).pixelSize());
    TPlan plan = Plan(items, pixels, height);
    while (plan.Width > maxWidth && pixels > kSmallestPixels) plan = Plan(items, --pixels, height);
    FFont = FontOfSize(pixels);
    const QPointF origin(right - plan.Width, top);
    for (qsizetype i = 0; i < items.size(); ++i) {
        FEntries << TEntry{items[i], plan.Rects[i].translated(origin)};
        FBounds |= FEntries.back().Rect;
    }
    update();
    return plan.Width;
}

void TChartLegend::paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*)
{
    painter->save();
    painter->setFont(FFont);
    const double gap = std::max(3, FFont.pixelSize() / 3);
    for (const TEntry& e : FEntries) {
        const QRectF marker(e.Rect.left(), e.Rect.top(), kMarkerWidth, e.Rect.height());
        const QPointF centre = marker.center();
        if (e.Item.Line.style() != Qt::NoPen) {
            painter->setPen(e.Item.Line);
            painter->drawLine(QPointF(marker.left(), centre.y()), QPointF(marker.right(), centre.y()));
        }
        if (!e.Item.Pointer.isNull()) {
            const QSizeF size = e.Item.Pointer.size();
            painter->drawImage(QPointF(std::round(centre.x() - size.width() / 2), std::round(centre.y() - size.height() / 2)),
                               e.Item.Pointer);
        } else if (e.Item.Line.style() == Qt::NoPen) {
            // Neither line nor pointer: the colour alone.
            painter->fillRect(QRectF(centre.x() - 3, centre.y() - 3, 7, 7), e.Item.Color);
        }
        painter->setPen(Qt::black);
        painter->drawText(e.Rect.adjusted(kMarkerWidth + gap, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, e.Item.Name);
    }
    painter->restore();
}
