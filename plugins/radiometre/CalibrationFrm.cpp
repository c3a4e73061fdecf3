#include "plugins/radiometre/CalibrationFrm.h"

#include "common/DateTime.h"
#include "common/DecimalSep.h"
#include "common/IniFile.h"
#include "common/Prompt.h"
#include "common/analysis/Q5xReader.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace radio {

namespace {

QDate DateOfDay(int day) { return QDate(1899, 12, 30).addDays(day); }
int DayOfDate(const QDate& date) { return static_cast<int>(QDate(1899, 12, 30).daysTo(date)); }

template <class W>
W* Named(W* widget, const char* name)
{
    widget->setObjectName(name);
    return widget;
}

}  // namespace

TfCalibration::TfCalibration(TRadiometreData& data, const TCalibrationStore& store, QWidget* parent)
    : QDialog(parent), FData(data), FStore(store)
{
    setObjectName("fCalibration");
    setWindowTitle("Calibration");
    auto* layout = new QVBoxLayout(this);
    auto* labels = new QGridLayout;
    labels->addWidget(Named(new QLabel("Instrument : ", this), "Label1"), 0, 0);
    Label2 = Named(new QLabel(AnsiToQString(FData.InstrumentId), this), "Label2");
    labels->addWidget(Label2, 0, 1);
    labels->addWidget(Named(new QLabel("Number of filter : ", this), "Label3"), 1, 0);
    Label4 = Named(new QLabel(QString::number(FData.FilterList.Count()), this), "Label4");
    labels->addWidget(Label4, 1, 1);
    layout->addLayout(labels);

    auto* body = new QHBoxLayout;
    auto* left = new QVBoxLayout;
    ListBox1 = Named(new QListWidget(this), "ListBox1");
    left->addWidget(ListBox1);
    Button1 = Named(new QPushButton("New", this), "Button1");
    Button2 = Named(new QPushButton("Delete", this), "Button2");
    left->addWidget(Button1);
    left->addWidget(Button2);
    body->addLayout(left);

    GroupBox1 = Named(new QGroupBox("Calibration", this), "GroupBox1");
    auto* group = new QVBoxLayout(GroupBox1);
    DateTimePicker1 = Named(new QDateEdit(GroupBox1), "DateTimePicker1");
    DateTimePicker1->setDisplayFormat("dd/MM/yyyy");
    DateTimePicker1->setCalendarPopup(true);
    group->addWidget(DateTimePicker1);
    auto* temp = new QHBoxLayout;
    temp->addWidget(new QLabel(AnsiToQString("Calibration temperature (\xB0" "C)"), GroupBox1));
    Edit1 = Named(new QLineEdit(GroupBox1), "Edit1");
    temp->addWidget(Edit1);
    group->addLayout(temp);
    CheckBox1 = Named(new QCheckBox("Use calibration temperature", GroupBox1), "CheckBox1");
    group->addWidget(CheckBox1);
    StringGrid1 = Named(new QTableWidget(FData.FilterList.Count(), 8, GroupBox1), "StringGrid1");
    StringGrid1->setHorizontalHeaderLabels({"Filtre", "Nom", "a", "b", "n", "d", "S", "&"});
    StringGrid1->verticalHeader()->hide();
    // Wide enough for every coefficient column with a value such as "-1.23456E-5" in it.
    int gridWidth = 2 * StringGrid1->frameWidth() + StringGrid1->verticalScrollBar()->sizeHint().width();
    for (int c = 0; c < 8; ++c) {
        const int width = c == 0 ? 50 : 90;
        StringGrid1->setColumnWidth(c, width);
        gridWidth += width;
    }
    StringGrid1->setMinimumWidth(gridWidth);
    for (int r = 0; r < FData.FilterList.Count(); ++r) {
        const TFilter* f = FData.FilterList[r];
        for (int c = 0; c < 2; ++c) {
            auto* item = new QTableWidgetItem(c == 0 ? QString::number(f->Number()) : AnsiToQString(f->GetName()));
            item->setFlags(item->flags() & ~Qt::ItemIsEditable);
            StringGrid1->setItem(r, c, item);
        }
    }
    group->addWidget(StringGrid1);
    Button3 = Named(new QPushButton("Save", GroupBox1), "Button3");
    group->addWidget(Button3);
    body->addWidget(GroupBox1, 1);
    layout->addLayout(body);

    connect(ListBox1, &QListWidget::currentRowChanged, this, [this] { ShowSelected(); });
    connect(Button1, &QPushButton::clicked, this, [this] { NewClick(); });
    connect(Button2, &QPushButton::clicked, this, [this] { DeleteClick(); });
    connect(Button3, &QPushButton::clicked, this, [this] { SaveClick(); });
    connect(DateTimePicker1, &QDateEdit::dateChanged, this, [this] { SetModified(); });
    connect(Edit1, &QLineEdit::textChanged, this, [this] { SetModified(); });
    connect(CheckBox1, &QCheckBox::clicked, this, [this] { SetModified(); });
    connect(StringGrid1, &QTableWidget::itemChanged, this, [this] { SetModified(); });

    // FormShow
    FillList();
    GroupBox1->setVisible(ListBox1->count() > 0);
    if (ListBox1->count() > 0) ListBox1->setCurrentRow(0);
    Button3->setEnabled(false);
    resize(sizeHint().expandedTo(QSize(760, 420)));
}

void TfCalibration::FillList()
{
    // The order one insertion after the other gives (latest first, a later equal day before an
    // earlier one), made with one sort rather than a search per item.
    std::vector<std::pair<int, int>> days;  // day, place in the data set
    for (const TCalibr* c : FData.Calibrations) days.emplace_back(c->DayNumber(), static_cast<int>(days.size()));
    std::sort(days.begin(), days.end(), [](const auto& a, const auto& b) { return a > b; });
    for (const auto& [day, place] : days) ListBox1->addItem(ItemOfDay(day));
}

QListWidgetItem* TfCalibration::ItemOfDay(int day)
{
    auto* item = new QListWidgetItem(DateOfDay(day).toString("dd/MM/yyyy"));
    item->setData(Qt::UserRole, day);
    return item;
}

void TfCalibration::SetModified()
{
    if (!FFilling) Button3->setEnabled(true);
}

int TfCalibration::DayOfRow(int row) const { return ListBox1->item(row)->data(Qt::UserRole).toInt(); }

int TfCalibration::RowOfDay(int day) const
{
    for (int i = 0; i < ListBox1->count(); ++i)
        if (DayOfRow(i) == day) return i;
    return -1;
}

void TfCalibration::Insert(int day)
{
    // Latest first: before the first item with a smaller day.
    int position = 0;
    for (int i = 0; i < ListBox1->count(); ++i)
        if (DayOfRow(i) > day) ++position;
    ListBox1->insertItem(position, ItemOfDay(day));
}

void TfCalibration::ShowSelected()
{
    const int row = ListBox1->currentRow();
    if (row < 0) return;
    FFilling = true;
    Current = FData.GetCalibration(DayOfRow(row));
    DateTimePicker1->setDate(DateOfDay(Current->DayNumber()));
    Edit1->setText(AnsiToQString(ShortestRealText(Current->Tcal)));
    CheckBox1->setChecked(Current->UseTemp);
    for (int r = 0; r < StringGrid1->rowCount(); ++r) {
        const TCoef* coef = Current->FindCoef(StringGrid1->item(r, 0)->text().toInt());
        for (int i = 0; i < kCoefCount; ++i)
            StringGrid1->setItem(r, 2 + i, new QTableWidgetItem(coef ? AnsiToQString(ShortestRealText(coef->Value(i))) : QString()));
    }
    FFilling = false;
    Button3->setEnabled(false);
}

bool TfCalibration::Store(const std::function<void(TCustomIniFile&)>& change)
{
    TIniFile ini(FStore.PrepareWrite());
    change(ini);
    if (ini.UpdateFile()) return true;
    ShowWarning(TextWithFileName("The calibrations cannot be saved in ", ini.FileName(), ": " + ini.LastError()));
    ini.DiscardChanges();
    return false;
}

void TfCalibration::NewClick()
{
    const int day = static_cast<int>(std::floor(NowUTC()));
    if (RowOfDay(day) >= 0) return;
    TCalibr* created = FData.GetCalibration(day);
    for (int r = 0; r < StringGrid1->rowCount(); ++r) {
        const int filter = StringGrid1->item(r, 0)->text().toInt();
        if (!created->FindCoef(filter)) created->AddCoef(filter);
    }
    // The new date's keys, by filter number, with zeros that read back without a warning. A date
    // the store did not take is not one.
    if (!Store([&](TCustomIniFile& ini) { TCalibrations::Save(ini, FData.StoreSection(), *created); })) {
        FData.Calibrations.Remove(created);
        return;
    }
    Current = created;
    Insert(day);
    GroupBox1->setVisible(true);
    {
        const QSignalBlocker block(ListBox1);
        ListBox1->setCurrentRow(RowOfDay(day));
    }
    ShowSelected();
}

void TfCalibration::DeleteClick()
{
    if (!Current || ListBox1->currentRow() < 0) return;
    if (!AskYesNo("Are you sure to clear calibration ? (can't be canceled)", false)) return;
    const TCalibr& calibration = *Current;
    if (!Store([&](TCustomIniFile& ini) { TCalibrations::EraseKeys(ini, FData.StoreSection(), calibration); })) return;
    {
        const QSignalBlocker block(ListBox1);
        delete ListBox1->takeItem(ListBox1->currentRow());
        ListBox1->setCurrentRow(-1);
    }
    FData.Calibrations.Remove(Current);
    Current = nullptr;
    if (ListBox1->count() == 0) {
        GroupBox1->setVisible(false);
    } else {
        ListBox1->setCurrentRow(0);
    }
}

void TfCalibration::ReadForm(TCalibr& calibration)
{
    const char separator = DecimalSeparator();
    double value = 0;
    if (ReadCalibrationReal(CleanNumberText(QStringToAnsi(Edit1->text()), separator), value)) calibration.Tcal = value;
    calibration.UseTemp = CheckBox1->isChecked();
    FFilling = true;
    for (int r = 0; r < StringGrid1->rowCount(); ++r) {
        const int filter = StringGrid1->item(r, 0)->text().toInt();
        // A filter the store gave no coefficients gets a record of its own when saved.
        TCoef* coef = calibration.FindCoef(filter);
        if (!coef) coef = calibration.AddCoef(filter);
        for (int i = 0; i < kCoefCount; ++i) {
            QTableWidgetItem* cell = StringGrid1->item(r, 2 + i);
            const std::string text = cell ? QStringToAnsi(cell->text()) : std::string();
            if (text.empty()) continue;
            const std::string cleaned = CleanNumberText(text, separator);
            if (cleaned != text) cell->setText(AnsiToQString(cleaned));
            if (ReadCalibrationReal(cleaned, value)) coef->Value(i) = value;
        }
    }
    FFilling = false;
}

void TfCalibration::SaveClick()
{
    if (!Current) return;
    const int day = DayOfDate(DateTimePicker1->date());
    const bool moved = day != Current->DayNumber();
    if (moved && RowOfDay(day) >= 0) {
        ShowWarning("A calibration already exist for this date ");
        FFilling = true;
        DateTimePicker1->setDate(DateOfDay(Current->DayNumber()));
        FFilling = false;
        return;
    }
    // The form goes into a copy: the data set takes it only once the store holds it. After a failed
    // write the editor shows again what the store holds, and the window computes with that.
    TCalibr edited(day);
    edited.Assign(*Current);
    edited.Date = day;
    ReadForm(edited);
    const TCalibr& old = *Current;
    // A move deletes the old date's keys in the same write: both happen, or neither.
    if (!Store([&](TCustomIniFile& ini) {
            if (moved) TCalibrations::EraseKeys(ini, FData.StoreSection(), old);
            TCalibrations::Save(ini, FData.StoreSection(), edited);
        })) {
        ShowSelected();
        return;
    }
    Current->Assign(edited);
    if (moved) {
        const QSignalBlocker block(ListBox1);
        delete ListBox1->takeItem(ListBox1->currentRow());
        Insert(day);
        ListBox1->setCurrentRow(RowOfDay(day));
    }
    Button3->setEnabled(false);
}

}  // namespace radio
