#include "station/ZELTFrm.h"

#include "station/CommandLine.h"
#include "station/DataFileCheck.h"

#include <QApplication>
#include <QChart>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QStyle>
#include <QTextBlock>
#include <QToolBar>
#include <QToolButton>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>

#include "common/DataPaths.h"
#include "common/DateTime.h"
#include "common/DecimalSep.h"
#include "common/Evenement.h"
#include "common/FileUtils.h"
#include "common/Instrument.h"
#include "common/Prompt.h"
#include "common/Q5File.h"
#include "common/ScnType.h"
#include "common/StaParametre.h"
#include "common/StatusStore.h"
#include "common/Utils.h"
#include "common/Zelt.h"
#include "station/AboutBox.h"
#include "common/chart/ChartServices.h"
#include "station/ConfFrm.h"
#include "common/chart/HtmlHelp.h"
#include "station/ParamDump.h"
#include "station/ScnListModel.h"
#include "station/windows/ConversionASCIIFrm.h"
#include "station/windows/DialogParts.h"
#include "station/windows/EditScriptFrm.h"
#include "station/windows/EditStaParamsFrm.h"
#include "station/windows/FusionQ5Frm.h"
#include "station/windows/PalmImportFrm.h"
#include "station/windows/ScnInfoFrm.h"
#include "station/windows/ToolsFrm.h"
#include "station/windows/TransHistoFrm.h"
#include "station/link/ComTask.h"
#include "station/link/Media.h"
#include "station/link/Modem.h"
#include "station/link/Scripts.h"
#include "station/link/Transmission.h"

namespace {

QString Q(const std::string& bytes) { return AnsiToQString(bytes); }

const char* const kNoData = "No data in memory";
const char* const kSelectFirst = "Select first one or several measurements in the list";

TSettingsSection SectionOf(TCustomIniFile* ini, const std::string& section)
{
    TSettingsSection s;
    s.Get = [ini, section](const std::string& key, std::string& value) { return ini->TryReadString(section, key, value); };
    s.Set = [ini, section](const std::string& key, const std::string& value) { return ini->WriteString(section, key, value); };
    return s;
}

}  // namespace

// ---- construction -------------------------------------------------------------------------------------

TZELTFrm::TZELTFrm(TZELT& zelt, const std::vector<std::string>& args, QWidget* parent)
    : QMainWindow(parent), FZelt(zelt)
{
    setObjectName("ZELTFrm");
    setWindowTitle("ZELT Win");
    FCore = std::make_unique<TStationCore>(this, this);
    FStatus = std::make_unique<TStatusConfig>(zelt.RegistryKey());
    FVersion = GetBuildText();
    std::srand(static_cast<unsigned>(std::time(nullptr)));
    std::string last;
    if (FStatus->ReadString("LastTransScnStr", last)) FCore->Transmissions().SetLastEventText(last);
    FCore->OnLastEventText = [this](const std::string& text) { StoreLastEventText(text); };

    BuildMenus();
    BuildPanels();
    LoadSettings();
    ReadCommandLineOptions(args);
    RegisterFileAssociation(".q5", (ProgramDir() / "zelt").string(), 0, "");
    FPlugIns = std::make_unique<TPlugInsList>(*this, zelt.PlugInsDirectory());
    FHelp = std::make_unique<THTMLHelp>((InstalledDataDir() / "help" / "index.html").string());
    FPlugIns->AddFormMenus(this);
    FillPlugInContext();
    FitWindowToContents(this);
    if (FStatus->LoadControlPlacement(this, "ZELTFrm")) {
        FStatus->LoadListViewColumns(ScnListView, "ZELTFrm_ScnCol");
        SetShowToolBarCaption(!FStatus->ReadBool("HideTBCaption", false));
    }
    SetModeExpert(FCore->ModeExpert);
    FCore->ConfigureMedia();
    FCore->StartTimers();
    ShowQ5FileInfo();
}

TZELTFrm::~TZELTFrm()
{
    FCore->StopTimers();
    if (TMedia* m = FCore->Media()) {
        m->OnData = nullptr;
        m->OnClosed = nullptr;
        m->Close();
    }
    FScnInfo.reset();
    FPlugIns.reset();
    FHelp.reset();
    FCore.reset();
    FStatus.reset();
}

std::string TZELTFrm::GetBuildText() const
{
#ifdef ZELT_VERSION_TEXT
    return ZELT_VERSION_TEXT;
#else
    return {};
#endif
}

std::unique_ptr<TCustomIniFile> TZELTFrm::OpenSettings() const { return FZelt.OpenSettings(); }

void TZELTFrm::BuildMenus()
{
    auto act = [this](QMenu* menu, const char* text, auto slot) {
        QAction* a = menu->addAction(QString::fromUtf8(text));
        connect(a, &QAction::triggered, this, slot);
        return a;
    };
    QMenu* file = menuBar()->addMenu("&File");
    QAction* openAct = act(file, "&Open...", [this] { OpenMnuClick(); });
    openAct->setShortcut(QKeySequence("Ctrl+O"));
    QAction* saveAct = act(file, "Save", [this] { SaveMnuClick(); });
    saveAct->setShortcut(QKeySequence("Ctrl+S"));
    act(file, "Save as...", [this] { SaveAsMnuClick(); });
    file->addSeparator();
    act(file, "Convert in ASCII...", [this] {
        const TStationSettings& s = FCore->Settings;
        TConversionASCIIFrm dialog(s.AutoRecordPath, s.ASCIIPeriod, s.BaseASCIIName, s.AddASCIIHeader, this);
        dialog.OnHelp = [this](int context) { FHelp->ShowTopic(context); };
        dialog.exec();
    });
    act(file, "Merge the Q5 files...", [this] {
        TFusionQ5Frm dialog(FCore->Settings.AutoRecordPath, this);
        dialog.OnHelp = [this](int context) { FHelp->ShowTopic(context); };
        dialog.exec();
    });
    QAction* palmAct = act(file, "Import from Palm...", [this] {
        if (RefuseWhileConnected()) return;
        TPalmImportFrm dialog(&FZelt, FCore->ModeExpert, [this](const std::string& line) { FCore->LogErrorToDialog(line); }, this);
        dialog.exec();
    });
    file->addSeparator();
    act(file, "&Quit", [this] { close(); });

    QMenu* tools = menuBar()->addMenu("Tools");
    act(tools, "Connect / Disconnect", [this] { ConnecterMnuClick(); });
    act(tools, "Transmissions historic...", [this] {
        TTransHistoFrm dialog(FCore->Transmissions(), FStatus.get(), this);
        dialog.OnHelp = [this](int context) { FHelp->ShowTopic(context); };
        dialog.exec();
    });
    QAction* paramAct = act(tools, "Parameters edition...", [this] { ParamEditMnuClick(); });
    act(tools, "Conversion tools...", [this] {
        TToolsFrm dialog(this);
        dialog.exec();
    });
    ScriptsAct = act(tools, "Scripts edition...", [this] {
        if (!Scripts) return ShowWarning("No scripts list is loaded.");
        TEditScriptFrm dialog(*Scripts, this);
        dialog.exec();
    });
    Q5InfoAct = act(tools, "Q5 information...", [this] { Q5InfoMnuClick(); });
    InstrInfoAct = act(tools, "Instrument information...", [this] { InstrumentInfoMnuClick(); });
    tools->addSeparator();
    QAction* confAct = act(tools, "General setup", [this] { ConfigBtnClick(); });

    QMenu* measure = menuBar()->addMenu("Measurement");
    act(measure, "Delete the measurements", [this] { DeleteMnuClick(); });
    act(measure, "Measurement detail...", [this] { DetailMnuClick(); });
    QAction* asciiAct = act(measure, "Save the ASCII files", [this] { SaveAsciiMnuClick(); });
    ScnInfoSep = measure->addSeparator();
    ScnInfoAct = act(measure, "Information about the scenarios...", [this] {
        TListDecodedScnFrm dialog(gListScn, this);
        dialog.exec();
    });

    FProcessingMenu = menuBar()->addMenu("&Processing");
    FProcessingMenu->menuAction()->setVisible(false);

    QMenu* help = menuBar()->addMenu("&Help");
    act(help, "Help &Summary", [this] { HelpMnuClick(); });
    act(help, "&About...", [this] { AboutMnuClick(); });

    // The menu tool bar mirrors the main menu.
    MenuToolBar = addToolBar("Menu");
    MenuToolBar->setObjectName("MenuToolBar");
    for (QMenu* m : {file, tools, measure, FProcessingMenu, help}) {
        auto* b = new QToolButton(MenuToolBar);
        b->setText(m->title());
        b->setMenu(m);
        b->setPopupMode(QToolButton::InstantPopup);
        QAction* holder = MenuToolBar->addWidget(b);
        if (m == FProcessingMenu) {
            FProcessingButton = holder;
            holder->setVisible(false);
        }
    }
    addToolBarBreak();

    UpperToolBar = addToolBar("Commands");
    UpperToolBar->setObjectName("UpperToolBar");
    // Icons of the desktop theme, else Qt's own, so that the buttons still say something without text.
    auto icon = [this](const char* themeName, QStyle::StandardPixmap fallback) {
        return QIcon::fromTheme(themeName, style()->standardIcon(fallback));
    };
    auto button = [this](const char* caption, const char* hint, QAction* same, const QIcon& icon) {
        QAction* a = UpperToolBar->addAction(icon, caption);
        a->setToolTip(hint);
        connect(a, &QAction::triggered, same, &QAction::trigger);
        UpperButtons.push_back(a);
        return a;
    };
    button("Open", "Open a Q5 file", openAct, icon("document-open", QStyle::SP_DialogOpenButton));
    button("Save", "Save the Q5 file", saveAct, icon("document-save", QStyle::SP_DialogSaveButton));
    button("Palm", "Import from Palm", palmAct, icon("pda", QStyle::SP_DriveFDIcon));
    button("Parameters", "Parameters edition", paramAct, icon("document-properties", QStyle::SP_FileDialogDetailedView));
    button("Configuration", "General setup", confAct, icon("preferences-system", QStyle::SP_ComputerIcon));
    button("ASCII", "Save the ASCII files", asciiAct, icon("text-x-generic", QStyle::SP_FileIcon));
    QAction* wrt = UpperToolBar->addAction(icon("document-save-as", QStyle::SP_FileDialogContentsView), "Wrt Param.");
    wrt->setToolTip("Save the parameters file");
    connect(wrt, &QAction::triggered, this, [this] { WriteParamBtnClick(); });
    UpperButtons.push_back(wrt);
    UpperToolBar->addSeparator();
    ConnectAct = UpperToolBar->addAction(icon("network-connect", QStyle::SP_MediaPlay), "Connect");
    ConnectAct->setCheckable(true);
    connect(ConnectAct, &QAction::triggered, this, [this](bool down) { ConnectBtnClick(down); });
    StopAct = UpperToolBar->addAction(icon("process-stop", QStyle::SP_MediaStop), "Stop");
    StopAct->setToolTip("End the communication");
    StopAct->setEnabled(false);
    connect(StopAct, &QAction::triggered, this, [this] { StopTransBtnClick(); });
    UpperToolBar->setContextMenuPolicy(Qt::CustomContextMenu);
    TextLabelsAct = new QAction("Text labels", this);
    TextLabelsAct->setCheckable(true);
    TextLabelsAct->setChecked(true);
    connect(TextLabelsAct, &QAction::triggered, this, [this](bool on) { SetShowToolBarCaption(on); });
    connect(UpperToolBar, &QWidget::customContextMenuRequested, this, [this](const QPoint& p) {
        QMenu menu;
        menu.addAction(TextLabelsAct);
        menu.exec(UpperToolBar->mapToGlobal(p));
    });
    SetShowToolBarCaption(FShowToolBarCaption);  // text labels until the stored state says otherwise
}

void TZELTFrm::BuildPanels()
{
    auto* splitter = new QSplitter(Qt::Vertical, this);
    setCentralWidget(splitter);

    auto* top = new QWidget(splitter);
    auto* topLayout = new QVBoxLayout(top);
    auto* info = new QGroupBox("Q5 file information", top);
    auto* grid = new QGridLayout(info);
    auto label = [&](const char* caption, int row, int col) {
        grid->addWidget(new QLabel(caption, info), row, col * 2);
        auto* value = new QLabel("-", info);
        value->setTextInteractionFlags(Qt::TextSelectableByMouse);
        grid->addWidget(value, row, col * 2 + 1);
        return value;
    };
    NameLbl = label("Name :", 0, 0);
    SizeLbl = label("Size :", 1, 0);
    DataLbl = label("Data :", 2, 0);
    InstrumentLbl = label("Instrument :", 0, 1);
    PcDateLbl = label("PC Date :", 1, 1);
    InstrDateLbl = label("Instr Date :", 2, 1);
    topLayout->addWidget(info);

    // A table view keeps nothing per row beyond its header's section sizes: a list of a million rows
    // costs a few bytes a row.
    ScnListView = new QTableView(top);
    ScnListView->setObjectName("ScnListView");
    ScnListModel = new TScnListModel([this] { return Q5File(); }, ScnListView);
    ScnListView->setModel(ScnListModel);
    ScnListView->verticalHeader()->hide();
    ScnListView->verticalHeader()->setDefaultSectionSize(ScnListView->fontMetrics().height() + 4);
    ScnListView->setShowGrid(false);
    ScnListView->setWordWrap(false);
    ScnListView->horizontalHeader()->setStretchLastSection(true);
    ScnListView->horizontalHeader()->setHighlightSections(false);
    ScnListView->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    ScnListView->setSelectionMode(QAbstractItemView::ExtendedSelection);
    ScnListView->setSelectionBehavior(QAbstractItemView::SelectRows);
    ScnListView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ScnListView->setColumnWidth(0, 60);
    ScnListView->setColumnWidth(1, 140);
    ScnListView->setColumnWidth(2, 50);
    ScnListView->horizontalHeader()->setSectionsClickable(true);
    connect(ScnListView->horizontalHeader(), &QHeaderView::sectionClicked, this, [this](int c) { SortByColumn(c); });
    connect(ScnListView, &QTableView::doubleClicked, this, [this] { DetailMnuClick(); });
    ScnListView->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ScnListView, &QWidget::customContextMenuRequested, this, [this](const QPoint& p) {
        QMenu menu;
        menu.addAction("See details", this, [this] { DetailMnuClick(); });
        menu.addAction("&Suppress", this, [this] { DeleteMnuClick(); });
        menu.exec(ScnListView->viewport()->mapToGlobal(p));
    });
    topLayout->addWidget(ScnListView, 1);

    ConnectionPanel = new QWidget(splitter);
    auto* connLayout = new QHBoxLayout(ConnectionPanel);
    auto* commGroup = new QGroupBox("Communication", ConnectionPanel);
    auto* commLayout = new QVBoxLayout(commGroup);
    Memo = new QPlainTextEdit(commGroup);
    Memo->setReadOnly(true);
    Memo->setObjectName("Memo");
    commLayout->addWidget(Memo);
    connLayout->addWidget(commGroup, 1);

    auto* status = new QGroupBox("Status", ConnectionPanel);
    auto* st = new QGridLayout(status);
    auto statusLabel = [&](const char* caption, int row) {
        st->addWidget(new QLabel(caption, status), row, 0);
        auto* v = new QLabel("-", status);
        st->addWidget(v, row, 1);
        return v;
    };
    StartLbl = statusLabel("Start :", 0);
    DurationLbl = statusLabel("Duration :", 1);
    CharsLbl = statusLabel("Received :", 2);
    SpeedLbl = statusLabel("Speed :", 3);
    LedLbl = new QLabel(status);
    LedLbl->setFixedSize(14, 14);
    LedLbl->setStyleSheet("background: #303030; border-radius: 7px;");
    st->addWidget(LedLbl, 4, 0);
    Gauge = new QProgressBar(status);
    Gauge->setRange(0, 100);
    st->addWidget(Gauge, 4, 1);
    SpeedChart = new TChart(status);
    SpeedChart->SetLegendVisible(false);
    SpeedChart->SetAxisRange(TChart::Bottom, 0, 29);
    SpeedChart->SetAllowZoom(false);
    SpeedChart->setMinimumSize(260, 150);
    SpeedChart->SetValueFormat(TChart::Left, "0");
    SpeedChart->SetValueFormat(TChart::Bottom, "0");
    SpeedChart->chart()->setMargins(QMargins(2, 2, 2, 2));
    st->addWidget(SpeedChart, 5, 0, 1, 2);
    connLayout->addWidget(status);

    RSPanel = new QWidget(ConnectionPanel);
    auto* rs = new QVBoxLayout(RSPanel);
    FRSEdit = new QLineEdit(RSPanel);
    rs->addWidget(FRSEdit);
    auto* sendBtn = new QPushButton("Send", RSPanel);
    FRSCrLf = new QCheckBox("Send CR-LF", RSPanel);
    auto* editLog = new QPushButton("Edit RS Log...", RSPanel);
    auto* delLog = new QPushButton("Delete the RS-232 log file", RSPanel);
    auto* memoView = new QCheckBox("Edit RS-232 dialog", RSPanel);
    auto* inactive = new QCheckBox("Inactive reply", RSPanel);
    for (QWidget* w : std::initializer_list<QWidget*>{sendBtn, FRSCrLf, editLog, delLog, memoView, inactive}) rs->addWidget(w);
    connect(sendBtn, &QPushButton::clicked, this, [this] {
        // '^' + character is that character's code minus 64, "^^" a caret; a final caret stays one.
        const std::string text = QStringToAnsi(FRSEdit->text());
        std::string bytes;
        for (size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '^' && i + 1 < text.size()) {
                ++i;
                bytes += text[i] == '^' ? '^' : static_cast<char>(text[i] - 64);
            } else {
                bytes += text[i];
            }
        }
        if (FRSCrLf->isChecked()) bytes += "\r\n";
        bytes = bytes.substr(0, bytes.find('\0'));
        if (bytes.size() > 255) bytes.resize(255);
        if (!bytes.empty()) FCore->SendToInstrument(bytes.data(), static_cast<int>(bytes.size()));
    });
    connect(editLog, &QPushButton::clicked, this, [this] {
        const std::string log = FCore->LogFolder + "/ZELTWIN.LOG";
        if (FileExists(log)) OpenFileWithShell(log);
    });
    connect(delLog, &QPushButton::clicked, this, [this] { DeleteFileIfExists(FCore->LogFolder + "/ZELTWIN.LOG"); });
    connect(memoView, &QCheckBox::toggled, this, [this](bool on) { FCore->MemoView = on; });
    connect(inactive, &QCheckBox::toggled, this, [this](bool on) { FCore->InactiveReply = on; });
    connLayout->addWidget(RSPanel);
    RSPanel->hide();
    ConnectionPanel->hide();
}

// ---- settings -----------------------------------------------------------------------------------------

void TZELTFrm::LoadSettings()
{
    TStationSettings& s = FCore->Settings;
    if (auto ini = OpenSettings()) LoadStationSettings(s, SectionOf(ini.get(), FZelt.RegBaseSecName()));
    s.AutoRecordPath = IncludeTrailingSlash(s.AutoRecordPath);
    if (!FileExists(s.SoundEndTransFile)) s.SoundEndTransFile = (ProgramDir() / "ROOSTER.WAV").string();
    for (int i = 0; i < 4; ++i) {
        const std::string* v[] = {&s.SepList, &s.SepDec, &s.SepTime, &s.SepDate};
        SetSeparator(i, *v[i]);
    }
    ApplyAsciiOptions();
    FCore->Modem().SetInitStr(s.MODEMInitStr);
    FCore->Modem().Rings = s.MODEMNbRings;
}

bool TZELTFrm::SaveSettings()
{
    auto ini = OpenSettings();
    if (!ini) return false;
    TSettingsSection main = SectionOf(ini.get(), FZelt.RegBaseSecName());
    bool ok = SaveStationSettings(FCore->Settings, main);
    ok &= main.Set("PARDirectory", FZelt.PARDirectory());
    ok &= main.Set("PlugInsDirectory", FZelt.PlugInsDirectory());
    if (FCore->ModeExpert) ok &= SaveDebugSettingsTo(ini.get());
    ok &= ini->UpdateFile();
    if (!ok) ShowWarning("Unable to write the settings: " + ini->LastError());
    return ok;
}

bool TZELTFrm::SaveDebugSettingsTo(TCustomIniFile* ini)
{
    return ::SaveDebugSettings(FCore->Settings, SectionOf(ini, "Debug"));
}

void TZELTFrm::SaveDebugSettings()
{
    if (auto ini = OpenSettings()) {
        SaveDebugSettingsTo(ini.get());
        ini->UpdateFile();
    }
}

void TZELTFrm::SetSeparator(int index, const std::string& value)
{
    TStationSettings& s = FCore->Settings;
    std::string* fields[] = {&s.SepList, &s.SepDec, &s.SepTime, &s.SepDate};
    *fields[index] = value.empty() ? DefaultSeparator(index) : value;
    ApplyAsciiFormat(s);
}

void TZELTFrm::ApplyAsciiOptions() { ApplyAsciiFormat(FCore->Settings); }

void TZELTFrm::SetModeExpert(bool on)
{
    FCore->ModeExpert = on;
    if (FPlugIns) FPlugIns->SetExpertMode(on);
    for (QAction* a : {Q5InfoAct, InstrInfoAct, ScriptsAct, ScnInfoSep, ScnInfoAct}) a->setVisible(on);
    TStationSettings& s = FCore->Settings;
    if (!on) {
        s.DebugModemEchoOn = s.MakeTransLogFile = s.MakeCnxErrors = s.SeeRS232DebugPanel = false;
        return;
    }
    if (auto ini = OpenSettings()) {
        if (!LoadDebugSettings(s, SectionOf(ini.get(), "Debug"))) {
            SaveDebugSettingsTo(ini.get());
            ini->UpdateFile();
        }
    }
    if (FCore->Media()) ShowRSPanel(FCore->Media()->IsOpen() && s.SeeRS232DebugPanel);
}

void TZELTFrm::ReadCommandLineOptions(const std::vector<std::string>& args)
{
    TStationSettings& s = FCore->Settings;
    std::string dataFile;
    for (const std::string& arg : args) {
        const size_t eq = arg.find('=');
        const std::string value = eq == std::string::npos ? std::string() : arg.substr(eq + 1);
        switch (ArgumentKind(arg)) {
        case TArgumentKind::Debug:
            FCore->ModeExpert = true;
            setWindowTitle(windowTitle() + Q(" [D " + FVersion + "]"));
            QApplication::setApplicationDisplayName(windowTitle());
            break;
        case TArgumentKind::Com:
            s.PortNum = value;
            s.TypeCom = TypeComSerial;
            s.AutoConnect = true;
            break;
        case TArgumentKind::Ip:
            s.RemoteIP = value;
            s.TypeCom = TypeComIp;
            s.AutoConnect = true;
            break;
        case TArgumentKind::Usb:
            s.TypeCom = TypeComUsb;
            s.AutoConnect = true;
            break;
        case TArgumentKind::Run: {
            FPlugInName = value;
            auto task = std::make_unique<TComTask>();
            task->Name = "Automatic plug-in start";
            task->SetTimeOut(0);
            task->EndWithPort = false;
            task->OnStart = [this](TComTask*) { AutoRunPlugIn(); };
            FCore->Tasks().Add(std::move(task));
            break;
        }
        case TArgumentKind::DataFile:
            dataFile = arg;  // an argument beginning with '/' is a path here
            break;
        default:
            break;  // read elsewhere (-NOSPLASH, -CONFIG), or not an option of the window
        }
    }
    if (FStartFile.empty()) FStartFile = dataFile;
}

void TZELTFrm::AutoRunPlugIn()
{
    const std::string name = FPlugInName;
    FPlugInName.clear();
    if (!name.empty()) {
        if (FCore->Connected()) {
            MemoLine("The plug-in " + name + " is not run during a transmission.");
        } else if (FPlugIns) {
            FRunningPlugIn = name;
            if (FPlugIns->RunByName(name)) FAutoRunRefused = FPlugIns->LastExecuteResult() < 0;
            FRunningPlugIn.clear();
        }
    }
    FCore->Tasks().EndCurrent();
}

bool TZELTFrm::HasPlugIn(const std::string& name) const { return FPlugIns && FPlugIns->FindByName(name); }

std::string TZELTFrm::PlugInsFolder() const { return FZelt.PlugInsDirectory(); }

void TZELTFrm::Start(bool connectAfterBadFile)
{
    if (!FStartFile.empty()) {
        FStartFileProblem = Q5File() ? "a data file is already loaded" : UnreadableFileReason(FStartFile);
        if (!FStartFileProblem.empty()) {
            ShowWarning(TextWithFileName("", FStartFile, "\nUnable to load the file."));
            if (!connectAfterBadFile) return;
        } else {
            SetQ5FileName(FStartFile);
            OpenQ5File(FStartFile);
            if (NotADataFile(*Q5File())) FStartFileProblem = "not a data file";
            return;
        }
    }
    if (Q5FileName().empty() && FCore->Settings.AutoConnect) ConnecterMnuClick();
}

void TZELTFrm::StoreLastEventText(const std::string& text) { FStatus->WriteString("LastTransScnStr", text); }

// ---- plug-in host -------------------------------------------------------------------------------------

void TZELTFrm::FillPlugInContext()
{
    if (!FPlugIns) return;
    FPlugIns->FillContext(FCore->ModeExpert, FCore->Media(), &FCore->Q5File, gListScn, gInstrumentList,
                          FCore->Settings.ConfirmWrite);
}

void* TZELTFrm::DecodeStationParams()
{
    if (!Q5File()) return nullptr;
    TDecodDorax decoder;
    return decoder.Decode(Q5File()->ParamBloc(), Q5File()->InstrumentId, FZelt.PARDirectory());
}

void TZELTFrm::FreeStationParams(void* params) { delete static_cast<TParamsList*>(params); }

void TZELTFrm::ReloadCurrentDataFile()
{
    if (!Q5File()) return;
    auto* copy = new TQ5File();
    copy->Assign(Q5File());
    FCore->ReplaceDataFile(copy);
    RefreshScnList();
}

int TZELTFrm::StartScripts() { return Scripts ? Scripts->StartScripts(*FCore, FCore->Tasks()) : 0; }

// ---- views --------------------------------------------------------------------------------------------

void TZELTFrm::ShowQ5FileInfo()
{
    TQ5File* f = Q5File();
    NameLbl->setText(FileNameToQString(Q5FileName()));
    if (!f) {
        for (QLabel* l : {SizeLbl, DataLbl, InstrumentLbl, PcDateLbl, InstrDateLbl}) l->setText("-");
        return;
    }
    if (f->ImageLength > 0)
        SizeLbl->setText(QString::number(f->ImageLength) + " bytes");
    else
        SizeLbl->setText(f->Events.Count() > 0 ? "..." : "0 bytes");
    DataLbl->setText(QString::number(f->NbEvt()) + " scenarios");
    InstrumentLbl->setText(Q(f->InstruName()));
    PcDateLbl->setText(f->PcUtc < 2 ? QString("Unknown") : Q(ShortDateText(f->PcUtc) + " " + TimeText(f->PcUtc) + " UT"));
    if (f->InstrumentClock <= 1)
        InstrDateLbl->setText("Unknown");
    else if (f->SecondsKnown)
        InstrDateLbl->setText(Q(ShortDateText(f->InstrumentClock) + " " + TimeText(f->InstrumentClock)));
    else
        InstrDateLbl->setText(Q(ShortDateText(f->InstrumentClock) + " " + FormatDateTime("hh:nn", f->InstrumentClock) + ":??"));
}

std::string TZELTFrm::ShortDataText(const std::string& text) { return TScnListModel::ShortDataText(text); }

void TZELTFrm::RefreshScnList()
{
    // The detail window may show an event that was just deleted or belonged to the file replaced.
    if (FScnInfo) FScnInfo->SetEvt(nullptr);
    std::fill(std::begin(FSortCounters), std::end(FSortCounters), 0);
    ShowQ5FileInfo();
    TQ5File* f = Q5File();
    if (!f) {
        ScnListModel->Clear();
        SizeLbl->setText("-");
        DataLbl->setText("-");
        return;
    }
    ScnListModel->Rebuild(FCore->Settings.ShowINIEvt, FCore->Settings.ShowScnError);
}

void TZELTFrm::SortByColumn(int column)
{
    if (column < 0 || column > 3) return;
    int& counter = FSortCounters[column];
    counter = counter % 2 + 1;  // 1, 2, 1, ...
    // Counter 1: text columns ascending, date and size descending; counter 2 reverses.
    const bool textColumn = column == 0 || column == 3;
    const bool ascending = (counter == 1) == textColumn;
    ScnListView->clearSelection();
    ScnListModel->SortBy(column, ascending);
}

std::vector<int> TZELTFrm::SelectedEvents() const
{
    std::vector<int> out;
    for (const QModelIndex& row : ScnListView->selectionModel()->selectedRows()) out.push_back(ScnListModel->EventAt(row.row()));
    std::sort(out.begin(), out.end());
    return out;
}

std::string TZELTFrm::HelpFile() const { return FHelp->HelpFile(); }

void TZELTFrm::ShowHelpTopic(int context) { FHelp->ShowTopic(context); }

void TZELTFrm::MemoLine(const std::string& text)
{
    if (EchoMemoToStderr) std::fprintf(stderr, "%s\n", text.c_str());
    Memo->appendPlainText(Q(text));
    if (Memo->blockCount() > 300) {
        // Text lines, not the wrapped lines on screen: the last 50 stay.
        QTextCursor c(Memo->document());
        c.movePosition(QTextCursor::Start);
        c.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor, Memo->blockCount() - 50);
        c.removeSelectedText();
        Memo->verticalScrollBar()->setValue(Memo->verticalScrollBar()->maximum());
    }
}

void TZELTFrm::ConnectedChanged(bool connected)
{
    if (connected) {
        StartLbl->setText(Q(FormatDateTime("hh:nn:ss", FCore->ConnectionStart)) + " (" +
                          QLocale::c().toString(QDate::currentDate(), "dd MMM") + ")");
        Gauge->setValue(0);
        ScnListModel->Clear();
    }
    ConnectAct->setEnabled(!connected);
    StopAct->setEnabled(connected);
    for (QAction* a : UpperButtons) a->setEnabled(!connected);
    for (QAction* a : MenuToolBar->actions()) a->setEnabled(!connected);
}

void TZELTFrm::PortStateChanged()
{
    ConnectAct->setEnabled(FCore->ConnectButtonEnabled() && !FCore->Connected());
    ConnectAct->setChecked(FCore->ConnectButtonDown());
    const bool open = FCore->Media() && FCore->Media()->IsOpen();
    ConnectionPanel->setVisible(open);
    ShowRSPanel(open && FCore->ModeExpert && FCore->Settings.SeeRS232DebugPanel);
    FillPlugInContext();
}

void TZELTFrm::ShowRSPanel(bool on) { RSPanel->setVisible(on); }

void TZELTFrm::Q5FileNameChanged()
{
    setWindowTitle("ZELT Win - " + FileNameToQString(ExtractFileName(Q5FileName())));
    NameLbl->setText(FileNameToQString(Q5FileName()));
}

void TZELTFrm::ProgressChanged(int percent) { Gauge->setValue(std::clamp(percent, 0, 100)); }

void TZELTFrm::ReceptionLed(bool on)
{
    LedLbl->setStyleSheet(on ? "background: #20e020; border-radius: 7px;" : "background: #303030; border-radius: 7px;");
}

void TZELTFrm::SupervisionTick()
{
    const TStationCore& c = *FCore;
    SpeedLbl->setText(QString::number(c.ConnectedSeconds ? c.ReceivedBytes / c.ConnectedSeconds : 0) + " Car./s");
    SpeedChart->FreeAllSeries();
    int sum = 0;
    for (int v : c.Throughput) sum += v;
    if (sum != 0) {
        TChartSeries* s = SpeedChart->AddSeries(TSeriesKind::Line, "Car./s");
        for (int i = 0; i < 30; ++i) s->AddXY(i, c.Throughput[(c.ThroughputIndex + i) % 30]);
        SpeedChart->Repaint();
    }
    CharsLbl->setText(QString::number(c.ReceivedBytes));
    DurationLbl->setText(Q(FormatDateTime("hh:nn:ss", NowLocal() - c.ConnectionStart)));
}

void TZELTFrm::PlayEndSound()
{
    // No sound device layer in this build: the end of the transfer stays silent.
}

void TZELTFrm::DataFileReplaced()
{
    if (FScnInfo) FScnInfo->SetEvt(nullptr);
    FillPlugInContext();
}

void TZELTFrm::MediaReconfigured() { FillPlugInContext(); }

// ---- file commands ------------------------------------------------------------------------------------

bool TZELTFrm::RefuseWhileConnected()
{
    if (!FCore->Connected()) return false;
    ShowWarning("This command is not available during a transmission.");
    return true;
}

bool TZELTFrm::OpenQ5File(const std::string& fileName)
{
    if (!FileExists(fileName)) return false;
    FCore->ReplaceDataFile(new TQ5File(fileName));
    FCore->Q5File->FileName = fileName;
    RefreshScnList();
    return true;
}

void TZELTFrm::OpenMnuClick()
{
    if (RefuseWhileConnected()) return;
    std::string dir;
    FStatus->ReadString("OpenQ5FileDir", dir);
    const QString path = QFileDialog::getOpenFileName(this, "Open a Q5 file", FileNameToQString(dir), "Q5 files (*.Q5 *.q5)");
    if (!path.isEmpty()) OpenFile(QStringToFileName(path));
}

void TZELTFrm::OpenFile(const std::string& path)
{
    if (RefuseWhileConnected()) return;
    if (FCore->Modified &&
        !AskYesNo("The current Q5 file was modified but not saved, do you want to continue and to loose the modifications ?"))
        return;
    SetQ5FileName(path);
    FStatus->WriteString("OpenQ5FileDir", ExtractFileDir(path));
    QApplication::setOverrideCursor(Qt::WaitCursor);
    try {
        OpenQ5File(path);
    } catch (...) {
        QApplication::restoreOverrideCursor();
        throw;
    }
    QApplication::restoreOverrideCursor();
    FCore->Modified = false;
}

bool TZELTFrm::SaveTo(const std::string& path, bool askReplace)
{
    if (askReplace && FileExists(path) && FCore->Settings.ConfirmWrite &&
        !AskYesNo("The file already exists.\nDo you want to replace it ?"))
        return false;  // nothing written: the data stay modified
    Q5File()->Rebuild();
    if (!Q5File()->SaveToFile(path)) {
        ShowWarning(TextWithFileName("Unable to save the file ", path));
        return false;
    }
    FCore->Modified = false;
    return true;
}

bool TZELTFrm::SaveMnuClick()
{
    if (!Q5File()) {
        ShowWarning(kNoData);
        return false;
    }
    if (Q5FileName().empty()) return SaveAsMnuClick();
    return SaveTo(Q5FileName(), true);
}

bool TZELTFrm::SaveAsMnuClick()
{
    if (!Q5File()) {
        ShowWarning(kNoData);
        return false;
    }
    if (RefuseWhileConnected()) return false;
    std::string dir;
    FStatus->ReadString("SaveQ5FileDir", dir);
    QString path = QFileDialog::getSaveFileName(this, "Save the Q5 file", FileNameToQString(dir), "Q5 files (*.Q5 *.q5)");
    if (path.isEmpty()) return false;
    if (QFileInfo(path).suffix().isEmpty()) path += ".Q5";
    return SaveAs(QStringToFileName(path));
}

bool TZELTFrm::SaveAs(const std::string& path)
{
    if (!Q5File()) {
        ShowWarning(kNoData);
        return false;
    }
    if (RefuseWhileConnected()) return false;
    FStatus->WriteString("SaveQ5FileDir", ExtractFileDir(path));
    SetQ5FileName(path);
    return SaveTo(path, true);
}

void TZELTFrm::SaveAsciiMnuClick()
{
    TQ5File* f = Q5File();
    if (!f) return ShowWarning(kNoData);
    if (f->NbEvt() == 0) return ShowWarning("No valid scenario in the Q5 file");
    if (Q5FileName().empty()) return ShowWarning("The Q5 file doesn't have a name");
    if (f->ExportAsciiFiles(Q5FileName(), FCore->Settings.AddASCIIHeader))
        ShowInfo("The ASCII files were created successfully.");
    else
        ShowWarning(TextWithFileName("Unable to write the ASCII files of ", Q5FileName()));
}

void TZELTFrm::DeleteMnuClick()
{
    if (!Q5File()) return ShowWarning(kNoData);
    const std::vector<int> selected = SelectedEvents();
    if (selected.empty()) return ShowWarning(kSelectFirst);
    if (RefuseWhileConnected()) return;
    for (auto it = selected.rbegin(); it != selected.rend(); ++it) Q5File()->Events.Delete(*it);
    Q5File()->Rebuild();
    FCore->Modified = true;
    RefreshScnList();
}

void TZELTFrm::DetailMnuClick()
{
    const std::vector<int> selected = SelectedEvents();
    if (selected.empty() || !Q5File()) return ShowWarning(kSelectFirst);
    if (!FScnInfo) {
        FScnInfo = std::make_unique<TScnInfoFrm>(FCore->ModeExpert, this);
        // While it is shown, it follows the selection.
        connect(ScnListView->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
            const std::vector<int> now = SelectedEvents();
            if (FScnInfo && FScnInfo->isVisible() && !now.empty() && Q5File() && now[0] < Q5File()->Events.Count())
                FScnInfo->SetEvt(Q5File()->Events[now[0]]);
        });
    }
    FScnInfo->SetExpertMode(FCore->ModeExpert);
    FScnInfo->SetEvt(Q5File()->Events[selected[0]]);
    FScnInfo->show();
}

void TZELTFrm::ParamEditMnuClick()
{
    if (!Q5File()) return ShowWarning(kNoData);
    if (RefuseWhileConnected()) return;
    if (EditStationParameters(Q5File(), FZelt.PARDirectory(), FCore->ModeExpert, this,
                              [this](int context) { FHelp->ShowTopic(context); })) {
        FCore->Modified = true;
        RefreshScnList();
    }
}

void TZELTFrm::WriteParamBtnClick()
{
    QString message;
    if (WriteParamFile(Q5File(), Q5FileName(), FZelt.PARDirectory(), message))
        ShowInfo(message);
    else
        ShowWarning(message);
}

void TZELTFrm::Q5InfoMnuClick()
{
    TQ5File* f = Q5File();
    if (!f) return ShowWarning(kNoData);
    char head[64];
    std::snprintf(head, sizeof head, "Type: %d (0x%02X)", f->InstrumentType, f->InstrumentType);
    std::string text = std::string(head) + "\nInstruDef: " + f->InstrumentId + "\nParam: ";
    const std::string& p = f->ParamBloc();
    for (size_t i = 0; i < p.size(); i += 80) text += "\n" + p.substr(i, 80);
    ShowInfo(text);
}

void TZELTFrm::InstrumentInfoMnuClick()
{
    TQ5File* f = Q5File();
    if (!f) return ShowWarning(kNoData);
    if (!f->Instrument) return ShowWarning("Instrument not defined!");
    std::string text = "Filters :\n";
    for (const auto& filter : f->Instrument->Filters)
        text += filter->GetLabel() + " Number:" + std::to_string(filter->Number) + " Physic:" +
                std::to_string(filter->Position) + "\n";
    ShowInfo(text);
}

void TZELTFrm::NotInThisVersion(const QString& what)
{
    ShowInfo(QStringToAnsi(what) + ": this tool is not part of this version of the station program.");
}

void TZELTFrm::ConfigBtnClick()
{
    TConfFrm dialog(*this, FZelt);
    if (dialog.exec() != QDialog::Accepted) return;
    SaveSettings();
    RefreshScnList();
    FPlugIns.reset();
    FPlugIns = std::make_unique<TPlugInsList>(*this, FZelt.PlugInsDirectory());
    FPlugIns->AddFormMenus(this);
    FillPlugInContext();
    PortStateChanged();
}

void TZELTFrm::ConnecterMnuClick()
{
    ConnectAct->setChecked(!ConnectAct->isChecked());
    ConnectBtnClick(ConnectAct->isChecked());
}

void TZELTFrm::ConnectBtnClick(bool down) { FCore->ConnectButton(down); }

void TZELTFrm::StopTransBtnClick() { FCore->StopTransmission(); }

void TZELTFrm::AboutMnuClick()
{
    TAboutBox box(*this);
    box.exec();
}

void TZELTFrm::HelpMnuClick() { FHelp->ShowHelp(); }

void TZELTFrm::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_F1) {
        HelpMnuClick();
        return;
    }
    if (event->key() == Qt::Key_Delete && ScnListView->hasFocus()) {
        DeleteMnuClick();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

void TZELTFrm::closeEvent(QCloseEvent* event)
{
    if (FCore->Connected()) {
        event->ignore();
        if (AskYesNo("You can't quit ZELTWin during a transmission, would you like to stop the transmission ?"))
            StopTransBtnClick();
        return;
    }
    if (Q5File() && FCore->Modified) {
        const int answer = AskYesNoCancel("Do you want to save the Q5 file modifications before exiting the program ?");
        if (answer == PromptCancel) {
            event->ignore();
            return;
        }
        if (answer == PromptYes) {
            // Closes only once the file is safely saved.
            if (SaveMnuClick() && !FCore->Modified) {
                FCore->StopTimers();
                event->accept();
            } else {
                event->ignore();
            }
            return;
        }
    }
    FStatus->SaveFormPlacement(this, "ZELTFrm");
    FStatus->SaveListViewColumns(ScnListView, "ZELTFrm_ScnCol");
    FStatus->WriteBool("HideTBCaption", !FShowToolBarCaption);
    FCore->StopTimers();
    if (TMedia* m = FCore->Media()) m->OnData = nullptr;
    event->accept();
}

void TZELTFrm::SetShowToolBarCaption(bool on)
{
    FShowToolBarCaption = on;
    UpperToolBar->setToolButtonStyle(on ? Qt::ToolButtonTextUnderIcon : Qt::ToolButtonIconOnly);
    TextLabelsAct->setChecked(on);
}
