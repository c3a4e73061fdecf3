#pragma once
// The viewer's table: one row per acquisition of a checked position, in date-time order, and the
// columns the window's check boxes and filter list choose. Cells are formatted when they are asked
// for (on screen, or row by row for the export), so that a long file costs one pointer a row.
#include "common/analysis/RadioDataSet.h"

#include <QAbstractTableModel>

#include <string>
#include <vector>

namespace merrow {

class TMerrowTable : public QAbstractTableModel {
    Q_OBJECT
public:
    enum class TColumnKind { Date, Position, Black, Head, Humidity, Ir, Mir };
    struct TColumn {
        TColumnKind Kind;
        std::string Title;
        int Width;
        const radio::TFilter* Filter = nullptr;   // the infrared and mirror columns
    };

    explicit TMerrowTable(QObject* parent = nullptr);

    // New columns and rows: the acquisitions, ordered by date-time (file order among equal ones).
    void Reset(std::vector<TColumn> columns, std::vector<const radio::TCNSerie*> rows, int fixedColumns);
    // Empties the table before the acquisitions it shows are freed.
    void Clear();

    // The grid as the user sees it: row 0 holds the column titles.
    int Rows() const { return static_cast<int>(FRows.size()) + 1; }
    int Columns() const { return static_cast<int>(FColumns.size()); }
    int FixedColumns() const { return FFixedColumns; }
    int ColumnWidth(int column) const { return FColumns[static_cast<size_t>(column)].Width; }
    std::string Cell(int row, int column) const;
    // Every cell of a row, each acquisition's counts read once.
    std::vector<std::string> Row(int row) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

private:
    std::string Value(const radio::TCNSerie& serie, const TColumn& column) const;

    std::vector<TColumn> FColumns;
    std::vector<const radio::TCNSerie*> FRows;
    int FFixedColumns = 1;
};

}  // namespace merrow
