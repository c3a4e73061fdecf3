#pragma once
// The calibration editor: the dated calibrations of the data set's instrument, each with its
// calibration temperature, the USETEMP flag and six coefficients per infrared filter. Every change
// goes to the calibration store at once.
#include <QDialog>

#include <functional>

#include "plugins/radiometre/RadData.h"

class QCheckBox;
class QDateEdit;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class QTableWidget;

namespace radio {

class TfCalibration : public QDialog {
    Q_OBJECT
public:
    TfCalibration(TRadiometreData& data, const TCalibrationStore& store, QWidget* parent = nullptr);

    TCalibr* Current = nullptr;

    void NewClick();      // "New": a calibration dated today
    void DeleteClick();   // "Delete": after confirmation
    void SaveClick();     // "Save"
    void ShowSelected();  // the selected date's calibration in the group

private:
    void FillList();
    static QListWidgetItem* ItemOfDay(int day);
    void Insert(int day);
    int DayOfRow(int row) const;
    int RowOfDay(int day) const;
    void ReadForm(TCalibr& calibration);
    bool Store(const std::function<void(TCustomIniFile&)>& change);
    void SetModified();

    TRadiometreData& FData;
    TCalibrationStore FStore;
    bool FFilling = false;

    QLabel *Label2, *Label4;
    QListWidget* ListBox1;
    QGroupBox* GroupBox1;
    QDateEdit* DateTimePicker1;
    QLineEdit* Edit1;
    QCheckBox* CheckBox1;
    QTableWidget* StringGrid1;
    QPushButton *Button1, *Button2, *Button3;
};

}  // namespace radio
