// The rubber-band box saves the pixels it covers and puts them back.
#include <gtest/gtest.h>

#include <QColor>
#include <algorithm>
#include <QImage>

#include "common/analysis/ExtraGraph.h"

namespace {
QImage Canvas() {
  QImage image(40, 30, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  for (int x = 0; x < 40; ++x) image.setPixel(x, 10, qRgb(255, 0, 0));  // a red line through it
  return image;
}
}  // namespace

TEST(OverlayBox, CornersInAnyOrderSaveTheSamePixels) {
  QImage canvas = Canvas();
  TExtraGraph_Box ordered(&canvas, 5, 5, 20, 15);
  ordered.SaveBackground();
  TExtraGraph_Box reversed(&canvas, 20, 15, 5, 5);
  reversed.SaveBackground();
  ASSERT_EQ(ordered.SavedPixels.size(), reversed.SavedPixels.size());
  EXPECT_EQ(ordered.SavedPixels.size(), static_cast<size_t>(2 * 16 + 2 * 11));
  auto key = [](const TSavedPixel& p) { return std::make_pair(p.X, p.Y); };
  std::vector<std::pair<int, int>> a, b;
  for (const auto& p : ordered.SavedPixels) a.push_back(key(p));
  for (const auto& p : reversed.SavedPixels) b.push_back(key(p));
  std::sort(a.begin(), a.end());
  std::sort(b.begin(), b.end());
  EXPECT_EQ(a, b);
  // A slanted segment saves nothing.
  TExtraGraph slanted(&canvas);
  slanted.SavePixelLine(0, 0, 5, 5);
  EXPECT_TRUE(slanted.SavedPixels.empty());
}

TEST(OverlayBox, DrawThenRestoreGivesTheCanvasBack) {
  QImage canvas = Canvas();
  const QImage before = canvas;
  TExtraGraph_Box box(&canvas, 30, 20, 2, 4);
  box.SaveBackground();
  box.Draw();
  EXPECT_EQ(canvas.pixel(2, 4), qRgb(0, 0, 0));
  EXPECT_EQ(canvas.pixel(30, 10), qRgb(0, 0, 0));  // over the red line
  EXPECT_NE(canvas, before);
  box.Restore();
  EXPECT_EQ(canvas, before);
  // After a repaint the old colours come back, saved points only.
  canvas.fill(qRgb(0, 0, 255));
  box.Restore();
  EXPECT_EQ(canvas.pixel(30, 10), qRgb(255, 0, 0));
  EXPECT_EQ(canvas.pixel(15, 15), qRgb(0, 0, 255));
  EXPECT_EQ(qAlpha(canvas.pixel(2, 4)), 0);
  // A box of zero width saves its one edge twice and restores it.
  QImage thin = Canvas();
  const QImage thinBefore = thin;
  TExtraGraph_Box line(&thin, 7, 2, 7, 20);
  line.SaveBackground();
  EXPECT_EQ(line.SavedPixels.size(), static_cast<size_t>(1 + 19 + 1 + 19));
  line.Draw();
  line.Restore();
  EXPECT_EQ(thin, thinBefore);
}
