#include "plugins/merrow/MerrowFrm.h"

#include "common/DecimalSep.h"
#include "common/FileUtils.h"
#include "common/Prompt.h"
#include "common/analysis/ErreurFrm.h"
#include "common/analysis/ExtraGraph.h"
#include "common/analysis/Q5xReader.h"
#include "common/analysis/RadioAboutBox.h"
#include "plugins/merrow/MerrowChart.h"
#include "plugins/merrow/MerrowTable.h"
#include "plugins/merrow/MerrowTree.h"
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
#include <QTableView>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>
#include <unordered_map>

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
    // Models that make each text when it is shown: a long file costs little in either view.
    FTree = new TMerrowTree(FData, this);
    TreeView1 = new QTreeView;
    TreeView1->setObjectName("TreeView1");
    TreeView1->setHeaderHidden(true);
    TreeView1->setUniformRowHeights(true);
    TreeView1->setModel(FTree);
    PageControl1->addTab(TreeView1, "Tree diagram");
    FTable = new TMerrowTable(this);
    StringGrid1 = new QTableView;
    StringGrid1->setObjectName("StringGrid1");
    StringGrid1->horizontalHeader()->hide();
    StringGrid1->verticalHeader()->hide();
    StringGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    StringGrid1->setModel(FTable);
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
    // Read into a data set of its own: a file that fails leaves the one on show whole. The tree's
    // outline is taken in the same reading.
    radio::TRadData fresh;
    TMerrowOutline outline;
    const radio::TImportDataXml import(path, fresh, radio::TQ5xVariant::Viewer,
                                       [&outline](const radio::TQ5xAcquisition& a) { outline.Add(a); });
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
    // The chart and the table still show the filters and series about to be freed: clear them first.
    GfxChart->FreeAllSeries();
    FTable->Clear();
    FData.Swap(fresh);
    FTree->Show(std::move(outline));
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
    if (OpenLoop()) Prepare();
}

void TMerrowFrm::Apropos1Click()
{
    radio::TAboutBox about("Q5x Viewer", "Version 1.1", FOptions.FileVersion, this);
    about.exec();
}

// ---- table and chart ----------------------------------------------------------------------------------

std::map<int, int> TMerrowFrm::CheckedPositions() const
{
    std::map<int, int> checked;
    for (int i = 0; i < CLBPosition->count(); ++i)
        if (CLBPosition->item(i)->checkState() == Qt::Checked) checked.emplace(CLBPosition->item(i)->text().toInt(), i);
    return checked;
}

std::set<const TFilter*> TMerrowFrm::CheckedFilters() const
{
    // Each filter goes by the first item of its number (two filters of one number share it).
    std::map<int, bool> byNumber;
    for (int i = 0; i < CLBFiltre->count(); ++i)
        byNumber.emplace(CLBFiltre->item(i)->text().toInt(), CLBFiltre->item(i)->checkState() == Qt::Checked);
    std::set<const TFilter*> checked;
    for (const TFilter* f : FData.FilterList) {
        const auto item = byNumber.find(f->Number());
        if (item != byNumber.end() && item->second) checked.insert(f);
    }
    return checked;
}

void TMerrowFrm::FillTableAndChart()
{
    using Column = TMerrowTable::TColumn;
    using Kind = TMerrowTable::TColumnKind;
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
    const std::map<int, int> positions = CheckedPositions();
    const std::set<const TFilter*> filters = CheckedFilters();

    std::vector<Column> columns = {{Kind::Date, "Date/Hour", 110}, {Kind::Position, "Pos.", 30}};
    if (black) columns.push_back({Kind::Black, "Black", 50});
    if (head) columns.push_back({Kind::Head, "Head", 50});
    if (hum) columns.push_back({Kind::Humidity, "Humidity", 50});
    const int positionCount = CLBPosition->count();
    for (TFilter* f : FData.FilterList) {
        if (!filters.count(f)) continue;
        const QString name = Q(f->GetName());
        if (curves) {
            // The curves of a filter share its colour: their names tell them apart. Those of
            // positions not on show stay empty and out of the legend.
            for (int p = 0; p < positionCount; ++p) {
                const QListWidgetItem* position = CLBPosition->item(p);
                const bool listed = position->checkState() == Qt::Checked;
                auto curve = [&](const char* kind) {
                    TChartSeries* s = AddSeries(*GfxChart, true, CurveName(name, kind, position->text()), f->Color);
                    s->SetShowInLegend(listed);
                    return s;
                };
                if (ir) f->IrCurves.push_back(curve("IR"));
                if (mir) f->MirCurves.push_back(curve("MIR"));
            }
        } else if (ir || mir) {
            f->PointSeries = AddSeries(*GfxChart, false, name, f->Color);
        }
        if (ir) columns.push_back({Kind::Ir, f->GetName() + " IR", 70, f});
        if (mir) columns.push_back({Kind::Mir, f->GetName() + " MIR", 70, f});
    }
    TChartSeries* blackSeries = black ? AddGreySeries(*GfxChart, curves, "Black") : nullptr;
    TChartSeries* headSeries = head ? AddGreySeries(*GfxChart, curves, "Head") : nullptr;
    TChartSeries* humSeries = hum ? AddGreySeries(*GfxChart, curves, "Humidity") : nullptr;
    const int fixedColumns = columns.size() < 3 ? 1 : 2;

    // The points of every series are gathered first and handed to the chart whole.
    std::unordered_map<TChartSeries*, QList<QPointF>> points;
    // Rows: every acquisition of a checked position, by date-time, file order among equal ones.
    std::vector<const TCNSerie*> rows;
    for (TCNSerie* s : FData.SerieList) {
        const auto position = positions.find(s->Position);
        if (position == positions.end()) continue;
        rows.push_back(s);
        const size_t curve = static_cast<size_t>(position->second);
        const double x = s->DateTime;
        for (const TCN* cn : *s) {
            TFilter* f = cn->Filter;
            if (!filters.count(f)) continue;
            if (ir) {
                points[curves ? f->IrCurves[curve] : f->PointSeries].append(QPointF(x, cn->Count));
                follow(cn->Count);
            }
            // A missing mirror count is neither written nor drawn.
            if (mir && cn->MirrorCount != radio::kMissing) {
                points[curves ? f->MirCurves[curve] : f->PointSeries].append(QPointF(x, cn->MirrorCount));
                follow(cn->MirrorCount);
            }
        }
        auto value = [&](TChartSeries* series, float v) {
            if (!series || v == static_cast<float>(radio::kMissing)) return;
            points[series].append(QPointF(x, v));
            follow(v);
        };
        value(blackSeries, s->BlackTemp);
        value(headSeries, s->HeadTemp);
        value(humSeries, s->Humidity);
        s->Caution = false;
    }
    for (auto& [series, list] : points) series->AddPoints(list);
    SetLeftAxis(*GfxChart, lowest, highest);
    GfxChart->Repaint();

    std::stable_sort(rows.begin(), rows.end(),
                     [](const TCNSerie* a, const TCNSerie* b) { return a->DateTime < b->DateTime; });
    FTable->Reset(std::move(columns), std::move(rows), fixedColumns);
    for (int c = 0; c < FTable->Columns(); ++c) StringGrid1->setColumnWidth(c, FTable->ColumnWidth(c));
    if (FErrors.HasMessages()) FErrors.show();
}

std::vector<std::vector<std::string>> TMerrowFrm::Cells() const
{
    std::vector<std::vector<std::string>> cells;
    for (int r = 0; r < FTable->Rows(); ++r) cells.push_back(FTable->Row(r));
    return cells;
}

int TMerrowFrm::FixedCols() const { return FTable->FixedColumns(); }

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
    const std::map<int, int> positions = CheckedPositions();
    const std::set<const TFilter*> filters = CheckedFilters();
    std::vector<TCNSerie*> doomed;
    for (TCNSerie* s : FData.SerieList) {
        if (!positions.count(s->Position) || s->DateTime < x1 || s->DateTime > x2) continue;
        for (const TCN* cn : *s) {
            // The infrared count decides, whichever curve was drawn in the zone.
            if (filters.count(cn->Filter) && cn->Count >= y1 && cn->Count <= y2) {
                doomed.push_back(s);
                break;
            }
        }
    }
    // The table shows the series until it is filled again. The tree shows the file, which the
    // removal does not change.
    FTable->Clear();
    FData.DeleteSeries(doomed);
    FillTableAndChart();
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
    for (int r = 0; r < FTable->Rows(); ++r) {
        for (const std::string& cell : FTable->Row(r)) text += cell + FOptions.ListSeparator;
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
