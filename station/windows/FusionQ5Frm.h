// "Q5 files merging": merges every data file of a folder into one new data file.
#pragma once

#include <QDialog>
#include <functional>
#include <string>

class QDateEdit;
class QLineEdit;
class QProgressBar;
class QRadioButton;

class TFusionQ5Frm : public QDialog {
    Q_OBJECT
public:
    TFusionQ5Frm(const std::string& autoRecordPath, QWidget* parent = nullptr);

    // OK: checks the dates, asks for the result file and merges.
    void accept() override;

    // Asks for the result file name; empty when cancelled. Replaceable for tests.
    std::function<std::string()> AskResultFile;
    std::function<void(int helpContext)> OnHelp;

    QRadioButton* TotalFuzBtn;
    QRadioButton* FuzBornedBtn;
    QDateEdit* StartDate;
    QDateEdit* EndDate;
    QLineEdit* EdtQ5SrcDirectory;
    QProgressBar* Progress;

private:
    void UpdateDateEditors();
};
