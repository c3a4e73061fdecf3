#include "station/windows/TransHistoFrm.h"

#include "common/DateTime.h"
#include "common/FileUtils.h"
#include "common/Prompt.h"
#include "common/StatusStore.h"
#include "station/link/Transmission.h"
#include "station/windows/DialogParts.h"

#include <QCollator>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace {

enum Column { ColDate, ColDuration, ColErrors, ColEnd, ColScenarios, ColBytes, ColSpeed, ColMaxSpeed };

// -1, 0 or 1 in the natural order (small first) of the column's value.
int Compare(const TTransmission& a, const TTransmission& b, int column)
{
    auto sign = [](double x, double y) { return x < y ? -1 : (x > y ? 1 : 0); };
    switch (column) {
    case ColDate: return sign(a.StartTime, b.StartTime);
    case ColDuration: return sign(a.GetDuration(), b.GetDuration());
    case ColErrors: return sign(a.Errors, b.Errors);
    case ColEnd: {
        static const QCollator collator = [] {
            QCollator c;
            c.setCaseSensitivity(Qt::CaseInsensitive);
            return c;
        }();
        int r = collator.compare(AnsiToQString(a.GetEndStatusText()), AnsiToQString(b.GetEndStatusText()));
        return r < 0 ? -1 : (r > 0 ? 1 : 0);
    }
    case ColScenarios: return sign(a.EventCount, b.EventCount);
    case ColBytes: return sign(a.Bytes, b.Bytes);
    case ColSpeed: return sign(std::trunc(a.GetSpeed()), std::trunc(b.GetSpeed()));
    case ColMaxSpeed: return sign(std::trunc(a.MaxSpeed), std::trunc(b.MaxSpeed));
    default: return 0;
    }
}

}  // namespace

bool TransmissionLess(const TTransmission& a, const TTransmission& b, int column, int state)
{
    if (state != 1 && state != 2) return false;
    int natural = Compare(a, b, column);
    // State 1 puts the largest first, except the end status which reads A to Z.
    bool largestFirst = (column == ColEnd) ? (state == 2) : (state == 1);
    return largestFirst ? natural > 0 : natural < 0;
}

TTransHistoFrm::TTransHistoFrm(TTransmissionList& transmissions, TStatusConfig* statusConfig, QWidget* parent)
    : QDialog(parent), transmissions_(transmissions), statusConfig_(statusConfig)
{
    setObjectName("TransHistoFrm");
    setWindowTitle("Transmission historic");
    NbTransLbl = new QLabel(QString::number(transmissions.Count()), this);
    NbTransLbl->setObjectName("NbTransLbl");
    TransListView = new QTreeWidget(this);
    TransListView->setObjectName("TransListView");
    TransListView->setRootIsDecorated(false);
    TransListView->setHeaderLabels(
        {"Date / Time", "Duration", "Errors", "End Trans.", "Scenarios", "Bytes", "Speed", "Max spd."});
    const int widths[] = {105, 70, 45, 70, 60, 60, 75, 75};
    for (int c = 0; c < 8; ++c) TransListView->setColumnWidth(c, widths[c]);
    TransListView->header()->setSectionsClickable(true);
    connect(TransListView->header(), &QHeaderView::sectionClicked, this, &TTransHistoFrm::TransListViewColumnClick);

    for (int i = 0; i < transmissions.Count(); ++i) {
        const TTransmission& t = *transmissions.Item(i);
        QStringList texts{AnsiToQString(ShortDateText(t.StartTime) + " " + TimeText(t.StartTime)),
                          AnsiToQString(FormatDateTime("hh:nn:ss", t.GetDuration())),
                          QString::number(t.Errors),
                          AnsiToQString(t.GetEndStatusText()),
                          QString::number(t.EventCount),
                          QString::number(t.Bytes),
                          AnsiToQString(t.GetSpeedText()),
                          AnsiToQString(t.GetMaxSpeedText())};
        auto* row = new QTreeWidgetItem(TransListView, texts);
        row->setData(0, Qt::UserRole, i);
    }

    auto* save = new QPushButton("Save...", this);
    auto* ok = new QPushButton("OK", this);
    auto* cancel = new QPushButton("Cancel", this);
    auto* help = new QPushButton("&Help", this);
    auto* bottom = new QHBoxLayout;  // right-aligned, 8 pixels apart
    bottom->setSpacing(8);
    bottom->addStretch();
    for (QPushButton* b : {save, ok, cancel, help}) bottom->addWidget(b);
    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel("Number of transmissions :", this));
    top->addWidget(NbTransLbl);
    top->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(TransListView);
    layout->addLayout(bottom);

    connect(save, &QPushButton::clicked, this, [this] {
        QString name = QFileDialog::getSaveFileName(this, QString(), QString(), "Text files (*.txt)");
        if (!name.isEmpty() && !SaveTo(QStringToFileName(name))) ShowWarning(AnsiToQString("Unable to write the file ") + name);
    });
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(help, &QPushButton::clicked, this, [this] { if (OnHelp) OnHelp(110); });

    FitWindowToContents(this);
    if (statusConfig_) {
        statusConfig_->LoadControlPlacement(this, "TransHistoFrm");
        statusConfig_->LoadListViewColumns(TransListView, "TransHistoFrm_Col");
    }
}

void TTransHistoFrm::TransListViewColumnClick(int column)
{
    if (column < 0 || column >= 8) return;
    int& state = sortState_[size_t(column)];
    state = state == 1 ? 2 : 1;
    std::vector<QTreeWidgetItem*> rows;
    while (TransListView->topLevelItemCount() > 0) rows.push_back(TransListView->takeTopLevelItem(0));
    std::stable_sort(rows.begin(), rows.end(), [&](QTreeWidgetItem* x, QTreeWidgetItem* y) {
        return TransmissionLess(*transmissions_.Item(x->data(0, Qt::UserRole).toInt()),
                                *transmissions_.Item(y->data(0, Qt::UserRole).toInt()), column, state);
    });
    for (QTreeWidgetItem* row : rows) TransListView->addTopLevelItem(row);
}

std::vector<int> TTransHistoFrm::RowOrder() const
{
    std::vector<int> order;
    for (int r = 0; r < TransListView->topLevelItemCount(); ++r)
        order.push_back(TransListView->topLevelItem(r)->data(0, Qt::UserRole).toInt());
    return order;
}

bool TTransHistoFrm::SaveTo(const std::string& fileName)
{
    if (!DeleteFileIfExists(fileName)) return false;
    bool ok = true;
    for (int i = 0; i < transmissions_.Count(); ++i) ok = transmissions_.Item(i)->AppendToHistory(fileName) && ok;
    return ok;
}

void TTransHistoFrm::done(int result)
{
    if (statusConfig_) {
        statusConfig_->SaveFormPlacement(this, "TransHistoFrm");
        statusConfig_->SaveListViewColumns(TransListView, "TransHistoFrm_Col");
    }
    QDialog::done(result);
}
