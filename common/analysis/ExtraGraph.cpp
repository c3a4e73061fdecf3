#include "common/analysis/ExtraGraph.h"

#include <QColor>
#include <QImage>
#include <QPainter>
#include <algorithm>

namespace {
// The chart's canvas is an overlay with transparency: its alpha rides in the top byte, so that a
// restored pixel is as transparent as it was.
uint32_t ToBgr(QRgb rgb) {
  return static_cast<uint32_t>(qRed(rgb)) | (static_cast<uint32_t>(qGreen(rgb)) << 8) |
         (static_cast<uint32_t>(qBlue(rgb)) << 16) | (static_cast<uint32_t>(qAlpha(rgb)) << 24);
}
QRgb FromBgr(uint32_t bgr) { return qRgba(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF, bgr >> 24); }
}  // namespace

void TExtraGraph::SavePixelLine(int x1, int y1, int x2, int y2) {
  if (x1 > x2) std::swap(x1, x2);
  if (y1 > y2) std::swap(y1, y2);
  auto save = [this](int x, int y) {
    // A point outside the canvas has no colour of its own: it reads as black and is not written back.
    const bool inside = Canvas && Canvas->valid(x, y);
    SavedPixels.push_back(TSavedPixel{x, y, inside ? ToBgr(Canvas->pixel(x, y)) : 0u});
  };
  if (x1 == x2) {
    for (int y = y1; y <= y2; ++y) save(x1, y);
  } else if (y1 == y2) {
    for (int x = x1; x <= x2; ++x) save(x, y1);
  }
}

void TExtraGraph::Restore() {
  if (!Canvas) return;
  for (const TSavedPixel& p : SavedPixels)
    if (Canvas->valid(p.X, p.Y)) Canvas->setPixel(p.X, p.Y, FromBgr(p.Color));
}

void TExtraGraph_Box::SaveBackground() {
  SavePixelLine(X1, Y1, X2, Y1);
  SavePixelLine(X2, Y1, X2, Y2);
  SavePixelLine(X2, Y2, X1, Y2);
  SavePixelLine(X1, Y2, X1, Y1);
}

void TExtraGraph_Box::Draw() {
  if (!Canvas) return;
  QPainter painter(Canvas);
  painter.setPen(QPen(Qt::black, 1));
  painter.drawLine(X1, Y1, X2, Y1);
  painter.drawLine(X2, Y1, X2, Y2);
  painter.drawLine(X2, Y2, X1, Y2);
  painter.drawLine(X1, Y2, X1, Y1);
}
