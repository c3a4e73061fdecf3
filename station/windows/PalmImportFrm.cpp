#include "station/windows/PalmImportFrm.h"

#include "common/FileUtils.h"
#include "common/IniFile.h"
#include "common/Prompt.h"
#include "common/Q5File.h"
#include "common/Utils.h"
#include "common/Zelt.h"
#include "station/link/ComControl.h"
#include "station/link/ComPort.h"
#include "station/windows/DialogParts.h"
#include "station/windows/PalmImport.h"

#include <QComboBox>
#include <QDate>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <cstdio>

namespace {

constexpr int HelpContext = 112;

std::string DefaultSaveName(const std::string& folder, const std::string& proposed)
{
    const QString start = FileNameToQString(folder.empty() ? proposed : IncludeTrailingSlash(folder) + proposed);
    return QStringToFileName(QFileDialog::getSaveFileName(nullptr, "Save", start, "Q5 files (*.Q5);;All the files (*.*)"));
}

}  // namespace

TPalmImportFrm::TPalmImportFrm(TZELT* zelt, bool expert, std::function<void(const std::string&)> logError,
                               QWidget* parent)
    : QDialog(parent), FZelt(zelt), FLogError(std::move(logError))
{
    setObjectName("PalmImportFrm");
    setWindowTitle("Palm import");
    AskSaveName = DefaultSaveName;
    if (FZelt) {
        if (auto ini = FZelt->OpenSettings()) {
            const std::string section = FZelt->RegBaseSecName();
            FPortIndex = ini->ReadInteger(section, "DefaultPalmCom", 0);
            FOutDir = ini->ReadString(section, "DefaultPalmOutDir", "");
        }
    }

    auto* transfer = new QGroupBox("Palm transfert", this);
    CommPortCmbBx = new QComboBox(transfer);
    CommPortCmbBx->setObjectName("CommPortCmbBx");
    // Any port name can be typed as well (a device path works).
    CommPortCmbBx->setEditable(true);
    CommPortCmbBx->setInsertPolicy(QComboBox::NoInsert);
    for (int i = 1; i <= 16; ++i) CommPortCmbBx->addItem(QString("COM%1").arg(i));
    std::vector<std::string> found;
    EnumComPorts(found);
    for (const std::string& name : found) CommPortCmbBx->addItem(FileNameToQString(name));
    if (FPortIndex < 0 || FPortIndex >= CommPortCmbBx->count()) FPortIndex = 0;
    CommPortCmbBx->setCurrentIndex(FPortIndex);
    connect(CommPortCmbBx, &QComboBox::currentIndexChanged, this, [this] { CommPortCmbBxChange(); });
    PalmConnectBtn = new QPushButton("Connection", transfer);
    PalmConnectBtn->setObjectName("PalmConnectBtn");
    connect(PalmConnectBtn, &QPushButton::clicked, this, [this] { PalmConnectBtnClick(); });
    ConnectionLed = new QLabel(transfer);
    ConnectionLed->setObjectName("ConnectionLed");
    ConnectionLed->setFixedSize(14, 14);
    StatusLbl = new QLabel(transfer);
    StatusLbl->setObjectName("StatusLbl");
    auto* transferLayout = new QVBoxLayout(transfer);
    auto* portRow = new QHBoxLayout;
    portRow->addWidget(new QLabel("Communication port", transfer));
    portRow->addWidget(CommPortCmbBx, 1);
    portRow->addWidget(PalmConnectBtn);
    portRow->addWidget(ConnectionLed);
    auto* statusRow = new QHBoxLayout;
    statusRow->addWidget(new QLabel("Status :", transfer));
    statusRow->addWidget(StatusLbl, 1);
    transferLayout->addLayout(portRow);
    transferLayout->addLayout(statusRow);

    DataGrpBx = new QGroupBox("Available data files", this);
    DataGrpBx->setObjectName("DataGrpBx");
    DataListView = new QTreeWidget(DataGrpBx);
    DataListView->setObjectName("DataListView");
    DataListView->setRootIsDecorated(false);
    DataListView->setSelectionMode(QAbstractItemView::ExtendedSelection);
    DataListView->setSelectionBehavior(QAbstractItemView::SelectRows);
    DataListView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    DataListView->setHeaderLabels({QString::fromUtf8("N°"), "Country", "District", "Instrument type"});
    const int widths[] = {48, 48, 48, 150};
    for (int i = 0; i < 4; ++i) DataListView->setColumnWidth(i, widths[i]);
    SaveBtn = new QPushButton("Save...", DataGrpBx);
    SaveBtn->setObjectName("SaveBtn");
    connect(SaveBtn, &QPushButton::clicked, this, [this] { SaveBtnClick(); });
    auto* dataLayout = new QVBoxLayout(DataGrpBx);
    dataLayout->addWidget(DataListView, 1);
    auto* saveRow = new QHBoxLayout;
    saveRow->addStretch(1);
    saveRow->addWidget(SaveBtn);
    dataLayout->addLayout(saveRow);

    DebugMemo = new QPlainTextEdit(this);
    DebugMemo->setObjectName("DebugMemo");
    DebugMemo->setReadOnly(true);
    QFont courier("Courier New");
    courier.setStyleHint(QFont::Monospace);
    DebugMemo->setFont(courier);
    DebugMemo->viewport()->installEventFilter(this);
    DebugMemo->setVisible(expert);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(transfer);
    layout->addWidget(DataGrpBx, 1);
    layout->addLayout(HelpOkCancelRow(this, HelpContext, &OnHelp));
    layout->addWidget(DebugMemo);
    resize(420, expert ? 520 : 400);

    PalmCom = new TComPort(this);
    PalmCom->BeginUpdate();
    PalmCom->BaudRate = 115200;
    PalmCom->DataBits = 8;
    PalmCom->StopBits = 1;
    PalmCom->Parity = TComParity{};
    PalmCom->FlowControl = TComFlowControl{};
    PalmCom->FlowControl.ControlDTR = false;
    PalmCom->FlowControl.ControlRTS = false;
    PalmCom->EndUpdate();
    PalmCom->OnRxChar = [this](int count) { PalmComRxChar(count); };
    PalmCom->OnAfterClose = [this] { UpdateLed(); };
    PalmCom->OnAfterOpen = [this] { UpdateLed(); };

    FLink = std::make_unique<TComControl>(PalmCom);
    FLink->OnResult = [this](int code) { LinkResult(code); };
    FConnected = true;  // so that the setter below empties and resets everything
    SetConnected(false);
    FitWindowToContents(this);
}

TPalmImportFrm::~TPalmImportFrm() { FormDestroy(); }

void TPalmImportFrm::FormDestroy()
{
    if (FDestroyed) return;
    FDestroyed = true;
    SetConnected(false);
    if (FZelt) {
        if (auto ini = FZelt->OpenSettings()) {
            const std::string section = FZelt->RegBaseSecName();
            ini->WriteInteger(section, "DefaultPalmCom", FPortIndex);
            ini->WriteString(section, "DefaultPalmOutDir", FOutDir);
            ini->UpdateFile();
        }
    }
    FLink.reset();
    PalmCom->OnRxChar = nullptr;
    PalmCom->OnAfterClose = nullptr;
    PalmCom->OnAfterOpen = nullptr;
}

void TPalmImportFrm::UpdateLed()
{
    const bool on = PalmCom->Connected();
    ConnectionLed->setStyleSheet(on ? "background: #20c020; border-radius: 7px;"
                                    : "background: #405040; border-radius: 7px;");
}

void TPalmImportFrm::SetConnected(bool value)
{
    FConnected = value;
    for (QWidget* w : DataGrpBx->findChildren<QWidget*>()) w->setEnabled(value);
    CommPortCmbBx->setEnabled(!value);
    if (value) {
        PalmConnectBtn->setText("Deconnection");
    } else {
        // The connection ends with the port (a lost reply leaves it open otherwise).
        if (FLink) FLink->Waiting = false;
        PalmCom->Close();
        ClearRows();
        PalmConnectBtn->setText("Connection");
        SetCurrentPhase(PhaseNotConnected);
    }
    UpdateLed();
}

void TPalmImportFrm::SetCurrentPhase(int value)
{
    FCurrentPhase = value;
    QString text;
    switch (value) {
    case PhaseCounting: text = "Retrieving the record number..."; break;
    case PhaseHeaders: text = QString("Getting info for record #%1...").arg(FIndex + 1); break;
    case PhaseWaiting: text = "Waiting..."; break;
    case PhaseSaving: text = QString::fromUtf8("Saving the record... Block n°%1").arg(FIndex + 1); break;
    case PhaseNotConnected: text = "Not connected!"; break;
    default: break;
    }
    StatusLbl->setText(text);
    if (value != PhaseSaving)
        FWorking.reset();
    else if (!FWorking)
        FWorking = std::make_unique<TPalmRecordReader>();
    SaveBtn->setEnabled(value == PhaseWaiting);
}

void TPalmImportFrm::ClearRows()
{
    FSavingRow = nullptr;
    DataListView->clear();
    FRows.clear();
}

TRecordDescription* TPalmImportFrm::RowDescription(int row) const
{
    return row >= 0 && size_t(row) < FRows.size() ? FRows[size_t(row)].get() : nullptr;
}

void TPalmImportFrm::PalmConnectBtnClick()
{
    if (FConnected) {
        PalmCom->Close();
    } else {
        const std::string name = QStringToFileName(CommPortCmbBx->currentText().trimmed());
        try {
            PalmCom->SetPortValue(name);
            PalmCom->Open();
            SetCurrentPhase(PhaseCounting);
            FLink->SetCommand(PalmRecordCountCommand());
            FLink->SendCommand();
        } catch (const std::exception& e) {
            ShowWarning(TextWithFileName("Unable to open the port ", name, " (") + FileNameToQString(e.what()) + AnsiToQString(")"));
        }
    }
    SetConnected(PalmCom->Connected());
}

void TPalmImportFrm::CommPortCmbBxChange()
{
    const int index = CommPortCmbBx->currentIndex();
    if (index >= 0) FPortIndex = index;
}

void TPalmImportFrm::PalmComRxChar(int count)
{
    if (count <= 0) return;
    std::string bytes(size_t(count), '\0');
    const int got = PalmCom->Read(bytes.data(), count);
    if (got <= 0) return;
    bytes.resize(size_t(got));
    if (DebugMemo->isVisible())
        DebugMemo->appendPlainText(AnsiToQString(
            BytesToPrintable(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), false)));
    if (FLink) FLink->DataReceived(bytes.data(), got);
}

void TPalmImportFrm::DebugMemoDblClick() { DebugMemo->clear(); }

bool TPalmImportFrm::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == DebugMemo->viewport() && event->type() == QEvent::MouseButtonDblClick) {
        DebugMemoDblClick();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TPalmImportFrm::LinkError(int code)
{
    SetConnected(false);
    char text[96];
    std::snprintf(text, sizeof text, "Communication problem with the Palm (Error code : %d)", code);
    if (FLogError) FLogError(text);
}

void TPalmImportFrm::LinkResult(int code)
{
    if (code < 0) {
        LinkError(code);
        return;
    }
    // The link empties its reply as soon as the next command goes out.
    const std::string reply = FLink->Data;
    switch (FCurrentPhase) {
    case PhaseCounting: {
        const int count = PalmParseRecordCount(reply);
        for (int i = 0; i < count; ++i) {
            new QTreeWidgetItem(DataListView, QStringList{"?", "?", "?", "?"});
            FRows.push_back(std::make_unique<TRecordDescription>());
        }
        if (count > 0) {
            FIndex = 0;
            RequestHeader();
        } else {
            ShowWarning("No record available in the connected Palm!");
            SetConnected(false);
        }
        break;
    }
    case PhaseHeaders: {
        uint8_t check[PalmBlockSize];
        if (!PalmDecodeBlock(reply, check)) {
            LinkError(BadBlockCode);
            return;
        }
        if (TRecordDescription* row = RowDescription(FIndex)) {
            const TPalmRecordInfo info = row->SetHeader(reply, FZelt ? FZelt->PARDirectory() : std::string());
            QTreeWidgetItem* item = DataListView->topLevelItem(FIndex);
            item->setText(0, AnsiToQString(info.Number));
            item->setText(1, AnsiToQString(info.Country));
            item->setText(2, AnsiToQString(info.District));
            item->setText(3, AnsiToQString(info.InstrumentType));
        }
        ++FIndex;
        if (FIndex < int(FRows.size()))
            RequestHeader();
        else
            SetCurrentPhase(PhaseWaiting);
        break;
    }
    case PhaseSaving:
        StoreBlock(reply);
        break;
    default:
        break;
    }
}

void TPalmImportFrm::RequestHeader()
{
    SetCurrentPhase(PhaseHeaders);
    FLink->SetCommand(PalmBlockCommand(FIndex, 0));
    FLink->SendCommand();
}

void TPalmImportFrm::RequestBlock()
{
    if (!FSavingRow || !FWorking) return;
    FLink->SetCommand(PalmBlockCommand(DataListView->indexOfTopLevelItem(FSavingRow), FWorking->NextBlock()));
    FLink->SendCommand();
}

void TPalmImportFrm::StoreBlock(const std::string& reply)
{
    if (!FWorking || !FSavingRow) return;
    switch (FWorking->StoreBlock(reply)) {
    case TPalmRecordReader::BadBlock:
        // A partly read record is never saved.
        LinkError(BadBlockCode);
        return;
    case TPalmRecordReader::More:
        FIndex = FWorking->NextBlock();
        SetCurrentPhase(PhaseSaving);
        RequestBlock();
        return;
    case TPalmRecordReader::Complete:
        break;
    }
    QTreeWidgetItem* row = FSavingRow;
    FSavingRow = nullptr;
    if (!FWorking->File().SaveToFile(FSaveName)) {
        ShowWarning(TextWithFileName("Unable to save the file ", FSaveName));
        SetCurrentPhase(PhaseWaiting);
        return;
    }
    row->setSelected(false);
    SetCurrentPhase(PhaseWaiting);
    SaveBtnClick();
}

void TPalmImportFrm::SaveBtnClick()
{
    QTreeWidgetItem* row = nullptr;
    for (int i = 0; i < DataListView->topLevelItemCount() && !row; ++i)
        if (DataListView->topLevelItem(i)->isSelected()) row = DataListView->topLevelItem(i);
    if (!row) {
        SetCurrentPhase(PhaseWaiting);
        return;
    }
    const std::string proposed = "P" + QStringToFileName(row->text(0)) + "_" +
                                 QDate::currentDate().toString("ddMM").toStdString() + ".q5";
    const std::string name = AskSaveName ? AskSaveName(FOutDir, proposed) : std::string();
    if (name.empty()) {
        SetCurrentPhase(PhaseWaiting);
        return;
    }
    FOutDir = IncludeTrailingSlash(QStringToFileName(QFileInfo(FileNameToQString(name)).absolutePath()));
    FSaveName = name;
    FSavingRow = row;
    FIndex = 0;
    FWorking.reset();
    SetCurrentPhase(PhaseSaving);
    RequestBlock();
}

void TPalmImportFrm::HelpBtnClick()
{
    if (OnHelp) OnHelp(HelpContext);
}
