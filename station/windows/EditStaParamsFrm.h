// "Parameters edition": the station parameters of the data file in a list, edited one at a time.
#pragma once

#include <QDialog>
#include <functional>
#include <string>

class QLabel;
class QLineEdit;
class QPagedPaintDevice;
class QPlainTextEdit;
class QTreeWidget;
class QTreeWidgetItem;
class QWidget;
class TParamsList;
class TQ5File;
struct TStaParametre;

// "Parameter edition": one parameter's value.
class TEditOneParamFrm : public QDialog {
    Q_OBJECT
public:
    TEditOneParamFrm(TStaParametre& param, QWidget* parent = nullptr);
    // OK: stores the value, or shows why not and stays open.
    void accept() override;

    QLineEdit* ParamNameEdit;
    QLineEdit* ParamValEdit;
    QLabel* LblInformation;

private:
    TStaParametre& param_;
};

class TEditStaParamsFrm : public QDialog {
    Q_OBJECT
public:
    TEditStaParamsFrm(TParamsList& params, const std::string& paramBloc, bool expertMode, QWidget* parent = nullptr);

    // Double click or Enter on a row.
    void EditParameter(int row);
    // The template of the edited values (valid after OK too).
    std::string Template() const;
    bool SaveToText(const std::string& fileName) const;
    void PrintTo(QPagedPaintDevice& device) const;

    // Runs one parameter's dialog; replaceable for tests (returns true on OK).
    std::function<bool(TStaParametre&)> EditOne;
    std::function<void(int helpContext)> OnHelp;

    QTreeWidget* ParListView;
    QWidget* DebugPanel;
    QLabel* ParFileNameLbl;
    QPlainTextEdit* ParamBlocMemo;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void RefreshRow(int row);

    TParamsList& params_;
};

// The "Parameters edition" command: decodes the data file's parameters, runs the editor and applies
// its template on OK. True when the data file was changed.
bool EditStationParameters(TQ5File* file, const std::string& parDirectory, bool expertMode, QWidget* parent,
                           const std::function<void(int)>& onHelp = {});
