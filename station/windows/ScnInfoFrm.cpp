#include "station/windows/ScnInfoFrm.h"

#include "common/Evenement.h"
#include "common/Prompt.h"
#include "common/ScnElement.h"
#include "common/ScnType.h"
#include "station/windows/DialogParts.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

QIcon ValueIcon(int index)
{
    static const QStyle::StandardPixmap icons[] = {
        QStyle::SP_FileIcon,          QStyle::SP_DirIcon,           QStyle::SP_DriveHDIcon,
        QStyle::SP_FileDialogDetailedView, QStyle::SP_ArrowUp,       QStyle::SP_ArrowDown,
        QStyle::SP_BrowserReload,     QStyle::SP_MediaPlay,         QStyle::SP_DialogApplyButton,
        QStyle::SP_FileDialogListView};
    const int count = int(sizeof icons / sizeof icons[0]);
    return QApplication::style()->standardIcon(icons[(index % count + count) % count]);
}

TScnInfoFrm::TScnInfoFrm(bool expertMode, QWidget* parent) : QWidget(parent, Qt::Window), expertMode_(expertMode)
{
    setObjectName("ScnInfoFrm");
    MesListView = new QListWidget(this);
    MesListView->setObjectName("MesListView");
    ErrorPanel = new QWidget(this);
    ErrorPanel->setObjectName("ErrorPanel");
    ProblemInfoLbl = new QLabel(ErrorPanel);
    ProblemInfoLbl->setObjectName("ProblemInfoLbl");
    ProblemInfoLbl->setWordWrap(true);
    (new QVBoxLayout(ErrorPanel))->addWidget(ProblemInfoLbl);
    DebugPanel = new QWidget(this);
    DebugPanel->setObjectName("DebugPanel");
    HexaMemo = new QPlainTextEdit(DebugPanel);
    HexaMemo->setObjectName("HexaMemo");
    HexaMemo->setReadOnly(true);
    (new QVBoxLayout(DebugPanel))->addWidget(HexaMemo);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(MesListView, 1);
    layout->addWidget(ErrorPanel, 1);
    layout->addWidget(DebugPanel);
    ErrorPanel->hide();
    DebugPanel->setVisible(expertMode);
    HexaMemo->setMaximumHeight(HexaMemo->fontMetrics().lineSpacing() * 5);
    // A window of its own, wide enough for a value line and a few rows of values.
    resize(QSize(fontMetrics().averageCharWidth() * 60, fontMetrics().lineSpacing() * 24));
}

void TScnInfoFrm::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    MesListView->setMinimumWidth(0);
    MesListView->setMaximumWidth(width() - 1);
}

void TScnInfoFrm::SetEvt(TEvenement* event)
{
    evt_ = event;
    DebugPanel->setVisible(expertMode_);
    MesListView->clear();
    if (!event) {
        HexaMemo->clear();
        setWindowTitle(QString());
        return;
    }
    HexaMemo->setPlainText(AnsiToQString(event->Evt()));
    setWindowTitle(AnsiToQString(event->DescString()));

    QString problem;
    if (event->ErrorKind == EVT_BAD_SIZE)
        problem = "This scenario is invalid because it's size is incorrect. This problem can append after a bad "
                  "transmission.";
    else if (event->Empty)
        problem = "This scenario is empty and doesn't countain any data.";
    else if (!event->ScnType)
        problem = "This scenario isn't recognized by this version of ZELTWin.\nPlease save the Q5 file and contact "
                  "DORAX Quenlith, we will quickly add to the software this kind of measurement.";
    ProblemInfoLbl->setText(problem);
    ErrorPanel->setVisible(!problem.isEmpty());
    MesListView->setVisible(problem.isEmpty());

    if (event->Count() == 0) return;
    if (expertMode_ && event->ScnType) MesListView->addItem("Scn: " + QString::number(event->ScnType->Number));
    for (const TScnElement* element : *event) {
        auto* row = new QListWidgetItem(AnsiToQString(element->GetTitle() + ": " + element->GetASCIIString()));
        if (element->Item && element->Item->ValueDesc) row->setIcon(ValueIcon(element->Item->ValueDesc->Icon));
        MesListView->addItem(row);
    }
    FitWindowToContents(this);  // grows to the widest value line
}

TListDecodedScnFrm::TListDecodedScnFrm(const TListScn* list, QWidget* parent) : QDialog(parent)
{
    setObjectName("ListDecodedScnFrm");
    setWindowTitle("Information about the scenarios");
    ListScnView = new QTreeWidget(this);
    ListScnView->setObjectName("ListScnView");
    ListScnView->setHeaderHidden(true);
    const int count = list ? list->Count() : 0;
    NbScnLbl = new QLabel(QString::number(count), this);
    NbScnLbl->setObjectName("NbScnLbl");
    for (int t = 0; t < count; ++t) {
        const TScnType* type = (*list)[t];
        auto* node = new QTreeWidgetItem(ListScnView, QStringList(AnsiToQString(type->Description)));
        node->setIcon(0, ValueIcon(9));
        for (int i = 0; i < type->Count(); ++i) {
            const TScnTypeItem* item = (*type)[i];
            auto* child = new QTreeWidgetItem(node, QStringList(AnsiToQString(item->GetTitle())));
            if (item->ValueDesc) child->setIcon(0, ValueIcon(item->ValueDesc->Icon));
        }
    }
    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel("Number of scenario :", this));
    top->addWidget(NbScnLbl);
    top->addStretch();
    QHBoxLayout* buttons = OkCancelRow(this);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(ListScnView, 1);
    layout->addLayout(buttons);
    FitWindowToContents(this);
}
