#include "plugins/tessaly/TessalyFrm.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QPainter>
#include <QPixmap>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTableWidget>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <QXYSeries>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

#include "common/DateTime.h"
#include "common/DecimalSep.h"
#include "common/FileUtils.h"
#include "common/Prompt.h"
#include "common/IniFile.h"
#include "common/ScnType.h"
#include "common/SettingsStore.h"
#include "common/StatusStore.h"
#include "common/analysis/BgrData.h"
#include "common/analysis/ExtraGraph.h"
#include "common/analysis/SmallDialogs.h"
#include "plugins/tessaly/TessalyChart.h"

namespace {

const char* const kTitles[3][3] = {{"Digital count", "Measurement time", "Digital count"},
                                   {"Triplets Coherence", "Measurement time", "Triplets dispersion (%)"},
                                   {"Bouguer-Langley plots", "Airmass", "Digital Count Log"}};

std::string Fixed(double value, int decimals, int precision) {
  return FormatFixedSignificant(value, decimals, precision, DecimalSeparator());
}

QString Q(const std::string& s) { return ToQ(s); }

// The tool bar's pictures, drawn so that each says what its button shows or does.
enum class ToolPicture { Counts, Triplets, Langley, Filters, Position, Zoom, Delete };

QIcon ToolIcon(ToolPicture picture) {
  QPixmap pixmap(24, 24);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  const QPen axes(QColor(90, 90, 90), 1.5);
  auto frame = [&] {
    p.setPen(axes);
    p.drawLine(3, 2, 3, 21);
    p.drawLine(3, 21, 22, 21);
  };
  auto crosses = [&](const QList<QPointF>& at, const QColor& colour) {
    p.setPen(QPen(colour, 1.5));
    for (const QPointF& c : at) {
      p.drawLine(c + QPointF(-2, 0), c + QPointF(2, 0));
      p.drawLine(c + QPointF(0, -2), c + QPointF(0, 2));
    }
  };
  switch (picture) {
    case ToolPicture::Counts:
      frame();
      crosses({{7, 17}, {11, 12}, {15, 8}, {19, 5}}, QColor(0, 90, 200));
      break;
    case ToolPicture::Triplets:
      frame();
      crosses({{8, 8}, {8, 12}, {8, 16}, {17, 10}, {17, 13}, {17, 15}}, QColor(0, 140, 60));
      break;
    case ToolPicture::Langley:
      frame();
      p.setPen(QPen(QColor(200, 40, 40), 1.5));
      p.drawLine(4, 5, 22, 17);
      crosses({{8, 7}, {13, 11}, {18, 14}}, QColor(0, 90, 200));
      break;
    case ToolPicture::Filters:
      p.setPen(Qt::NoPen);
      p.setBrush(QColor(120, 60, 200));
      p.drawRect(4, 4, 4, 16);
      p.setBrush(QColor(40, 160, 60));
      p.drawRect(10, 4, 4, 16);
      p.setBrush(QColor(220, 50, 50));
      p.drawRect(16, 4, 4, 16);
      break;
    case ToolPicture::Position:
      p.setPen(QPen(QColor(180, 30, 30), 1.5));
      p.setBrush(QColor(230, 70, 70));
      p.drawEllipse(QPointF(12, 9), 5, 5);
      p.drawLine(QPointF(12, 14), QPointF(12, 22));
      break;
    case ToolPicture::Zoom:
      p.setPen(QPen(QColor(40, 40, 40), 2));
      p.drawEllipse(QPointF(10, 10), 6, 6);
      p.drawLine(QPointF(14.5, 14.5), QPointF(21, 21));
      break;
    case ToolPicture::Delete:
      crosses({{7, 16}, {12, 12}, {17, 8}}, QColor(0, 90, 200));
      p.setPen(QPen(QColor(210, 30, 30), 2.5));
      p.drawLine(4, 4, 20, 20);
      p.drawLine(20, 4, 4, 20);
      break;
  }
  return QIcon(pixmap);
}

}  // namespace

// ---- opening and closing

TTessalyFrm::TTessalyFrm(TBgrData& data, const TTessalyHost& host, QWidget* parent)
    : QDialog(parent), data_(data), host_(host), plots_(data) {
  setObjectName("TessalyFrm");
  setWindowTitle("Bouguer-Langley calibration");
  status_ = std::make_unique<TStatusConfig>(kTessalyRegistryKey);
  BuildWindow();
  ShowSiteLabels();
  chartKind_ = KindCounts;
  NbCNTotalLbl->setText(QString::number(data_.GetNbTotalCN()));
  DrawChart();
  {
    TRegistryIniFile key(kTessalyRegistryKey);
    ShowToolBarCaptions(key.ReadBool("", "ShowTBCaption", false));
  }
  if (status_->ReadInteger("TessalyFrm_Left", -1) != -1) {
    status_->LoadControlPlacement(this, "TessalyFrm");
    if (status_->ReadInteger("TessalyFrm_WindowState", wsNormal) == wsMaximized) setWindowState(Qt::WindowMaximized);
  } else {
    resize(1000, 640);
  }
  ViewCoordFrm = new TViewCoordFrm(this);
  ViewCoordFrm->OnHide = [this] { SeeCoordWindowsMnu->setChecked(false); };
  // The grid: one row per filter of the canonical order.
  StringGrid1->setColumnCount(4);
  StringGrid1->setHorizontalHeaderLabels({"", "Filter", "DC0", "Det."});
  StringGrid1->setRowCount(static_cast<int>(data_.FilterList.size()));
  // The filter numbers name the rows without being shown.
  StringGrid1->setColumnHidden(0, true);
  const int widths[] = {1, 70, 70, 50};
  for (int c = 1; c < 4; ++c) StringGrid1->setColumnWidth(c, widths[c]);
  for (size_t k = 0; k < data_.FilterList.size(); ++k) {
    StringGrid1->setItem(static_cast<int>(k), 0, new QTableWidgetItem(QString::number(data_.FilterList[k]->Number())));
    StringGrid1->setItem(static_cast<int>(k), 1, new QTableWidgetItem(Q(data_.FilterList[k]->GetName())));
    StringGrid1->setItem(static_cast<int>(k), 2, new QTableWidgetItem());
    StringGrid1->setItem(static_cast<int>(k), 3, new QTableWidgetItem());
  }
  calib_.Load(data_.Site->SiteNumber);
  for (const TCalibDate& d : calib_.Dates) CBAnnee->addItem(Q(d.DateText));
  StringGrid1->setEnabled(!calib_.Dates.empty());
  if (!calib_.Dates.empty()) {
    CBAnnee->setCurrentIndex(CBAnnee->count() - 1);
    FillGridFromSelection();
  }
  ShiftTriplets();
}

TTessalyFrm::~TTessalyFrm() { SaveState(); }

void TTessalyFrm::closeEvent(QCloseEvent* event) {
  SaveState();
  QDialog::closeEvent(event);
}

void TTessalyFrm::SaveState() {
  if (stateSaved_) return;
  stateSaved_ = true;
  status_->WriteBool("SeeViewCoord", SeeCoordWindowsMnu->isChecked());
  status_->SaveFormPlacement(this, "TessalyFrm");
  TRegistryIniFile key(kTessalyRegistryKey);
  key.WriteBool("", "ShowTBCaption", showToolBarCaption_);
  key.UpdateFile();
}

void TTessalyFrm::BuildWindow() {
  auto* menuBar = new QMenuBar(this);
  auto action = [this](QMenu* menu, const char* name, const char* text, auto slot) {
    QAction* a = menu->addAction(text);
    a->setObjectName(name);
    connect(a, &QAction::triggered, this, slot);
    return a;
  };
  QMenu* file = menuBar->addMenu("&File");
  action(file, "CloseMnu", "&Close", [this] { close(); });
  QMenu* graphic = menuBar->addMenu("&Graphic");
  action(graphic, "CNViewMnu", "&Digital Count", [this] { SetChartKind(KindCounts); });
  action(graphic, "BgrTripletViewMnu", "Triplets", [this] { SetChartKind(KindTriplets); });
  action(graphic, "BgrLinesViewMnu", "&Bouguer-Langley plots", [this] { SetChartKind(KindLangley); });
  SeeCoordWindowsMnu = action(graphic, "SeeCoordWindowsMnu", "See the coordinates", [this](bool on) {
    if (on) ViewCoordFrm->show();
    else ViewCoordFrm->hide();
  });
  SeeCoordWindowsMnu->setCheckable(true);
  action(graphic, "PrintGfxMnu", "&Print...", [this] { tessaly_chart::PrintChart(*GfxChart, this); });
  action(graphic, "CopyGfxMnu", "&Copy to Clipboard", [this] {
    const QColor old = tessaly_chart::Background(*GfxChart);
    tessaly_chart::SetBackground(*GfxChart, Qt::white);
    GfxChart->CopyToClipboard();
    tessaly_chart::SetBackground(*GfxChart, old);
  });
  action(graphic, "ExportGfxASCIIVal", "&Export values to ASCII...", [this] { ExportGfxASCIIValClick(); });
  QMenu* instrument = menuBar->addMenu("&Instrument");
  action(instrument, "FiltersEditMnu", "&Filters edition...", [this] { FiltersEdit(); });
  action(instrument, "SitePosMnu", "&Site position", [this] { SitePosition(); });
  QMenu* help = menuBar->addMenu("&Help");
  action(help, "AboutMnu", "&About...", [this] {
    TAboutBox about("Bouguer Langley", ZELT_VERSION_MAJOR, ZELT_VERSION_MINOR, ZELT_VERSION_PATCH, this);
    about.exec();
  });

  BtnToolBar = new QToolBar(this);
  BtnToolBar->setObjectName("BtnToolBar");
  auto tool = [this](const char* name, const char* text, ToolPicture picture, auto slot) {
    auto* b = new QToolButton;
    b->setObjectName(name);
    b->setText(text);
    b->setIcon(ToolIcon(picture));
    b->setToolTip(text);
    connect(b, &QToolButton::clicked, this, slot);
    BtnToolBar->addWidget(b);
    return b;
  };
  CNViewBtn = tool("CNViewBtn", "DC", ToolPicture::Counts, [this] { SetChartKind(KindCounts); });
  BgrTripletViewBtn = tool("BgrTripletViewBtn", "Triplets", ToolPicture::Triplets, [this] { SetChartKind(KindTriplets); });
  BgrLinesViewBtn = tool("BgrLinesViewBtn", "Bouguer", ToolPicture::Langley, [this] { SetChartKind(KindLangley); });
  BtnToolBar->addSeparator();
  FiltersEditBtn = tool("FiltersEditBtn", "Filters", ToolPicture::Filters, [this] { FiltersEdit(); });
  SitePosBtn = tool("SitePosBtn", "Position", ToolPicture::Position, [this] { SitePosition(); });
  BtnToolBar->addSeparator();
  ZoomValuesBtn = tool("ZoomValuesBtn", "Zoom", ToolPicture::Zoom, [this] { SetDeleteMode(false); });
  SupprValuesBtn = tool("SupprValuesBtn", "Delete", ToolPicture::Delete, [this] { SetDeleteMode(true); });
  ZoomValuesBtn->setCheckable(true);
  SupprValuesBtn->setCheckable(true);
  SeeEtiquettesTextMnu = new QAction("&Text labels", this);
  SeeEtiquettesTextMnu->setObjectName("SeeEtiquettesTextMnu");
  SeeEtiquettesTextMnu->setCheckable(true);
  connect(SeeEtiquettesTextMnu, &QAction::triggered, this, [this] { ShowToolBarCaptions(!showToolBarCaption_); });
  auto* toolBarMenu = new QMenu(BtnToolBar);
  toolBarMenu->setObjectName("ToolBarMenu");
  toolBarMenu->addAction(SeeEtiquettesTextMnu);
  BtnToolBar->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(BtnToolBar, &QToolBar::customContextMenuRequested, this,
          [this, toolBarMenu](const QPoint& at) { toolBarMenu->popup(BtnToolBar->mapToGlobal(at)); });

  GfxChart = new TChart(this);
  GfxChart->setObjectName("GfxChart");
  GfxChart->setMouseTracking(true);
  GfxChart->viewport()->setMouseTracking(true);
  GfxChart->OnMouseDown = [this](Qt::MouseButton b, Qt::KeyboardModifiers, int x, int y) { OnMouseDown(b, x, y); };
  GfxChart->OnMouseMove = [this](Qt::KeyboardModifiers, int x, int y) { OnMouseMove(x, y); };
  GfxChart->OnMouseUp = [this](Qt::MouseButton b, Qt::KeyboardModifiers, int x, int y) { OnMouseUp(b, x, y); };
  Label7 = new QLabel(GfxChart);
  Label7->setObjectName("Label7");
  Label7->setVisible(false);

  auto label = [](const char* name) {
    auto* l = new QLabel;
    l->setObjectName(name);
    return l;
  };
  auto* siteBox = new QGroupBox("Site properties");
  auto* siteLayout = new QVBoxLayout(siteBox);
  SiteNumLbl = label("SiteNumLbl");
  SiteNameLbl = label("SiteNameLbl");
  SiteLatLbl = label("SiteLatLbl");
  SiteLonLbl = label("SiteLonLbl");
  SiteAltLbl = label("SiteAltLbl");
  for (QLabel* l : {SiteNumLbl, SiteNameLbl, SiteLatLbl, SiteLonLbl, SiteAltLbl}) siteLayout->addWidget(l);

  BgrGrpBx = new QGroupBox("Extraterrestrial counts");
  BgrGrpBx->setObjectName("BgrGrpBx");
  auto* bgr = new QVBoxLayout(BgrGrpBx);
  CBAnnee = new QComboBox;
  CBAnnee->setObjectName("CBAnnee");
  connect(CBAnnee, &QComboBox::activated, this, [this] { CBAnneeChange(); });
  auto* yearRow = new QHBoxLayout;
  yearRow->addWidget(new QLabel("Year :"));
  yearRow->addWidget(CBAnnee, 1);
  bgr->addLayout(yearRow);
  StringGrid1 = new QTableWidget;
  StringGrid1->setObjectName("StringGrid1");
  StringGrid1->verticalHeader()->setVisible(false);
  StringGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  bgr->addWidget(StringGrid1, 1);
  FitToLineOnChkBx = new QCheckBox("Compute plots");
  FitToLineOnChkBx->setObjectName("FitToLineOnChkBx");
  connect(FitToLineOnChkBx, &QCheckBox::clicked, this, [this](bool on) { FitToLineChanged(on); });
  CheckBox1 = new QCheckBox("Manual edit");
  CheckBox1->setObjectName("CheckBox1");
  connect(CheckBox1, &QCheckBox::toggled, this, [this](bool on) {
    StringGrid1->setEditTriggers(on ? QAbstractItemView::AllEditTriggers : QAbstractItemView::NoEditTriggers);
  });
  bgr->addWidget(FitToLineOnChkBx);
  bgr->addWidget(CheckBox1);
  auto* buttons = new QHBoxLayout;
  Button1 = new QPushButton("New");
  Button1->setObjectName("Button1");
  Button2 = new QPushButton("Del.");
  Button2->setObjectName("Button2");
  SaveBgrResultBtn = new QPushButton("Save coefficients");
  SaveBgrResultBtn->setObjectName("SaveBgrResultBtn");
  connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
  connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
  connect(SaveBgrResultBtn, &QPushButton::clicked, this, [this] { SaveBgrResultBtnClick(); });
  buttons->addWidget(Button1);
  buttons->addWidget(Button2);
  bgr->addLayout(buttons);
  bgr->addWidget(SaveBgrResultBtn);

  auto* dataBox = new QGroupBox("Data");
  auto* dataRow = new QHBoxLayout(dataBox);
  dataRow->addWidget(new QLabel("Amount of DC :"));
  NbCNTotalLbl = label("NbCNTotalLbl");
  dataRow->addWidget(NbCNTotalLbl, 1);

  auto* right = new QVBoxLayout;
  right->addWidget(siteBox);
  right->addWidget(BgrGrpBx, 1);
  right->addWidget(dataBox);
  auto* body = new QHBoxLayout;
  body->addWidget(GfxChart, 1);
  body->addLayout(right);
  auto* layout = new QVBoxLayout(this);
  layout->setMenuBar(menuBar);
  layout->addWidget(BtnToolBar);
  layout->addLayout(body, 1);

  SaveASCIIDialog = new QFileDialog(this, "Export values to ASCII");
  SaveASCIIDialog->setObjectName("SaveASCIIDialog");
  SaveASCIIDialog->setOption(QFileDialog::DontUseNativeDialog);
  SaveASCIIDialog->setAcceptMode(QFileDialog::AcceptSave);
  SaveASCIIDialog->setDefaultSuffix("txt");
  SaveASCIIDialog->setNameFilters({"Text files (*.txt)", "All files (*)"});
  SetDeleteMode(false);
}

void TTessalyFrm::ShowSiteLabels() {
  const TSite& site = *data_.Site;
  SiteNumLbl->setText(QString::number(site.SiteNumber));
  SiteNameLbl->setText(Q(site.Name));
  SiteLatLbl->setText(Q(Fixed(site.Lat, 5, 9)));
  SiteLonLbl->setText(Q(Fixed(site.Lon, 5, 9)));
  std::string alt = RealTextDot(site.Alt);
  std::replace(alt.begin(), alt.end(), '.', DecimalSeparator());
  SiteAltLbl->setText(Q(alt));
}

void TTessalyFrm::ShowToolBarCaptions(bool on) {
  showToolBarCaption_ = on;
  const Qt::ToolButtonStyle style = on ? Qt::ToolButtonTextUnderIcon : Qt::ToolButtonIconOnly;
  BtnToolBar->setToolButtonStyle(style);
  // Buttons added as widgets do not follow the tool bar's style.
  for (QToolButton* b : {CNViewBtn, BgrTripletViewBtn, BgrLinesViewBtn, FiltersEditBtn, SitePosBtn, ZoomValuesBtn, SupprValuesBtn})
    b->setToolButtonStyle(style);
  SeeEtiquettesTextMnu->setChecked(on);
}

// ---- the chart

void TTessalyFrm::SetChartKind(int kind) {
  SetDeleteMode(false);
  chartKind_ = kind;
  DrawChart();
}

void TTessalyFrm::SetDeleteMode(bool on) {
  mustDeleteValues_ = on;
  GfxChart->SetAllowZoom(!on);
  ZoomValuesBtn->setChecked(!on);
  SupprValuesBtn->setChecked(on);
}

void TTessalyFrm::DrawChart() {
  const int kind = chartKind_;
  GfxChart->SetTitle(kTitles[kind][0]);
  GfxChart->SetView3D(false);
  GfxChart->SetLegendVisible(true);
  visibleSeriesCount_ = 0;
  shown_.clear();
  GfxChart->FreeAllSeries();
  waveList_.clear();
  FitToLineOnChkBx->setEnabled(kind == KindLangley);
  tessaly_chart::SetBottomHoursMinutes(*GfxChart, kind != KindLangley);
  GfxChart->SetExactDateTime(false);

  TChartSeries* temperature = nullptr;
  if (kind != KindTriplets) {
    temperature = tessaly_chart::AddRightPointSeries(*GfxChart, "Temperature");
    temperature->SetColor(Qt::darkGray);
    temperature->SetPointerStyle(2);
    tessaly_chart::SetRightAxisTitle(*GfxChart, QString::fromUtf8("Temperature (\xC2\xB0" "C)"));
    shown_.push_back(temperature);
  }
  const std::vector<TTessalyPlots::TSeriesPlot>& plots = plots_.Series(kind);
  std::vector<bool> shownSeries(data_.SerieList.size(), false);
  for (size_t k = 0; k < data_.SerieList.size(); ++k) {
    const TCNSerie& serie = *data_.SerieList[k];
    waveList_.push_back(TDataValueLst{serie.FilterNumber, {}});
    const TFilter* filter = data_.FindFilter(serie.FilterNumber);
    if (!filter || !filter->Visible) continue;
    shownSeries[k] = true;
    ++visibleSeriesCount_;
    TChartSeries* s = GfxChart->AddSeries(TSeriesKind::Point, Q(filter->GetName()));
    s->SetColor(BgrToColor(filter->Color));
    s->SetPointerStyle(4);
    shown_.push_back(s);
    s->AddPoints(plots[k].Points);
    if (kind == KindTriplets) waveList_.back().Items = plots[k].Spreads;
  }
  // One temperature point per x, whichever filter on show brought it first.
  if (temperature) temperature->AddPoints(plots_.Temperatures(kind, shownSeries));
  GfxChart->SetAxisTitle(TChart::Bottom, kTitles[kind][1]);
  GfxChart->SetAxisTitle(TChart::Left, kTitles[kind][2]);
  if (kind == KindLangley) GfxChart->SetValueFormat(TChart::Bottom, "#,##0.###");
  GfxChart->SetAxisAutomatic(TChart::Bottom);
  GfxChart->SetAxisAutomatic(TChart::Left);
  tessaly_chart::SetRightAxisAutomatic(*GfxChart);
  GfxChart->Repaint();
  if (kind == KindLangley && fitToLine_) {
    ComputeAllLangley();
    const double x0 = GfxChart->AxisMinimum(TChart::Bottom), x1 = GfxChart->AxisMaximum(TChart::Bottom);
    for (const auto& serie : data_.SerieList) {
      const TFilter* filter = data_.FindFilter(serie->FilterNumber);
      if (!filter || !filter->Visible || serie->CN0 < 0) continue;
      TChartSeries* line = GfxChart->AddSeries(TSeriesKind::Line);
      line->SetShowInLegend(false);
      line->SetPointerVisible(false);
      line->SetColor(BgrToColor(filter->Color));
      line->AddXY(x0, serie->LineValue(x0));
      line->AddXY(x1, serie->LineValue(x1));
    }
    GfxChart->SetAxisRange(TChart::Bottom, x0, x1);
    GfxChart->SetAxisAutomatic(TChart::Bottom);
  }
}

void TTessalyFrm::ShiftTriplets() {
  DataChanged();
  for (const auto& serie : data_.SerieList) {
    double runTime = 0;
    int offset = 0;
    bool first = true;
    for (const auto& p : serie->Points) {
      if (p->TimeShifted) continue;
      if (first || p->Time != runTime) {
        runTime = p->Time;
        offset = 0;
        first = false;
      } else {
        offset += 30;
      }
      p->Time += offset / 86400.0;
      p->TimeShifted = 1;
    }
  }
}

int TTessalyFrm::GridRowOfFilter(int filterNumber) const {
  for (int r = 0; r < StringGrid1->rowCount(); ++r)
    if (StringGrid1->item(r, 0) && StringGrid1->item(r, 0)->text() == QString::number(filterNumber)) return r;
  return -1;
}

void TTessalyFrm::ComputeAllLangley() {
  for (const auto& serie : data_.SerieList) {
    double r2 = serie->R2;
    if (!fitsCurrent_) {
      // A line changes only with its points: fitted again after they changed, else kept.
      serie->CN0 = -1.0;
      double slope = 0, intercept = 0;
      if (!serie->ComputeLangley(slope, intercept, r2)) continue;
      serie->CN0 = std::exp(intercept);
    } else if (serie->CN0 < 0) {
      continue;
    }
    const int row = GridRowOfFilter(serie->FilterNumber);
    if (row < 0) continue;
    StringGrid1->item(row, 2)->setText(Q(Fixed(serie->CN0, 0, 8)));
    StringGrid1->item(row, 3)->setText(Q(Fixed(r2 * 100, 1, 8)));
  }
  fitsCurrent_ = true;
  data_.Computed = 1;
}

void TTessalyFrm::DataChanged() {
  plots_.Clear();
  fitsCurrent_ = false;
}

// ---- mouse

void TTessalyFrm::OnMouseDown(Qt::MouseButton button, int x, int y) {
  if (button != Qt::LeftButton || !mustDeleteValues_) return;
  downPoint_ = QPoint(x, y);
  dragging_ = true;
}

void TTessalyFrm::OnMouseMove(int x, int y) {
  ShowCoordinates(x, y);
  if (dragging_) {
    if (box_) box_->Restore();
    box_ = std::make_unique<TExtraGraph_Box>(&GfxChart->Canvas(), downPoint_.x(), downPoint_.y(), x, y);
    box_->SaveBackground();
    box_->Draw();
    GfxChart->CanvasChanged();
  }
  // The hint: the title of a series that has a point under the mouse, 20 pixels below it.
  Label7->setVisible(false);
  for (const TChartSeries* series : shown_) {
    if (series->Clicked(x, y, 3) < 0) continue;
    Label7->setText(series->Title());
    Label7->adjustSize();
    Label7->move(x, y + 20);
    Label7->setVisible(true);
    break;
  }
}

void TTessalyFrm::OnMouseUp(Qt::MouseButton button, int x, int y) {
  if (button != Qt::LeftButton || !mustDeleteValues_ || !dragging_) return;
  dragging_ = false;
  if (box_) {
    box_->Restore();
    GfxChart->CanvasChanged();
    box_.reset();
  }
  // Nothing on show, nothing to take away.
  if (visibleSeriesCount_ == 0) return;
  // The filter series are drawn against the bottom and left axes: the box is read through them.
  double x1 = GfxChart->XScreenToValue(downPoint_.x()), x2 = GfxChart->XScreenToValue(x);
  double y1 = GfxChart->YScreenToValue(downPoint_.y()), y2 = GfxChart->YScreenToValue(y);
  if (x1 > x2) std::swap(x1, x2);
  if (y1 > y2) std::swap(y1, y2);
  DeleteValuesInBox(x1, x2, y1, y2);
  NbCNTotalLbl->setText(QString::number(data_.GetNbTotalCN()));
  DrawChart();
}

void TTessalyFrm::DeleteValuesInBox(double x1, double x2, double y1, double y2) {
  auto inside = [&](double x, double y) { return x >= x1 && x <= x2 && y >= y1 && y <= y2; };
  size_t removed = 0;
  for (size_t s = 0; s < data_.SerieList.size(); ++s) {
    TCNSerie& serie = *data_.SerieList[s];
    const TFilter* filter = data_.FindFilter(serie.FilterNumber);
    if (!filter || !filter->Visible) continue;
    // The points taken away in one pass, in their order: one at a time would move all after each.
    if (chartKind_ == KindTriplets) {
      TDataValueLst* list = nullptr;
      for (auto& l : waveList_)
        if (l.FilterNumber == serie.FilterNumber) list = &l;
      if (!list) continue;
      std::vector<double> boxed;
      std::erase_if(list->Items, [&](const TDateValue& item) {
        if (!inside(item.Time, item.Value)) return false;
        boxed.push_back(item.Time);
        return true;
      });
      if (boxed.empty()) continue;
      std::sort(boxed.begin(), boxed.end());
      removed += std::erase_if(serie.Points, [&](const std::unique_ptr<TCN>& p) {
        const double time = p->OriginalTime;
        return time == time && std::binary_search(boxed.begin(), boxed.end(), time);
      });
      continue;
    }
    removed += std::erase_if(serie.Points, [&](const std::unique_ptr<TCN>& point) {
      const TCN& p = *point;
      // The values as they are plotted: distance-corrected counts.
      const double c = p.GetCorrectedCN();
      if (chartKind_ == KindCounts) return inside(p.Time, c);
      double m = 0;
      return c > 0 && p.GetAirMass(m) && inside(m, std::log(c));
    });
  }
  if (removed > 0) DataChanged();
}

void TTessalyFrm::ShowCoordinates(int x, int y) {
  if (visibleSeriesCount_ == 0) {
    ViewCoordFrm->SetValues("-", "-");
    return;
  }
  const double vx = GfxChart->XScreenToValue(x), vy = GfxChart->YScreenToValue(y);
  const QString xText = chartKind_ == KindLangley
                            ? Q(Fixed(vx, 3, 8))
                            : Q(FormatDateTime("dd/mm/yyyy hh:nn:ss", vx));
  ViewCoordFrm->SetValues(xText, Q(Fixed(vy, chartKind_ == KindCounts ? 1 : 3, 8)));
}

// ---- export

std::string TTessalyFrm::DateText(double value) const {
  int y, m, d;
  DecodeDate(value, y, m, d);
  const TListScn* o = host_.ScnList;
  const std::string sep = o ? o->SepDate : "/";
  char buffer[64];
  if (o && o->ShowZeroDate)
    std::snprintf(buffer, sizeof buffer, "%02d%s%02d%s%02d", d, sep.c_str(), m, sep.c_str(), o->Year4Digits ? y : y % 100);
  else
    std::snprintf(buffer, sizeof buffer, "%d%s%d%s%d", d, sep.c_str(), m, sep.c_str(), y);
  return o && o->QuotedDateTime ? "\"" + std::string(buffer) + "\"" : std::string(buffer);
}

std::string TTessalyFrm::TimeText(double value) const {
  int h, n, s, ms;
  DecodeTime(value, h, n, s, ms);
  const TListScn* o = host_.ScnList;
  const std::string sep = o ? o->SepTime : ":";
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, o && o->ShowZeroDate ? "%02d%s%02d%s%02d" : "%d%s%d%s%d", h, sep.c_str(), n,
                sep.c_str(), s);
  return o && o->QuotedDateTime ? "\"" + std::string(buffer) + "\"" : std::string(buffer);
}

std::vector<std::string> TTessalyFrm::ExportLines() const {
  const std::string list = host_.ScnList ? host_.ScnList->SepList : ",";
  // Every series on show, rows aligned on x: a series without a point at a row's x leaves its field
  // empty.
  std::map<double, std::vector<std::string>> rows;
  if (visibleSeriesCount_ == 0) return {};  // no filter on show: nothing to write
  const size_t columns = shown_.size();
  for (size_t c = 0; c < columns; ++c) {
    const TChartSeries* s = shown_[c];
    std::map<double, int> used;
    for (int i = 0; i < s->Count(); ++i) {
      const double x = s->XValue(i), y = s->YValue(i);
      auto& row = rows[x];
      row.resize(columns);
      const std::string text = chartKind_ == KindCounts ? std::to_string(static_cast<long long>(std::trunc(y)))
                                                          : Fixed(y, 5, 7);
      if (row[c].empty()) row[c] = text;
    }
  }
  std::vector<std::string> lines;
  for (const auto& [x, fields] : rows) {
    std::string line = chartKind_ == KindLangley ? Fixed(x, 5, 7) : DateText(x) + list + TimeText(x);
    for (const std::string& f : fields) line += list + f;
    lines.push_back(line);
  }
  return lines;
}

bool TTessalyFrm::ExportTo(const std::string& path) {
  std::string bytes;
  for (const std::string& line : ExportLines()) bytes += line + "\r\n";
  std::string error;
  if (!WriteFileAtomically(BytesToPath(path), bytes, &error)) {
    ShowWarning(TextWithFileName("Unable to write ", path, ": ") + FileNameToQString(error));
    return false;
  }
  return true;
}

void TTessalyFrm::ExportGfxASCIIValClick() {
  if (shown_.empty()) {
    ShowWarningBox("No data to display on the graphic");
    return;
  }
  const char* names[] = {"CNData.txt", "Trip.txt", "BgrData.txt"};
  SaveASCIIDialog->setOption(QFileDialog::DontConfirmOverwrite, !host_.ConfirmWrite);
  SaveASCIIDialog->selectFile(names[chartKind_]);
  if (SaveASCIIDialog->exec() != QDialog::Accepted || SaveASCIIDialog->selectedFiles().isEmpty()) return;
  ExportTo(FromQ(SaveASCIIDialog->selectedFiles().first()));
}

// ---- calibration dates

void TTessalyFrm::FillGrid(const TCalibDate* date) {
  for (int k = 0; k < StringGrid1->rowCount(); ++k) {
    std::string field = date ? ExtractBlankField(date->CoefText, k) : std::string();
    std::replace(field.begin(), field.end(), '.', DecimalSeparator());
    StringGrid1->item(k, 2)->setText(Q(field));
    StringGrid1->item(k, 3)->setText("");
  }
}

void TTessalyFrm::FillGridFromSelection() {
  FillGrid(CBAnnee->currentIndex() >= 0 ? calib_.Find(FromQ(CBAnnee->currentText())) : nullptr);
}

void TTessalyFrm::CBAnneeChange() { FillGridFromSelection(); }

void TTessalyFrm::Button1Click() {
  if (StringGrid1->isEnabled() && AskConfirmation("Save current modifications ?")) SaveBgrResultBtnClick();
  TChoixDateFrm dialog(this);
  const double date = dialog.Execute();
  if (date == 0) return;
  int y, m, d;
  DecodeDate(date, y, m, d);
  const std::string text = std::to_string(y) + " " + std::to_string(m) + " " + std::to_string(d);
  // Two lines of one date would leave the second unreachable: the date is taken once.
  if (calib_.Find(text)) {
    ShowWarningBox("The date " + text + " already exists.");
    return;
  }
  TCalibDate entry;
  entry.DateText = text;
  for (size_t k = 0; k < data_.FilterList.size(); ++k) entry.CoefText += "0 ";
  calib_.Dates.push_back(entry);
  CBAnnee->addItem(Q(text));
  CBAnnee->setCurrentIndex(CBAnnee->count() - 1);
  FillGridFromSelection();
  StringGrid1->setEnabled(!calib_.Dates.empty());
}

void TTessalyFrm::Button2Click() {
  if (calib_.Dates.empty()) return;
  const std::string text = FromQ(CBAnnee->currentText());
  calib_.Remove(text);
  CBAnnee->removeItem(CBAnnee->currentIndex());
  if (CBAnnee->count() > 0) CBAnnee->setCurrentIndex(0);
  // The grid shows the date now selected, so that a save cannot put the deleted values on it.
  FillGridFromSelection();
  StringGrid1->setEnabled(!calib_.Dates.empty());
}

void TTessalyFrm::SaveBgrResultBtnClick() {
  if (!StringGrid1->isEnabled()) return;
  std::vector<std::string> cells;
  for (int k = 0; k < StringGrid1->rowCount(); ++k) {
    // A cell is a real number as a whole ("1-2" or "1 2" are typing slips, not 1); Morvane reads the
    // file: '.' whatever the decimal separator.
    const std::string text = FromQ(StringGrid1->item(k, 2)->text());
    double value = 0;
    const std::string cell = NormaliseRealText(text, '.');
    if (!TryReadReal(text, value) || cell.empty()) {
      ShowWarningBox("Error : Some datas are not real. Save canceled");
      return;
    }
    // An extraterrestrial count is positive: a 0 leaves the filter uncalibrated, a negative one Morvane refuses.
    if (!TryReadReal(cell, value) || !(value > 0)) {
      ShowWarningBox("Error : Some datas are not positive. Save canceled");
      return;
    }
    cells.push_back(cell);
  }
  if (!AskConfirmation("Confirm overwriting coefficients ?")) return;
  TCalibDate* selected = calib_.Find(FromQ(CBAnnee->currentText()));
  if (!selected) return;
  selected->CoefText.clear();
  for (const std::string& c : cells) selected->CoefText += c + " ";
  std::string error;
  if (!calib_.Save(&error)) {
    ShowWarning(TextWithFileName("Unable to write ", calib_.FileName, ": ") + FileNameToQString(error));
    return;
  }
  ShowInformationBox("Save done");
}

void TTessalyFrm::FitToLineChanged(bool checked) {
  if (checked) {
    if (!StringGrid1->isEnabled()) {
      ShowWarningBox("Please choiose a date");
      FitToLineOnChkBx->setChecked(false);
      return;
    }
    if (!AskConfirmation("Are you sure you want to overwrite current coefficients ?")) {
      FitToLineOnChkBx->setChecked(false);
      return;
    }
  }
  fitToLine_ = checked;
  DrawChart();
}

// ---- dialogs

void TTessalyFrm::FiltersEdit() {
  TFilterEditFrm dialog(data_, host_.ExpertMode, this);
  if (dialog.exec() == QDialog::Accepted) DrawChart();
}

void TTessalyFrm::SitePosition() {
  TSitePropsFrm dialog(data_, this);
  if (dialog.exec() != QDialog::Accepted) return;
  // The air masses follow the site's position.
  DataChanged();
  ShowSiteLabels();
}
