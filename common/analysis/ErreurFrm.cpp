#include "common/analysis/ErreurFrm.h"

#include "common/Prompt.h"

#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace radio {

TErreurFrm::TErreurFrm(QWidget* owner) : QDialog(owner)
{
    setObjectName("ErreurFrm");
    setWindowTitle("Error");
    setModal(false);
    resize(520, 260);
    auto* layout = new QVBoxLayout(this);
    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName("Memo1");
    Memo1->setReadOnly(true);
    layout->addWidget(Memo1, 1);   // follows the window on all four sides
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    Button1 = new QPushButton("Close", this);
    Button1->setObjectName("Button1");
    buttons->addWidget(Button1);
    layout->addLayout(buttons);
    connect(Button1, &QPushButton::clicked, this, &TErreurFrm::Button1Click);
}

void TErreurFrm::AddMessage(const std::string& text) { Memo1->appendPlainText(AnsiToQString(text)); }

void TErreurFrm::Clear() { Memo1->clear(); }

bool TErreurFrm::HasMessages() const { return !Memo1->document()->isEmpty(); }

void TErreurFrm::Button1Click() { close(); }

}  // namespace radio
