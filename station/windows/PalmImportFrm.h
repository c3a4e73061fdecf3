// "Palm import": lists the records a handheld computer holds (over its own serial port, with the framed
// command link) and writes the selected ones as Q5 data files.
#pragma once

#include <QDialog>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QComboBox;
class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;
class TComControl;
class TComPort;
class TPalmRecordReader;
class TRecordDescription;
class TZELT;

class TPalmImportFrm : public QDialog {
    Q_OBJECT
public:
    enum { PhaseNotConnected = -1, PhaseCounting = 0, PhaseHeaders = 1, PhaseWaiting = 2, PhaseSaving = 3 };
    // Result of the link when a reply is not one whole block (the link's own codes are -1 and -2).
    static constexpr int BadBlockCode = -3;

    // zelt may be null (no settings read or written, no parameter folder). logError receives the error
    // lines for the communication log (may be empty). The debug memo is shown only in expert mode.
    TPalmImportFrm(TZELT* zelt, bool expert, std::function<void(const std::string&)> logError,
                   QWidget* parent = nullptr);
    ~TPalmImportFrm() override;

    bool Connected() const { return FConnected; }
    void SetConnected(bool value);
    int CurrentPhase() const { return FCurrentPhase; }
    void SetCurrentPhase(int value);
    const std::string& OutputDir() const { return FOutDir; }

    void PalmConnectBtnClick();
    void CommPortCmbBxChange();
    void PalmComRxChar(int count);
    void DebugMemoDblClick();
    void SaveBtnClick();
    void HelpBtnClick();

    // The save dialog: (folder, proposed name) -> the chosen file, or empty when cancelled.
    std::function<std::string(const std::string& folder, const std::string& proposedName)> AskSaveName;
    std::function<void(int helpContext)> OnHelp;

    QComboBox* CommPortCmbBx;
    QPushButton* PalmConnectBtn;
    QLabel* ConnectionLed;
    QLabel* StatusLbl;
    QGroupBox* DataGrpBx;
    QTreeWidget* DataListView;
    QPushButton* SaveBtn;
    QPlainTextEdit* DebugMemo;
    TComPort* PalmCom;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormDestroy();
    void LinkResult(int code);
    void LinkError(int code);
    void RequestHeader();
    void RequestBlock();
    void StoreBlock(const std::string& reply);
    void ClearRows();
    void UpdateLed();
    TRecordDescription* RowDescription(int row) const;

    TZELT* FZelt;
    std::function<void(const std::string&)> FLogError;
    std::unique_ptr<TComControl> FLink;
    bool FConnected = false;
    int FCurrentPhase = PhaseNotConnected;
    int FPortIndex = 0;
    std::string FOutDir;
    int FIndex = 0;
    QTreeWidgetItem* FSavingRow = nullptr;
    std::string FSaveName;
    std::unique_ptr<TPalmRecordReader> FWorking;   // only while saving a record
    std::vector<std::unique_ptr<TRecordDescription>> FRows;
    bool FDestroyed = false;
};
