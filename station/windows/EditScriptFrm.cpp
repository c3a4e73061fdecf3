#include "station/windows/EditScriptFrm.h"

#include "common/FileUtils.h"
#include "common/IniFile.h"
#include "common/Prompt.h"
#include "common/Utils.h"
#include "station/link/Scripts.h"
#include "station/windows/DialogParts.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

enum NodeKind { RootNode = 0, ScriptNode = 1, CommandNode = 2 };
constexpr int KindRole = Qt::UserRole;
constexpr int ObjectRole = Qt::UserRole + 1;

std::unique_ptr<TScript> CopyScript(const TScript& source)
{
    TIniFile ini = TIniFile::FromBytes("");
    source.SaveToIniFile(ini, "Def");
    auto copy = std::make_unique<TScript>();
    copy->LoadFromIniFile(ini, "Def");
    return copy;
}

template <typename T>
T* NodeObject(QTreeWidgetItem* node)
{
    return node ? reinterpret_cast<T*>(node->data(0, ObjectRole).value<quintptr>()) : nullptr;
}

}  // namespace

TEditScriptFrm::TEditScriptFrm(TScriptsList& scripts, QWidget* parent) : QDialog(parent), list_(scripts)
{
    setObjectName("EditScriptFrm");
    setWindowTitle("Scripts edition");
    for (int i = 0; i < list_.Count(); ++i) working_.push_back(CopyScript(*list_.Item(i)));

    auto* group = new QGroupBox("Scripts at start", this);
    ScriptsTreeView = new QTreeWidget(group);
    ScriptsTreeView->setObjectName("ScriptsTreeView");
    ScriptsTreeView->setHeaderHidden(true);
    ScriptsTreeView->setContextMenuPolicy(Qt::CustomContextMenu);
    BuildPanels();
    auto* groupLayout = new QHBoxLayout(group);
    groupLayout->addWidget(ScriptsTreeView, 1);
    auto* panels = new QVBoxLayout;
    panels->addWidget(ScriptPropertyPanel);
    panels->addWidget(ScriptSendCommandPropertyPanel);
    panels->addWidget(ScriptGetCommandPropertyPanel);
    panels->addStretch();
    groupLayout->addLayout(panels, 1);

    QHBoxLayout* buttons = OkCancelRow(this);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addLayout(buttons);

    Scr_MainItemPopupMenu = new QMenu(this);
    Scr_MainItemPopupMenu->setObjectName("Scr_MainItemPopupMenu");
    Scr_MainItemPopupMenu->addAction("New script", this, &TEditScriptFrm::NewScriptMnuClick);
    Scr_MainItemPopupMenu->addAction("Import a script...", this, [this] {
        QString name = QFileDialog::getOpenFileName(this, QString(), QString(), "ZELTWin script files (*.sca)");
        if (!name.isEmpty()) ImportScript(QStringToFileName(name));
    });
    Scr_ScrItemPopupMenu = new QMenu(this);
    Scr_ScrItemPopupMenu->setObjectName("Scr_ScrItemPopupMenu");
    Scr_ScrItemPopupMenu->addAction("Remove the script", this, &TEditScriptFrm::SupprScriptMnuClick);
    Scr_ScrItemPopupMenu->addAction("Export the script...", this, [this] {
        QFileDialog dialog(this, QString(), QString(), "ZELTWin script files (*.sca)");
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix("sca");
        if (dialog.exec() == QDialog::Accepted) ExportScript(QStringToFileName(dialog.selectedFiles().value(0)));
    });
    Scr_ScrItemPopupMenu->addSeparator();
    Scr_ScrItemPopupMenu->addAction("Add a SEND command", this, [this] { AddSendCommandMnuClick(false); });
    Scr_ScrItemPopupMenu->addAction("Add a RECEIVE command", this, [this] { AddSendCommandMnuClick(true); });
    Scr_CmdItemPopupMenu = new QMenu(this);
    Scr_CmdItemPopupMenu->setObjectName("Scr_CmdItemPopupMenu");
    Scr_CmdItemPopupMenu->addAction("Suppress", this, &TEditScriptFrm::SupprScriptCommandMnuClick);

    connect(ScriptsTreeView, &QTreeWidget::currentItemChanged, this, &TEditScriptFrm::ScriptsTreeViewChange);
    connect(ScriptsTreeView, &QTreeWidget::customContextMenuRequested, this, &TEditScriptFrm::ShowPopupMenu);
    ConnectEdits();
    FillTree();
    FitWindowToContents(this);
}

TEditScriptFrm::~TEditScriptFrm() = default;

void TEditScriptFrm::BuildPanels()
{
    ScriptPropertyPanel = new QWidget(this);
    ScriptPropertyPanel->setObjectName("ScriptPropertyPanel");
    ScriptNameEdit = NamedEdit("ScriptNameEdit", ScriptPropertyPanel);
    auto* states = new QGroupBox(ScriptPropertyPanel);
    StateRadioGroup = new QButtonGroup(this);
    auto* statesLayout = new QVBoxLayout(states);
    const char* stateNames[] = {"Active", "Once", "Inactive"};
    for (int i = 0; i < 3; ++i) {
        auto* radio = new QRadioButton(stateNames[i], states);
        StateRadioGroup->addButton(radio, i);
        statesLayout->addWidget(radio);
    }
    SaveTransactionChkBx = NamedCheck("SaveTransactionChkBx", "Record the transaction in a file", ScriptPropertyPanel);
    SaveTransactionFileEdit = NamedEdit("SaveTransactionFileEdit", ScriptPropertyPanel);
    WatchTransactionFileBtn = new QPushButton("Edit...", ScriptPropertyPanel);
    WatchTransactionFileBtn->setObjectName("WatchTransactionFileBtn");
    auto* scriptLayout = new QVBoxLayout(ScriptPropertyPanel);
    scriptLayout->addWidget(new QLabel("Name", ScriptPropertyPanel));
    scriptLayout->addWidget(ScriptNameEdit);
    scriptLayout->addWidget(states);
    scriptLayout->addWidget(SaveTransactionChkBx);
    auto* fileRow = new QHBoxLayout;
    fileRow->addWidget(SaveTransactionFileEdit);
    fileRow->addWidget(WatchTransactionFileBtn);
    scriptLayout->addLayout(fileRow);

    ScriptSendCommandPropertyPanel = new QWidget(this);
    ScriptSendCommandPropertyPanel->setObjectName("ScriptSendCommandPropertyPanel");
    SndCmdEdit = NamedEdit("SndCmdEdit", ScriptSendCommandPropertyPanel);
    AddSTXETBChkBx = NamedCheck("AddSTXETBChkBx", "Add STX and ETB", ScriptSendCommandPropertyPanel);
    AddCheckSumChkBx = NamedCheck("AddCheckSumChkBx", "Add a checksum", ScriptSendCommandPropertyPanel);
    auto* sendLayout = new QVBoxLayout(ScriptSendCommandPropertyPanel);
    sendLayout->addWidget(new QLabel("Command to send", ScriptSendCommandPropertyPanel));
    sendLayout->addWidget(SndCmdEdit);
    sendLayout->addWidget(AddSTXETBChkBx);
    sendLayout->addWidget(AddCheckSumChkBx);

    ScriptGetCommandPropertyPanel = new QWidget(this);
    ScriptGetCommandPropertyPanel->setObjectName("ScriptGetCommandPropertyPanel");
    SndTimeOutEdit = NamedEdit("SndTimeOutEdit", ScriptGetCommandPropertyPanel);
    ETXETBTrameChkBx = NamedCheck("ETXETBTrameChkBx", "Frame with ETX ETX format", ScriptGetCommandPropertyPanel);
    AnalyseChecksumChkBx = NamedCheck("AnalyseChecksumChkBx", "Checksum analysis", ScriptGetCommandPropertyPanel);
    WaitEndOfTimeoutChkBx =
        NamedCheck("WaitEndOfTimeoutChkBx", "Always wait the end of the TimeOut", ScriptGetCommandPropertyPanel);
    auto* getLayout = new QVBoxLayout(ScriptGetCommandPropertyPanel);
    getLayout->addWidget(new QLabel("Timeout (in 1/10 s)", ScriptGetCommandPropertyPanel));
    getLayout->addWidget(SndTimeOutEdit);
    getLayout->addWidget(ETXETBTrameChkBx);
    getLayout->addWidget(AnalyseChecksumChkBx);
    getLayout->addWidget(WaitEndOfTimeoutChkBx);
}

void TEditScriptFrm::ConnectEdits()
{
    connect(ScriptNameEdit, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (filling_ || !script_) return;
        script_->Name = QStringToAnsi(text);
        if (QTreeWidgetItem* node = ScriptsTreeView->currentItem(); node && node->data(0, KindRole) == ScriptNode)
            node->setText(0, text);
    });
    connect(StateRadioGroup, &QButtonGroup::idClicked, this, [this](int id) {
        if (!filling_ && script_) script_->ScriptActivation = id;
    });
    connect(SaveTransactionChkBx, &QCheckBox::toggled, this, [this](bool on) {
        SaveTransactionFileEdit->setEnabled(on);
        WatchTransactionFileBtn->setEnabled(on);
        if (!filling_ && script_) script_->SaveTransaction = on;
    });
    connect(SaveTransactionFileEdit, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (!filling_ && script_) script_->SaveTransactionFile = QStringToFileName(text);
    });
    connect(WatchTransactionFileBtn, &QPushButton::clicked, this, [this] {
        if (!script_) return;
        if (!FileExists(script_->TransactionPath()) || !OpenFileWithShell(script_->TransactionPath()))
            ShowWarning("Unable to load the file.");
    });
    connect(SndCmdEdit, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (filling_ || !send_) return;
        send_->Cmd = QStringToAnsi(text);
        if (QTreeWidgetItem* node = ScriptsTreeView->currentItem())
            node->setText(0, AnsiToQString(send_->GetDescription()));
    });
    connect(AddSTXETBChkBx, &QCheckBox::toggled, this, [this](bool on) {
        if (!filling_ && send_) send_->IsSTXETB = on;
    });
    connect(AddCheckSumChkBx, &QCheckBox::toggled, this, [this](bool on) {
        if (!filling_ && send_) send_->IsCheckSum = on;
    });
    connect(SndTimeOutEdit, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (filling_ || !receive_) return;
        bool ok = false;
        int value = text.trimmed().toInt(&ok);
        receive_->TimeOut = ok ? value : 10;
    });
    connect(ETXETBTrameChkBx, &QCheckBox::toggled, this, [this](bool on) {
        AnalyseChecksumChkBx->setEnabled(on);
        if (!on) AnalyseChecksumChkBx->setChecked(false);
        if (!filling_ && receive_) receive_->ETXETBTrame = on;
    });
    connect(AnalyseChecksumChkBx, &QCheckBox::toggled, this, [this](bool on) {
        if (!filling_ && receive_) receive_->AnalyseChecksum = on;
    });
    connect(WaitEndOfTimeoutChkBx, &QCheckBox::toggled, this, [this](bool on) {
        if (!filling_ && receive_) receive_->WaitEndOfTimeout = on;
    });
}

QTreeWidgetItem* TEditScriptFrm::AddScriptNode(TScript* script)
{
    auto* node = new QTreeWidgetItem(root_, QStringList(AnsiToQString(script->Name)));
    node->setData(0, KindRole, ScriptNode);
    node->setData(0, ObjectRole, QVariant::fromValue(reinterpret_cast<quintptr>(script)));
    for (int j = 0; j < script->Count(); ++j) AddCommandNode(node, script->Item(j));
    return node;
}

QTreeWidgetItem* TEditScriptFrm::AddCommandNode(QTreeWidgetItem* parent, TScriptCommand* command)
{
    auto* node = new QTreeWidgetItem(parent, QStringList(AnsiToQString(command->GetDescription())));
    node->setData(0, KindRole, CommandNode);
    node->setData(0, ObjectRole, QVariant::fromValue(reinterpret_cast<quintptr>(command)));
    return node;
}

void TEditScriptFrm::FillTree()
{
    ScriptsTreeView->clear();
    script_ = nullptr;
    send_ = nullptr;
    receive_ = nullptr;
    root_ = new QTreeWidgetItem(ScriptsTreeView, QStringList("Scripts list"));
    root_->setData(0, KindRole, RootNode);
    for (auto& script : working_) AddScriptNode(script.get());
    root_->setExpanded(true);
    ScriptsTreeViewChange();
}

void TEditScriptFrm::ScriptsTreeViewChange()
{
    ScriptPropertyPanel->hide();
    ScriptSendCommandPropertyPanel->hide();
    ScriptGetCommandPropertyPanel->hide();
    script_ = nullptr;
    send_ = nullptr;
    receive_ = nullptr;
    QTreeWidgetItem* node = ScriptsTreeView->currentItem();
    if (!node) return;
    filling_ = true;
    const int kind = node->data(0, KindRole).toInt();
    if (kind == ScriptNode) {
        script_ = NodeObject<TScript>(node);
        ScriptNameEdit->setText(AnsiToQString(script_->Name));
        if (QAbstractButton* state = StateRadioGroup->button(script_->ScriptActivation)) state->setChecked(true);
        SaveTransactionChkBx->setChecked(script_->SaveTransaction);
        SaveTransactionFileEdit->setEnabled(script_->SaveTransaction);
        WatchTransactionFileBtn->setEnabled(script_->SaveTransaction);
        SaveTransactionFileEdit->setText(FileNameToQString(script_->SaveTransactionFile));
        ScriptPropertyPanel->show();
    } else if (kind == CommandNode) {
        script_ = NodeObject<TScript>(node->parent());
        auto* command = NodeObject<TScriptCommand>(node);
        if (command->TypeCmd == TScriptCommand::CmdSend) {
            send_ = static_cast<TScriptSendCommand*>(command);
            SndCmdEdit->setText(AnsiToQString(send_->Cmd));
            AddSTXETBChkBx->setChecked(send_->IsSTXETB);
            AddCheckSumChkBx->setChecked(send_->IsCheckSum);
            ScriptSendCommandPropertyPanel->show();
        } else {
            receive_ = static_cast<TScriptGetCommand*>(command);
            SndTimeOutEdit->setText(QString::number(receive_->TimeOut));
            ETXETBTrameChkBx->setChecked(receive_->ETXETBTrame);
            AnalyseChecksumChkBx->setEnabled(receive_->ETXETBTrame);
            AnalyseChecksumChkBx->setChecked(receive_->AnalyseChecksum);
            WaitEndOfTimeoutChkBx->setChecked(receive_->WaitEndOfTimeout);
            ScriptGetCommandPropertyPanel->show();
        }
    }
    filling_ = false;
}

void TEditScriptFrm::ShowPopupMenu(const QPoint& position)
{
    QTreeWidgetItem* node = ScriptsTreeView->currentItem();
    if (!node) return;
    QMenu* menus[] = {Scr_MainItemPopupMenu, Scr_ScrItemPopupMenu, Scr_CmdItemPopupMenu};
    menus[node->data(0, KindRole).toInt()]->popup(ScriptsTreeView->viewport()->mapToGlobal(position));
}

int TEditScriptFrm::ScriptIndex(const TScript* script) const
{
    for (size_t i = 0; i < working_.size(); ++i)
        if (working_[i].get() == script) return int(i);
    return -1;
}

void TEditScriptFrm::NewScriptMnuClick()
{
    auto script = std::make_unique<TScript>();
    script->Name = "Script " + std::to_string(working_.size() + 1);
    working_.push_back(std::move(script));
    ScriptsTreeView->setCurrentItem(AddScriptNode(working_.back().get()));
}

void TEditScriptFrm::SupprScriptMnuClick()
{
    QTreeWidgetItem* node = ScriptsTreeView->currentItem();
    if (!node || node->data(0, KindRole) != ScriptNode) return;
    int index = ScriptIndex(NodeObject<TScript>(node));
    delete node;
    if (index >= 0) working_.erase(working_.begin() + index);
    ScriptsTreeViewChange();
}

void TEditScriptFrm::AddSendCommandMnuClick(bool receive)
{
    QTreeWidgetItem* node = ScriptsTreeView->currentItem();
    if (!script_ || !node || node->data(0, KindRole) != ScriptNode) return;
    std::unique_ptr<TScriptCommand> command;
    if (receive)
        command = std::make_unique<TScriptGetCommand>();
    else
        command = std::make_unique<TScriptSendCommand>();
    TScriptCommand* added = command.get();
    script_->AddCommand(std::move(command));
    AddCommandNode(node, added);
    node->setExpanded(true);
}

void TEditScriptFrm::SupprScriptCommandMnuClick()
{
    QTreeWidgetItem* node = ScriptsTreeView->currentItem();
    if (!node || node->data(0, KindRole) != CommandNode) return;
    auto* script = NodeObject<TScript>(node->parent());
    auto* command = NodeObject<TScriptCommand>(node);
    delete node;
    for (int j = 0; j < script->Count(); ++j)
        if (script->Item(j) == command) {
            script->Extract(j);  // the returned owner frees it
            break;
        }
    ScriptsTreeViewChange();
}

bool TEditScriptFrm::ExportScript(const std::string& fileName)
{
    if (!script_) return false;
    DeleteFileIfExists(fileName);
    TIniFile ini{std::filesystem::path(fileName)};
    script_->SaveToIniFile(ini, "Def");
    if (!ini.UpdateFile()) {
        ShowWarning(TextWithFileName("Unable to write the file ", fileName));
        return false;
    }
    return true;
}

bool TEditScriptFrm::ImportScript(const std::string& fileName)
{
    if (!FileExists(fileName)) return false;
    TIniFile ini{std::filesystem::path(fileName)};
    auto script = std::make_unique<TScript>();
    script->LoadFromIniFile(ini, "Def");
    working_.push_back(std::move(script));
    FillTree();
    return true;
}

void TEditScriptFrm::accept()
{
    list_.Clear();
    for (auto& script : working_) list_.Add(std::move(script));
    working_.clear();
    if (!list_.SaveToFile() && !list_.FileName.empty())
        ShowWarning(TextWithFileName("Unable to write the scripts list ", list_.FileName));
    QDialog::accept();
}
