// "Scripts edition": edits the scripts list in a tree (scripts and their SEND/RECEIVE commands).
// The editor works on a copy: OK puts the copy in the list and saves it, Cancel leaves the list as it was.
#pragma once

#include <QDialog>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QCheckBox;
class QLineEdit;
class QMenu;
class QPushButton;
class QRadioButton;
class QButtonGroup;
class QTreeWidget;
class QTreeWidgetItem;
class QWidget;
class TScript;
class TScriptCommand;
class TScriptGetCommand;
class TScriptSendCommand;
class TScriptsList;

class TEditScriptFrm : public QDialog {
    Q_OBJECT
public:
    TEditScriptFrm(TScriptsList& scripts, QWidget* parent = nullptr);
    ~TEditScriptFrm() override;

    // OK: the edited scripts replace the list's, which is saved to its file.
    void accept() override;

    // Menu commands, on the selected node.
    void NewScriptMnuClick();
    void SupprScriptMnuClick();
    void AddSendCommandMnuClick(bool receive);
    void SupprScriptCommandMnuClick();
    bool ExportScript(const std::string& fileName);
    bool ImportScript(const std::string& fileName);

    // The scripts being edited.
    const std::vector<std::unique_ptr<TScript>>& Working() const { return working_; }

    QTreeWidget* ScriptsTreeView;
    QWidget *ScriptPropertyPanel, *ScriptSendCommandPropertyPanel, *ScriptGetCommandPropertyPanel;
    QLineEdit *ScriptNameEdit, *SaveTransactionFileEdit, *SndCmdEdit, *SndTimeOutEdit;
    QButtonGroup* StateRadioGroup;
    QCheckBox *SaveTransactionChkBx, *AddSTXETBChkBx, *AddCheckSumChkBx, *ETXETBTrameChkBx, *AnalyseChecksumChkBx,
        *WaitEndOfTimeoutChkBx;
    QPushButton* WatchTransactionFileBtn;
    QMenu *Scr_MainItemPopupMenu, *Scr_ScrItemPopupMenu, *Scr_CmdItemPopupMenu;

private slots:
    void ScriptsTreeViewChange();
    void ShowPopupMenu(const QPoint& position);

private:
    void BuildPanels();
    void FillTree();
    QTreeWidgetItem* AddScriptNode(TScript* script);
    QTreeWidgetItem* AddCommandNode(QTreeWidgetItem* parent, TScriptCommand* command);
    void ConnectEdits();
    int ScriptIndex(const TScript* script) const;

    TScriptsList& list_;
    std::vector<std::unique_ptr<TScript>> working_;
    QTreeWidgetItem* root_ = nullptr;
    TScript* script_ = nullptr;
    TScriptSendCommand* send_ = nullptr;
    TScriptGetCommand* receive_ = nullptr;
    bool filling_ = false;  // panels being filled from the selection: edits are not changes
};
