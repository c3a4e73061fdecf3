#include "station/windows/DialogParts.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QHBoxLayout>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

QGroupBox* ProgressGroup(QWidget* parent, const QString& title, QProgressBar*& bar)
{
    auto* group = new QGroupBox(title, parent);
    bar = new QProgressBar(group);
    (new QVBoxLayout(group))->addWidget(bar);
    return group;
}

QHBoxLayout* OkCancelRow(QDialog* dialog)
{
    auto* ok = new QPushButton("OK", dialog);
    auto* cancel = new QPushButton("Cancel", dialog);
    ok->setObjectName("OKBtn");
    cancel->setObjectName("CancelBtn");
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(ok);
    row->addWidget(cancel);
    QObject::connect(ok, &QPushButton::clicked, dialog, &QDialog::accept);
    QObject::connect(cancel, &QPushButton::clicked, dialog, &QDialog::reject);
    return row;
}

QHBoxLayout* HelpOkCancelRow(QDialog* dialog, int helpContext, const std::function<void(int)>* onHelp)
{
    QHBoxLayout* row = OkCancelRow(dialog);
    auto* help = new QPushButton("&Help", dialog);
    row->insertWidget(0, help);
    QObject::connect(help, &QPushButton::clicked, dialog, [onHelp, helpContext] {
        if (onHelp && *onHelp) (*onHelp)(helpContext);
    });
    return row;
}

QLineEdit* NamedEdit(const char* name, QWidget* parent)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(name);
    return edit;
}

QCheckBox* NamedCheck(const char* name, const char* caption, QWidget* parent)
{
    auto* box = new QCheckBox(caption, parent);
    box->setObjectName(name);
    return box;
}
