#include "station/ConfFrm.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>

#include "common/FileUtils.h"
#include "common/Prompt.h"
#include "common/Utils.h"
#include "common/Zelt.h"
#include "station/ZELTFrm.h"
#include "station/windows/DialogParts.h"
#include "station/link/ComPort.h"
#include "station/link/Modem.h"

namespace {
QString Q(const std::string& s) { return AnsiToQString(s); }
std::string A(const QString& s) { return QStringToAnsi(s); }
// Folders, files and ports are names of the file system, not Windows-1252 texts.
QString QF(const std::string& s) { return FileNameToQString(s); }
std::string AF(const QString& s) { return QStringToFileName(s); }
const char kSepChars[8] = {';', ',', ' ', '.', '\t', '|', '/', ':'};
const char* const kSepLabels[8] = {";", ",", "space", ".", "tab", "|", "/", ":"};

QLineEdit* FolderRow(QWidget* parent, QFormLayout* form, const char* caption, const std::string& value)
{
    auto* row = new QWidget(parent);
    auto* h = new QHBoxLayout(row);
    h->setContentsMargins(0, 0, 0, 0);
    auto* edit = new QLineEdit(QF(value), row);
    auto* browse = new QPushButton("Browse...", row);
    QObject::connect(browse, &QPushButton::clicked, row, [edit, parent] {
        const QString dir = QFileDialog::getExistingDirectory(parent, QString(), edit->text());
        if (!dir.isEmpty()) edit->setText(dir);
    });
    h->addWidget(edit);
    h->addWidget(browse);
    form->addRow(caption, row);
    return edit;
}
}  // namespace

TConfFrm::TConfFrm(TZELTFrm& main, TZELT& zelt) : QDialog(&main), FMain(main), FZelt(zelt)
{
    setObjectName("ConfFrm");
    const TStationSettings& s = main.Settings();
    QString caption = "ZELT Options";
    if (!zelt.AlternateIniFile().empty()) caption += " (" + QF(ExtractFileName(zelt.AlternateIniFile())) + ")";
    setWindowTitle(caption);
    // Modal to the main window only, so that the help window it opens can be used beside it.
    setWindowModality(Qt::WindowModal);
    auto* layout = new QVBoxLayout(this);
    Pages = new QTabWidget(this);
    layout->addWidget(Pages);

    // ---- Communication ----
    CommPage = new QWidget();
    auto* comm = new QVBoxLayout(CommPage);
    auto* top = new QFormLayout();
    TypeCom = new QComboBox(CommPage);
    TypeCom->addItems({"MODEM", "Serial cable", "USB Loop", "IP"});
    TypeCom->setCurrentIndex(std::clamp(s.TypeCom, 0, 3));
    top->addRow("Communication type", TypeCom);
    AutoConnect = new QCheckBox("Automatic connection at start", CommPage);
    AutoConnect->setChecked(s.AutoConnect);
    top->addRow(AutoConnect);
    comm->addLayout(top);
    auto* modem = new QGroupBox("MODEM parameters", CommPage);
    ModemGroup = modem;
    auto* mf = new QFormLayout(modem);
    ModemInit = new QLineEdit(Q(s.MODEMInitStr), modem);
    mf->addRow("Initialization string", ModemInit);
    ModemRings = new QSpinBox(modem);
    ModemRings->setRange(1, 7);
    ModemRings->setValue(std::clamp(s.MODEMNbRings, 1, 7));
    mf->addRow("Number of rings before picking-up", ModemRings);
    ManualPickUp = new QCheckBox("Manual pick-up", modem);
    ManualPickUp->setChecked(s.AutoRing);
    mf->addRow(ManualPickUp);
    comm->addWidget(modem);
    auto* port = new QGroupBox("Communication port", CommPage);
    auto* pf = new QFormLayout(port);
    PortNum = new QComboBox(port);
    PortNum->setEditable(true);
    std::vector<std::string> ports;
    if (FillComPortList(ports, s.PortNum, 0) <= 0) {
        ports.clear();
        EnumComPorts(ports);
        if (ports.empty())
            for (int i = 1; i <= 16; ++i) ports.push_back("COM" + std::to_string(i));
    }
    if (std::find(ports.begin(), ports.end(), s.PortNum) == ports.end()) ports.push_back(s.PortNum);
    for (const auto& p : ports) PortNum->addItem(QF(p));
    PortNum->setCurrentText(QF(s.PortNum));
    PortLbl = new QLabel("Port number", port);
    pf->addRow(PortLbl, PortNum);
    Speed = new QComboBox(port);
    Speed->addItems({"1200", "9600", "19200"});
    Speed->setCurrentText(QString::number(s.Speed));
    pf->addRow("Speed (in bauds)", Speed);
    Address = new QLineEdit(Q(s.RemoteIP), port);
    Address->setMaxLength(80);
    AddressLbl = new QLabel("Address", port);
    pf->addRow(AddressLbl, Address);
    AutoReconnect = new QCheckBox("Automatic reconnect", port);
    AutoReconnect->setChecked(s.AutoReconnect);
    pf->addRow(AutoReconnect);
    comm->addWidget(port);
    auto* misc = new QGroupBox("Misc.", CommPage);
    auto* mv = new QVBoxLayout(misc);
    StopAfter2FF = new QCheckBox("Stop the connection after two empty events", misc);
    StopAfter2FF->setChecked(s.StopAfter2FF);
    Optimize = new QCheckBox("Optimize transmissions", misc);
    Optimize->setChecked(s.OptimizeTransmission);
    SmartTime = new QCheckBox("Enable smart update of time", misc);
    SmartTime->setChecked(s.SmartSetTime);
    HardTime = new QCheckBox("Enable direct update of time", misc);
    HardTime->setChecked(s.HardSetTime);
    for (QWidget* w : std::initializer_list<QWidget*>{StopAfter2FF, Optimize, SmartTime, HardTime}) mv->addWidget(w);
    comm->addWidget(misc);
    Pages->addTab(CommPage, "Communication");
    connect(TypeCom, &QComboBox::currentIndexChanged, this, [this] { UpdateCommunicationControls(); });

    // ---- ASCII format ----
    AsciiPage = new QWidget();
    auto* ascii = new QVBoxLayout(AsciiPage);
    Year4 = new QCheckBox("Display years on four digits", AsciiPage);
    Year4->setChecked(s.Year4Digits);
    Quoted = new QCheckBox("Dates and times between quotes", AsciiPage);
    Quoted->setChecked(s.QuotedDateTime);
    Zeros = new QCheckBox("Dates and times with not significant zeros", AsciiPage);
    Zeros->setChecked(s.ShowZeroDate);
    Header = new QCheckBox("Add a description header at the beginning of each file", AsciiPage);
    Header->setChecked(s.AddASCIIHeader);
    ForceNumbers = new QCheckBox("Always display data with numbers", AsciiPage);
    ForceNumbers->setChecked(s.ForceDisplayDecimalValue);
    for (QCheckBox* c : {Year4, Quoted, Zeros, Header, ForceNumbers}) {
        ascii->addWidget(c);
        connect(c, &QCheckBox::toggled, this, [this] { Sample->setText(SampleText()); });
    }
    auto* seps = new QGroupBox("Separators", AsciiPage);
    auto* sl = new QVBoxLayout(seps);
    SeparatorKind = new QComboBox(seps);
    SeparatorKind->addItems({"List separator", "Decimal separator", "Date separator", "Time separator"});
    sl->addWidget(SeparatorKind);
    auto* radios = new QHBoxLayout();
    SeparatorButtons = new QButtonGroup(seps);
    for (int i = 0; i < 8; ++i) {
        auto* r = new QRadioButton(kSepLabels[i], seps);
        SeparatorButtons->addButton(r, i);
        radios->addWidget(r);
    }
    sl->addLayout(radios);
    ascii->addWidget(seps);
    auto* test = new QGroupBox("Selection test", AsciiPage);
    auto* tl = new QVBoxLayout(test);
    Sample = new QLabel(test);
    tl->addWidget(Sample);
    ascii->addWidget(test);
    FSeps[0] = s.SepList;
    FSeps[1] = s.SepDec;
    FSeps[2] = s.SepDate;
    FSeps[3] = s.SepTime;
    connect(SeparatorKind, &QComboBox::currentIndexChanged, this, [this](int i) { SeparatorChosen(i); });
    connect(SeparatorButtons, &QButtonGroup::idClicked, this, [this](int i) { SeparatorRadioClicked(i); });
    Pages->addTab(AsciiPage, "ASCII format");

    // ---- Misc. ----
    MiscPage = new QWidget();
    auto* mp = new QVBoxLayout(MiscPage);
    ShowIni = new QCheckBox("Display empty scenarios (.INI)", MiscPage);
    ShowIni->setChecked(s.ShowINIEvt);
    ShowErrors = new QCheckBox("Display scenarios with errors", MiscPage);
    ShowErrors->setChecked(s.ShowScnError);
    ConfirmWrite = new QCheckBox("Confirm before overwriting files", MiscPage);
    ConfirmWrite->setChecked(s.ConfirmWrite);
    TransReport = new QCheckBox("Write transmissions report", MiscPage);
    TransReport->setChecked(s.WriteTransReport);
    for (QCheckBox* c : {ShowIni, ShowErrors, ConfirmWrite, TransReport}) mp->addWidget(c);
    auto* dirs = new QGroupBox("Directories", MiscPage);
    auto* df = new QFormLayout(dirs);
    ParDir = FolderRow(dirs, df, "Configuration", zelt.PARDirectory());
    PlugDir = FolderRow(dirs, df, "Plug-ins", zelt.PlugInsDirectory());
    mp->addWidget(dirs);
    auto* sounds = new QGroupBox("Sounds", MiscPage);
    auto* sh = new QHBoxLayout(sounds);
    Sound = new QCheckBox("Play a sound at the end of the transfer", sounds);
    Sound->setChecked(s.SoundEndTrans);
    ChooseSound = new QPushButton("Choose...", sounds);
    connect(ChooseSound, &QPushButton::clicked, this, [this] {
        const QString f = QFileDialog::getOpenFileName(this, QString(), QString(), "WAV files (*.wav)");
        if (!f.isEmpty()) ChosenSoundFile = AF(f);
    });
    sh->addWidget(Sound);
    sh->addWidget(ChooseSound);
    mp->addWidget(sounds);
    Pages->addTab(MiscPage, "Misc.");

    // ---- Data ----
    DataPage = new QWidget();
    auto* dp = new QFormLayout(DataPage);
    AutoRecord = new QCheckBox("Activate automatic Q5 recording", DataPage);
    AutoRecord->setChecked(s.AutoRecord);
    dp->addRow(AutoRecord);
    RecordDir = FolderRow(DataPage, dp, "In directory", s.AutoRecordPath);
    BaseName = new QLineEdit(QF(s.BaseASCIIName), DataPage);
    dp->addRow("Base name", BaseName);
    CreateAscii = new QCheckBox("ASCII files creation", DataPage);
    CreateAscii->setChecked(s.CreateASCIIFiles);
    dp->addRow(CreateAscii);
    Period = new QComboBox(DataPage);
    Period->addItems({"None", "Hourly", "Daily", "Monthly", "Yearly", "Infinite"});
    Period->setCurrentIndex(std::clamp(s.ASCIIPeriod, 0, 5));
    dp->addRow("Files period", Period);
    connect(AutoRecord, &QCheckBox::toggled, this, [this] { UpdateRecordControls(); });
    Pages->addTab(DataPage, "Data");

    // ---- Expert mode ----
    ExpertPage = new QWidget();
    auto* ep = new QVBoxLayout(ExpertPage);
    TransLog = new QCheckBox("Create LOG transmissions file", ExpertPage);
    TransLog->setChecked(s.MakeTransLogFile);
    ModemEcho = new QCheckBox("Emulate modem ECHO and CONNECT", ExpertPage);
    ModemEcho->setChecked(s.DebugModemEchoOn);
    CnxErrors = new QCheckBox("Error mode (Connection randomly stopped)", ExpertPage);
    CnxErrors->setChecked(s.MakeCnxErrors);
    RSPanel = new QCheckBox("View the RS-232 control panel", ExpertPage);
    RSPanel->setChecked(s.SeeRS232DebugPanel);
    for (QCheckBox* c : {TransLog, ModemEcho, CnxErrors, RSPanel}) ep->addWidget(c);
    if (main.ModeExpert()) Pages->addTab(ExpertPage, "Expert mode");

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Help, this);
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        if (OkBtnClick()) accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(buttons, &QDialogButtonBox::helpRequested, this, [this] { HelpBtnClick(); });
    layout->addWidget(buttons);

    UpdateCommunicationControls();
    UpdateRecordControls();
    SeparatorChosen(0);
    FitWindowToContents(this);
}

void TConfFrm::UpdateCommunicationControls()
{
    const int t = TypeCom->currentIndex();
    ModemGroup->setVisible(t == 0);
    PortNum->setVisible(t == 0 || t == 1);
    PortLbl->setVisible(t == 0 || t == 1);
    AutoReconnect->setVisible(t == 2 || t == 3);
    Address->setVisible(t == 3);
    AddressLbl->setVisible(t == 3);
}

void TConfFrm::UpdateRecordControls()
{
    const bool on = AutoRecord->isChecked();
    for (QWidget* w : std::initializer_list<QWidget*>{RecordDir, CreateAscii, BaseName, Period}) w->setEnabled(on);
}

void TConfFrm::SeparatorChosen(int which)
{
    const std::string& sep = FSeps[std::clamp(which, 0, 3)];
    SeparatorButtons->setExclusive(false);
    for (QAbstractButton* b : SeparatorButtons->buttons()) b->setChecked(false);
    SeparatorButtons->setExclusive(true);
    if (sep.size() == 1)
        for (int i = 0; i < 8; ++i)
            if (kSepChars[i] == sep[0]) SeparatorButtons->button(i)->setChecked(true);
    Sample->setText(SampleText());
}

void TConfFrm::SeparatorRadioClicked(int index)
{
    FSeps[SeparatorKind->currentIndex()] = std::string(1, kSepChars[index]);
    Sample->setText(SampleText());
}

QString TConfFrm::SampleText() const
{
    const std::string& list = FSeps[0];
    const std::string& dec = FSeps[1];
    const std::string& date = FSeps[2];
    const std::string& time = FSeps[3];
    const bool zeros = Zeros->isChecked();
    std::string d = "11" + date + "12" + date + (Year4->isChecked() ? "1998" : "98");
    std::string t = std::string(zeros ? "09" : "9") + time + "35" + time + (zeros ? "03" : "3");
    if (Quoted->isChecked()) {
        d = "\"" + d + "\"";
        t = "\"" + t + "\"";
    }
    const std::string last = ForceNumbers->isChecked() ? "6513" + dec + "1" : "Abs.";
    return Q(d + list + t + list + "3111" + list + "1012" + list + "25" + dec + "4" + list + last);
}

int TConfFrm::HelpContext() const
{
    QWidget* page = Pages->currentWidget();
    if (page == CommPage) return 103;
    if (page == AsciiPage) return 102;
    if (page == MiscPage) return 107;
    if (page == DataPage) return 104;
    return Pages->currentIndex() + 20;
}

void TConfFrm::HelpBtnClick() { FMain.ShowHelpTopic(HelpContext()); }

bool TConfFrm::OkBtnClick()
{
    if (PortNum->currentText().trimmed().isEmpty()) {
        ShowWarning("Choose a correct communication port!");
        return false;
    }
    if (Optimize->isChecked() && !AutoRecord->isChecked()) {
        const int answer = AskYesNoCancel(
            "You have selected the option \"Optimize transmissions\" without activating the automatic Q5 recording.\n"
            "The transmissions optimization can prevent transfer of scenarios transmitted during the previous "
            "acquisitions.\nDo you really want to activate that optimization ?");
        if (answer == PromptCancel) {
            Pages->setCurrentWidget(CommPage);
            return false;
        }
        if (answer == PromptNo) Optimize->setChecked(false);
    }
    if (Period->currentIndex() == 5 && BaseName->text().isEmpty()) {
        Pages->setCurrentWidget(DataPage);
        ShowWarning("You must give a base name if you choose to build files with an infinite period");
        return false;
    }

    TStationSettings& s = FMain.Settings();
    s.TypeCom = TypeCom->currentIndex();
    s.AutoConnect = AutoConnect->isChecked();
    s.MODEMInitStr = A(ModemInit->text());
    s.MODEMNbRings = ModemRings->value();
    s.AutoRing = ManualPickUp->isChecked();
    s.PortNum = AF(PortNum->currentText().trimmed());
    s.Speed = Speed->currentText().toInt();
    s.RemoteIP = A(Address->text().trimmed());
    s.AutoReconnect = AutoReconnect->isChecked();
    s.StopAfter2FF = StopAfter2FF->isChecked();
    s.OptimizeTransmission = Optimize->isChecked();
    s.SmartSetTime = SmartTime->isChecked();
    s.HardSetTime = HardTime->isChecked();
    s.Year4Digits = Year4->isChecked();
    s.QuotedDateTime = Quoted->isChecked();
    s.ShowZeroDate = Zeros->isChecked();
    s.AddASCIIHeader = Header->isChecked();
    s.ForceDisplayDecimalValue = ForceNumbers->isChecked();
    FMain.SetSeparator(0, FSeps[0]);
    FMain.SetSeparator(1, FSeps[1]);
    FMain.SetSeparator(2, FSeps[3]);
    FMain.SetSeparator(3, FSeps[2]);
    FMain.ApplyAsciiOptions();
    s.ShowINIEvt = ShowIni->isChecked();
    s.ShowScnError = ShowErrors->isChecked();
    s.ConfirmWrite = ConfirmWrite->isChecked();
    s.WriteTransReport = TransReport->isChecked();
    s.SoundEndTrans = Sound->isChecked();
    if (!ChosenSoundFile.empty()) s.SoundEndTransFile = ChosenSoundFile;
    s.AutoRecord = AutoRecord->isChecked();
    s.AutoRecordPath = IncludeTrailingSlash(AF(RecordDir->text()));
    s.BaseASCIIName = AF(BaseName->text());
    s.CreateASCIIFiles = CreateAscii->isChecked();
    s.ASCIIPeriod = Period->currentIndex();
    if (FMain.ModeExpert()) {
        s.MakeTransLogFile = TransLog->isChecked();
        s.DebugModemEchoOn = ModemEcho->isChecked();
        s.MakeCnxErrors = CnxErrors->isChecked();
        s.SeeRS232DebugPanel = RSPanel->isChecked();
    }
    FZelt.SetPARDirectory(IncludeTrailingSlash(AF(ParDir->text())));
    FZelt.SetPlugInsDirectory(IncludeTrailingSlash(AF(PlugDir->text())));
    FMain.Core().Modem().SetInitStr(s.MODEMInitStr);
    FMain.Core().Modem().Rings = s.MODEMNbRings;
    FMain.Core().ConfigureMedia();
    return true;
}
