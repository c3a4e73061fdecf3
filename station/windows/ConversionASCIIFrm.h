// "Convert Q5 files to ASCII files": converts a list of data files to ASCII files by period.
#pragma once

#include <QDialog>
#include <functional>
#include <string>

class QButtonGroup;
class QLineEdit;
class QListWidget;
class QProgressBar;

class TConversionASCIIFrm : public QDialog {
    Q_OBJECT
public:
    // The output folder, period and base name start from the station's settings.
    TConversionASCIIFrm(const std::string& autoRecordPath, int asciiPeriod, const std::string& baseAsciiName,
                        bool addAsciiHeader, QWidget* parent = nullptr);

    void AddFiles(const QStringList& files);
    // Checks the output folder (asking to create it); false when it is not usable.
    bool CheckOutputFolder();
    // OK: converts and closes, or explains why not and stays open.
    void accept() override;

    std::function<void(int helpContext)> OnHelp;

    QListWidget* Q5ListView;
    QLineEdit* OutPutDirEdt;
    QButtonGroup* ASCIIPeriodRadioGrp;
    QLineEdit* BaseASCIINameEdit;
    QProgressBar* Progress;

private slots:
    void AddBtnClick();
    void RemoveBtnClick();

private:
    bool addAsciiHeader_;
};
