#include "plugins/radiometre/ErreurFrm.h"

#include "common/Prompt.h"

#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace radio {

TErreurFrm::TErreurFrm(QWidget* parent) : QDialog(parent)
{
    setObjectName("ErreurFrm");
    setWindowTitle("Caution");
    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName("Memo1");
    Memo1->setReadOnly(true);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Memo1);
    resize(520, 240);
}

void TErreurFrm::Clear()
{
    Memo1->clear();
    FLines = 0;
}

void TErreurFrm::Add(const std::string& line)
{
    Memo1->appendPlainText(AnsiToQString(line));
    ++FLines;
}

std::string TErreurFrm::Text() const { return QStringToAnsi(Memo1->toPlainText()); }

void TErreurFrm::ShowIfAny()
{
    if (FLines > 0) show();
}

}  // namespace radio
