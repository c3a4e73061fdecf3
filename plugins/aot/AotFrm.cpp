#include "plugins/aot/AotFrm.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QSplitter>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>
#include <array>
#include <cmath>
#include <filesystem>
#include <map>

#include "common/AsciiExport.h"
#include "common/DateTime.h"
#include "common/DecimalSep.h"
#include "common/FileUtils.h"
#include "common/IniFile.h"
#include "common/Instrument.h"
#include "common/Prompt.h"
#include "common/Q5File.h"
#include "common/ScnType.h"
#include "common/analysis/BgrData.h"
#include "common/analysis/ExtraGraph.h"
#include "common/analysis/SmallDialogs.h"
#include "common/analysis/ZeltUtils.h"
#include "plugins/aot/AotRun.h"

namespace {

const char kNotComputed[] = "AOT no computed. Please check instrument calibration";

// The host's ASCII options as Morvane needs them for the time of one export, restored whatever happens.
class TMorvaneAsciiOptions {
 public:
  explicit TMorvaneAsciiOptions(TListScn* list) : list_(list), decimal_(DecimalSeparator()) {
    if (list_) {
      saved_ = {list_->Year4Digits, list_->QuotedDateTime, list_->ShowZeroDate, list_->ForceDisplayDecimalValue};
      separators_ = {list_->SepDec, list_->SepTime, list_->SepDate, list_->SepList};
      list_->Year4Digits = 1;
      list_->QuotedDateTime = 0;
      list_->ShowZeroDate = 0;
      list_->ForceDisplayDecimalValue = 1;
      list_->SepDec = ".";
      list_->SepTime = list_->SepDate = list_->SepList = " ";
    }
    SetDecimalSeparator('.');
  }
  ~TMorvaneAsciiOptions() {
    SetDecimalSeparator(decimal_);
    if (!list_) return;
    list_->Year4Digits = saved_[0];
    list_->QuotedDateTime = saved_[1];
    list_->ShowZeroDate = saved_[2];
    list_->ForceDisplayDecimalValue = saved_[3];
    list_->SepDec = separators_[0];
    list_->SepTime = separators_[1];
    list_->SepDate = separators_[2];
    list_->SepList = separators_[3];
  }
  TMorvaneAsciiOptions(const TMorvaneAsciiOptions&) = delete;
  TMorvaneAsciiOptions& operator=(const TMorvaneAsciiOptions&) = delete;

 private:
  TListScn* list_;
  char decimal_;
  std::array<uint8_t, 4> saved_{};
  std::array<std::string, 4> separators_;
};

// An integer of a pressure or ozone edit; nothing for an empty (not given) or unreadable text.
std::optional<int> EditValue(const QLineEdit* edit) {
  bool ok = false;
  const int v = edit->text().trimmed().toInt(&ok);
  return ok ? std::optional<int>(v) : std::nullopt;
}

// What a user may give by hand: a pressure in hPa, a total ozone in Dobson units (the lowest and
// highest columns ever measured lie well within these), or the value that stands for none given.
struct TManualValue {
  int NotGiven;
  int Lowest, Highest;
  const char* Refusal;
  bool Holds(int v) const { return v == NotGiven || (v >= Lowest && v <= Highest); }
};
const TManualValue kPressure{-1, 1, 1100, "The pressure must be a positive number of hPa, up to 1100."};
const TManualValue kOzone{300, 50, 800, "The ozone must be a number of Dobson units from 50 to 800."};

QString FloatText(double v) {
  std::string s = RealTextDot(v);
  for (char& c : s)
    if (c == '.') c = DecimalSeparator();
  return QString::fromStdString(s);
}

// Solid line through pointers of style 2, as every series of the window.
void StyleSeries(TChartSeries* s, const QColor& colour) {
  s->SetColor(colour);
  s->SetLineVisible(true);
  s->SetPointerVisible(true);
  s->SetPointerStyle(psTriangle);
}

QColor FilterColour(uint32_t bgr) { return QColor(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF); }

}  // namespace

TAotFrm::TAotFrm(TBgrData& data, const TAotHost& host, const std::string& baseName, QWidget* parent)
    : QDialog(parent), data_(data), host_(host), baseName_(baseName) {
  setObjectName("AotFrm");
  setWindowTitle("AOT");
  resize(900, 620);
  workFolder_ = AotWorkFolder();
  resultFolder_ = host_.DataFile ? AotResultFolder(host_.DataFile->FileName) : workFolder_;
  resultFile_ = resultFolder_ + baseName_ + ".tao";
  BuildControls();
  BuildMenus();
  ReadSiteValues();

  filterSeries_.assign(data_.FilterList.size(), nullptr);
  for (const auto& f : data_.FilterList) {
    if (IsWaterVapourFilter(*f)) continue;
    auto* item = new QListWidgetItem(QString::fromStdString(f->GetName()), CLBFiltre);
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(Qt::Checked);
    item->setForeground(FilterColour(f->Color));
    item->setData(Qt::UserRole, static_cast<int>(&f - &data_.FilterList[0]));
  }
  connect(CLBFiltre, &QListWidget::itemChanged, this, [this] { ApplyFilterChecks(); });

  if (ResultsBelongToDataFile()) {
    Label2->setVisible(true);
  } else {
    // Results of another file of this name (replaced since, or copied over) must not pass for its own.
    for (const char* extension : {".tao", ".ta2", kResultSourceExtension})
      DeleteFileIfExists(BytesToPath(resultFolder_ + baseName_ + extension));
    Compute();
  }
  LoadResults();
}

bool TAotFrm::ResultsBelongToDataFile() const {
  std::string source;
  return host_.DataFile && FileExists(BytesToPath(resultFolder_ + baseName_ + ".tao")) &&
         ReadFileBytes(BytesToPath(resultFolder_ + baseName_ + kResultSourceExtension), source) &&
         !source.empty() && source == AotDataIdentity(*host_.DataFile);
}

TAotFrm::~TAotFrm() = default;

void TAotFrm::BuildControls() {
  auto* top = new QHBoxLayout(this);
  Panel1 = new QWidget;
  Panel1->setObjectName("Panel1");
  auto* left = new QVBoxLayout(Panel1);
  left->addWidget(new QLabel("Filters"));
  CLBFiltre = new QListWidget;
  CLBFiltre->setObjectName("CLBFiltre");
  CLBFiltre->setContextMenuPolicy(Qt::CustomContextMenu);
  left->addWidget(CLBFiltre, 1);
  CBJulian = new QCheckBox("Use julian date");
  CBJulian->setObjectName("CBJulian");
  left->addWidget(CBJulian);
  Button1 = new QPushButton("Unzoom");
  Button1->setObjectName("Button1");
  left->addWidget(Button1);
  Button2 = new QPushButton("ASCII Export");
  Button2->setObjectName("Button2");
  left->addWidget(Button2);
  auto digits = [](QLineEdit* e) {
    e->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), e));
  };
  CBPression = new QCheckBox("Manual pressure");
  CBPression->setObjectName("CBPression");
  EPression = new QLineEdit;
  EPression->setObjectName("EPression");
  CBOzone = new QCheckBox("Manual Ozone");
  CBOzone->setObjectName("CBOzone");
  EOzone = new QLineEdit;
  EOzone->setObjectName("EOzone");
  for (QWidget* w : {static_cast<QWidget*>(CBPression), static_cast<QWidget*>(EPression),
                     static_cast<QWidget*>(CBOzone), static_cast<QWidget*>(EOzone)})
    left->addWidget(w);
  digits(EPression);
  digits(EOzone);
  EPression->installEventFilter(this);
  EOzone->installEventFilter(this);
  Panel1->setFixedWidth(170);
  top->addWidget(Panel1);

  PageControl1 = new QTabWidget;
  PageControl1->setObjectName("PageControl1");
  StringGrid1 = new QTableWidget;
  StringGrid1->setObjectName("StringGrid1");
  StringGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  StringGrid1->verticalHeader()->hide();
  PageControl1->addTab(StringGrid1, "Table");
  Panel2 = new QWidget;
  Panel2->setObjectName("Panel2");
  auto* graphic = new QVBoxLayout(Panel2);
  auto* buttons = new QHBoxLayout;
  Label2 = new QLabel("Data from a previous computation");
  Label2->setObjectName("Label2");
  Label2->setVisible(false);
  ZommBtn = new QPushButton("Zoom");
  ZommBtn->setObjectName("ZommBtn");
  EraseBtn = new QPushButton("Erase");
  EraseBtn->setObjectName("EraseBtn");
  RBLvl1 = new QRadioButton("Level 1");
  RBLvl1->setObjectName("RBLvl1");
  RBLvl1->setChecked(true);
  RBLvl15 = new QRadioButton("Level 1.5");
  RBLvl15->setObjectName("RBLvl15");
  RbLvlWv = new QRadioButton("WV");
  RbLvlWv->setObjectName("RbLvlWv");
  for (QWidget* w : {static_cast<QWidget*>(Label2), static_cast<QWidget*>(ZommBtn), static_cast<QWidget*>(EraseBtn),
                     static_cast<QWidget*>(RBLvl1), static_cast<QWidget*>(RBLvl15), static_cast<QWidget*>(RbLvlWv)})
    buttons->addWidget(w);
  buttons->addStretch();
  graphic->addLayout(buttons);
  Splitter1 = new QSplitter(Qt::Vertical);
  Splitter1->setObjectName("Splitter1");
  GfxChart = new TChart;
  GfxChart->setObjectName("GfxChart");
  ChartRatio = new TChart;
  ChartRatio->setObjectName("ChartRatio");
  Splitter1->addWidget(GfxChart);
  Splitter1->addWidget(ChartRatio);
  graphic->addWidget(Splitter1, 1);
  PageControl1->addTab(Panel2, "Graphic");
  PageControl1->setCurrentWidget(Panel2);
  top->addWidget(PageControl1, 1);

  connect(CBJulian, &QCheckBox::toggled, this, [this] { LoadResults(); });
  connect(Button1, &QPushButton::clicked, this, [this] { GfxChart->UndoZoom(); });
  connect(Button2, &QPushButton::clicked, this, [this] { SaveAscii(); });
  connect(CBPression, &QCheckBox::toggled, this, [this](bool on) {
    EPression->setEnabled(on);
    if (!on) EPression->setText("-1");
    // "-1" stands for no pressure given: typing after it would make a negative pressure.
    if (on && EditValue(EPression) == kPressure.NotGiven) EPression->clear();
  });
  connect(CBOzone, &QCheckBox::toggled, this, [this](bool on) {
    EOzone->setEnabled(on);
    if (!on) EOzone->setText("300");
  });
  connect(RBLvl1, &QRadioButton::toggled, this, [this](bool on) { if (on) LevelChosen(".tao"); });
  connect(RBLvl15, &QRadioButton::toggled, this, [this](bool on) { if (on) LevelChosen(".ta2"); });
  connect(RbLvlWv, &QRadioButton::toggled, this, [this](bool on) { if (on) LoadWaterVapour(); });
  connect(ZommBtn, &QPushButton::clicked, this, [this] { SetEraseMode(false); });
  connect(EraseBtn, &QPushButton::clicked, this, [this] { SetEraseMode(true); });

  GfxChart->OnZoom = [this] { FollowZoom(*GfxChart, *ChartRatio); };
  ChartRatio->OnZoom = [this] { FollowZoom(*ChartRatio, *GfxChart); };
  GfxChart->OnUndoZoom = [this] { FollowUndoZoom(*ChartRatio); };
  ChartRatio->OnUndoZoom = [this] { FollowUndoZoom(*GfxChart); };
  GfxChart->OnMouseDown = [this](Qt::MouseButton b, Qt::KeyboardModifiers, int x, int y) {
    if (!eraseMode_ || b != Qt::LeftButton) return;
    dragging_ = true;
    downPoint_ = QPoint(x, y);
  };
  GfxChart->OnMouseMove = [this](Qt::KeyboardModifiers, int x, int y) {
    if (!dragging_) return;
    if (box_) box_->Restore();
    box_ = std::make_unique<TExtraGraph_Box>(&GfxChart->Canvas(), downPoint_.x(), downPoint_.y(), x, y);
    box_->SaveBackground();
    box_->Draw();
    GfxChart->CanvasChanged();
  };
  GfxChart->OnMouseUp = [this](Qt::MouseButton b, Qt::KeyboardModifiers, int x, int y) {
    if (!dragging_ || b != Qt::LeftButton) return;
    dragging_ = false;
    if (box_) box_->Restore();
    box_.reset();
    GfxChart->CanvasChanged();
    if (GfxChart->SeriesCount() == 0) return;
    const TChartSeries* first = GfxChart->Series(0);
    EraseInBox(GfxChart->XScreenToValue(downPoint_.x()), GfxChart->YScreenToValue(downPoint_.y(), first),
               GfxChart->XScreenToValue(x), GfxChart->YScreenToValue(y, first));
  };
}

void TAotFrm::BuildMenus() {
  auto* bar = new QMenuBar(this);
  bar->setObjectName("MainMenu1");
  layout()->setMenuBar(bar);
  auto action = [this](QMenu* menu, const char* name, const char* text, auto slot) {
    QAction* a = menu->addAction(text);
    a->setObjectName(name);
    connect(a, &QAction::triggered, this, slot);
  };
  QMenu* file = bar->addMenu("File");
  file->setObjectName("File1");
  action(file, "Open1", "Open", [this] { OpenResults(); });
  action(file, "Restartcalculation1", "Restart calculation", [this] {
    Compute();
    LoadResults();
  });
  action(file, "Siteposition1", "Site position", [this] { SitePosition(); });
  QMenu* help = bar->addMenu("Help");
  help->setObjectName("Help1");
  action(help, "About1", "About...", [this] { About(); });

  auto* popup = new QMenu(this);
  popup->setObjectName("PopupMenu1");
  action(popup, "Invertselection1", "Invert selection", [this] { SetFilterChecks(0); });
  action(popup, "Selectall1", "Select all", [this] { SetFilterChecks(1); });
  action(popup, "Unselectall1", "Unselect all", [this] { SetFilterChecks(2); });
  connect(CLBFiltre, &QWidget::customContextMenuRequested, this,
          [this, popup](const QPoint& at) { popup->popup(CLBFiltre->mapToGlobal(at)); });
}

// ---- site pressure and ozone

void TAotFrm::ReadSiteValues() {
  TIniFile ini{BytesToPath(InfosFileName())};
  const std::string section = data_.Site->InfosSection();
  EPression->setText(QString::fromStdString(ini.ReadString(section, "SitePression", "-1")));
  EOzone->setText(QString::fromStdString(ini.ReadString(section, "SiteOzone", "300")));
  CBPression->setChecked(EPression->text() != "-1");
  CBOzone->setChecked(EOzone->text() != "300");
  EPression->setEnabled(CBPression->isChecked());
  EOzone->setEnabled(CBOzone->isChecked());
  pressureValue_ = EditValue(EPression).value_or(-1);
  ozoneValue_ = EditValue(EOzone).value_or(300);
}

bool TAotFrm::TakeManualValue(QLineEdit* edit, std::optional<int>& value) {
  const bool pressure = edit == EPression;
  const TManualValue& rule = pressure ? kPressure : kOzone;
  value.reset();
  if (edit->text().trimmed().isEmpty()) return true;
  value = EditValue(edit);
  if (value && rule.Holds(*value)) return true;
  const int kept = pressure ? pressureValue_ : ozoneValue_;
  edit->setText(pressure && kept == kPressure.NotGiven ? QString() : QString::number(kept));
  ShowWarningBox(rule.Refusal);
  return false;
}

// Writes the edit's value to the site file when it changed; true when it did.
bool TAotFrm::StoreSiteValue(QLineEdit* edit) {
  const bool pressure = edit == EPression;
  int& remembered = pressure ? pressureValue_ : ozoneValue_;
  std::optional<int> given;
  if (!TakeManualValue(edit, given)) return false;
  // An empty edit is a value not given: the pressure from the altitude, the usual ozone.
  const int value = given.value_or(pressure ? kPressure.NotGiven : kOzone.NotGiven);
  if (value == remembered) return false;
  ForceDirectories(BytesToPath(CalibrationFolder()));
  TIniFile ini{BytesToPath(InfosFileName())};
  ini.WriteString(data_.Site->InfosSection(), pressure ? "SitePression" : "SiteOzone", std::to_string(value));
  if (!ini.UpdateFile()) ShowWarning(TextWithFileName("Unable to write ", InfosFileName()));
  remembered = value;
  return true;
}

void TAotFrm::SiteValueLeft(QLineEdit* edit) {
  if (StoreSiteValue(edit) && AskConfirmation("Do you want to compute with new values ?")) Compute();
}

bool TAotFrm::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::FocusOut && (watched == EPression || watched == EOzone))
    SiteValueLeft(static_cast<QLineEdit*>(watched));
  return QDialog::eventFilter(watched, event);
}

void TAotFrm::done(int result) {
  const bool pressure = StoreSiteValue(EPression);
  const bool ozone = StoreSiteValue(EOzone);
  if ((pressure || ozone) && AskConfirmation("Do you want to compute with new values ?")) Compute();
  QDialog::done(result);
}

// ---- Morvane's inputs and run

std::string TAotFrm::ParameterFile() const { return workFolder_ + "inputpar.dat"; }

bool TAotFrm::ExportSunData(std::string& nsuFile) {
  const std::string folder = workFolder_ + "Ascii/";
  ForceDirectories(BytesToPath(folder));
  const std::string name = folder + baseName_ + ".q5";
  nsuFile = ChangeFileExt(name, ".NSU");
  DeleteFileIfExists(BytesToPath(nsuFile));
  TMorvaneAsciiOptions options(host_.ScnList);
  if (!host_.DataFile || !host_.DataFile->ExportAsciiFiles(name, false)) return false;
  std::string error;
  return !FileExists(BytesToPath(nsuFile)) || WithoutInstrumentCodes(*host_.DataFile, nsuFile, sunData_, error);
}

void TAotFrm::SayInstrumentCodes() {
  if (codesSaid_ || sunData_.CodedReadings == 0) return;
  codesSaid_ = true;
  ShowWarning(std::to_string(sunData_.CodedReadings) + (sunData_.CodedReadings == 1 ? " reading" : " readings") +
              " of the sun triplets held an instrument code (over range, no value, hardware error, absent...) in "
              "place of a count, in " +
              std::to_string(sunData_.Records) + (sunData_.Records == 1 ? " record" : " records") +
              ": Morvane computes nothing from the filter of such a reading in its record.");
}

bool TAotFrm::Compute() {
  missingResultsText_.reset();
  const bool computed = RunComputation();
  // Every failure has said why (a cancel leaves its own words for the results): one refusal is one
  // message, not one more at each showing of the results it left missing.
  if (!computed && !missingResultsText_) missingResultsText_ = "";
  return computed;
}

bool TAotFrm::RunComputation() {
  std::optional<int> pressure, ozone;
  if ((CBPression->isChecked() && !TakeManualValue(EPression, pressure)) ||
      (CBOzone->isChecked() && !TakeManualValue(EOzone, ozone)))
    return false;
  // Removed since the window opened: said as at opening, not in Morvane's words.
  if (!AotCalibrationFound(data_.Site->SiteNumber)) {
    MarkEarlierResults();
    return false;
  }
  std::string nsuFile;
  if (!ExportSunData(nsuFile)) {
    ShowWarning(TextWithFileName("Unable to write the sun measurements for Morvane in ", workFolder_ + "Ascii/"));
    return false;
  }
  if (!FileExists(BytesToPath(nsuFile))) {
    ShowWarningBox("This data file holds no direct-sun measurements: there is no AOT to compute.");
    return false;
  }
  // Morvane writes into a folder of its own; the results replace the earlier ones only when it succeeds.
  const std::string runFolder = workFolder_ + "run/";
  ForceDirectories(BytesToPath(runFolder));
  const std::string newTao = runFolder + baseName_ + ".tao", newTa2 = runFolder + baseName_ + ".ta2";
  DeleteFileIfExists(BytesToPath(newTao));
  DeleteFileIfExists(BytesToPath(newTa2));

  TAotParameters p;
  p.InstrumentCode = AotInstrumentCode(data_);
  p.CalibrationFile = AotCalibrationFile(data_.Site->SiteNumber);
  p.OutputFile = newTao;
  p.Lat = data_.Site->Lat;
  p.Lon = data_.Site->Lon;
  p.Alt = data_.Site->Alt;
  p.Ozone = ozone;
  if (!p.Ozone && FileExists(BytesToPath(workFolder_ + kDailyOzoneFileName))) p.DailyOzoneFile = kDailyOzoneFileName;
  if (!p.Ozone && p.DailyOzoneFile.empty()) EOzone->setText("300");
  p.Pressure = pressure;
  p.DataFile = nsuFile;
  std::string error;
  if (!WriteAsciiLines(ParameterFile(), AotParameterLines(p), &error)) {
    ShowWarning(TextWithFileName("Unable to write ", ParameterFile(), ": ") + FileNameToQString(error));
    return false;
  }

  const TMorvaneRun run = RunMorvane(host_.Morvane, {"inputpar.dat", "/G0"}, workFolder_, this);
  // A run that was cancelled or crashed had no way to remove its half-written files.
  RemoveUnfinishedResult(newTao);
  RemoveUnfinishedResult(newTa2);
  bool ok = run.Ok;
  QString message = QString::fromStdString(run.Message);  // Morvane speaks UTF-8
  if (ok && (!FileExists(BytesToPath(newTao)) || !FileExists(BytesToPath(newTa2)))) {
    ok = false;
    message = "Morvane wrote no result file.";
  }
  if (ok) {
    const std::string tao = resultFolder_ + baseName_ + ".tao", ta2 = resultFolder_ + baseName_ + ".ta2";
    ForceDirectories(BytesToPath(resultFolder_));
    std::error_code ec1, ec2;
    std::filesystem::rename(BytesToPath(newTao), BytesToPath(tao), ec1);
    std::filesystem::rename(BytesToPath(newTa2), BytesToPath(ta2), ec2);
    if (ec1 || ec2) {
      ok = false;
      message = TextWithFileName("Unable to keep the results in ", resultFolder_, ": ") +
                FileNameToQString((ec1 ? ec1 : ec2).message());
    } else {
      // Without it the results are computed again at the next opening: nothing worse.
      WriteFileAtomically(BytesToPath(resultFolder_ + baseName_ + kResultSourceExtension),
                          host_.DataFile ? AotDataIdentity(*host_.DataFile) : std::string());
      if (RBLvl1->isChecked())
        resultFile_ = tao;
      else if (RBLvl15->isChecked())
        resultFile_ = ta2;
    }
  }
  if (ok) {
    Label2->setVisible(false);
    SayInstrumentCodes();
    return true;
  }
  DeleteFileIfExists(BytesToPath(newTao));
  DeleteFileIfExists(BytesToPath(newTa2));
  if (run.Cancelled)
    missingResultsText_ = "The AOT computation was cancelled.";
  else
    ShowWarning(AnsiToQString("Morvane failed: ") + message);
  MarkEarlierResults();
  return false;
}

void TAotFrm::MarkEarlierResults() {
  // Whatever is on show now comes from an earlier run.
  Label2->setVisible(FileExists(BytesToPath(resultFolder_ + baseName_ + ".tao")));
}

// ---- results

bool TAotFrm::ReadRecords(std::vector<std::string>& records) const {
  std::vector<std::string> lines;
  if (!FileExists(BytesToPath(resultFile_)) || !ReadAsciiLines(resultFile_, lines)) return false;
  const bool screened = resultFile_.size() >= 4 && resultFile_.substr(resultFile_.size() - 4) == ".ta2";
  for (std::string& line : lines) {
    if (line.empty() || line.compare(0, 4, "Year") == 0) continue;
    if (screened || RbLvlWv->isChecked()) line.erase(0, 1);
    records.push_back(line);
  }
  return true;
}

QString TAotFrm::XText(double dateTime, double julian) const {
  if (CBJulian->isChecked()) return FloatText(julian);
  return QString::fromStdString(FormatDateTime("dd/mm/yyyy hh:nn:ss", dateTime));
}

void TAotFrm::ClearResults(bool ratioVisible) {
  GfxChart->FreeAllSeries();
  ChartRatio->FreeAllSeries();
  filterSeries_.assign(data_.FilterList.size(), nullptr);
  filterColumn_.assign(data_.FilterList.size(), 0);
  waterVapourSeries_ = angstromSeries_ = nullptr;
  ChartRatio->setVisible(ratioVisible);
  StringGrid1->clear();
  StringGrid1->setRowCount(1);
  StringGrid1->setColumnCount(1);
  StringGrid1->setItem(0, 0, new QTableWidgetItem("Day/Hour"));
  StringGrid1->setColumnWidth(0, 110);
  rowX_.clear();
}

void TAotFrm::AddRow(double x, const std::string& xText) {
  const int row = StringGrid1->rowCount();
  StringGrid1->setRowCount(row + 1);
  StringGrid1->setItem(row, 0, new QTableWidgetItem(QString::fromStdString(xText)));
  rowX_.push_back(x);
}

bool TAotFrm::ForEachRecord(const TMorvaneChannels& channels, const RecordVisitor& visit) {
  std::vector<std::string> records;
  if (!ReadRecords(records)) {
    // Without results the last computation's own reason, when it gave one; said once.
    const std::string why = missingResultsText_.value_or(kNotComputed);
    missingResultsText_ = "";
    if (!why.empty()) ShowWarningBox(why);
    return false;
  }
  for (const std::string& record : records) {
    double dateTime = 0, julian = 0;
    if (!RecordTime(record, dateTime, julian)) continue;
    const double x = CBJulian->isChecked() ? julian : dateTime;
    AddRow(x, XText(dateTime, julian).toStdString());
    visit(record, x, StringGrid1->rowCount() - 1, LayoutOf(record, channels));
  }
  return true;
}

void TAotFrm::LoadResults() {
  if (RbLvlWv->isChecked()) {
    LoadWaterVapour();
    return;
  }
  const bool level15 = RBLvl15->isChecked();
  GfxChart->SetTitle("Optical Thickness");
  ChartRatio->SetTitle(QString::fromUtf8("440-870\u00B7Angstrom"));
  ClearResults(level15);
  if (level15) {
    const int half = std::max(1, Splitter1->height() / 2);
    Splitter1->setSizes({half, half});
  }
  GfxChart->SetBottomDateTime(!CBJulian->isChecked(), "dd/mm hh:nn");
  ChartRatio->SetBottomDateTime(!CBJulian->isChecked(), "dd/mm hh:nn");
  // One column per filter but the vapour channel, in the data set's order; k counts them. A filter not
  // calibrated at any date has no optical thickness to draw: its column stays empty.
  const TMorvaneChannels channels = MorvaneChannels(data_, AotInstrumentCode(data_), workFolder_);
  const TUncalibratedFilters uncalibrated = Uncalibrated();
  std::vector<int> filterOfColumn;
  for (size_t i = 0; i < data_.FilterList.size(); ++i) {
    const TFilter& f = *data_.FilterList[i];
    if (IsWaterVapourFilter(f)) continue;
    if (!uncalibrated.AtEveryDate(i)) {
      TChartSeries* s = GfxChart->AddLineSeries(QString::fromStdString(f.GetName()));
      StyleSeries(s, FilterColour(f.Color));
      filterSeries_[i] = s;
    }
    filterOfColumn.push_back(static_cast<int>(i));
    const int column = StringGrid1->columnCount();
    StringGrid1->setColumnCount(column + 1);
    StringGrid1->setItem(0, column, new QTableWidgetItem(QString::fromStdString(f.GetName())));
    filterColumn_[i] = column;
  }
  if (level15) {
    angstromSeries_ = ChartRatio->AddLineSeries("Angstrom");
    StyleSeries(angstromSeries_, Qt::red);
    const int column = StringGrid1->columnCount();
    StringGrid1->setColumnCount(column + 1);
    StringGrid1->setItem(0, column, new QTableWidgetItem("Alpha"));
    StringGrid1->setColumnWidth(column, 50);
  }
  ApplyFilterChecks();

  std::vector<bool> leftOut(data_.FilterList.size(), false);
  ForEachRecord(channels, [&](const std::string& record, double x, int row, const TResultLayout& layout) {
    for (size_t k = 0; k < filterOfColumn.size(); ++k) {
      const size_t i = static_cast<size_t>(filterOfColumn[k]);
      const int place = channels.PlaceOf(i);
      const std::optional<double> v = place < 0 ? std::nullopt : ValueColumn(record, layout.AotColumn(place));
      if (!v) continue;
      // Morvane's placeholder (a filter not calibrated, a count of 0) is no optical thickness; only a
      // calibration is the user's to be told of.
      if (!filterSeries_[i] || IsPlaceholder(*v)) {
        leftOut[i] = leftOut[i] || uncalibrated.AtSomeDate(i);
        continue;
      }
      filterSeries_[i]->AddXY(x, *v);
      StringGrid1->setItem(row, filterColumn_[i], new QTableWidgetItem(FloatText(RoundToDecimals(*v, 3))));
    }
    if (!level15) return;
    // Where Morvane fitted no alpha the cell stays empty.
    const std::optional<double> alpha = AngstromAlpha(record, layout, channels);
    if (!alpha) return;
    angstromSeries_->AddXY(x, *alpha);
    StringGrid1->setItem(row, StringGrid1->columnCount() - 1, new QTableWidgetItem(FloatText(RoundToDecimals(*alpha, 3))));
  });
  GfxChart->Repaint();
  ChartRatio->Repaint();
  SayUncalibrated(leftOut, "No optical thickness is shown for them.");
}

TUncalibratedFilters TAotFrm::Uncalibrated() const {
  return UncalibratedFilters(AotCalibrationFile(data_.Site->SiteNumber), data_.FilterList.size());
}

void TAotFrm::SayUncalibrated(const std::vector<bool>& leftOut, const char* consequence) {
  if (uncalibratedSaid_) return;
  std::string names;
  for (size_t i = 0; i < leftOut.size(); ++i)
    if (leftOut[i]) names += (names.empty() ? "" : ", ") + data_.FilterList[i]->GetName();
  if (names.empty()) return;
  uncalibratedSaid_ = true;
  ShowWarning(TextWithFileName("Filters not calibrated (a calibration constant of 0 in ",
                               AotCalibrationFile(data_.Site->SiteNumber), "): " + names + ". " + consequence));
}

void TAotFrm::LoadWaterVapour() {
  if (resultFile_.size() >= 4) resultFile_ = resultFile_.substr(0, resultFile_.size() - 4) + ".ta2";
  GfxChart->SetTitle("Water vapor");
  GfxChart->SetView3D(false);
  GfxChart->SetLegendVisible(true);
  GfxChart->SetExactDateTime(false);
  ClearResults(false);
  GfxChart->SetBottomDateTime(!CBJulian->isChecked(), "dd/mm hh:nn");
  StringGrid1->setColumnCount(2);
  StringGrid1->setItem(0, 1, new QTableWidgetItem("WV"));
  StringGrid1->setColumnWidth(1, 50);
  waterVapourSeries_ = GfxChart->AddLineSeries("Water vapor");
  StyleSeries(waterVapourSeries_, QColor(0, 0, 0xFF));
  const TMorvaneChannels channels = MorvaneChannels(data_, AotInstrumentCode(data_), workFolder_);
  // Morvane's placeholder is no water vapour (a count of 0, a channel not calibrated); the user is told
  // when the vapour channel or one of its references is not calibrated.
  const TUncalibratedFilters uncalibrated = Uncalibrated();
  std::vector<bool> uncalibratedSources(data_.FilterList.size(), false);
  bool anyUncalibrated = false, leftOut = false;
  for (int position : channels.VapourFrom) {
    const size_t i = static_cast<size_t>(position - 1);
    if (i >= uncalibratedSources.size() || !uncalibrated.AtSomeDate(i)) continue;
    uncalibratedSources[i] = true;
    anyUncalibrated = true;
  }
  ForEachRecord(channels, [&](const std::string& record, double x, int row, const TResultLayout& layout) {
    // Rows without the vapour layout carry no water vapour at all.
    const std::optional<double> w = layout.Vapour ? ValueColumn(record, layout.WaterVapourColumn()) : std::nullopt;
    if (!w) return;
    if (IsPlaceholder(*w)) {
      leftOut = leftOut || anyUncalibrated;
      return;
    }
    waterVapourSeries_->AddXY(x, *w);
    StringGrid1->setItem(row, 1, new QTableWidgetItem(FloatText(*w)));
  });
  GfxChart->Repaint();
  if (leftOut) SayUncalibrated(uncalibratedSources, "No water vapour is shown where it is computed from them.");
}

void TAotFrm::LevelChosen(const char* extension) {
  if (resultFile_.size() >= 4) resultFile_ = resultFile_.substr(0, resultFile_.size() - 4) + extension;
  LoadResults();
}

// ---- filters

void TAotFrm::ApplyFilterChecks() {
  if (RbLvlWv->isChecked()) return;
  for (int r = 0; r < CLBFiltre->count(); ++r) {
    const QListWidgetItem* item = CLBFiltre->item(r);
    const bool on = item->checkState() == Qt::Checked;
    const size_t i = static_cast<size_t>(item->data(Qt::UserRole).toInt());
    if (i < filterSeries_.size() && filterSeries_[i]) filterSeries_[i]->SetVisible(on);
    if (r + 1 < StringGrid1->columnCount()) {
      StringGrid1->setColumnWidth(r + 1, on ? 50 : 0);
      StringGrid1->setColumnHidden(r + 1, !on);
    }
  }
}

void TAotFrm::SetFilterChecks(int mode) {
  CLBFiltre->blockSignals(true);
  for (int r = 0; r < CLBFiltre->count(); ++r) {
    QListWidgetItem* item = CLBFiltre->item(r);
    const bool on = mode == 1 || (mode == 0 && item->checkState() != Qt::Checked);
    item->setCheckState(on ? Qt::Checked : Qt::Unchecked);
  }
  CLBFiltre->blockSignals(false);
  ApplyFilterChecks();
}

// ---- zoom and erasing

void TAotFrm::SetEraseMode(bool on) {
  eraseMode_ = on;
  GfxChart->SetAllowZoom(!on);
}

void TAotFrm::FollowZoom(TChart& from, TChart& to) {
  if (syncing_) return;
  syncing_ = true;
  to.SetAxisRange(TChart::Bottom, from.AxisMinimum(TChart::Bottom), from.AxisMaximum(TChart::Bottom));
  to.SetAxisAutomatic(TChart::Left);
  syncing_ = false;
}

void TAotFrm::FollowUndoZoom(TChart& to) {
  if (syncing_) return;
  syncing_ = true;
  if (to.Zoomed())
    to.UndoZoom();
  else
    to.SetAxisAutomatic(TChart::Bottom);
  syncing_ = false;
}

void TAotFrm::EraseInBox(double x1, double y1, double x2, double y2) {
  if (x1 > x2) std::swap(x1, x2);
  if (y1 > y2) std::swap(y1, y2);
  // The first grid row of each x, found once for all the points.
  std::map<double, int> rowOfX;
  for (size_t r = 0; r < rowX_.size(); ++r) rowOfX.emplace(rowX_[r], static_cast<int>(r) + 1);
  auto erase = [&](TChartSeries* s, int column) {
    std::vector<int> gone;
    for (int i = s->Count() - 1; i >= 0; --i) {
      const double x = s->XValue(i), y = s->YValue(i);
      if (x < x1 || x > x2 || y < y1 || y > y2) continue;
      gone.push_back(i);
      const auto row = rowOfX.find(x);
      if (row != rowOfX.end()) delete StringGrid1->takeItem(row->second, column);
    }
    s->Delete(std::move(gone));
  };
  if (RbLvlWv->isChecked()) {
    if (waterVapourSeries_) erase(waterVapourSeries_, 1);
  } else {
    for (size_t i = 0; i < filterSeries_.size(); ++i)
      if (filterSeries_[i]) erase(filterSeries_[i], filterColumn_[i]);
  }
  GfxChart->SetAxisAutomatic(TChart::Left);
  GfxChart->Repaint();
}

// ---- commands

void TAotFrm::OpenResults() {
  QFileDialog dialog(this, "Open", QString::fromStdString(resultFolder_), "*.tao (*.tao);;*.ta2 (*.ta2)");
  dialog.setObjectName("OpenDialog1");
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setFileMode(QFileDialog::ExistingFile);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  resultFile_ = QStringToFileName(dialog.selectedFiles().first());
  LoadResults();
}

void TAotFrm::SaveAscii() {
  const std::string proposal = ChangeFileExt(host_.DataFile ? host_.DataFile->FileName : baseName_, ".txt");
  QFileDialog dialog(this, "ASCII Export", FileNameToQString(proposal), "*.txt (*.txt)");
  dialog.setObjectName("SaveDialog1");
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setOption(QFileDialog::DontConfirmOverwrite, !host_.ConfirmWrite);
  dialog.selectFile(FileNameToQString(proposal));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  ExportAscii(QStringToFileName(dialog.selectedFiles().first()));
}

void TAotFrm::ExportAscii(const std::string& fileName) {
  const std::string separator = host_.ScnList ? host_.ScnList->SepList : std::string(",");
  std::vector<std::string> lines;
  for (int r = 0; r < StringGrid1->rowCount(); ++r) {
    std::string line;
    for (int c = 0; c < StringGrid1->columnCount(); ++c) {
      const QTableWidgetItem* item = StringGrid1->item(r, c);
      line += (item ? QStringToAnsi(item->text()) : std::string()) + separator;
    }
    lines.push_back(line);
  }
  std::string error;
  if (!WriteAsciiLines(fileName, lines, &error)) {
    ShowWarning(TextWithFileName("Unable to write ", fileName, ": ") + FileNameToQString(error));
    return;
  }
  ShowInformationBox("Exportation finished");
}

void TAotFrm::SitePosition() {
  TSitePropsFrm dialog(data_, this);
  if (dialog.exec() != QDialog::Accepted) return;
  Compute();
  LoadResults();
}

void TAotFrm::About() {
  TAboutBox about("Aerosol optical thickness", ZELT_VERSION_MAJOR, ZELT_VERSION_MINOR, ZELT_VERSION_PATCH, this);
  about.exec();
}
