// "Conversion tools": converts a latitude or longitude between its written forms while the user types.
#pragma once

#include "station/windows/AngleConversion.h"

#include <QDialog>

class QLabel;
class QLineEdit;
class QRadioButton;

class TToolsFrm : public QDialog {
    Q_OBJECT
public:
    explicit TToolsFrm(QWidget* parent = nullptr);

    const TAngleConversion& Conversion() const { return conversion_; }

    QLineEdit *HHEdit, *MMEdit, *SSEdit, *DegDecEdit, *DDMEdit, *MMMEdit, *MinEdit;
    QRadioButton *EastBtn, *WestBtn;
    QLabel* ErrorLbl;

private slots:
    void HHEditChange();
    void DegDecEditChange();
    void DDMEditChange();
    void MinEditChange();

private:
    // Rewrites every form but the source from the stored value (or empties them on an error).
    void WriteForms(TAngleConversion::Form source);

    TAngleConversion conversion_;
    bool updating_ = false;  // set while the dialog writes the fields itself
};
