#pragma once
// The Langley calibration window: the sun counts of the data set charted against time, as triplet
// dispersion and as Langley plots; bad points removed with a mouse rectangle; one Langley line per
// filter; the extraterrestrial counts of each calibration date kept in the calibration file.
#include <QDialog>
#include <QPoint>
#include <memory>
#include <string>
#include <vector>

#include "common/analysis/CalibFile.h"
#include "plugins/tessaly/TessalyPlots.h"

class QAction;
class QCheckBox;
class QComboBox;
class QFileDialog;
class QGroupBox;
class QLabel;
class QMenu;
class QPushButton;
class QTableWidget;
class QToolBar;
class QToolButton;
class TBgrData;
class TChart;
class TChartSeries;
class TExtraGraph_Box;
class TListScn;
class TStatusConfig;
class TViewCoordFrm;

// What the window needs of the host: the export options and the overwrite confirmation.
struct TTessalyHost {
  const TListScn* ScnList = nullptr;
  bool ConfirmWrite = false;
  bool ExpertMode = false;
  std::string PlugInFileName;
};

class TTessalyFrm : public QDialog {
  Q_OBJECT
 public:
  enum { KindCounts = 0, KindTriplets = 1, KindLangley = 2 };

  TTessalyFrm(TBgrData& data, const TTessalyHost& host, QWidget* parent = nullptr);
  ~TTessalyFrm() override;

  void SetChartKind(int kind);  // back to zoom mode, then the kind, redrawn
  int ChartKind() const { return chartKind_; }
  void SetDeleteMode(bool on);
  void DrawChart();
  void ComputeAllLangley();
  void DeleteValuesInBox(double x1, double x2, double y1, double y2);
  void ShowCoordinates(int x, int y);
  void ExportGfxASCIIValClick();
  bool ExportTo(const std::string& path);  // the export's lines written to a file
  std::vector<std::string> ExportLines() const;

  // Calibration file commands.
  void CBAnneeChange();
  void Button1Click();  // New
  void Button2Click();  // Del.
  void SaveBgrResultBtnClick();
  void FitToLineChanged(bool checked);

  // The series on show, in chart order (the Temperature series first in kinds 0 and 2).
  const std::vector<TChartSeries*>& ShownSeries() const { return shown_; }
  int VisibleSeriesCount() const { return visibleSeriesCount_; }
  const std::vector<TDataValueLst>& WaveList() const { return waveList_; }
  const TCalibFile& Calib() const { return calib_; }

  TChart* GfxChart;
  QLabel* Label7;
  QLabel *SiteNameLbl, *SiteLatLbl, *SiteLonLbl, *SiteAltLbl, *SiteNumLbl, *NbCNTotalLbl;
  QGroupBox* BgrGrpBx;
  QComboBox* CBAnnee;
  QTableWidget* StringGrid1;
  QCheckBox* FitToLineOnChkBx;
  QCheckBox* CheckBox1;
  QPushButton *Button1, *Button2, *SaveBgrResultBtn;
  QToolBar* BtnToolBar;
  QToolButton *CNViewBtn, *BgrTripletViewBtn, *BgrLinesViewBtn, *FiltersEditBtn, *SitePosBtn, *ZoomValuesBtn,
      *SupprValuesBtn;
  QAction* SeeEtiquettesTextMnu;
  QAction* SeeCoordWindowsMnu;
  QFileDialog* SaveASCIIDialog;
  TViewCoordFrm* ViewCoordFrm;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildWindow();
  void ShowSiteLabels();
  void ShowToolBarCaptions(bool on);
  void FillGridFromSelection();
  void FillGrid(const TCalibDate* date);
  void ShiftTriplets();
  int GridRowOfFilter(int filterNumber) const;
  void OnMouseDown(Qt::MouseButton button, int x, int y);
  void OnMouseMove(int x, int y);
  void OnMouseUp(Qt::MouseButton button, int x, int y);
  void FiltersEdit();
  void SitePosition();
  void SaveState();
  std::string DateText(double value) const;
  std::string TimeText(double value) const;
  // The points, their times or the site changed: plotted values and fitted lines are worked out again.
  void DataChanged();

  TBgrData& data_;
  TTessalyHost host_;
  std::unique_ptr<TStatusConfig> status_;
  int chartKind_ = KindCounts;
  bool mustDeleteValues_ = false;
  bool fitToLine_ = false;
  bool showToolBarCaption_ = false;
  int visibleSeriesCount_ = 0;
  QPoint downPoint_;
  bool dragging_ = false;
  std::unique_ptr<TExtraGraph_Box> box_;
  TCalibFile calib_;
  std::vector<TDataValueLst> waveList_;
  TTessalyPlots plots_;
  bool fitsCurrent_ = false;  // the series' lines are fitted to their points as they are
  std::vector<TChartSeries*> shown_;
  bool stateSaved_ = false;
};
