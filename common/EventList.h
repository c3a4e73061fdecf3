#pragma once
// The events of a data file. The records parsed from the file's image stay a compact index into that
// image (8 bytes a record) and become TEvenement objects only when one is asked for, so that a large
// file costs little more than its bytes; events added by a download or a merge are held as objects.
// Indexing and iteration give TEvenement* as a list of objects does; the record operations below read
// any event without making its object.
#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

#include "common/Evenement.h"

class TQ5File;
class TScnType;

class TEventList {
public:
    explicit TEventList(TQ5File* owner) : FOwner(owner) {}
    TEventList(const TEventList&) = delete;
    TEventList& operator=(const TEventList&) = delete;
    ~TEventList() { Clear(); }

    int Count() const { return static_cast<int>(FEntries.size()); }
    // The event object (made on first use, then kept for the life of the entry).
    TEvenement* Items(int index) const;
    TEvenement* operator[](int index) const { return Items(index); }
    int Add(TEvenement* event);
    void Insert(int index, TEvenement* event);
    int IndexOf(const TEvenement* event) const;   // searched from the end, where new events go
    void Delete(int index);
    TEvenement* Extract(int index);
    void Clear();

    class const_iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = TEvenement*;
        using difference_type = std::ptrdiff_t;
        using pointer = TEvenement* const*;
        using reference = TEvenement*;
        const_iterator(const TEventList* list, int index) : FList(list), FIndex(index) {}
        TEvenement* operator*() const { return FList->Items(FIndex); }
        const_iterator& operator++()
        {
            ++FIndex;
            return *this;
        }
        bool operator==(const const_iterator& other) const { return FIndex == other.FIndex; }
        bool operator!=(const const_iterator& other) const { return FIndex != other.FIndex; }

    private:
        const TEventList* FList;
        int FIndex;
    };
    const_iterator begin() const { return const_iterator(this, 0); }
    const_iterator end() const { return const_iterator(this, Count()); }

    // ---- records without objects --------------------------------------------------------------------
    // Appends a record of the owner's image at `offset` that passed the structure checks as `check`
    // says (never an empty record), of the global list's type at `typeIndex` (-1 when none).
    void AddRecord(int32_t offset, const TRecordCheck& check, int typeIndex);
    bool HasObject(int index) const { return !FObjects.empty() && FObjects[static_cast<size_t>(index)] != nullptr; }
    // The fields of the event, read without making its object.
    bool Valid(int index) const;
    bool Empty(int index) const;
    uint8_t ErrorKind(int index) const;
    int32_t Length(int index) const;
    const TScnType* ScnType(int index) const;
    double Date(int index) const;   // decoded from the record each time
    // The record hex of the event into `hex` (its capacity reused); returns it.
    const std::string& RecordHex(int index, std::string& hex) const;
    // The event's AsciiString appended to `out`, without making its object.
    void AppendAsciiString(int index, std::string& out) const;
    // The event's AsciiHeader; an event without its object is decoded for it and not kept.
    std::string AsciiHeader(int index) const;
    // What the event's SymbolString gives.
    std::string SymbolString(int index) const;

    // Running totals: hex characters of every record (DataSize) and events valid and not empty (NbEvt).
    long long HexSize() const { return FHexSize; }
    int ValidCount() const { return FValidCount; }
    // The image moved (a rebuild): the record of each index now starts at the given offset.
    void MoveRecords(const std::vector<int32_t>& offsets);

private:
    // One event: a record of the owner's image (offset >= 0) or an object only (offset -1).
    struct Entry {
        int32_t Offset = -1;
        uint8_t Valid = 0;
        uint8_t ErrorKind = 0;
        uint16_t Type = kNoType;   // index in the global measurement-type list
    };
    static constexpr uint16_t kNoType = 0xFFFF;
    void Count(TEvenement* event, int sign);
    void CountEntry(size_t index, int sign);
    const uint8_t* Record(const Entry& entry) const;
    void EnsureObjects() const;

    TQ5File* FOwner;
    std::vector<Entry> FEntries;
    mutable std::vector<TEvenement*> FObjects;   // empty until the first object is made
    long long FHexSize = 0;
    int FValidCount = 0;
};
