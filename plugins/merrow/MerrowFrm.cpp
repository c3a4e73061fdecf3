#include "plugins/merrow/MerrowFrm.h"

#include "common/DecimalSep.h"
#include "common/FileUtils.h"
#include "common/Prompt.h"
#include "common/analysis/ErreurFrm.h"
#include "common/analysis/ExtraGraph.h"
#include "common/analysis/Q5xReader.h"
#include "common/analysis/RadioAboutBox.h"
#include "plugins/merrow/MerrowChart.h"
#include "common/chart/ChartServices.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QStyledItemDelegate>
#include <QTabWidget>
#include <QTableWidget>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <map>
#include <set>

using radio::TCN;
using radio::TCNSerie;
using radio::TFilter;

namespace merrow {

namespace {

QString Q(const std::string& bytes) { return AnsiToQString(bytes); }

// The filter list shows each filter's colour and name; the item's text is the filter number.
class FilterItemDelegate : public QStyledItemDelegate {
public:
    FilterItemDelegate(radio::TRadData& data, QObject* parent) : QStyledItemDelegate(parent), FData(data) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        const TFilter* filter = FData.FindFilter(index.data().toInt());
        opt.text = filter ? Q(filter->GetName()) : index.data().toString();
        const QStyle* style = opt.widget ? opt.widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, opt.widget);
        if (filter) {
            const QRect swatch(opt.rect.right() - opt.rect.height() + 2, opt.rect.top() + 2, opt.rect.height() - 4,
                               opt.rect.height() - 4);
            const uint32_t c = filter->Color;
            painter->fillRect(swatch, QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF));
        }
    }

private:
    radio::TRadData& FData;
};

QListWidgetItem* AddCheckItem(QListWidget* list, const QString& text, bool checked)
{
    auto* item = new QListWidgetItem(text, list);
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
    return item;
}

QCheckBox* CheckBox(const QString& text, const char* name, QWidget* parent)
{
    auto* box = new QCheckBox(text, parent);
    box->setObjectName(name);
    box->setChecked(true);
    return box;
}

// The file name with its extension replaced by "txt".
std::string ExportName(const std::string& fileName)
{
    const QFileInfo info(QString::fromStdString(fileName));
    if (fileName.empty()) return "export.txt";
    return (info.path() + "/" + info.completeBaseName() + ".txt").toStdString();
}

}  // namespace

TMerrowFrm::TMerrowFrm(radio::TRadData& data, radio::TErreurFrm& errors, TMerrowOptions options, QWidget* parent)
    : QDialog(parent), FData(data), FErrors(errors), FOptions(std::move(options))
{
    CreateControls();
    if (OpenLoop()) {
        Prepare();
        BuildTree();
    } else {
        ShowWarning("No data in memory. You must load a file before use plugin.");
    }
}

TMerrowFrm::~TMerrowFrm() = default;

void TMerrowFrm::CreateControls()
{
    setObjectName("MerrowFrm");
    setWindowTitle("Q5x Viewer");
    resize(980, 640);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(4, 4, 4, 4);

    MainMenu1 = new QMenuBar(this);
    MainMenu1->setObjectName("MainMenu1");
    QMenu* files = MainMenu1->addMenu("Files");
    files->setObjectName("Fichier1");
    Ouvrir1 = files->addAction("Open");
    Ouvrir1->setObjectName("Ouvrir1");
    Export1 = files->addAction("Export");
    Export1->setObjectName("Export1");
    QMenu* help = MainMenu1->addMenu("Help");
    help->setObjectName("Aide1");
    Apropos1 = help->addAction("About");
    Apropos1->setObjectName("Apropos1");
    outer->setMenuBar(MainMenu1);
    connect(Ouvrir1, &QAction::triggered, this, &TMerrowFrm::Ouvrir1Click);
    connect(Apropos1, &QAction::triggered, this, &TMerrowFrm::Apropos1Click);

    auto* body = new QHBoxLayout;
    outer->addLayout(body, 1);

    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName("PageControl1");
    body->addWidget(PageControl1, 1);
    TreeView1 = new QTreeWidget;
    TreeView1->setObjectName("TreeView1");
    TreeView1->setHeaderHidden(true);
    PageControl1->addTab(TreeView1, "Tree diagram");
    StringGrid1 = new QTableWidget;
    StringGrid1->setObjectName("StringGrid1");
    StringGrid1->horizontalHeader()->hide();
    StringGrid1->verticalHeader()->hide();
    StringGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    PageControl1->addTab(StringGrid1, "Table");

    auto* graphic = new QWidget;
    graphic->setObjectName("TabSheet3");
    auto* graphicLayout = new QVBoxLayout(graphic);
    GfxChart = new TChart(graphic);
    GfxChart->setObjectName("GfxChart");
    graphicLayout->addWidget(GfxChart, 1);
    auto* tools = new QHBoxLayout;
    auto* hints = new QVBoxLayout;
    hints->addWidget(new QLabel("To move over temporal axis use right button"));
    hints->addWidget(new QLabel("To zoom use left button on graphic"));
    tools->addLayout(hints);
    SpeedButton1 = new QToolButton;
    SpeedButton1->setObjectName("SpeedButton1");
    SpeedButton1->setText("Zone");
    SpeedButton1->setToolTip("Remove the acquisitions of a zone");
    SpeedButton1->setCheckable(true);
    SpeedButton2 = new QToolButton;
    SpeedButton2->setObjectName("SpeedButton2");
    SpeedButton2->setText("Zoom");
    SpeedButton2->setToolTip("Zoom");
    SpeedButton2->setCheckable(true);
    SpeedButton2->setChecked(true);
    tools->addWidget(SpeedButton1);
    tools->addWidget(SpeedButton2);
    RadioButton4 = new QRadioButton("Point");
    RadioButton4->setObjectName("RadioButton4");
    RadioButton4->setChecked(true);
    RadioButton5 = new QRadioButton("Curve");
    RadioButton5->setObjectName("RadioButton5");
    tools->addWidget(RadioButton4);
    tools->addWidget(RadioButton5);
    // One of each pair is down at a time.
    auto* kinds = new QButtonGroup(graphic);
    kinds->addButton(RadioButton4);
    kinds->addButton(RadioButton5);
    auto* toolGroup = new QButtonGroup(graphic);
    toolGroup->addButton(SpeedButton1);
    toolGroup->addButton(SpeedButton2);
    Button2 = new QPushButton("Unzoom");
    Button2->setObjectName("Button2");
    tools->addWidget(Button2);
    tools->addStretch(1);
    graphicLayout->addLayout(tools);
    PageControl1->addTab(graphic, "Graphic");

    auto* right = new QVBoxLayout;
    body->addLayout(right);
    right->addWidget(new QLabel("Filters :"));
    CLBFiltre = new QListWidget(this);
    CLBFiltre->setObjectName("CLBFiltre");
    CLBFiltre->setItemDelegate(new FilterItemDelegate(FData, CLBFiltre));
    CLBFiltre->setMaximumWidth(170);
    right->addWidget(CLBFiltre, 1);
    right->addWidget(new QLabel("Position :"));
    CLBPosition = new QListWidget(this);
    CLBPosition->setObjectName("CLBPosition");
    CLBPosition->setSortingEnabled(true);
    CLBPosition->setMaximumWidth(170);
    right->addWidget(CLBPosition, 1);
    Button1 = new QPushButton("Export to ASCII", this);
    Button1->setObjectName("Button1");
    right->addWidget(Button1);
    CBIr = CheckBox("IR", "CBIr", this);
    CBMir = CheckBox("MIR", "CBMir", this);
    CBBlack = CheckBox("Black TEMP", "CBBlack", this);
    CBHead = CheckBox("Head TEMP", "CBHead", this);
    CBHum = CheckBox("Humidity", "CBHum", this);
    for (QCheckBox* box : {CBIr, CBMir, CBBlack, CBHead, CBHum}) {
        right->addWidget(box);
        connect(box, &QCheckBox::clicked, this, &TMerrowFrm::FillTableAndChart);
    }

    OpenDialog1 = new QFileDialog(this, "Open", QString(), "XML Q5 files (*.q5x)");
    OpenDialog1->setObjectName("OpenDialog1");
    OpenDialog1->setFileMode(QFileDialog::ExistingFile);
    OpenDialog1->setAcceptMode(QFileDialog::AcceptOpen);
    OpenDialog1->setOption(QFileDialog::DontUseNativeDialog);
    SaveDialog1 = new QFileDialog(this, "Export to ASCII");
    SaveDialog1->setObjectName("SaveDialog1");
    SaveDialog1->setAcceptMode(QFileDialog::AcceptSave);
    // The host's setting decides whether replacing a file is confirmed.
    SaveDialog1->setOption(QFileDialog::DontConfirmOverwrite);
    SaveDialog1->setOption(QFileDialog::DontUseNativeDialog);

    connect(RadioButton4, &QRadioButton::clicked, this, &TMerrowFrm::RadioButton4Click);
    connect(RadioButton5, &QRadioButton::clicked, this, &TMerrowFrm::RadioButton5Click);
    connect(SpeedButton1, &QToolButton::clicked, this, &TMerrowFrm::SpeedButton1Click);
    connect(SpeedButton2, &QToolButton::clicked, this, &TMerrowFrm::SpeedButton2Click);
    connect(Button1, &QPushButton::clicked, this, &TMerrowFrm::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TMerrowFrm::Button2Click);
    auto listChanged = [this](QListWidgetItem*) {
        if (!FFilling) FillTableAndChart();
    };
    connect(CLBFiltre, &QListWidget::itemChanged, this, listChanged);
    connect(CLBPosition, &QListWidget::itemChanged, this, listChanged);
    GfxChart->OnMouseDown = [this](Qt::MouseButton b, Qt::KeyboardModifiers, int x, int y) { GfxChartMouseDown(b, x, y); };
    GfxChart->OnMouseMove = [this](Qt::KeyboardModifiers, int x, int y) { GfxChartMouseMove(x, y); };
    GfxChart->OnMouseUp = [this](Qt::MouseButton b, Qt::KeyboardModifiers, int x, int y) { GfxChartMouseUp(b, x, y); };
}

// ---- loading ------------------------------------------------------------------------------------------

bool TMerrowFrm::OpenLoop()
{
    for (;;) {
        if (OpenDialog1->exec() != QDialog::Accepted || OpenDialog1->selectedFiles().isEmpty()) return false;
        const std::string path = OpenDialog1->selectedFiles().first().toStdString();
        if (LoadFile(path)) {
            FFileName = path;
            FLoaded = true;
            return true;
        }
    }
}

bool TMerrowFrm::LoadFile(const std::string& path)
{
    // Read into a data set of its own: a file that fails leaves the one on show whole.
    radio::TRadData fresh;
    const radio::TImportDataXml import(path, fresh);
    switch (import.Status) {
    case radio::TImportDataXml::StatusOk:
        break;
    case radio::TImportDataXml::StatusNoInstrument:
        ShowWarning("Unknown instrument or invalid file.");
        return false;
    case radio::TImportDataXml::StatusNoFilters:
        ShowWarning("Q5x file doesn't provide filters.");
        return false;
    case radio::TImportDataXml::StatusNoCounts:
        ShowWarning("Q5x file doesn't contains IR numeric counts.");
        return false;
    default:
        ShowWarning(AnsiToQString("Unable to read the file ") + import.Error.MessageText());
        return false;
    }
    // The chart still holds the series of the filters about to be freed: clear it first.
    GfxChart->FreeAllSeries();
    FData.Swap(fresh);
    return true;
}

void TMerrowFrm::Prepare()
{
    FFilling = true;
    std::set<int> positions;
    for (const TCNSerie* s : FData.SerieList) positions.insert(s->Position);
    CLBPosition->clear();
    for (int p : positions) AddCheckItem(CLBPosition, QString::number(p), p == 0);
    CLBFiltre->clear();
    for (const TFilter* f : FData.FilterList) AddCheckItem(CLBFiltre, QString::number(f->Number()), true);
    FFilling = false;
    SpeedButton2->setChecked(true);
    SpeedButton2Click();
    RadioButton4->setChecked(true);
    FSerieKind = 0;
    PageControl1->setCurrentIndex(2);
    FillTableAndChart();
}

void TMerrowFrm::Ouvrir1Click()
{
    if (!OpenLoop()) return;
    Prepare();
    BuildTree();
}

void TMerrowFrm::Apropos1Click()
{
    radio::TAboutBox about("Q5x Viewer", "Version 1.1", FOptions.FileVersion, this);
    about.exec();
}

// ---- tree ---------------------------------------------------------------------------------------------

void TMerrowFrm::BuildTree()
{
    TreeView1->clear();
    radio::TQ5xDocument document;
    radio::TQ5xError error;
    // Built from the file itself; a file changed meanwhile shows what it reads up to its fault.
    radio::LoadQ5xDocument(FFileName, document, error);
    for (const radio::TQ5xAcquisition& a : document.Acquisitions) {
        double when = 0;
        const std::string title =
            radio::Q5xDateTime(a.D, a.H, when) ? radio::Q5xDateTimeText(when) : a.D + " " + a.H;
        auto* top = new QTreeWidgetItem(TreeView1, {Q(title)});
        for (const radio::TQ5xMeasure& m : a.Measures) {
            std::string text;
            if (m.Id == "EL_RAD") {
                int32_t number = 0;
                const TFilter* filter = radio::Q5xInteger(m.F, number) ? FData.FindFilter(number) : nullptr;
                // A filter the file does not describe is named by its number.
                const std::string name = filter ? filter->GetName() : "filter " + m.F;
                text = m.T + " " + name + " : " + radio::ShortestRealText(radio::Q5xNumber(m.Text, radio::kMissing));
            } else if (m.Id == "EL_TEMPHEAD") {
                text = "Head temp.:" + m.Text + " \xB0" "C";
            } else if (m.Id == "EL_HUM") {
                text = "Head humidity: " + m.Text + " %";
            } else {
                text = "Unknown measure";
            }
            new QTreeWidgetItem(top, {Q(text)});
        }
    }
}

// ---- table and chart ----------------------------------------------------------------------------------

bool TMerrowFrm::PositionChecked(int position) const
{
    const QString text = QString::number(position);
    for (int i = 0; i < CLBPosition->count(); ++i)
        if (CLBPosition->item(i)->text() == text) return CLBPosition->item(i)->checkState() == Qt::Checked;
    return false;
}

int TMerrowFrm::PositionIndex(int position) const
{
    const QString text = QString::number(position);
    for (int i = 0; i < CLBPosition->count(); ++i)
        if (CLBPosition->item(i)->text() == text) return i;
    return -1;
}

bool TMerrowFrm::FilterChecked(const TFilter* filter) const
{
    if (!filter) return false;
    const QString text = QString::number(filter->Number());
    for (int i = 0; i < CLBFiltre->count(); ++i)
        if (CLBFiltre->item(i)->text() == text) return CLBFiltre->item(i)->checkState() == Qt::Checked;
    return false;
}

void TMerrowFrm::FillTableAndChart()
{
    const bool curves = FSerieKind == 1;
    const bool ir = CBIr->isChecked(), mir = CBMir->isChecked();
    const bool black = CBBlack->isChecked(), head = CBHead->isChecked(), hum = CBHum->isChecked();

    ResetChart(*GfxChart);
    FErrors.Clear();
    for (TFilter* f : FData.FilterList) {
        f->PointSeries = nullptr;
        f->IrCurves.clear();
        f->MirCurves.clear();
    }
    double lowest = InitialLowest(), highest = InitialHighest();
    auto follow = [&lowest, &highest](double v) {
        lowest = std::min(lowest, v);
        highest = std::max(highest, v);
    };

    // Rows: the distinct date-times of the acquisitions of a checked position, ascending.
    std::vector<double> times;
    for (const TCNSerie* s : FData.SerieList)
        if (PositionChecked(s->Position)) times.push_back(s->DateTime);
    std::sort(times.begin(), times.end());
    times.erase(std::unique(times.begin(), times.end()), times.end());
    FCells.clear();
    FColWidths.clear();
    std::vector<std::string> headers = {"Date/Hour", "Pos."};
    FColWidths = {110, 30};
    auto addColumn = [&headers, this](const std::string& title, int width) {
        headers.push_back(title);
        FColWidths.push_back(width);
        return static_cast<int>(headers.size()) - 1;
    };
    const int blackCol = black ? addColumn("Black", 50) : -1;
    const int headCol = head ? addColumn("Head", 50) : -1;
    const int humCol = hum ? addColumn("Humidity", 50) : -1;

    std::map<const TFilter*, int> irCol, mirCol;
    const int positionCount = CLBPosition->count();
    for (TFilter* f : FData.FilterList) {
        if (!FilterChecked(f)) continue;
        const QString name = Q(f->GetName());
        if (curves) {
            for (int p = 0; p < positionCount; ++p) {
                if (ir) {
                    TChartSeries* s = AddSeries(*GfxChart, true, name, f->Color);
                    s->SetShowInLegend(p == 0);
                    f->IrCurves.push_back(s);
                }
                if (mir) f->MirCurves.push_back(AddSeries(*GfxChart, true, name, f->Color));
            }
        } else if (ir || mir) {
            f->PointSeries = AddSeries(*GfxChart, false, name, f->Color);
        }
        if (ir) irCol[f] = addColumn(f->GetName() + " IR", 70);
        if (mir) mirCol[f] = addColumn(f->GetName() + " MIR", 70);
    }
    TChartSeries* blackSeries = black ? AddGreySeries(*GfxChart, curves, "Black") : nullptr;
    TChartSeries* headSeries = head ? AddGreySeries(*GfxChart, curves, "Head") : nullptr;
    TChartSeries* humSeries = hum ? AddGreySeries(*GfxChart, curves, "Humidity") : nullptr;

    FCells.assign(times.size() + 1, std::vector<std::string>(headers.size()));
    FCells[0] = headers;
    std::map<std::string, size_t> rowOf;
    for (size_t r = 0; r < times.size(); ++r) {
        const std::string text = radio::Q5xDateTimeText(times[r]);
        FCells[r + 1][0] = text;
        rowOf.emplace(text, r + 1);
    }
    FFixedCols = headers.size() < 3 ? 1 : 2;

    for (TCNSerie* s : FData.SerieList) {
        if (!PositionChecked(s->Position)) continue;
        std::vector<std::string>& row = FCells[rowOf[radio::Q5xDateTimeText(s->DateTime)]];
        row[1] = std::to_string(s->Position);
        const int curve = PositionIndex(s->Position);
        const double x = s->DateTime;
        for (const TCN* cn : *s) {
            TFilter* f = cn->Filter;
            if (!FilterChecked(f)) continue;
            if (ir) {
                row[static_cast<size_t>(irCol[f])] = radio::ShortestRealText(cn->Count);
                TChartSeries* target = curves ? f->IrCurves[static_cast<size_t>(curve)] : f->PointSeries;
                target->AddXY(x, cn->Count);
                follow(cn->Count);
            }
            // A missing mirror count is neither written nor drawn.
            if (mir && cn->MirrorCount != radio::kMissing) {
                row[static_cast<size_t>(mirCol[f])] = radio::ShortestRealText(cn->MirrorCount);
                TChartSeries* target = curves ? f->MirCurves[static_cast<size_t>(curve)] : f->PointSeries;
                target->AddXY(x, cn->MirrorCount);
                follow(cn->MirrorCount);
            }
        }
        auto value = [&](TChartSeries* series, int col, float v) {
            if (!series || v == static_cast<float>(radio::kMissing)) return;
            series->AddXY(x, v);
            follow(v);
            row[static_cast<size_t>(col)] = FormatFixedSignificant(v, 3, 0, DecimalSeparator());
        };
        value(blackSeries, blackCol, s->BlackTemp);
        value(headSeries, headCol, s->HeadTemp);
        value(humSeries, humCol, s->Humidity);
        s->Caution = false;
    }
    SetLeftAxis(*GfxChart, lowest, highest);
    GfxChart->Repaint();
    ShowGrid();
    if (FErrors.HasMessages()) FErrors.show();
}

void TMerrowFrm::ShowGrid()
{
    StringGrid1->clear();
    const int rows = static_cast<int>(FCells.size());
    const int cols = FCells.empty() ? 0 : static_cast<int>(FCells[0].size());
    StringGrid1->setRowCount(rows);
    StringGrid1->setColumnCount(cols);
    const QBrush fixed = palette().button();
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < cols; ++c) {
            auto* item = new QTableWidgetItem(Q(FCells[static_cast<size_t>(r)][static_cast<size_t>(c)]));
            if (r == 0 || c < FFixedCols) item->setBackground(fixed);
            StringGrid1->setItem(r, c, item);
        }
    }
    for (int c = 0; c < cols; ++c) StringGrid1->setColumnWidth(c, FColWidths[static_cast<size_t>(c)]);
}

// ---- chart tools --------------------------------------------------------------------------------------

void TMerrowFrm::RadioButton4Click()
{
    FSerieKind = 0;
    FillTableAndChart();
}

void TMerrowFrm::RadioButton5Click()
{
    FSerieKind = 1;
    FillTableAndChart();
}

void TMerrowFrm::SpeedButton1Click()
{
    FZoneTool = true;
    GfxChart->SetAllowZoom(false);
}

void TMerrowFrm::SpeedButton2Click()
{
    FZoneTool = false;
    GfxChart->SetAllowZoom(true);
}

void TMerrowFrm::Button2Click() { GfxChart->UndoZoom(); }

void TMerrowFrm::GfxChartMouseDown(Qt::MouseButton button, int x, int y)
{
    if (!FZoneTool || button != Qt::LeftButton) return;
    FPressX = x;
    FPressY = y;
    FDragging = true;
}

void TMerrowFrm::FreeZoneBox()
{
    if (!FBox) return;
    FBox->Restore();
    FBox.reset();
    GfxChart->CanvasChanged();
}

void TMerrowFrm::GfxChartMouseMove(int x, int y)
{
    if (!FDragging) return;
    FreeZoneBox();
    FBox = std::make_unique<TExtraGraph_Box>(&GfxChart->Canvas(), FPressX, FPressY, x, y);
    FBox->SaveBackground();
    FBox->Draw();
    GfxChart->CanvasChanged();
}

void TMerrowFrm::GfxChartMouseUp(Qt::MouseButton button, int x, int y)
{
    if (!FDragging || button != Qt::LeftButton) return;
    FDragging = false;
    FreeZoneBox();
    double x1, y1, x2, y2;
    // Without a series there is nothing to convert the corners with, and nothing to remove.
    if (!ScreenToValues(*GfxChart, FPressX, FPressY, x1, y1) || !ScreenToValues(*GfxChart, x, y, x2, y2)) return;
    RemoveZone(std::min(x1, x2), std::min(y1, y2), std::max(x1, x2), std::max(y1, y2));
}

void TMerrowFrm::RemoveZone(double x1, double y1, double x2, double y2)
{
    std::vector<TCNSerie*> doomed;
    for (TCNSerie* s : FData.SerieList) {
        if (!PositionChecked(s->Position) || s->DateTime < x1 || s->DateTime > x2) continue;
        for (const TCN* cn : *s) {
            // The infrared count decides, whichever curve was drawn in the zone.
            if (FilterChecked(cn->Filter) && cn->Count >= y1 && cn->Count <= y2) {
                doomed.push_back(s);
                break;
            }
        }
    }
    for (TCNSerie* s : doomed) FData.DeleteSerie(s);
    FillTableAndChart();
    BuildTree();
}

// ---- export -------------------------------------------------------------------------------------------

void TMerrowFrm::Button1Click()
{
    SaveDialog1->selectFile(QString::fromStdString(ExportName(FFileName)));
    for (;;) {
        if (SaveDialog1->exec() != QDialog::Accepted || SaveDialog1->selectedFiles().isEmpty()) return;
        const std::string path = SaveDialog1->selectedFiles().first().toStdString();
        if (FOptions.ConfirmWrite && FileExists(path) &&
            !AskYesNo(TextWithFileName("", path, " already exists.\nDo you want to replace it?"), false))
            continue;
        if (WriteExport(path)) ShowInfo("Export finished");
        return;
    }
}

bool TMerrowFrm::WriteExport(const std::string& path)
{
    std::string text;
    for (const auto& row : FCells) {
        for (const std::string& cell : row) text += cell + FOptions.ListSeparator;
        text += "\r\n";
    }
    std::string error;
    if (!WriteFileAtomically(path, text, &error)) {
        ShowWarning(TextWithFileName("Unable to write the file ", path, " (") + FileNameToQString(error) + AnsiToQString(")"));
        return false;
    }
    return true;
}

}  // namespace merrow
