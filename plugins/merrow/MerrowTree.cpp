#include "plugins/merrow/MerrowTree.h"

#include "common/Prompt.h"

#include <utility>

namespace merrow {

uint32_t TMerrowOutline::Word(const std::string& text)
{
    const auto [at, added] = FWordIndex.try_emplace(text, static_cast<uint32_t>(FWords.size()));
    if (added) FWords.push_back(text);
    return at->second;
}

void TMerrowOutline::Add(const radio::TQ5xAcquisition& a)
{
    Acquisition node{0, FMeasures.size(), static_cast<uint32_t>(a.Measures.size()), kNoWord};
    // A date that does not read shows its texts (an empty acquisition has none).
    if (!radio::Q5xDateTime(a.D, a.H, node.DateTime)) node.Title = Word(a.D + " " + a.H);
    FAcquisitions.push_back(node);
    for (const radio::TQ5xMeasure& m : a.Measures) {
        Measure measure{0, kNoWord, 0, Unknown};
        if (m.Id == "EL_RAD") {
            measure.Kind = Rad;
            measure.Word = Word(m.T);
            measure.Filter = Word(m.F);
            measure.Value = radio::Q5xNumber(m.Text, radio::kMissing);
        } else if (m.Id == "EL_TEMPHEAD" || m.Id == "EL_HUM") {
            measure.Kind = m.Id == "EL_HUM" ? Humidity : HeadTemp;
            measure.Word = Word(m.Text);
        }
        FMeasures.push_back(measure);
    }
}

std::string TMerrowOutline::Title(int acquisition) const
{
    const Acquisition& a = FAcquisitions[static_cast<size_t>(acquisition)];
    return a.Title == kNoWord ? radio::Q5xDateTimeText(a.DateTime) : FWords[a.Title];
}

std::string TMerrowOutline::MeasureText(int acquisition, int measure, const radio::TRadData& data) const
{
    const Measure& m = FMeasures[FAcquisitions[static_cast<size_t>(acquisition)].First + static_cast<size_t>(measure)];
    switch (m.Kind) {
    case Rad: {
        const std::string& f = FWords[m.Filter];
        int32_t number = 0;
        const radio::TFilter* filter = radio::Q5xInteger(f, number) ? data.FindFilter(number) : nullptr;
        // A filter the file does not describe is named by its number.
        const std::string name = filter ? filter->GetName() : "filter " + f;
        return FWords[m.Word] + " " + name + " : " + radio::ShortestRealText(m.Value);
    }
    case HeadTemp: return "Head temp.:" + FWords[m.Word] + " \xB0" "C";
    case Humidity: return "Head humidity: " + FWords[m.Word] + " %";
    default: return "Unknown measure";
    }
}

TMerrowTree::TMerrowTree(const radio::TRadData& data, QObject* parent) : QAbstractItemModel(parent), FData(data) {}

void TMerrowTree::Show(TMerrowOutline outline)
{
    beginResetModel();
    FOutline = std::move(outline);
    endResetModel();
}

// A top node carries 0, a measure node the number of its acquisition plus one.
QModelIndex TMerrowTree::index(int row, int column, const QModelIndex& parent) const
{
    if (!hasIndex(row, column, parent)) return QModelIndex();
    return createIndex(row, column, parent.isValid() ? static_cast<quintptr>(parent.row()) + 1 : 0);
}

QModelIndex TMerrowTree::parent(const QModelIndex& child) const
{
    if (!child.isValid() || child.internalId() == 0) return QModelIndex();
    return createIndex(static_cast<int>(child.internalId() - 1), 0, quintptr(0));
}

int TMerrowTree::rowCount(const QModelIndex& parent) const
{
    if (!parent.isValid()) return FOutline.Acquisitions();
    if (parent.internalId() != 0 || parent.column() != 0) return 0;
    return FOutline.Measures(parent.row());
}

int TMerrowTree::columnCount(const QModelIndex&) const { return 1; }

QVariant TMerrowTree::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || role != Qt::DisplayRole) return QVariant();
    if (index.internalId() == 0) return AnsiToQString(FOutline.Title(index.row()));
    return AnsiToQString(FOutline.MeasureText(static_cast<int>(index.internalId() - 1), index.row(), FData));
}

}  // namespace merrow
