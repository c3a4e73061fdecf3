#include "plugins/radiometre/RadiometreFrm.h"

#include "common/DataPaths.h"
#include "common/DateTime.h"
#include "common/DecimalSep.h"
#include "common/FileUtils.h"
#include "common/Prompt.h"
#include "common/Q5File.h"
#include "common/analysis/ErreurFrm.h"
#include "common/analysis/ExtraGraph.h"
#include "common/analysis/RadioAboutBox.h"
#include "common/analysis/Q5xReader.h"
#include "plugins/radiometre/CalibrationFrm.h"
#include "plugins/radiometre/RadImport.h"
#include "common/chart/ChartServices.h"
#include "common/chart/HtmlHelp.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <set>

extern "C" radio::TfCalibration* _fCalibration;

namespace radio {

namespace {

QColor ColorOf(uint32_t bgr) { return QColor(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF); }

template <class W>
W* Named(W* widget, const char* name)
{
    widget->setObjectName(name);
    return widget;
}

// Day of the year (1 on 1 January) plus the fraction of the day.
double JulianDay(double dateTime)
{
    int year = 0, month = 0, day = 0;
    DecodeDate(dateTime, year, month, day);
    double newYear = 0;
    TryEncodeDate(year, 1, 1, newYear);
    return dateTime - newYear + 1;
}

const char* const kTitles[] = {"Digital Count", "Radiance", "Temperature"};

// Lines of the store's warning box at most, the "... and N more" line included.
constexpr size_t kWarningLines = 20;

// Radiance and temperature cells: three decimals, every integer digit kept.
std::string ThreeDecimals(double value) { return FormatFixedSignificant(value, 3, 0, DecimalSeparator()); }

}  // namespace

TRadiometreFrm::TRadiometreFrm(TRadiometreData& data, TErreurFrm& errors, const TRadiometreHost& host,
                               QWidget* parent)
    : QDialog(parent), FData(data), FErrors(errors), FHost(host)
{
    BuildControls();
    FData.OnCaution = [this](const std::string& line) { FErrors.AddMessage(line); };
    if (!FHost.DataFile()) {
        ShowWarning("No data in memory");
        OpenLoop();
        if (!Loaded) ShowWarning("No data in memory. Please load a data file to use plugin");
    } else if (LoadData("") == 0) {
        PrepareWindow();
        Loaded = true;
        FFileName = FHost.DataFile()->FileName;
    }
    ReOuvrirlefichierQ51->setEnabled(false);
}

TRadiometreFrm::~TRadiometreFrm() { FData.OnCaution = nullptr; }

void TRadiometreFrm::BuildControls()
{
    setObjectName("RadiometreFrm");
    setWindowTitle("Radiometer data viewer");
    auto* menuBar = new QMenuBar(this);
    QMenu* file = menuBar->addMenu("File");
    Ouvrir1 = Named(file->addAction("Open q5x file"), "Ouvrir1");
    ReOuvrirlefichierQ51 = Named(file->addAction("Re-open Q5 file"), "ReOuvrirlefichierQ51");
    Fermer1 = Named(file->addAction("Close"), "Fermer1");
    Calibration1 = Named(menuBar->addAction("Calibration"), "Calibration1");
    QMenu* help = menuBar->addMenu("Help");
    Index1 = Named(help->addAction("Index"), "Index1");
    Index1->setShortcut(QKeySequence(Qt::Key_F1));
    Apropos1 = Named(help->addAction("About ..."), "Apropos1");
    connect(Ouvrir1, &QAction::triggered, this, [this] { Ouvrir1Click(); });
    connect(ReOuvrirlefichierQ51, &QAction::triggered, this, [this] { ReOuvrirlefichierQ51Click(); });
    connect(Fermer1, &QAction::triggered, this, &QDialog::close);
    connect(Calibration1, &QAction::triggered, this, [this] { Calibration1Click(); });
    connect(Index1, &QAction::triggered, this, [this] { Index1Click(); });
    connect(Apropos1, &QAction::triggered, this, [this] { Apropos1Click(); });

    // Right panel.
    auto* panel = Named(new QWidget(this), "Panel1");
    auto* side = new QVBoxLayout(panel);
    side->addWidget(new QLabel("Positions :", panel));
    CLBPosition = Named(new QListWidget(panel), "CLBPosition");
    CLBPosition->setSortingEnabled(true);
    side->addWidget(CLBPosition);
    side->addWidget(new QLabel("Filters :", panel));
    CLBFiltre = Named(new QListWidget(panel), "CLBFiltre");
    side->addWidget(CLBFiltre);
    RadioButton1 = Named(new QRadioButton("Show source values", panel), "RadioButton1");
    RadioButton1->setToolTip("Display digital count (raw value)");
    RadioButton2 = Named(new QRadioButton("Show radiance", panel), "RadioButton2");
    RadioButton2->setToolTip("Compute radiance from measure and calibration");
    RadioButton3 = Named(new QRadioButton("Show temperature", panel), "RadioButton3");
    RadioButton3->setToolTip("Compute temperature from measure and calibration");
    CBBlack = Named(new QCheckBox("Show black temperature", panel), "CBBlack");
    CBBlack->setToolTip("Display black body temperature for equiped radiometers");
    CBJulien = Named(new QCheckBox("Use julian date", panel), "CBJulien");
    CBJulien->setToolTip("Show date and hour in days from start of year");
    Button1 = Named(new QPushButton("Export ASCII", panel), "Button1");
    for (QWidget* w : std::initializer_list<QWidget*>{RadioButton1, RadioButton2, RadioButton3, CBBlack, CBJulien, Button1})
        side->addWidget(w);
    RadioButton1->setChecked(true);
    CBBlack->setVisible(false);

    // Pages.
    PageControl1 = Named(new QTabWidget(this), "PageControl1");
    TabSheet1 = Named(new QWidget, "TabSheet1");
    StringGrid1 = Named(new QTableWidget(TabSheet1), "StringGrid1");
    StringGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    (new QVBoxLayout(TabSheet1))->addWidget(StringGrid1);
    TabSheet2 = Named(new QWidget, "TabSheet2");
    auto* graph = new QVBoxLayout(TabSheet2);
    GfxChart = Named(new TChart(TabSheet2), "GfxChart");
    GfxChart->SetPanning(TChart::PanHorizontal);
    graph->addWidget(GfxChart, 1);
    auto* bottom = Named(new QWidget(TabSheet2), "Panel2");
    auto* tools = new QHBoxLayout(bottom);
    auto* hints = new QVBoxLayout;
    hints->addWidget(new QLabel("To zoom, us left button on graph", bottom));
    hints->addWidget(new QLabel("To slide on time axis, use right button", bottom));
    tools->addLayout(hints);
    SpeedButton1 = Named(new QToolButton(bottom), "SpeedButton1");
    SpeedButton1->setText("Zone");
    SpeedButton1->setToolTip("Provide tool to remove measure. Select zone of data to remove.");
    SpeedButton2 = Named(new QToolButton(bottom), "SpeedButton2");
    SpeedButton2->setText("Zoom");
    SpeedButton2->setToolTip(
        "Enable zoom tool. To zoom select a zone from upper left corner to bottom right one");
    // A group of their own, so that they never take the check of the "Points" and "Curves" buttons.
    auto* toolGroup = new QButtonGroup(bottom);
    for (QToolButton* b : {SpeedButton1, SpeedButton2}) {
        b->setCheckable(true);
        toolGroup->addButton(b);
        tools->addWidget(b);
    }
    SpeedButton2->setChecked(true);
    RadioButton4 = Named(new QRadioButton("Points", bottom), "RadioButton4");
    RadioButton5 = Named(new QRadioButton("Curves", bottom), "RadioButton5");
    RadioButton4->setChecked(true);
    tools->addWidget(RadioButton4);
    tools->addWidget(RadioButton5);
    Button2 = Named(new QPushButton("Unzoom", bottom), "Button2");
    Button2->setToolTip("Unzoom. Unzoom could also be done by making a zone from bottom right corner to upper left one");
    tools->addWidget(Button2);
    graph->addWidget(bottom);
    PageControl1->addTab(TabSheet1, "Table");
    PageControl1->addTab(TabSheet2, "Graph");

    auto* layout = new QHBoxLayout(this);
    layout->setMenuBar(menuBar);
    layout->addWidget(PageControl1, 1);
    layout->addWidget(panel);

    OpenDialog1 = Named(new QFileDialog(this, "Open q5x file"), "OpenDialog1");
    OpenDialog1->setOption(QFileDialog::DontUseNativeDialog);
    OpenDialog1->setNameFilter("File Q5 xml (*.q5x)");
    OpenDialog1->setFileMode(QFileDialog::ExistingFile);
    SaveDialog1 = Named(new QFileDialog(this, "Export ASCII"), "SaveDialog1");
    SaveDialog1->setOption(QFileDialog::DontUseNativeDialog);
    SaveDialog1->setAcceptMode(QFileDialog::AcceptSave);

    auto kind = [this](ENumChartKind k) {
        SetChartKind(k);
        Refresh();
    };
    connect(RadioButton1, &QRadioButton::clicked, this, [kind] { kind(ViewCN); });
    connect(RadioButton2, &QRadioButton::clicked, this, [kind] { kind(ViewLumi); });
    connect(RadioButton3, &QRadioButton::clicked, this, [kind] { kind(ViewTemp); });
    connect(RadioButton4, &QRadioButton::clicked, this, [this] { SerieKind = 0; Refresh(); });
    connect(RadioButton5, &QRadioButton::clicked, this, [this] { SerieKind = 1; Refresh(); });
    connect(CLBPosition, &QListWidget::itemChanged, this, [this] { Refresh(); });
    connect(CLBFiltre, &QListWidget::itemChanged, this, [this] { Refresh(); });
    connect(CBBlack, &QCheckBox::clicked, this, [this] { Refresh(); });
    connect(CBJulien, &QCheckBox::clicked, this, [this] { Refresh(); });
    connect(PageControl1, &QTabWidget::currentChanged, this, [this] { Refresh(); });
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    connect(Button2, &QPushButton::clicked, this, [this] { GfxChart->UndoZoom(); });
    connect(SpeedButton1, &QToolButton::clicked, this, [this] {
        FZoneTool = true;
        GfxChart->SetAllowZoom(false);
    });
    connect(SpeedButton2, &QToolButton::clicked, this, [this] {
        FZoneTool = false;
        GfxChart->SetAllowZoom(true);
    });
    GfxChart->OnMouseDown = [this](Qt::MouseButton b, Qt::KeyboardModifiers, int x, int y) { GfxChartMouseDown(b, x, y); };
    GfxChart->OnMouseMove = [this](Qt::KeyboardModifiers, int x, int y) { GfxChartMouseMove(x, y); };
    GfxChart->OnMouseUp = [this](Qt::MouseButton b, Qt::KeyboardModifiers, int x, int y) { GfxChartMouseUp(b, x, y); };
    resize(980, 640);
}

std::string TRadiometreFrm::StorePath() const
{
    return PathToBytes(TCalibrationStore(BytesToPath(ExtractFileDir(FHost.PlugInFileName))).ReadPath());
}

int TRadiometreFrm::LoadData(const std::string& fileName)
{
    FData.Clear();
    int status = 0;
    if (!fileName.empty()) {
        TImportDataXml import(fileName, FData, TQ5xVariant::Radiometre);
        status = import.Status;
        if (status == TImportDataXml::StatusUnreadable) ShowWarning(import.Error.MessageText());
    } else {
        status = TImportHostData(FData, FHost.DataFile(), FHost.StationParams).Status;
    }
    std::vector<std::string> warnings;
    std::string error;
    if (!FData.LoadCalibrations(BytesToPath(StorePath()), warnings, error))
        ShowWarning(TextWithFileName("The calibrations cannot be read from ", StorePath(), ": " + error));
    if (!warnings.empty()) {
        // A box that fits on the screen: the first lines, then how many more.
        QString text = TextWithFileName("Some calibrations of ", StorePath(), " could not be read:");
        const size_t shown = warnings.size() > kWarningLines ? kWarningLines - 1 : warnings.size();
        for (size_t i = 0; i < shown; ++i) text += AnsiToQString("\n" + warnings[i]);
        if (shown < warnings.size()) text += QString("\n... and %1 more").arg(warnings.size() - shown);
        ShowWarning(text);
    }
    if (status == 1) ShowWarning("Unknown instrument");
    if (status == 2) ShowWarning("Q5 file don't have IR data");
    return status;
}

bool TRadiometreFrm::OpenLoop(bool* tried)
{
    for (;;) {
        // A dialog cancelled before any file was chosen leaves the data on show as it was.
        if (OpenDialog1->exec() != QDialog::Accepted || OpenDialog1->selectedFiles().isEmpty()) return false;
        if (tried) *tried = true;
        CLBPosition->clear();
        CLBFiltre->clear();
        const std::string path = QStringToFileName(OpenDialog1->selectedFiles().first());
        if (LoadData(path) == 0) {
            PrepareWindow();
            Loaded = true;
            FFileName = path;
            return true;
        }
    }
}

void TRadiometreFrm::SetCalibrationButtons(bool warnWhenMissing)
{
    const bool calibrated = FData.Calibrations.Count() > 0;
    RadioButton2->setEnabled(calibrated);
    RadioButton3->setEnabled(calibrated);
    if (!calibrated && warnWhenMissing) ShowWarning("Calibration missing, only source data could be display");
}

void TRadiometreFrm::PrepareWindow()
{
    const std::filesystem::path beside = BytesToPath(ExtractFileDir(FHost.PlugInFileName)) / "radiometre.html";
    std::error_code ec;
    FHelpFile = PathToBytes(std::filesystem::exists(beside, ec) ? beside : InstalledDataDir() / "help" / "radiometre.html");
    FHtmlHelp = std::make_unique<THTMLHelp>(FHelpFile);

    const QSignalBlocker blockPositions(CLBPosition), blockFilters(CLBFiltre);
    CLBPosition->clear();
    CLBFiltre->clear();
    std::set<int> positions;
    for (const TCNSerie* s : FData.SerieList) positions.insert(s->Position);
    for (int p : positions) {
        auto* item = new QListWidgetItem(QString::number(p));
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(p == 0 ? Qt::Checked : Qt::Unchecked);
        CLBPosition->addItem(item);
    }
    for (const TFilter* f : FData.FilterList) {
        auto* item = new QListWidgetItem(AnsiToQString(f->GetName()));
        item->setData(Qt::UserRole, f->Number());
        item->setForeground(ColorOf(f->Color));
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Checked);
        CLBFiltre->addItem(item);
    }
    SetCalibrationButtons(true);
    FZoneTool = false;
    SpeedButton2->setChecked(true);
    GfxChart->SetAllowZoom(true);
    RadioButton1->setChecked(true);
    SetChartKind(ViewCN);
    RadioButton4->setChecked(true);
    SerieKind = 0;
    const QSignalBlocker blockPages(PageControl1);
    PageControl1->setCurrentWidget(TabSheet2);
    Refresh();
}

void TRadiometreFrm::SetChartKind(ENumChartKind kind)
{
    ChartKind = kind;
    // The black body's temperature goes with the temperatures only.
    CBBlack->setVisible(kind == ViewTemp);
}

void TRadiometreFrm::Refresh()
{
    if (PageControl1->currentWidget() == TabSheet1) FillTable();
    else DrawChart();
}

std::vector<TFilter*> TRadiometreFrm::CheckedFilters() const
{
    std::vector<TFilter*> out;
    for (TFilter* f : FData.FilterList)
        for (int i = 0; i < CLBFiltre->count(); ++i)
            if (CLBFiltre->item(i)->data(Qt::UserRole).toInt() == f->Number() &&
                CLBFiltre->item(i)->checkState() == Qt::Checked) {
                out.push_back(f);
                break;
            }
    return out;
}

bool TRadiometreFrm::PositionChecked(int position) const
{
    for (int i = 0; i < CLBPosition->count(); ++i)
        if (CLBPosition->item(i)->text().toInt() == position) return CLBPosition->item(i)->checkState() == Qt::Checked;
    return false;
}

bool TRadiometreFrm::ValueOf(const TCN& cn, double& y)
{
    switch (ChartKind) {
    case ViewLumi: return FData.GetRadiance(cn, y);
    case ViewTemp: return FData.GetTemperature(cn, y);
    default: y = cn.Count; return true;
    }
}

double TRadiometreFrm::XOf(const TCNSerie& serie) const
{
    return CBJulien->isChecked() ? JulianDay(serie.DateTime) : serie.DateTime;
}

void TRadiometreFrm::FillTable()
{
    FErrors.Clear();
    const std::vector<TFilter*> filters = CheckedFilters();
    const bool black = CBBlack->isChecked() && ChartKind == ViewTemp;
    std::map<double, size_t> rows;  // date-time -> row, ascending
    for (const TCNSerie* s : FData.SerieList)
        if (PositionChecked(s->Position)) rows.emplace(s->DateTime, 0);
    std::vector<std::string> header = {"Date/Hour", "Pos."};
    if (black) header.push_back("Black");
    for (const TFilter* f : filters) header.push_back(f->GetName());
    const size_t firstFilter = black ? 3 : 2;
    std::vector<std::vector<std::string>> grid(rows.size() + 1, std::vector<std::string>(header.size()));
    grid[0] = header;
    size_t r = 1;
    for (auto& [date, row] : rows) {
        row = r++;
        grid[row][0] = CBJulien->isChecked() ? ShortestRealText(JulianDay(date)) : Q5xDateTimeText(date);
    }
    for (TCNSerie* s : FData.SerieList) {
        if (!PositionChecked(s->Position)) continue;
        std::vector<std::string>& line = grid[rows[s->DateTime]];
        line[1] = std::to_string(s->Position);
        if (black && s->BlackTemp != kMissing) line[2] = ThreeDecimals(s->BlackTemp);
        for (size_t c = 0; c < filters.size(); ++c)
            for (const TCN* cn : *s) {
                if (cn->FilterNumber != filters[c]->Number()) continue;
                double y = 0;
                if (ChartKind == ViewCN) line[firstFilter + c] = ShortestRealText(cn->Count);
                else if (ValueOf(*cn, y)) line[firstFilter + c] = ThreeDecimals(y);
            }
        s->Caution = false;
    }
    StringGrid1->clear();
    StringGrid1->setColumnCount(static_cast<int>(header.size()));
    StringGrid1->setRowCount(static_cast<int>(grid.size()) - 1);
    for (size_t c = 0; c < header.size(); ++c) {
        StringGrid1->setHorizontalHeaderItem(static_cast<int>(c), new QTableWidgetItem(AnsiToQString(header[c])));
        StringGrid1->setColumnWidth(static_cast<int>(c), c == 0 ? 130 : c == 1 ? 40 : 70);
    }
    for (size_t row = 1; row < grid.size(); ++row)
        for (size_t c = 0; c < header.size(); ++c)
            StringGrid1->setItem(static_cast<int>(row - 1), static_cast<int>(c), new QTableWidgetItem(AnsiToQString(grid[row][c])));
    if (FErrors.HasMessages()) FErrors.show();
}

void TRadiometreFrm::DrawChart()
{
    GfxChart->SetTitle(kTitles[ChartKind]);
    GfxChart->SetView3D(false);
    GfxChart->SetLegendVisible(true);
    GfxChart->SetExactDateTime(false);
    GfxChart->FreeAllSeries();
    FErrors.Clear();
    // The lowest possible value as the starting highest, so that an all-negative chart has its axis.
    double lowest = 1.7E308, highest = -1.7E308;
    const std::vector<TFilter*> filters = CheckedFilters();
    std::vector<int> positions;
    for (int i = 0; i < CLBPosition->count(); ++i) positions.push_back(CLBPosition->item(i)->text().toInt());
    for (TFilter* f : FData.FilterList) {
        f->PointSeries = nullptr;
        f->IrCurves.clear();
    }
    for (TFilter* f : filters) {
        const QString name = AnsiToQString(f->GetName());
        if (SerieKind == 0) {
            TPointSeries* s = GfxChart->AddPointSeries(name);
            s->SetColor(ColorOf(f->Color));
            s->SetPointerStyle(psCross);
            f->PointSeries = s;
        } else {
            for (size_t i = 0; i < positions.size(); ++i) {
                TLineSeries* s = GfxChart->AddLineSeries(name);
                s->SetColor(ColorOf(f->Color));
                s->SetPointerStyle(psTriangle);
                s->SetPointerVisible(true);
                s->SetShowInLegend(i == 0);
                f->IrCurves.push_back(s);
            }
        }
    }
    TChartSeries* black = nullptr;
    if (CBBlack->isChecked() && ChartKind == ViewTemp) {
        black = SerieKind == 0 ? static_cast<TChartSeries*>(GfxChart->AddPointSeries("Black"))
                               : GfxChart->AddLineSeries("Black");
        black->SetColor(QColor(102, 102, 102));
    }
    GfxChart->SetBottomDateTime(!CBJulien->isChecked(), "dd/mm hh:nn");
    for (TCNSerie* s : FData.SerieList) {
        if (!PositionChecked(s->Position)) continue;
        const double x = XOf(*s);
        const size_t curve = static_cast<size_t>(std::find(positions.begin(), positions.end(), s->Position) - positions.begin());
        for (const TCN* cn : *s) {
            TFilter* f = FData.FindFilter(cn->FilterNumber);
            if (!f || std::find(filters.begin(), filters.end(), f) == filters.end()) continue;
            TChartSeries* target = SerieKind == 0 ? f->PointSeries : (curve < f->IrCurves.size() ? f->IrCurves[curve] : nullptr);
            double y = 0;
            if (!target || !ValueOf(*cn, y)) continue;
            target->AddXY(x, y);
            lowest = std::min(lowest, y);
            highest = std::max(highest, y);
        }
        if (black) {
            double t = s->BlackTemp;
            if (t < -999) t = FData.FindNearestBlackTemp(*s).Value;
            if (t >= -999) {
                black->AddXY(x, t);
                lowest = std::min(lowest, t);
                highest = std::max(highest, t);
            }
        }
        s->Caution = false;
    }
    GfxChart->SetAxisTitle(TChart::Bottom, "Time of mesurement");
    GfxChart->SetAxisTitle(TChart::Left, kTitles[ChartKind]);
    if (lowest == 1.7E308) lowest = 0;
    if (highest == -1.7E308) highest = 10;
    const double range = std::max(highest - lowest, 2.0);
    const double middle = (highest + lowest) / 2;
    GfxChart->SetAxisRange(TChart::Left, middle - range * 1.1 / 2, middle + range * 1.1 / 2);
    GfxChart->SetAxisAutomatic(TChart::Bottom);
    GfxChart->Repaint();
    if (FErrors.HasMessages()) FErrors.show();
}

void TRadiometreFrm::RemoveZone(double x1, double y1, double x2, double y2)
{
    if (x1 > x2) std::swap(x1, x2);
    if (y1 > y2) std::swap(y1, y2);
    const std::vector<TFilter*> filters = CheckedFilters();
    std::vector<TCNSerie*> doomed;
    for (TCNSerie* s : FData.SerieList) {
        if (!PositionChecked(s->Position)) continue;
        // The zone is drawn over the chart's x values: date-times, or days of the year.
        const double x = XOf(*s);
        if (x < x1 || x > x2) continue;
        for (const TCN* cn : *s) {
            if (std::none_of(filters.begin(), filters.end(), [cn](const TFilter* f) { return f->Number() == cn->FilterNumber; }))
                continue;
            if (ChartKind != ViewCN && cn->Count <= 0) continue;
            double y = 0;
            if (ValueOf(*cn, y) && y >= y1 && y <= y2) {
                doomed.push_back(s);
                break;
            }
        }
        s->Caution = false;
    }
    FData.DeleteSeries(doomed);  // in one pass: a zone over a year of data holds thousands
    DrawChart();
}

void TRadiometreFrm::GfxChartMouseDown(Qt::MouseButton button, int x, int y)
{
    if (!FZoneTool || button != Qt::LeftButton) return;
    FPress = QPoint(x, y);
    FDragging = true;
}

void TRadiometreFrm::GfxChartMouseMove(int x, int y)
{
    if (!FDragging) return;
    if (FBox) FBox->Restore();
    FBox = std::make_unique<TExtraGraph_Box>(&GfxChart->Canvas(), FPress.x(), FPress.y(), x, y);
    FBox->SaveBackground();
    FBox->Draw();
    GfxChart->CanvasChanged();
}

void TRadiometreFrm::GfxChartMouseUp(Qt::MouseButton button, int x, int y)
{
    if (!FDragging || button != Qt::LeftButton) return;
    FDragging = false;
    if (FBox) FBox->Restore();
    FBox.reset();
    GfxChart->CanvasChanged();
    // Without a series there are no axes of a series to read the zone through.
    if (GfxChart->SeriesCount() == 0) return;
    const TChartSeries* first = GfxChart->Series(0);
    RemoveZone(GfxChart->XScreenToValue(FPress.x()), GfxChart->YScreenToValue(FPress.y(), first),
               GfxChart->XScreenToValue(x), GfxChart->YScreenToValue(y, first));
}

std::vector<std::string> TRadiometreFrm::ExportLines()
{
    std::vector<std::string> lines;
    const int columns = StringGrid1->columnCount();
    std::string line;
    for (int c = 0; c < columns; ++c) {
        const QTableWidgetItem* h = StringGrid1->horizontalHeaderItem(c);
        line += (h ? QStringToAnsi(h->text()) : std::string()) + FHost.ListSeparator;
    }
    lines.push_back(line);
    for (int r = 0; r < StringGrid1->rowCount(); ++r) {
        line.clear();
        for (int c = 0; c < columns; ++c) {
            const QTableWidgetItem* item = StringGrid1->item(r, c);
            line += (item ? QStringToAnsi(item->text()) : std::string()) + FHost.ListSeparator;
        }
        lines.push_back(line);
    }
    return lines;
}

bool TRadiometreFrm::ExportTo(const std::string& path)
{
    if (PageControl1->currentWidget() != TabSheet1) FillTable();
    std::string bytes;
    for (const std::string& line : ExportLines()) bytes += line + "\r\n";
    std::string error;
    if (!WriteFileAtomically(BytesToPath(path), bytes, &error)) {
        ShowWarning(TextWithFileName("Cannot write ", path, ": ") + FileNameToQString(error));
        return false;
    }
    ShowInfo("Export succeeded");
    return true;
}

void TRadiometreFrm::Button1Click()
{
    SaveDialog1->setOption(QFileDialog::DontConfirmOverwrite, !FHost.ConfirmWrite);
    SaveDialog1->selectFile(FileNameToQString(ChangeFileExt(FFileName, ".txt")));
    if (SaveDialog1->exec() != QDialog::Accepted || SaveDialog1->selectedFiles().isEmpty()) return;
    ExportTo(QStringToFileName(SaveDialog1->selectedFiles().first()));
}

void TRadiometreFrm::Ouvrir1Click()
{
    bool tried = false;
    const bool loaded = OpenLoop(&tried);
    // A file that failed has emptied the data set: show that, and keep the way back to the host's data.
    if (!loaded && tried) Refresh();
    if ((loaded || tried) && FHost.DataFile()) ReOuvrirlefichierQ51->setEnabled(true);
}

void TRadiometreFrm::ReOuvrirlefichierQ51Click()
{
    if (LoadData("") != 0) return;
    PrepareWindow();
    FFileName = FHost.DataFile() ? FHost.DataFile()->FileName : std::string();
    ReOuvrirlefichierQ51->setEnabled(false);
}

void TRadiometreFrm::Calibration1Click()
{
    {
        TfCalibration editor(FData, TCalibrationStore(BytesToPath(ExtractFileDir(FHost.PlugInFileName))), this);
        _fCalibration = &editor;
        editor.exec();
        _fCalibration = nullptr;
    }
    SetCalibrationButtons(true);
    if (FData.Calibrations.Count() == 0) {
        RadioButton1->setChecked(true);
        SetChartKind(ViewCN);
    }
    Refresh();
}

void TRadiometreFrm::Index1Click()
{
    std::error_code ec;
    if (FHelpFile.empty() || !std::filesystem::exists(BytesToPath(FHelpFile), ec)) {
        ShowWarning(TextWithFileName("The on-line help file ", FHelpFile, " doesn't exist!"));
        return;
    }
    if (FHtmlHelp) FHtmlHelp->ShowHelp();
}

void TRadiometreFrm::Apropos1Click()
{
    TAboutBox about("Radiometer", "Version 1.4", ZELT_VERSION_TEXT ".0", this);
    about.exec();
}

}  // namespace radio
