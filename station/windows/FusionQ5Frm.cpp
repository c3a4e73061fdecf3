#include "station/windows/FusionQ5Frm.h"

#include "common/DateTime.h"
#include "common/Prompt.h"
#include "station/windows/Q5Merge.h"
#include "station/windows/DialogParts.h"
#include "station/windows/WaitCursor.h"

#include <QDateEdit>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

double DayValue(const QDate& date)
{
    double value = 0;
    TryEncodeDate(date.year(), date.month(), date.day(), value);
    return value;
}

}  // namespace

TFusionQ5Frm::TFusionQ5Frm(const std::string& autoRecordPath, QWidget* parent) : QDialog(parent)
{
    setObjectName("FusionQ5Frm");
    setWindowTitle("Q5 files merging");

    auto* typeGroup = new QGroupBox("Merging type", this);
    TotalFuzBtn = new QRadioButton("Full", typeGroup);
    TotalFuzBtn->setObjectName("TotalFuzBtn");
    TotalFuzBtn->setChecked(true);
    FuzBornedBtn = new QRadioButton("Between two dates", typeGroup);
    FuzBornedBtn->setObjectName("FuzBornedBtn");
    StartDate = new QDateEdit(QDate::currentDate(), typeGroup);
    EndDate = new QDateEdit(QDate::currentDate(), typeGroup);
    auto* typeLayout = new QVBoxLayout(typeGroup);
    typeLayout->addWidget(TotalFuzBtn);
    typeLayout->addWidget(FuzBornedBtn);
    auto* dates = new QHBoxLayout;
    dates->addWidget(new QLabel("Start date", typeGroup));
    dates->addWidget(StartDate);
    dates->addWidget(new QLabel("End date", typeGroup));
    dates->addWidget(EndDate);
    typeLayout->addLayout(dates);

    auto* sourceGroup = new QGroupBox("Q5 source files", this);
    EdtQ5SrcDirectory = new QLineEdit(FileNameToQString(autoRecordPath), sourceGroup);
    EdtQ5SrcDirectory->setObjectName("EdtQ5SrcDirectory");
    auto* browse = new QPushButton("...", sourceGroup);
    auto* sourceLayout = new QHBoxLayout(sourceGroup);
    sourceLayout->addWidget(new QLabel("Directory", sourceGroup));
    sourceLayout->addWidget(EdtQ5SrcDirectory);
    sourceLayout->addWidget(browse);

    QGroupBox* progressGroup = ProgressGroup(this, "Merging progress", Progress);
    QHBoxLayout* buttons = HelpOkCancelRow(this, 109, &OnHelp);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(typeGroup);
    layout->addWidget(sourceGroup);
    layout->addWidget(progressGroup);
    layout->addLayout(buttons);

    AskResultFile = [this] {
        QFileDialog dialog(this, "Record the merging result", EdtQ5SrcDirectory->text(), "Q5 files (*.Q5)");
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix("Q5");
        return dialog.exec() == QDialog::Accepted ? QStringToFileName(dialog.selectedFiles().value(0)) : std::string();
    };
    connect(FuzBornedBtn, &QRadioButton::toggled, this, &TFusionQ5Frm::UpdateDateEditors);
    connect(browse, &QPushButton::clicked, this, [this] {
        QString folder = QFileDialog::getExistingDirectory(this, QString(), EdtQ5SrcDirectory->text());
        if (!folder.isEmpty()) EdtQ5SrcDirectory->setText(folder);
    });
    UpdateDateEditors();
    FitWindowToContents(this);
}

void TFusionQ5Frm::UpdateDateEditors()
{
    StartDate->setEnabled(FuzBornedBtn->isChecked());
    EndDate->setEnabled(FuzBornedBtn->isChecked());
}

void TFusionQ5Frm::accept()
{
    const bool bounded = FuzBornedBtn->isChecked();
    if (bounded && EndDate->date() < StartDate->date()) {
        ShowWarning("The beginning date is bigger than the ending date");
        return;
    }
    std::string resultName = AskResultFile ? AskResultFile() : std::string();
    if (resultName.empty()) return;

    TQ5Merge merge;
    merge.OnProgress = [this](int percent) { Progress->setValue(percent); };
    TQ5Merge::Result result;
    {
        TWaitCursor wait;
        result = merge.Run(QStringToFileName(EdtQ5SrcDirectory->text()), resultName, bounded,
                           DayValue(StartDate->date()), DayValue(EndDate->date()));
    }
    if (result == TQ5Merge::Saved) QDialog::accept();
}
