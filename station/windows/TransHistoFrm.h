// "Transmission historic": the downloads of this run, sortable by any column, savable as history lines.
#pragma once

#include <QDialog>
#include <array>
#include <functional>
#include <string>

class QLabel;
class QTreeWidget;
class TStatusConfig;
class TTransmission;
class TTransmissionList;

// Orders two downloads by column (0-7) and state (1: largest first, or A to Z for the end status;
// 2: the opposite). A strict weak order for every column: speeds compare by their whole characters per
// second, so speeds less than one apart within the same whole number compare equal.
bool TransmissionLess(const TTransmission& a, const TTransmission& b, int column, int state);

class TTransHistoFrm : public QDialog {
    Q_OBJECT
public:
    // statusConfig may be null (no placement kept).
    TTransHistoFrm(TTransmissionList& transmissions, TStatusConfig* statusConfig, QWidget* parent = nullptr);

    // A click on a column header: advances that column's state 0 -> 1 -> 2 -> 1 ... and sorts.
    void TransListViewColumnClick(int column);
    // Deletes the file, then appends each download's history line. False when a line could not be written.
    bool SaveTo(const std::string& fileName);
    // The list index of each row, top to bottom.
    std::vector<int> RowOrder() const;

    std::function<void(int helpContext)> OnHelp;

    QLabel* NbTransLbl;
    QTreeWidget* TransListView;

protected:
    void done(int result) override;

private:
    TTransmissionList& transmissions_;
    TStatusConfig* statusConfig_;
    std::array<int, 8> sortState_{};
};
