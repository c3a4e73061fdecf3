#pragma once
// The AOT window: writes Morvane's inputs (the sun-measurement export and the parameter file), runs it,
// and shows the optical thickness per filter, the Angstrom exponent and the water vapour as charts and
// as a table, with erasing of points, linked zoom, per-site pressure and ozone and an ASCII export.
#include <QDialog>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "plugins/aot/AotRun.h"
#include "plugins/aot/MorvaneSunData.h"
#include "common/chart/ChartServices.h"

class QAction;
class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QSplitter;
class QTableWidget;
class QTabWidget;
class QWidget;
class TBgrData;
class TExtraGraph_Box;
class TListScn;
class TQ5File;

// What the window needs of the host.
struct TAotHost {
  TQ5File* DataFile = nullptr;  // the host's current data file (exported, never changed)
  TListScn* ScnList = nullptr;  // its ASCII options
  bool ConfirmWrite = false;
  std::string PlugInFileName;
  std::string Morvane;          // the program to run
};

class TAotFrm : public QDialog {
  Q_OBJECT
 public:
  TAotFrm(TBgrData& data, const TAotHost& host, const std::string& baseName, QWidget* parent = nullptr);
  ~TAotFrm() override;

  // Prepares the inputs and runs Morvane; false when no new results came (the earlier ones stay).
  bool Compute();
  void LoadResults();
  void LoadWaterVapour();
  void ExportAscii(const std::string& fileName);
  void EraseInBox(double x1, double y1, double x2, double y2);
  std::string ResultFile() const { return resultFile_; }
  std::string ResultFolder() const { return resultFolder_; }
  std::string ParameterFile() const;

  QWidget* Panel1;
  QListWidget* CLBFiltre;
  QCheckBox* CBJulian;
  QPushButton* Button1;
  QPushButton* Button2;
  QCheckBox* CBPression;
  QLineEdit* EPression;
  QCheckBox* CBOzone;
  QLineEdit* EOzone;
  QTabWidget* PageControl1;
  QTableWidget* StringGrid1;
  QWidget* Panel2;
  QLabel* Label2;
  QPushButton* ZommBtn;
  QPushButton* EraseBtn;
  QRadioButton* RBLvl1;
  QRadioButton* RBLvl15;
  QRadioButton* RbLvlWv;
  TChart* GfxChart;
  TChart* ChartRatio;
  QSplitter* Splitter1;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void done(int result) override;

 private:
  // Compute's work: false, having said why, when no new results came.
  bool RunComputation();
  // Whether the kept results were computed from the data file as it is now.
  bool ResultsBelongToDataFile() const;
  // After a computation that gave nothing: "Data from a previous computation" when results are kept.
  void MarkEarlierResults();
  void BuildMenus();
  void BuildControls();
  void ReadSiteValues();
  void SiteValueLeft(QLineEdit* edit);
  bool StoreSiteValue(QLineEdit* edit);
  // The number of a pressure or ozone edit, nothing when it is empty (not given); false when it is out
  // of its range: the user is told and the edit shows the value kept before.
  bool TakeManualValue(QLineEdit* edit, std::optional<int>& value);
  // The sun triplets for Morvane, an instrument code never written as a count.
  bool ExportSunData(std::string& nsuFile);
  // Says once how many readings were instrument codes, when there were any.
  void SayInstrumentCodes();
  void ApplyFilterChecks();
  void SetFilterChecks(int mode);  // 0 invert, 1 all, 2 none
  void OpenResults();
  void SaveAscii();
  void SitePosition();
  void About();
  void LevelChosen(const char* extension);
  void SetEraseMode(bool on);
  void FollowZoom(TChart& from, TChart& to);
  void FollowUndoZoom(TChart& to);
  void ClearResults(bool ratioVisible);
  // The filters of the calibration in use that are not calibrated.
  TUncalibratedFilters Uncalibrated() const;
  // Says, the first time values were left out (`leftOut`, per filter of the data set), which filters
  // are not calibrated, followed by `consequence`.
  void SayUncalibrated(const std::vector<bool>& leftOut, const char* consequence);
  void AddRow(double x, const std::string& xText);
  QString XText(double dateTime, double julian) const;
  bool ReadRecords(std::vector<std::string>& records) const;
  // Each readable record of the result file as a new table row; false (with the warning) without one.
  using RecordVisitor = std::function<void(const std::string& record, double x, int row, const TResultLayout&)>;
  bool ForEachRecord(const TMorvaneChannels& channels, const RecordVisitor& visit);

  TBgrData& data_;
  TAotHost host_;
  std::string baseName_;
  std::string workFolder_;
  std::string resultFolder_;
  std::string resultFile_;
  std::vector<TChartSeries*> filterSeries_;  // per filter of the data set, null for the vapour channel
                                             // and for a filter not calibrated at any date
  std::vector<int> filterColumn_;            // its table column, 0 for none
  TChartSeries* waterVapourSeries_ = nullptr;
  TChartSeries* angstromSeries_ = nullptr;
  std::vector<double> rowX_;  // the x value of each table row (row 1 on)
  bool eraseMode_ = false;
  bool dragging_ = false;
  QPoint downPoint_;
  std::unique_ptr<TExtraGraph_Box> box_;
  bool syncing_ = false;
  int pressureValue_ = -1, ozoneValue_ = 300;
  bool uncalibratedSaid_ = false;
  TMorvaneSunData sunData_;  // what the last export found
  bool codesSaid_ = false;
  // Why there are no results to show: nothing (not known), the words still to say, or "" once said.
  std::optional<std::string> missingResultsText_;
};
