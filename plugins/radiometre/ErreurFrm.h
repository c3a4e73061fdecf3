#pragma once
// The caution window of a radiometre run: one line per caution, shown (not modal) after a table fill
// or a chart drawing that produced any.
#include <QDialog>
#include <string>

class QPlainTextEdit;

namespace radio {

class TErreurFrm : public QDialog {
    Q_OBJECT
public:
    explicit TErreurFrm(QWidget* parent = nullptr);
    void Clear();
    void Add(const std::string& line);
    int LineCount() const { return FLines; }
    std::string Text() const;
    void ShowIfAny();

private:
    QPlainTextEdit* Memo1;
    int FLines = 0;
};

}  // namespace radio
