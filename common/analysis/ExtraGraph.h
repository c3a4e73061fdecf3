#pragma once
// Temporary figures drawn over a chart's canvas and taken away again without a repaint, by saving the
// pixels the figure covers: the rectangle is the rubber band of the zoom and delete selections.
#include <cstdint>
#include <vector>

class QImage;

struct TSavedPixel {
  int32_t X = 0, Y = 0;
  uint32_t Color = 0;  // 0xAABBGGRR: the overlay canvas's alpha in the top byte
};

class TExtraGraph {
 public:
  explicit TExtraGraph(QImage* canvas) : Canvas(canvas) {}
  virtual ~TExtraGraph() = default;
  TExtraGraph(const TExtraGraph&) = delete;
  TExtraGraph& operator=(const TExtraGraph&) = delete;

  virtual void SaveBackground() {}
  virtual void Draw() {}
  // Saves the pixels of a vertical or horizontal segment (corners in any order); others save nothing.
  void SavePixelLine(int x1, int y1, int x2, int y2);
  // Writes every saved pixel back, in order; the list stays.
  void Restore();

  QImage* Canvas;  // not owned
  std::vector<TSavedPixel> SavedPixels;
};

class TExtraGraph_Box : public TExtraGraph {
 public:
  TExtraGraph_Box(QImage* canvas, int x1, int y1, int x2, int y2)
      : TExtraGraph(canvas), X1(x1), Y1(y1), X2(x2), Y2(y2) {}
  void SaveBackground() override;
  void Draw() override;  // black, one pixel wide

  int32_t X1, Y1, X2, Y2;
};
