#pragma once
// The options dialog "ZELT Options": communication, ASCII format, misc., data and expert pages; OK
// checks the choices, then copies them to the main window and configures the medium again.
#include <QDialog>

#include <string>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTabWidget;
class QWidget;
class TZELT;
class TZELTFrm;

class TConfFrm : public QDialog {
    Q_OBJECT
public:
    TConfFrm(TZELTFrm& main, TZELT& zelt);

    // OK pressed: false (the dialog stays) when a check fails.
    bool OkBtnClick();
    void UpdateCommunicationControls();
    void UpdateRecordControls();
    void SeparatorChosen(int which);       // the separator list
    void SeparatorRadioClicked(int index); // one of the eight characters
    QString SampleText() const;
    int HelpContext() const;
    void HelpBtnClick();

    QTabWidget* Pages = nullptr;
    QWidget *CommPage = nullptr, *AsciiPage = nullptr, *MiscPage = nullptr, *DataPage = nullptr, *ExpertPage = nullptr;
    // Communication
    QComboBox* TypeCom = nullptr;
    QCheckBox* AutoConnect = nullptr;
    QWidget* ModemGroup = nullptr;
    QLineEdit* ModemInit = nullptr;
    QSpinBox* ModemRings = nullptr;
    QCheckBox* ManualPickUp = nullptr;
    QComboBox* PortNum = nullptr;
    QLabel* PortLbl = nullptr;
    QComboBox* Speed = nullptr;
    QLineEdit* Address = nullptr;
    QLabel* AddressLbl = nullptr;
    QCheckBox* AutoReconnect = nullptr;
    QCheckBox *StopAfter2FF = nullptr, *Optimize = nullptr, *SmartTime = nullptr, *HardTime = nullptr;
    // ASCII format
    QCheckBox *Year4 = nullptr, *Quoted = nullptr, *Zeros = nullptr, *Header = nullptr, *ForceNumbers = nullptr;
    QComboBox* SeparatorKind = nullptr;
    QButtonGroup* SeparatorButtons = nullptr;
    QLabel* Sample = nullptr;
    // Misc.
    QCheckBox *ShowIni = nullptr, *ShowErrors = nullptr, *ConfirmWrite = nullptr, *TransReport = nullptr;
    QLineEdit *ParDir = nullptr, *PlugDir = nullptr;
    QCheckBox* Sound = nullptr;
    QPushButton* ChooseSound = nullptr;
    // Data
    QCheckBox* AutoRecord = nullptr;
    QLineEdit* RecordDir = nullptr;
    QLineEdit* BaseName = nullptr;
    QCheckBox* CreateAscii = nullptr;
    QComboBox* Period = nullptr;
    // Expert mode
    QCheckBox *TransLog = nullptr, *ModemEcho = nullptr, *CnxErrors = nullptr, *RSPanel = nullptr;

    std::string ChosenSoundFile;  // set by "Choose..." confirmed with OK

private:
    TZELTFrm& FMain;
    TZELT& FZelt;
    std::string FSeps[4];  // list, decimal, date, time
};
