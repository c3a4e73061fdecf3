#pragma once
// The station program's main window: the current data file with its information labels and list,
// the menus and tool bars, the connection panel with the communication log, supervision labels and
// throughput chart, and the RS-232 control panel of the expert mode. The link itself is the station
// core; the window shows what the core reports and runs the user's commands.
#include <QMainWindow>

#include <memory>
#include <string>
#include <vector>

#include "station/StationCore.h"
#include "station/plugins/PlugInsList.h"

class QAction;
class QCheckBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QToolBar;
class QToolButton;
class QTableView;
class TScnListModel;
class TChart;
class TChartSeries;
class TStatusConfig;
class THTMLHelp;
class TZELT;

class TZELTFrm : public QMainWindow, public TStationView, public TPlugInHostWindow {
    Q_OBJECT
public:
    // args: the command line after the program name.
    TZELTFrm(TZELT& zelt, const std::vector<std::string>& args, QWidget* parent = nullptr);
    ~TZELTFrm() override;

    // The start-up actions: open the file named on the command line, or connect automatically. A data
    // file that cannot be loaded is warned of, and its reason kept in StartFileProblem(); then the
    // connection asked for is made all the same when `connectAfterBadFile` (as on a screen).
    void Start(bool connectAfterBadFile = true);
    // Why the data file of the command line could not be loaded, in the system's words or "not a data
    // file"; empty when it was (or none was given).
    const std::string& StartFileProblem() const { return FStartFileProblem; }

    TStationCore& Core() { return *FCore; }
    TStationSettings& Settings() { return FCore->Settings; }
    bool ModeExpert() const { return FCore->ModeExpert; }
    void SetModeExpert(bool on);
    bool ShowToolBarCaption() const { return FShowToolBarCaption; }
    void SetShowToolBarCaption(bool on);
    std::string GetBuildText() const;
    const std::string& StartFileName() const { return FStartFile; }
    const std::string& PlugInName() const { return FPlugInName; }
    // The plug-ins folder holds a plug-in of this name (as -RUN= gives it).
    bool HasPlugIn(const std::string& name) const;
    // The plug-in of -RUN= was started and refused to run or failed (its _Execute result was negative).
    bool AutoRunRefused() const { return FAutoRunRefused; }
    // The plug-in asked for by -RUN= while it runs (its name as given), else empty.
    const std::string& RunningPlugIn() const { return FRunningPlugIn; }
    std::string PlugInsFolder() const;

    // ---- settings ----
    void LoadSettings();
    bool SaveSettings();
    void SaveDebugSettings();
    void SetSeparator(int index, const std::string& value);  // 0 list, 1 decimal, 2 time, 3 date
    void ApplyAsciiOptions();
    void ReadCommandLineOptions(const std::vector<std::string>& args);

    // ---- data file and views ----
    TQ5File* Q5File() const { return FCore->Q5File; }
    void SetQ5FileName(const std::string& name) { FCore->SetQ5FileName(name); }
    const std::string& Q5FileName() const { return FCore->Q5FileName(); }
    bool OpenQ5File(const std::string& fileName);
    void ShowQ5FileInfo() override;
    void RefreshScnList() override;
    // The list's "Data" text of an event: shortened to 239 characters from 256 on.
    static std::string ShortDataText(const std::string& text);
    void SortByColumn(int column);

    // ---- commands (menus, buttons) ----
    void OpenMnuClick();
    void OpenFile(const std::string& path);   // the Open command once the path is chosen
    bool SaveMnuClick();
    bool SaveAsMnuClick();
    bool SaveAs(const std::string& path);     // the Save as command once the path is chosen
    void SaveAsciiMnuClick();
    void DeleteMnuClick();
    void WriteParamBtnClick();
    void ParamEditMnuClick();
    void DetailMnuClick();
    void Q5InfoMnuClick();
    void InstrumentInfoMnuClick();
    void ConfigBtnClick();
    void ConnecterMnuClick();
    void ConnectBtnClick(bool down);
    void StopTransBtnClick();
    void AboutMnuClick();
    void HelpMnuClick();
    void NotInThisVersion(const QString& what);
    // False, with a warning, while the instrument is connected.
    bool RefuseWhileConnected();

    // ---- TStationView ----
    void MemoLine(const std::string& text) override;
    void ConnectedChanged(bool connected) override;
    void PortStateChanged() override;
    void Q5FileNameChanged() override;
    void ProgressChanged(int percent) override;
    void ReceptionLed(bool on) override;
    void SupervisionTick() override;
    void PlayEndSound() override;
    void DataFileReplaced() override;
    int StartScripts() override;
    void MediaReconfigured() override;

    // ---- TPlugInHostWindow ----
    QWidget* HostForm() override { return this; }
    QMenu* ProcessingMenu() override { return FProcessingMenu; }
    QAction* ProcessingButton() override { return FProcessingButton; }
    bool TransferInProgress() override { return FCore->Connected(); }
    void* DecodeStationParams() override;
    void FreeStationParams(void* params) override;
    void ReloadCurrentDataFile() override;
    void FillPlugInContext();
    void AutoRunPlugIn();

    std::string HelpFile() const;
    // The help page of a context number in the program's help window, which outlives the caller.
    void ShowHelpTopic(int context);
    // The send and receive scripts run after the identification (null: none).
    class TScriptsList* Scripts = nullptr;
    // Without a screen the communication log also goes to standard error.
    bool EchoMemoToStderr = false;

    // Widgets the tests look at.
    QTableView* ScnListView = nullptr;
    TScnListModel* ScnListModel = nullptr;
    QPlainTextEdit* Memo = nullptr;
    QLabel *NameLbl = nullptr, *SizeLbl = nullptr, *DataLbl = nullptr, *InstrumentLbl = nullptr,
           *PcDateLbl = nullptr, *InstrDateLbl = nullptr;
    QLabel *StartLbl = nullptr, *DurationLbl = nullptr, *CharsLbl = nullptr, *SpeedLbl = nullptr, *LedLbl = nullptr;
    QProgressBar* Gauge = nullptr;
    TChart* SpeedChart = nullptr;
    QWidget* ConnectionPanel = nullptr;
    QWidget* RSPanel = nullptr;
    QAction *ConnectAct = nullptr, *StopAct = nullptr;
    std::vector<QAction*> UpperButtons;  // the upper tool bar's actions but Connect and Stop
    QToolBar *UpperToolBar = nullptr, *MenuToolBar = nullptr;
    QAction *Q5InfoAct = nullptr, *InstrInfoAct = nullptr, *ScriptsAct = nullptr, *ScnInfoSep = nullptr,
            *ScnInfoAct = nullptr, *TextLabelsAct = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void BuildMenus();
    void BuildPanels();
    void ShowRSPanel(bool on);
    void StoreLastEventText(const std::string& text);
    bool SaveTo(const std::string& path, bool askReplace);
    std::vector<int> SelectedEvents() const;
    std::unique_ptr<class TCustomIniFile> OpenSettings() const;
    bool SaveDebugSettingsTo(class TCustomIniFile* ini);

    TZELT& FZelt;
    std::unique_ptr<TStationCore> FCore;
    std::unique_ptr<TStatusConfig> FStatus;
    std::unique_ptr<TPlugInsList> FPlugIns;
    std::unique_ptr<THTMLHelp> FHelp;
    std::unique_ptr<class TScnInfoFrm> FScnInfo;  // created on first use, freed with the window
    QMenu* FProcessingMenu = nullptr;
    QAction* FProcessingButton = nullptr;
    QLineEdit* FRSEdit = nullptr;
    QCheckBox* FRSCrLf = nullptr;
    bool FShowToolBarCaption = true;
    std::string FVersion;
    std::string FStartFile;
    std::string FStartFileProblem;
    std::string FPlugInName;
    bool FAutoRunRefused = false;
    std::string FRunningPlugIn;
    int FSortCounters[4] = {0, 0, 0, 0};
    bool FClosingAfterSave = false;
};
