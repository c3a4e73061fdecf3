#pragma once
// The legend of a chart, on its right: one entry a listed series (its line and pointer in its colour,
// then its name), in as many columns as the height asks. Before the columns take too much of the
// chart's width the font and the spacing are made smaller. A name is never cut, however short the
// chart.
#include <QColor>
#include <QFont>
#include <QGraphicsItem>
#include <QImage>
#include <QList>
#include <QPen>
#include <QRectF>
#include <QString>

class TChartLegend : public QGraphicsItem {
public:
    // What an entry shows of its series, taken when the legend is laid out.
    struct TItem {
        QString Name;
        QPen Line;  // Qt::NoPen when the series shows no line
        QImage Pointer;
        QColor Color;
    };
    struct TEntry {
        TItem Item;
        QRectF Rect;  // marker and name, in the coordinates of the chart
    };

    TChartLegend(QGraphicsItem* chart, const QFont& font);

    // Lays the items out from the right edge `right` leftwards, between `top` and `bottom`, at most
    // `maxWidth` wide when the smallest font allows it. Returns the width taken (0 without items).
    double Layout(const QList<TItem>& items, double right, double top, double bottom, double maxWidth);
    const QList<TEntry>& Entries() const { return FEntries; }
    // The font of the last layout.
    const QFont& Font() const { return FFont; }

    QRectF boundingRect() const override { return FBounds; }
    void paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) override;

private:
    // The size of a layout at a font's pixel size over a height: entries' rectangles from (0, 0).
    struct TPlan {
        QList<QRectF> Rects;
        double Width = 0;
    };
    TPlan Plan(const QList<TItem>& items, int pixelSize, double height) const;
    QFont FontOfSize(int pixelSize) const;

    QFont FBaseFont, FFont;
    QList<TEntry> FEntries;
    QRectF FBounds;
};
