#pragma once
// The viewer's tree: one top node per acquisition element of the file, titled with its date-time,
// and under it one node per measure. What the nodes show is kept in a compact outline taken while
// the file is read (the short texts of a file repeat, and are kept once); the node texts are made
// when the view asks for them.
#include "common/analysis/Q5xReader.h"

#include <QAbstractItemModel>

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace merrow {

// What the tree shows of one file.
class TMerrowOutline {
public:
    // One acquisition element, as the reader hands it over.
    void Add(const radio::TQ5xAcquisition& acquisition);

    int Acquisitions() const { return static_cast<int>(FAcquisitions.size()); }
    int Measures(int acquisition) const { return static_cast<int>(FAcquisitions[static_cast<size_t>(acquisition)].Count); }
    std::string Title(int acquisition) const;
    // The node of a measure; `data` names the filters.
    std::string MeasureText(int acquisition, int measure, const radio::TRadData& data) const;

private:
    enum Kind : uint32_t { Rad, HeadTemp, Humidity, Unknown };
    struct Acquisition {
        double DateTime;
        size_t First;     // its first measure
        uint32_t Count;
        uint32_t Title;   // a word, for a date that does not read; kNoWord otherwise
    };
    struct Measure {
        double Value;     // of a count
        uint32_t Word;    // "t" of a count, the text of a temperature or humidity
        uint32_t Filter : 30;   // "f" of a count
        uint32_t Kind : 2;
    };
    static constexpr uint32_t kNoWord = UINT32_MAX;
    uint32_t Word(const std::string& text);

    std::vector<Acquisition> FAcquisitions;
    std::vector<Measure> FMeasures;
    std::vector<std::string> FWords;
    std::unordered_map<std::string, uint32_t> FWordIndex;
};

class TMerrowTree : public QAbstractItemModel {
    Q_OBJECT
public:
    // `data` names the filters of the measures.
    explicit TMerrowTree(const radio::TRadData& data, QObject* parent = nullptr);

    // Shows the outline of another file.
    void Show(TMerrowOutline outline);

    QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

private:
    const radio::TRadData& FData;
    TMerrowOutline FOutline;
};

}  // namespace merrow
