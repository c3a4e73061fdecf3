#include "station/windows/ConversionASCIIFrm.h"

#include "common/FileUtils.h"
#include "common/Prompt.h"
#include "station/windows/AsciiConversion.h"
#include "station/windows/DialogParts.h"
#include "station/windows/WaitCursor.h"

#include <QButtonGroup>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

TConversionASCIIFrm::TConversionASCIIFrm(const std::string& autoRecordPath, int asciiPeriod,
                                         const std::string& baseAsciiName, bool addAsciiHeader, QWidget* parent)
    : QDialog(parent), addAsciiHeader_(addAsciiHeader)
{
    setObjectName("ConversionASCIIFrm");
    setWindowTitle("Convert Q5 files to ASCII files");

    auto* filesGroup = new QGroupBox("Q5 files to convert", this);
    Q5ListView = new QListWidget(filesGroup);
    Q5ListView->setObjectName("Q5ListView");
    Q5ListView->setSelectionMode(QAbstractItemView::ExtendedSelection);
    auto* add = new QPushButton("Add...", filesGroup);
    auto* remove = new QPushButton("Remove", filesGroup);
    auto* fileButtons = new QVBoxLayout;
    fileButtons->addWidget(add);
    fileButtons->addWidget(remove);
    fileButtons->addStretch();
    auto* filesLayout = new QHBoxLayout(filesGroup);
    filesLayout->addWidget(Q5ListView);
    filesLayout->addLayout(fileButtons);

    auto* paramsGroup = new QGroupBox("Conversion parameters", this);
    OutPutDirEdt = new QLineEdit(FileNameToQString(autoRecordPath), paramsGroup);
    OutPutDirEdt->setObjectName("OutPutDirEdt");
    auto* periodGroup = new QGroupBox("Files period", paramsGroup);
    ASCIIPeriodRadioGrp = new QButtonGroup(this);
    auto* periodLayout = new QHBoxLayout(periodGroup);
    const char* periods[] = {"None", "Hourly", "Daily", "Monthly", "Yearly", "Infinite"};
    for (int i = 0; i < 6; ++i) {
        auto* radio = new QRadioButton(periods[i], periodGroup);
        ASCIIPeriodRadioGrp->addButton(radio, i);
        periodLayout->addWidget(radio);
    }
    if (QAbstractButton* current = ASCIIPeriodRadioGrp->button(asciiPeriod)) current->setChecked(true);
    BaseASCIINameEdit = new QLineEdit(FileNameToQString(baseAsciiName), paramsGroup);
    BaseASCIINameEdit->setObjectName("BaseASCIINameEdit");
    auto* paramsLayout = new QVBoxLayout(paramsGroup);
    paramsLayout->addWidget(new QLabel("Destination directory", paramsGroup));
    paramsLayout->addWidget(OutPutDirEdt);
    paramsLayout->addWidget(periodGroup);
    paramsLayout->addWidget(new QLabel("ASCII files base name", paramsGroup));
    paramsLayout->addWidget(BaseASCIINameEdit);

    QGroupBox* progressGroup = ProgressGroup(this, "Conversion progress", Progress);
    QHBoxLayout* buttons = HelpOkCancelRow(this, 105, &OnHelp);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(filesGroup);
    layout->addWidget(paramsGroup);
    layout->addWidget(progressGroup);
    layout->addLayout(buttons);

    connect(add, &QPushButton::clicked, this, &TConversionASCIIFrm::AddBtnClick);
    connect(remove, &QPushButton::clicked, this, &TConversionASCIIFrm::RemoveBtnClick);
    connect(OutPutDirEdt, &QLineEdit::editingFinished, this, &TConversionASCIIFrm::CheckOutputFolder);
    FitWindowToContents(this);
}

void TConversionASCIIFrm::AddFiles(const QStringList& files)
{
    for (const QString& file : files) Q5ListView->addItem(file);
}

void TConversionASCIIFrm::AddBtnClick()
{
    AddFiles(QFileDialog::getOpenFileNames(this, QString(), QString(), "Q5 files (*.Q5 *.q5);;All the files (*)"));
}

void TConversionASCIIFrm::RemoveBtnClick()
{
    auto selected = Q5ListView->selectedItems();
    if (selected.isEmpty()) {
        ShowWarning("Select first the files you want to remove from the list.");
        return;
    }
    qDeleteAll(selected);
}

bool TConversionASCIIFrm::CheckOutputFolder()
{
    std::string folder = IncludeTrailingSlash(QStringToFileName(OutPutDirEdt->text()));
    OutPutDirEdt->setText(FileNameToQString(folder));
    if (DirectoryExists(folder)) return true;
    if (!AskYesNo("The directory doesn't exists.\nDo you want to create it ?")) return false;
    if (!ForceDirectories(folder)) {
        ShowWarning("Unable to create the directory");
        return false;
    }
    return true;
}

void TConversionASCIIFrm::accept()
{
    if (!CheckOutputFolder()) return;
    const int period = ASCIIPeriodRadioGrp->checkedId();
    const std::string base = QStringToFileName(BaseASCIINameEdit->text());
    if (period == 5 && base.empty()) {
        ShowWarning("You must give a base name if you choose to build files with an infinite period");
        return;
    }
    std::vector<std::string> files;
    for (int i = 0; i < Q5ListView->count(); ++i) files.push_back(QStringToFileName(Q5ListView->item(i)->text()));

    TAsciiConversion conversion;
    int step = 0;
    conversion.OnProgress = [this, &step](int percent) {
        Progress->setValue(percent);
        if (++step % 10 == 0) repaint();  // every fifth file
    };
    bool ok;
    {
        TWaitCursor wait;
        ok = conversion.Run(files, QStringToFileName(OutPutDirEdt->text()), base, period, addAsciiHeader_);
    }
    if (!ok) {
        QString text = AnsiToQString("Unable to write the ASCII files of:");
        for (const auto& f : conversion.Failed) text += TextWithFileName("\n", f);
        ShowWarning(text);
        return;
    }
    QDialog::accept();
}
