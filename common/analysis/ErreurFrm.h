#pragma once
// The caution window of the radiometer plug-ins: a memo of lines the window collected while it
// filled its table or chart, shown (not modally) when there are any.
#include <QDialog>

#include <string>

class QPlainTextEdit;
class QPushButton;

namespace radio {

class TErreurFrm : public QDialog {
    Q_OBJECT
public:
    explicit TErreurFrm(QWidget* owner = nullptr);

    void AddMessage(const std::string& text);   // one line, Windows-1252 bytes
    void Clear();
    bool HasMessages() const;

    QPlainTextEdit* Memo1 = nullptr;
    QPushButton* Button1 = nullptr;   // "Close"

private slots:
    void Button1Click();
};

}  // namespace radio
