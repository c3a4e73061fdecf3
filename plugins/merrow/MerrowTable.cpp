#include "plugins/merrow/MerrowTable.h"

#include "common/DecimalSep.h"
#include "common/Prompt.h"
#include "common/analysis/Q5xReader.h"

#include <QApplication>
#include <QBrush>
#include <QPalette>

namespace merrow {

using radio::TCN;
using radio::TCNSerie;

namespace {
// A temperature or the humidity with three decimals; a missing one leaves the cell empty.
std::string Measure(float value)
{
    if (value == static_cast<float>(radio::kMissing)) return std::string();
    return FormatFixedSignificant(value, 3, 0, DecimalSeparator());
}
}  // namespace

TMerrowTable::TMerrowTable(QObject* parent) : QAbstractTableModel(parent) {}

void TMerrowTable::Reset(std::vector<TColumn> columns, std::vector<const TCNSerie*> rows, int fixedColumns)
{
    beginResetModel();
    FColumns = std::move(columns);
    FRows = std::move(rows);
    FFixedColumns = fixedColumns;
    endResetModel();
}

void TMerrowTable::Clear() { Reset({}, {}, 1); }

std::string TMerrowTable::Value(const TCNSerie& serie, const TColumn& column) const
{
    switch (column.Kind) {
    case TColumnKind::Date: return radio::Q5xDateTimeText(serie.DateTime);
    case TColumnKind::Position: return std::to_string(serie.Position);
    case TColumnKind::Black: return Measure(serie.BlackTemp);
    case TColumnKind::Head: return Measure(serie.HeadTemp);
    case TColumnKind::Humidity: return Measure(serie.Humidity);
    case TColumnKind::Ir:
    case TColumnKind::Mir:
        break;
    }
    // The last count of the filter in the acquisition; a missing mirror count is not written.
    for (int i = serie.Count() - 1; i >= 0; --i) {
        const TCN* cn = serie[i];
        if (cn->Filter != column.Filter) continue;
        if (column.Kind == TColumnKind::Ir) return radio::ShortestRealText(cn->Count);
        if (cn->MirrorCount != radio::kMissing) return radio::ShortestRealText(cn->MirrorCount);
    }
    return std::string();
}

std::string TMerrowTable::Cell(int row, int column) const
{
    const TColumn& c = FColumns[static_cast<size_t>(column)];
    if (row == 0) return c.Title;
    return Value(*FRows[static_cast<size_t>(row - 1)], c);
}

std::vector<std::string> TMerrowTable::Row(int row) const
{
    std::vector<std::string> cells(FColumns.size());
    if (row == 0) {
        for (size_t c = 0; c < FColumns.size(); ++c) cells[c] = FColumns[c].Title;
        return cells;
    }
    const TCNSerie& serie = *FRows[static_cast<size_t>(row - 1)];
    for (size_t c = 0; c < FColumns.size(); ++c)
        if (FColumns[c].Kind != TColumnKind::Ir && FColumns[c].Kind != TColumnKind::Mir)
            cells[c] = Value(serie, FColumns[c]);
    // The counts in order, each later one of a filter replacing the one before.
    for (const TCN* cn : serie)
        for (size_t c = 0; c < FColumns.size(); ++c) {
            const TColumn& column = FColumns[c];
            if (column.Filter != cn->Filter || !cn->Filter) continue;
            if (column.Kind == TColumnKind::Ir) cells[c] = radio::ShortestRealText(cn->Count);
            else if (column.Kind == TColumnKind::Mir && cn->MirrorCount != radio::kMissing)
                cells[c] = radio::ShortestRealText(cn->MirrorCount);
        }
    return cells;
}

int TMerrowTable::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : Rows(); }

int TMerrowTable::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : Columns(); }

QVariant TMerrowTable::data(const QModelIndex& index, int role) const
{
    if (!index.isValid()) return QVariant();
    if (role == Qt::DisplayRole) return AnsiToQString(Cell(index.row(), index.column()));
    // The title row and the fixed columns in the colour of buttons, as a string grid draws them.
    if (role == Qt::BackgroundRole && (index.row() == 0 || index.column() < FFixedColumns))
        return QApplication::palette().button();
    return QVariant();
}

}  // namespace merrow
