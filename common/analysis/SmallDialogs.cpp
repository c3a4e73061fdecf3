#include "common/analysis/SmallDialogs.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QDateTimeEdit>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QVBoxLayout>
#include <cstdio>

#include "common/DateTime.h"
#include "common/DecimalSep.h"
#include "common/Instrument.h"
#include "common/Prompt.h"
#include "common/analysis/BgrData.h"

void ShowWarningBox(const std::string& text) { ShowWarning(text); }
void ShowInformationBox(const std::string& text) { ShowInfo(text); }
bool AskConfirmation(const std::string& text) { return AskYesNo(text, true); }

bool ValidateRealText(const QString& text, double& value) { return TryReadReal(FromQ(text), value); }

QString ToQ(const std::string& bytes) { return AnsiToQString(bytes); }
std::string FromQ(const QString& text) { return QStringToAnsi(text); }
QColor BgrToColor(unsigned bgr) { return QColor(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF); }
unsigned ColorToBgr(const QColor& c) {
  return static_cast<unsigned>(c.red()) | (static_cast<unsigned>(c.green()) << 8) | (static_cast<unsigned>(c.blue()) << 16);
}

namespace {
QDialogButtonBox* OkCancel(QDialog* dialog) {
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
  buttons->button(QDialogButtonBox::Ok)->setObjectName("OKBtn");
  buttons->button(QDialogButtonBox::Cancel)->setObjectName("CancelBtn");
  QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  return buttons;
}
// The class library's plain float text: shortest form, the process decimal separator.
QString FloatText(double value) {
  std::string text = RealTextDot(value);
  for (char& c : text)
    if (c == '.') c = DecimalSeparator();
  return QString::fromStdString(text);
}
}  // namespace

// ---- site properties

TSitePropsFrm::TSitePropsFrm(TBgrData& data, QWidget* parent) : QDialog(parent), data_(data) {
  setObjectName("SitePropsFrm");
  setWindowTitle("Site properties");
  SiteNameEdit = new QLineEdit(ToQ(data.Site->Name));
  SiteNameEdit->setObjectName("SiteNameEdit");
  LatEdit = new QLineEdit(FloatText(data.Site->Lat));
  LatEdit->setObjectName("LatEdit");
  LonEdit = new QLineEdit(FloatText(data.Site->Lon));
  LonEdit->setObjectName("LonEdit");
  AltEdit = new QLineEdit(FloatText(data.Site->Alt));
  AltEdit->setObjectName("AltEdit");
  auto* position = new QGroupBox("Position");
  auto* grid = new QGridLayout(position);
  const char* names[] = {"Latitude", "Longitude", "Altitude"};
  const char* units[] = {"\xC2\xB0 Dec.", "\xC2\xB0 Dec.", "meters"};
  QLineEdit* edits[] = {LatEdit, LonEdit, AltEdit};
  for (int i = 0; i < 3; ++i) {
    grid->addWidget(new QLabel(names[i]), i, 0);
    grid->addWidget(edits[i], i, 1);
    grid->addWidget(new QLabel(QString::fromUtf8(units[i])), i, 2);
  }
  auto* buttons = OkCancel(this);
  connect(buttons, &QDialogButtonBox::accepted, this, &TSitePropsFrm::OKBtnClick);
  auto* layout = new QVBoxLayout(this);
  auto* nameRow = new QHBoxLayout;
  nameRow->addWidget(new QLabel("Site name :"));
  nameRow->addWidget(SiteNameEdit);
  layout->addLayout(nameRow);
  layout->addWidget(position);
  layout->addWidget(buttons);
}

void TSitePropsFrm::OKBtnClick() {
  double lat = 0, lon = 0, alt = 0;
  const std::pair<QLineEdit*, const char*> checks[] = {
      {LatEdit, "The latitude"}, {LonEdit, "The longitude"}, {AltEdit, "The altitude"}};
  double* values[] = {&lat, &lon, &alt};
  for (int i = 0; i < 3; ++i)
    if (!ValidateRealText(checks[i].first->text(), *values[i])) {
      ShowWarningBox(std::string(checks[i].second) + " isn't a correct real number!");
      return;
    }
  data_.Site->Lat = lat;
  data_.Site->Lon = lon;
  data_.Site->Alt = alt;
  data_.Site->Name = FromQ(SiteNameEdit->text());
  if (!data_.Site->WriteToInfos()) ShowWarning(TextWithFileName("Unable to write ", InfosFileName()));
  accept();
}

// ---- calibration date

TChoixDateFrm::TChoixDateFrm(QWidget* parent) : QDialog(parent) {
  setObjectName("ChoixDateFrm");
  setWindowTitle("Calibration date");
  DateTimePicker1 = new QDateTimeEdit;
  DateTimePicker1->setObjectName("DateTimePicker1");
  DateTimePicker1->setDisplayFormat("yyyy-MM-dd");
  DateTimePicker1->setCalendarPopup(true);
  DateTimePicker1->setTimeSpec(Qt::UTC);
  auto* buttons = OkCancel(this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(DateTimePicker1);
  layout->addWidget(buttons);
}

double TChoixDateFrm::Execute() {
  DateTimePicker1->setDateTime(QDateTime::currentDateTimeUtc());
  if (exec() != QDialog::Accepted) return 0;
  const QDate d = DateTimePicker1->date();
  double value = 0;
  TryEncodeDate(d.year(), d.month(), d.day(), value);
  return value;
}

// ---- filter edition

TFilterEditFrm::TFilterEditFrm(TBgrData& data, bool expertMode, QWidget* parent) : QDialog(parent), data_(data) {
  setObjectName("FilterEditFrm");
  setWindowTitle("Filters edition");
  const int count = static_cast<int>(data.FilterList.size());
  auto* strip = new QGridLayout;
  // One shape and label per filter, at least nine: ten-filter instruments get their own too.
  for (int p = 1; p <= std::max(9, count); ++p) {
    auto* shape = new QLabel;
    shape->setObjectName(QString("Filter%1Shape").arg(p));
    shape->setFixedSize(24, 16);
    shape->setAutoFillBackground(true);
    shape->setProperty("tag", p);
    auto* label = new QLabel(QString::number(p));
    label->setObjectName(QString("Filter%1Lbl").arg(p));
    label->setProperty("tag", p);
    label->setAlignment(Qt::AlignCenter);
    const unsigned color = p <= count ? data.FilterList[static_cast<size_t>(p - 1)]->Color : 0;
    shape->setStyleSheet(QString("background-color: %1; border: 1px solid gray;").arg(BgrToColor(color).name()));
    if (p > count) label->setVisible(false);
    shape->installEventFilter(this);
    label->installEventFilter(this);
    strip->addWidget(shape, 0, p - 1);
    strip->addWidget(label, 1, p - 1);
    Shapes.push_back(shape);
    Labels.push_back(label);
  }
  NbFiltersLbl = new QLabel(QString::number(count));
  NbFiltersLbl->setObjectName("NbFiltersLbl");
  FilterNumEdit = new QLineEdit;
  FilterNumEdit->setObjectName("FilterNumEdit");
  FilterNumEdit->setReadOnly(true);
  WaveLengthEdit = new QLineEdit;
  WaveLengthEdit->setObjectName("WaveLengthEdit");
  WaveLengthEdit->setReadOnly(true);
  PolarizedFilterLbl = new QLabel("Polarized filter");
  PolarizedFilterLbl->setObjectName("PolarizedFilterLbl");
  ColorShape = new QLabel;
  ColorShape->setObjectName("ColorShape");
  ColorShape->setFixedSize(40, 16);
  ColorShape->installEventFilter(this);
  ColorLbl = new QLabel;
  ColorLbl->setObjectName("ColorLbl");
  ColorLbl->setVisible(expertMode);
  FilterVisibleChkBx = new QCheckBox("Visible on the graph");
  FilterVisibleChkBx->setObjectName("FilterVisibleChkBx");
  connect(FilterVisibleChkBx, &QCheckBox::toggled, this, [this](bool on) {
    if (current_ >= 1 && current_ <= static_cast<int>(data_.FilterList.size()))
      data_.FilterList[static_cast<size_t>(current_ - 1)]->Visible = on ? 1 : 0;
  });

  auto* props = new QGroupBox("Filter properties");
  auto* pf = new QFormLayout(props);
  pf->addRow("Filter number :", FilterNumEdit);
  pf->addRow("Wavelength :", WaveLengthEdit);
  pf->addRow(PolarizedFilterLbl);
  auto* graph = new QGroupBox("Graphical visualization");
  auto* gf = new QFormLayout(graph);
  auto* colorRow = new QHBoxLayout;
  colorRow->addWidget(ColorShape);
  colorRow->addWidget(ColorLbl);
  gf->addRow("Curve color :", colorRow);
  gf->addRow(FilterVisibleChkBx);
  auto* buttons = OkCancel(this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(strip);
  auto* countRow = new QHBoxLayout;
  countRow->addWidget(new QLabel("Number of filters used in the instrument :"));
  countRow->addWidget(NbFiltersLbl);
  layout->addLayout(countRow);
  layout->addWidget(props);
  layout->addWidget(graph);
  layout->addWidget(buttons);
  ShowFilter(1);
}

void TFilterEditFrm::ShowFilter(int position) {
  if (position < 1 || position > static_cast<int>(data_.FilterList.size())) return;
  current_ = position;
  const TFilter& f = *data_.FilterList[static_cast<size_t>(position - 1)];
  FilterNumEdit->setText(QString::number(position));
  WaveLengthEdit->setText(QString::fromStdString(FormatFixed(f.FilterDef ? f.FilterDef->Wavelength : 0, 1)));
  PolarizedFilterLbl->setVisible(f.FilterDef && f.FilterDef->Polarised);
  ColorShape->setStyleSheet(QString("background-color: %1;").arg(BgrToColor(f.Color).name()));
  ColorLbl->setText(QString("%1").arg(f.Color, 8, 16, QChar('0')).toUpper());
  FilterVisibleChkBx->setChecked(f.Visible != 0);
}

void TFilterEditFrm::SetColor(unsigned bgr) {
  if (current_ < 1 || current_ > static_cast<int>(data_.FilterList.size())) return;
  data_.FilterList[static_cast<size_t>(current_ - 1)]->Color = bgr;
  Shapes[static_cast<size_t>(current_ - 1)]->setStyleSheet(
      QString("background-color: %1; border: 1px solid gray;").arg(BgrToColor(bgr).name()));
  ShowFilter(current_);
}

bool TFilterEditFrm::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonPress) {
    if (watched == ColorShape) {
      if (current_ < 1 || current_ > static_cast<int>(data_.FilterList.size())) return true;
      QColorDialog dialog(BgrToColor(data_.FilterList[static_cast<size_t>(current_ - 1)]->Color), this);
      dialog.setObjectName("ColorDialog");
      dialog.setOption(QColorDialog::DontUseNativeDialog);
      if (dialog.exec() == QDialog::Accepted && dialog.selectedColor().isValid())
        SetColor(ColorToBgr(dialog.selectedColor()));
      return true;
    }
    const QVariant tag = watched->property("tag");
    if (tag.isValid()) {
      ShowFilter(tag.toInt());
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

// ---- coordinates

TViewCoordFrm::TViewCoordFrm(QWidget* parent) : QDialog(parent) {
  setObjectName("ViewCoordFrm");
  setWindowTitle("Coordinates");
  setWindowFlag(Qt::WindowStaysOnTopHint);
  setModal(false);
  XValLbl = new QLabel("-");
  XValLbl->setObjectName("XValLbl");
  YValLbl = new QLabel("-");
  YValLbl->setObjectName("YValLbl");
  auto* layout = new QFormLayout(this);
  layout->addRow("X :", XValLbl);
  layout->addRow("Y :", YValLbl);
}

void TViewCoordFrm::SetValues(const QString& x, const QString& y) {
  XValLbl->setText(x);
  YValLbl->setText(y);
}

void TViewCoordFrm::hideEvent(QHideEvent* event) {
  QDialog::hideEvent(event);
  if (OnHide) OnHide();
}

// ---- about box

TAboutBox::TAboutBox(const std::string& productLine, int major, int minor, int release, QWidget* parent)
    : QDialog(parent),
      build_(std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(release) + ".0") {
  setObjectName("AboutBox");
  setWindowTitle("About");
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(ToQ(productLine)));
  Version = new QLabel(QString::fromStdString(VersionText(major, minor, release)));
  Version->setObjectName("Version");
  Version->installEventFilter(this);
  layout->addWidget(Version);
  auto* ok = new QPushButton("OK");
  ok->setObjectName("OKBtn");
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  layout->addWidget(ok);
}

std::string VersionText(int major, int minor, int release) {
  char buffer[32];
  if (minor == 0) std::snprintf(buffer, sizeof buffer, "%d.0", major);
  else std::snprintf(buffer, sizeof buffer, "%d.%02d", major, minor);
  std::string text = buffer;
  if (release > 0 && release <= 26) text += static_cast<char>('a' + release - 1);
  return text;
}

bool TAboutBox::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Version && event->type() == QEvent::MouseButtonPress) {
    ShowInformationBox("Build " + build_);
    return true;
  }
  return QDialog::eventFilter(watched, event);
}
