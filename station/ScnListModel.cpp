#include "station/ScnListModel.h"

#include <algorithm>

#include "common/DateTime.h"
#include "common/Q5File.h"
#include "common/Prompt.h"
#include "common/Utils.h"

TScnListModel::TScnListModel(std::function<TQ5File*()> file, QObject* parent)
    : QAbstractTableModel(parent), FFile(std::move(file))
{
}

std::string TScnListModel::ShortDataText(const std::string& text)
{
    if (text.size() < 256) return text;
    std::string s = text;
    while (s.size() > 240) s.erase(95, 64);
    s.insert(95, "...");
    return s;
}

void TScnListModel::Rebuild(bool showEmpty, bool showErrors)
{
    beginResetModel();
    FRows.clear();
    if (const TQ5File* f = FFile()) {
        const TEventList& events = f->Events;
        FRows.reserve(static_cast<size_t>(events.Count()));
        for (int i = 0; i < events.Count(); ++i) {
            if (events.Empty(i) && events.Valid(i) && !showEmpty) continue;
            if (!showErrors && (events.ErrorKind(i) != EVT_NO_ERROR || !events.Valid(i) || events.SymbolString(i) == "???"))
                continue;
            FRows.push_back(i);
        }
    }
    endResetModel();
}

void TScnListModel::Clear()
{
    beginResetModel();
    FRows.clear();
    FRows.shrink_to_fit();
    endResetModel();
}

int TScnListModel::EventAt(int row) const
{
    return row >= 0 && row < static_cast<int>(FRows.size()) ? FRows[static_cast<size_t>(row)] : -1;
}

int TScnListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(FRows.size());
}

int TScnListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 4; }

QVariant TScnListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    static const char* const kTitles[] = {"Type", "Date/Time", "Size", "Data"};
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < 4) return kTitles[section];
    return QAbstractTableModel::headerData(section, orientation, role);
}

QString TScnListModel::Text(int event, int column) const
{
    const TEventList& events = FFile()->Events;
    switch (column) {
    case 0: return AnsiToQString(events.SymbolString(event));
    case 1: {
        const double date = events.Date(event);
        return date == 0 ? QString("-") : AnsiToQString(ShortDateText(date) + " " + TimeText(date));
    }
    case 2: return QString::number(events.Length(event));
    default: {
        std::string text;
        events.AppendAsciiString(event, text);
        return AnsiToQString(ShortDataText(text));
    }
    }
}

QVariant TScnListModel::data(const QModelIndex& index, int role) const
{
    const int event = EventAt(index.row());
    const TQ5File* f = FFile();
    if (event < 0 || !f || event >= f->Events.Count()) return {};
    if (role == Qt::UserRole) return event;
    if (role != Qt::DisplayRole) return {};
    return Text(event, index.column());
}

void TScnListModel::SortBy(int column, bool ascending)
{
    const TQ5File* f = FFile();
    if (!f) return;
    const TEventList& events = f->Events;
    beginResetModel();
    auto order = [ascending](auto&& less) {
        return [ascending, less](int a, int b) { return ascending ? less(a, b) : less(b, a); };
    };
    if (column == 1 || column == 2) {
        // Numbers: the date or the record length of each row.
        std::vector<double> keys(static_cast<size_t>(events.Count()), 0);
        for (int event : FRows) keys[static_cast<size_t>(event)] = column == 1 ? events.Date(event) : events.Length(event);
        std::stable_sort(FRows.begin(), FRows.end(),
                         order([&keys](int a, int b) { return keys[static_cast<size_t>(a)] < keys[static_cast<size_t>(b)]; }));
    } else {
        // Texts without case, made once per row for the sort.
        std::vector<QString> keys(static_cast<size_t>(events.Count()));
        for (int event : FRows) keys[static_cast<size_t>(event)] = Text(event, column);
        std::stable_sort(FRows.begin(), FRows.end(), order([&keys](int a, int b) {
                             return keys[static_cast<size_t>(a)].compare(keys[static_cast<size_t>(b)], Qt::CaseInsensitive) < 0;
                         }));
    }
    endResetModel();
}
