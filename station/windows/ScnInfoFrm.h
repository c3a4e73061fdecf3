// Information windows of the data list: one event with its decoded values (or why it cannot be
// decoded), and every measurement type known from the description files.
#pragma once

#include <QDialog>
#include <QWidget>

class QLabel;
class QListWidget;
class QPlainTextEdit;
class QTreeWidget;
class TEvenement;
class TListScn;

class TScnInfoFrm : public QWidget {
    Q_OBJECT
public:
    explicit TScnInfoFrm(bool expertMode, QWidget* parent = nullptr);

    TEvenement* Evt() const { return evt_; }
    void SetEvt(TEvenement* event);
    void SetExpertMode(bool on) { expertMode_ = on; }

    QListWidget* MesListView;
    QWidget* ErrorPanel;
    QLabel* ProblemInfoLbl;
    QWidget* DebugPanel;
    QPlainTextEdit* HexaMemo;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    TEvenement* evt_ = nullptr;
    bool expertMode_;
};

class TListDecodedScnFrm : public QDialog {
    Q_OBJECT
public:
    // list may be null (no description loaded).
    explicit TListDecodedScnFrm(const TListScn* list, QWidget* parent = nullptr);

    QTreeWidget* ListScnView;
    QLabel* NbScnLbl;
};

// The icon shown for an icon index of the value descriptions.
QIcon ValueIcon(int index);
