#include "station/windows/EditStaParamsFrm.h"

#include "common/FileUtils.h"
#include "common/Prompt.h"
#include "common/Q5File.h"
#include "common/StaParametre.h"
#include "station/windows/DialogParts.h"
#include "station/windows/ParameterTemplate.h"

#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPagedPaintDevice>
#include <QPlainTextEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QStyle>
#include <QToolBar>
#include <QTreeWidget>
#include <QVBoxLayout>

TEditOneParamFrm::TEditOneParamFrm(TStaParametre& param, QWidget* parent) : QDialog(parent), param_(param)
{
    setObjectName("EditOneParamFrm");
    setWindowTitle("Parameter edition");
    ParamNameEdit = NamedEdit("ParamNameEdit", this);
    ParamNameEdit->setText(AnsiToQString(param.Name));
    ParamNameEdit->setReadOnly(true);
    ParamValEdit = NamedEdit("ParamValEdit", this);
    ParamValEdit->setText(AnsiToQString(param.GetValueText()));
    auto* info = new QGroupBox("Information about the parameter", this);
    LblInformation = new QLabel(param.DescText.empty() ? "No information available" : AnsiToQString(param.DescText), info);
    LblInformation->setObjectName("LblInformation");
    LblInformation->setWordWrap(true);
    (new QVBoxLayout(info))->addWidget(LblInformation);
    QHBoxLayout* buttons = OkCancelRow(this);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel("Parameter's name", this));
    layout->addWidget(ParamNameEdit);
    layout->addWidget(new QLabel("Value", this));
    layout->addWidget(ParamValEdit);
    layout->addWidget(info);
    layout->addLayout(buttons);
    FitWindowToContents(this);
}

void TEditOneParamFrm::accept()
{
    switch (param_.SetValueText(QStringToAnsi(ParamValEdit->text()))) {
    case PARAM_SET_OK: QDialog::accept(); return;
    case PARAM_SET_INVALID: ShowWarning("Invalid value"); return;
    case PARAM_SET_TOO_LOW: ShowWarning("Value to low"); return;
    case PARAM_SET_TOO_HIGH: ShowWarning("Value to hight"); return;
    default: ShowWarning("Unknown error"); return;
    }
}

namespace {

// Enter on the list edits the current row, as a double click does.
class EnterFilter : public QObject {
public:
    EnterFilter(TEditStaParamsFrm* form) : QObject(form), form_(form) {}
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() != QEvent::KeyPress) return false;
        int key = static_cast<QKeyEvent*>(event)->key();
        if (key != Qt::Key_Return && key != Qt::Key_Enter) return false;
        if (QTreeWidgetItem* item = form_->ParListView->currentItem())
            form_->EditParameter(form_->ParListView->indexOfTopLevelItem(item));
        return true;
    }

private:
    TEditStaParamsFrm* form_;
};

}  // namespace

TEditStaParamsFrm::TEditStaParamsFrm(TParamsList& params, const std::string& paramBloc, bool expertMode,
                                     QWidget* parent)
    : QDialog(parent), params_(params)
{
    setObjectName("EditStaParamsFrm");
    setWindowTitle("Parameters edition");
    auto* tools = new QToolBar(this);
    QAction* save = tools->addAction("Save");
    QAction* print = tools->addAction("Print");

    ParListView = new QTreeWidget(this);
    ParListView->setObjectName("ParListView");
    ParListView->setRootIsDecorated(false);
    ParListView->setHeaderLabels({"Name", "Value", "Description"});
    for (int row = 0; row < params.Count(); ++row) {
        auto* item = new QTreeWidgetItem(ParListView);
        item->setText(0, AnsiToQString(params[row]->Name));
        item->setIcon(0, style()->standardIcon(params[row]->DisplayKind == PARAM_YESNO ? QStyle::SP_DialogApplyButton
                                                                                        : QStyle::SP_FileIcon));
        // Parameters where a template is never applied cannot be changed here.
        if (IsParameterLocked(*params[row])) item->setDisabled(true);
        RefreshRow(row);
    }
    ParListView->installEventFilter(new EnterFilter(this));
    connect(ParListView, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem* item) { EditParameter(ParListView->indexOfTopLevelItem(item)); });

    DebugPanel = new QWidget(this);
    DebugPanel->setObjectName("DebugPanel");
    ParFileNameLbl = new QLabel(DebugPanel);
    ParFileNameLbl->setObjectName("ParFileNameLbl");
    ParamBlocMemo = new QPlainTextEdit(AnsiToQString(paramBloc), DebugPanel);
    ParamBlocMemo->setReadOnly(true);
    auto* debugLayout = new QVBoxLayout(DebugPanel);
    debugLayout->addWidget(ParFileNameLbl);
    debugLayout->addWidget(ParamBlocMemo);
    DebugPanel->setVisible(expertMode);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tools);
    layout->addWidget(ParListView, 1);
    layout->addWidget(DebugPanel);
    layout->addLayout(HelpOkCancelRow(this, 111, &OnHelp));

    ParListView->setProperty("columnShares", QVariantList{20, 10, 70});
    FitWindowToContents(this);

    EditOne = [this](TStaParametre& param) { return TEditOneParamFrm(param, this).exec() == QDialog::Accepted; };
    connect(save, &QAction::triggered, this, [this] {
        QFileDialog dialog(this, QString(), QString(), "text files (*.txt)");
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix("txt");
        if (dialog.exec() != QDialog::Accepted) return;
        std::string name = QStringToFileName(dialog.selectedFiles().value(0));
        if (!SaveToText(name)) ShowWarning(TextWithFileName("Unable to write the file ", name));
    });
    connect(print, &QAction::triggered, this, [this] {
        QPrinter printer;
        QPrintDialog dialog(&printer, this);
        if (dialog.exec() == QDialog::Accepted) PrintTo(printer);
    });
}

void TEditStaParamsFrm::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    // One fifth, one tenth and seven tenths of the width, but names and values always whole.
    const int width = ParListView->viewport()->width();
    const int name = std::max(width / 5, ColumnContentsWidth(ParListView, 0));
    const int value = std::max(width / 10, ColumnContentsWidth(ParListView, 1));
    ParListView->setColumnWidth(0, name);
    ParListView->setColumnWidth(1, value);
    ParListView->setColumnWidth(2, std::max(width * 7 / 10, width - name - value));
}

void TEditStaParamsFrm::RefreshRow(int row)
{
    QTreeWidgetItem* item = ParListView->topLevelItem(row);
    item->setText(1, AnsiToQString(params_[row]->GetValueText()));
    item->setText(2, AnsiToQString(params_[row]->DescText));
}

void TEditStaParamsFrm::EditParameter(int row)
{
    if (row < 0 || row >= params_.Count()) return;
    TStaParametre& param = *params_[row];
    if (IsParameterLocked(param)) {
        ShowWarning("This parameter cannot be changed here.");
        return;
    }
    if (param.System && !AskYesNo("The parameter you want to edit is a system parameter.\nIt's not advised to modify "
                                  "it.\nDo you still want to edit it ?",
                                  false))
        return;
    if (param.DisplayKind == PARAM_YESNO) {
        param.Value = param.Value == 0 ? 1 : 0;
        RefreshRow(row);
        return;
    }
    if (EditOne && EditOne(param)) RefreshRow(row);
}

std::string TEditStaParamsFrm::Template() const { return BuildParameterTemplate(params_); }

bool TEditStaParamsFrm::SaveToText(const std::string& fileName) const
{
    std::string text;
    for (const auto& param : params_.Items) text += param->Name + " = " + param->GetValueText() + "\r\n";
    return WriteFileAtomically(fileName, text);
}

void TEditStaParamsFrm::PrintTo(QPagedPaintDevice& device) const
{
    QPainter painter(&device);
    const int pageWidth = painter.viewport().width();
    const int pageHeight = painter.viewport().height();
    const int rowHeight = painter.fontMetrics().height() + 4;
    const int widths[] = {pageWidth / 5, pageWidth / 10, pageWidth - pageWidth / 5 - pageWidth / 10};
    int y = 10;
    for (const auto& param : params_.Items) {
        if (y + rowHeight > pageHeight) {
            device.newPage();
            y = 10;
        }
        const QString texts[] = {AnsiToQString(param->Name), AnsiToQString(param->GetValueText()),
                                 AnsiToQString(param->DescText)};
        int x = 0;
        for (int c = 0; c < 3; ++c) {
            QRect cell(x, y, widths[c], rowHeight);
            painter.drawRect(cell);
            painter.drawText(cell.adjusted(2, 0, -2, 0), Qt::AlignVCenter | Qt::AlignLeft, texts[c]);
            x += widths[c];
        }
        y += rowHeight;
    }
}

bool EditStationParameters(TQ5File* file, const std::string& parDirectory, bool expertMode, QWidget* parent,
                           const std::function<void(int)>& onHelp)
{
    if (!file) {
        ShowWarning("No data in memory");
        return false;
    }
    TDecodDorax decoder;
    std::unique_ptr<TParamsList> params(decoder.Decode(file->ParamBloc(), file->InstrumentId, parDirectory));
    if (!params) {
        ShowWarning(decoder.ErrorText());
        return false;
    }
    TEditStaParamsFrm editor(*params, file->ParamBloc(), expertMode, parent);
    editor.OnHelp = onHelp;
    editor.ParFileNameLbl->setText(AnsiToQString(decoder.ParFileName + " => " + decoder.Detail));
    if (editor.exec() != QDialog::Accepted) return false;
    file->ApplyParameterTemplate(editor.Template());
    return true;
}
