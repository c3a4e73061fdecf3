#include "station/windows/ToolsFrm.h"

#include "station/windows/DialogParts.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

std::string Bytes(const QLineEdit* edit) { return edit->text().toStdString(); }

}  // namespace

TToolsFrm::TToolsFrm(QWidget* parent) : QDialog(parent)
{
    setObjectName("ToolsFrm");
    setWindowTitle("Conversion tools");
    auto* group = new QGroupBox("Degrees conversions (latitude and longitude)", this);
    auto* grid = new QGridLayout(group);

    HHEdit = NamedEdit("HHEdit", group);
    MMEdit = NamedEdit("MMEdit", group);
    SSEdit = NamedEdit("SSEdit", group);
    EastBtn = new QRadioButton("East (E)", group);
    EastBtn->setObjectName("EastBtn");
    EastBtn->setChecked(true);
    WestBtn = new QRadioButton("West (W)", group);
    WestBtn->setObjectName("WestBtn");
    grid->addWidget(new QLabel("Hourly", group), 0, 0);
    grid->addWidget(HHEdit, 0, 1);
    grid->addWidget(new QLabel("HH", group), 0, 2);
    grid->addWidget(MMEdit, 0, 3);
    grid->addWidget(new QLabel("MM", group), 0, 4);
    grid->addWidget(SSEdit, 0, 5);
    grid->addWidget(new QLabel("SS", group), 0, 6);
    grid->addWidget(EastBtn, 1, 1, 1, 3);
    grid->addWidget(WestBtn, 1, 4, 1, 3);

    DegDecEdit = NamedEdit("DegDecEdit", group);
    grid->addWidget(new QLabel("Decimal degree", group), 2, 0);
    grid->addWidget(DegDecEdit, 2, 1, 1, 3);
    grid->addWidget(new QLabel(QString::fromUtf8("\u00B0"), group), 2, 4);

    DDMEdit = NamedEdit("DDMEdit", group);
    MMMEdit = NamedEdit("MMMEdit", group);
    grid->addWidget(new QLabel("Degree / minutes", group), 3, 0);
    grid->addWidget(DDMEdit, 3, 1);
    grid->addWidget(new QLabel("DD", group), 3, 2);
    grid->addWidget(MMMEdit, 3, 3);
    grid->addWidget(new QLabel("MM", group), 3, 4);

    MinEdit = NamedEdit("MinEdit", group);
    grid->addWidget(new QLabel("Minutes", group), 4, 0);
    grid->addWidget(MinEdit, 4, 1, 1, 3);
    grid->addWidget(new QLabel("MM", group), 4, 4);

    ErrorLbl = new QLabel("ERROR", this);
    ErrorLbl->setObjectName("ErrorLbl");
    ErrorLbl->setStyleSheet("color: red; font-weight: bold");
    auto* close = new QPushButton("Close", this);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(ErrorLbl);
    bottom->addStretch();
    bottom->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addLayout(bottom);

    for (QLineEdit* edit : {HHEdit, MMEdit, SSEdit})
        connect(edit, &QLineEdit::textChanged, this, &TToolsFrm::HHEditChange);
    connect(EastBtn, &QRadioButton::toggled, this, &TToolsFrm::HHEditChange);
    connect(DegDecEdit, &QLineEdit::textChanged, this, &TToolsFrm::DegDecEditChange);
    connect(DDMEdit, &QLineEdit::textChanged, this, &TToolsFrm::DDMEditChange);
    connect(MMMEdit, &QLineEdit::textChanged, this, &TToolsFrm::DDMEditChange);
    connect(MinEdit, &QLineEdit::textChanged, this, &TToolsFrm::MinEditChange);

    // Every form starts from the value 0.
    updating_ = true;
    auto hourly = conversion_.HourlyText();
    HHEdit->setText(QString::fromStdString(hourly.HH));
    MMEdit->setText(QString::fromStdString(hourly.MM));
    SSEdit->setText(QString::fromStdString(hourly.SS));
    updating_ = false;
    WriteForms(TAngleConversion::Form::Hourly);
    FitWindowToContents(this);
}

void TToolsFrm::HHEditChange()
{
    if (updating_) return;
    conversion_.ReadHourly({Bytes(HHEdit), Bytes(MMEdit), Bytes(SSEdit), WestBtn->isChecked()});
    WriteForms(TAngleConversion::Form::Hourly);
}

void TToolsFrm::DegDecEditChange()
{
    if (updating_) return;
    conversion_.ReadDecimal(Bytes(DegDecEdit));
    WriteForms(TAngleConversion::Form::Decimal);
}

void TToolsFrm::DDMEditChange()
{
    if (updating_) return;
    conversion_.ReadDegreesMinutes({Bytes(DDMEdit), Bytes(MMMEdit)});
    WriteForms(TAngleConversion::Form::DegreesMinutes);
}

void TToolsFrm::MinEditChange()
{
    if (updating_) return;
    conversion_.ReadMinutes(Bytes(MinEdit));
    WriteForms(TAngleConversion::Form::Minutes);
}

void TToolsFrm::WriteForms(TAngleConversion::Form source)
{
    using Form = TAngleConversion::Form;
    updating_ = true;
    const bool error = conversion_.Error;
    ErrorLbl->setVisible(error);
    auto set = [error](QLineEdit* edit, const std::string& text) {
        edit->setText(error ? QString() : QString::fromStdString(text));
    };
    if (source != Form::Hourly) {
        auto hourly = conversion_.HourlyText();
        if (!error) (hourly.West ? WestBtn : EastBtn)->setChecked(true);
        set(HHEdit, hourly.HH);
        set(MMEdit, hourly.MM);
        set(SSEdit, hourly.SS);
    }
    if (source != Form::Decimal) set(DegDecEdit, conversion_.DecimalText());
    if (source != Form::DegreesMinutes) {
        auto degMin = conversion_.DegreesMinutesText();
        set(DDMEdit, degMin.DD);
        set(MMMEdit, degMin.MM);
    }
    if (source != Form::Minutes) set(MinEdit, conversion_.MinutesText());
    updating_ = false;
}
