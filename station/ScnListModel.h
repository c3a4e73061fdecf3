#pragma once
// The main window's data list as a model over the current data file: one row per event shown, texts
// made only for the rows the view asks for (those on screen), sorting on keys read from the records.
#include <QAbstractTableModel>

#include <functional>
#include <vector>

class TQ5File;

class TScnListModel : public QAbstractTableModel {
public:
    // `file` gives the current data file (may be null) each time the model reads it.
    explicit TScnListModel(std::function<TQ5File*()> file, QObject* parent = nullptr);

    // The rows of the events that pass the list's filters, in file order.
    void Rebuild(bool showEmpty, bool showErrors);
    void Clear();
    // Sorts the rows by a column: ascending or descending, equal keys keeping their order.
    void SortBy(int column, bool ascending);
    // The index of a row's event in the data file's event list (-1 outside).
    int EventAt(int row) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // The "Data" text of a list row: shortened when it has 256 characters or more.
    static std::string ShortDataText(const std::string& text);

private:
    QString Text(int event, int column) const;

    std::function<TQ5File*()> FFile;
    std::vector<int> FRows;
};
