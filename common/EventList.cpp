#include "common/EventList.h"

#include <algorithm>

#include "common/Q5File.h"
#include "common/ScnElement.h"
#include "common/ScnType.h"
#include "common/Utils.h"

const uint8_t* TEventList::Record(const Entry& entry) const
{
    return FOwner->Image.get() + entry.Offset;
}

void TEventList::EnsureObjects() const
{
    if (FObjects.empty())
        FObjects.assign(FEntries.size(), nullptr);
}

TEvenement* TEventList::Items(int index) const
{
    EnsureObjects();
    TEvenement*& object = FObjects[static_cast<size_t>(index)];
    if (object == nullptr) {
        const uint8_t* record = Record(FEntries[static_cast<size_t>(index)]);
        object = new TEvenement(FOwner);
        object->SetRecordHex(BytesToHex(record, record[1]));
    }
    return object;
}

void TEventList::Count(TEvenement* event, int sign)
{
    FHexSize += sign * static_cast<long long>(event->Evt().size());
    if (event->Valid && !event->Empty)
        FValidCount += sign;
}

void TEventList::CountEntry(size_t index, int sign)
{
    if (HasObject(static_cast<int>(index))) {
        Count(FObjects[index], sign);
        return;
    }
    const Entry& entry = FEntries[index];
    FHexSize += sign * 2LL * Record(entry)[1];
    if (entry.Valid)
        FValidCount += sign;
}

int TEventList::Add(TEvenement* event)
{
    Insert(Count(), event);
    return Count() - 1;
}

void TEventList::Insert(int index, TEvenement* event)
{
    EnsureObjects();
    FEntries.insert(FEntries.begin() + index, Entry());
    FObjects.insert(FObjects.begin() + index, event);
    Count(event, 1);
}

void TEventList::AddRecord(int32_t offset, const TRecordCheck& check, int typeIndex)
{
    Entry entry;
    entry.Offset = offset;
    entry.Valid = check.Valid;
    entry.ErrorKind = check.ErrorKind;
    if (typeIndex >= 0 && typeIndex < kNoType)
        entry.Type = static_cast<uint16_t>(typeIndex);
    FEntries.push_back(entry);
    if (!FObjects.empty())
        FObjects.push_back(nullptr);
    CountEntry(FEntries.size() - 1, 1);
}

int TEventList::IndexOf(const TEvenement* event) const
{
    for (size_t i = FObjects.size(); i > 0; --i)
        if (FObjects[i - 1] == event)
            return static_cast<int>(i - 1);
    return -1;
}

TEvenement* TEventList::Extract(int index)
{
    TEvenement* event = Items(index);
    CountEntry(static_cast<size_t>(index), -1);
    FEntries.erase(FEntries.begin() + index);
    FObjects.erase(FObjects.begin() + index);
    return event;
}

void TEventList::Delete(int index)
{
    if (HasObject(index)) {
        delete Extract(index);
        return;
    }
    CountEntry(static_cast<size_t>(index), -1);
    FEntries.erase(FEntries.begin() + index);
    if (!FObjects.empty())
        FObjects.erase(FObjects.begin() + index);
}

void TEventList::Clear()
{
    std::vector<TEvenement*> objects;
    objects.swap(FObjects);
    FEntries.clear();
    FEntries.shrink_to_fit();
    FHexSize = 0;
    FValidCount = 0;
    for (TEvenement* object : objects)
        delete object;
}

void TEventList::MoveRecords(const std::vector<int32_t>& offsets)
{
    for (size_t i = 0; i < FEntries.size() && i < offsets.size(); ++i)
        if (!HasObject(static_cast<int>(i)))
            FEntries[i].Offset = offsets[i];
}

bool TEventList::Valid(int index) const
{
    return HasObject(index) ? FObjects[static_cast<size_t>(index)]->Valid != 0 : FEntries[static_cast<size_t>(index)].Valid != 0;
}

bool TEventList::Empty(int index) const
{
    // A record of the image is never an empty one: the parse drops those.
    return HasObject(index) && FObjects[static_cast<size_t>(index)]->Empty != 0;
}

uint8_t TEventList::ErrorKind(int index) const
{
    return HasObject(index) ? FObjects[static_cast<size_t>(index)]->ErrorKind : FEntries[static_cast<size_t>(index)].ErrorKind;
}

int32_t TEventList::Length(int index) const
{
    return HasObject(index) ? FObjects[static_cast<size_t>(index)]->Length : Record(FEntries[static_cast<size_t>(index)])[1];
}

const TScnType* TEventList::ScnType(int index) const
{
    if (HasObject(index))
        return FObjects[static_cast<size_t>(index)]->ScnType;
    const uint16_t type = FEntries[static_cast<size_t>(index)].Type;
    return type == kNoType || gListScn == nullptr || type >= gListScn->Count() ? nullptr : (*gListScn)[type];
}

const std::string& TEventList::RecordHex(int index, std::string& hex) const
{
    if (HasObject(index)) {
        hex = FObjects[static_cast<size_t>(index)]->Evt();
        return hex;
    }
    const uint8_t* record = Record(FEntries[static_cast<size_t>(index)]);
    BytesToHexInto(record, record[1], hex);
    return hex;
}

double TEventList::Date(int index) const
{
    if (HasObject(index))
        return FObjects[static_cast<size_t>(index)]->Date;
    if (!FEntries[static_cast<size_t>(index)].Valid)
        return 0;
    static thread_local std::string hex;
    return RecordHexDate(RecordHex(index, hex));
}

void TEventList::AppendAsciiString(int index, std::string& out) const
{
    if (HasObject(index)) {
        FObjects[static_cast<size_t>(index)]->AppendAsciiString(out);
        return;
    }
    const TScnType* type = ScnType(index);
    if (type == nullptr || type->Count() == 0) {
        static thread_local std::string hex;
        out += RecordHex(index, hex);
        return;
    }
    // Values are read straight from the record's bytes, without its hex.
    const uint8_t* record = Record(FEntries[static_cast<size_t>(index)]);
    AppendRecordValuesText(*type, record, record[1], out);
}

std::string TEventList::AsciiHeader(int index) const
{
    if (HasObject(index))
        return FObjects[static_cast<size_t>(index)]->AsciiHeader();
    // Titles may depend on the record's values (a filter named by another value), so the event is
    // decoded, but only for this call: keeping it would give every record a slot for an object.
    TEvenement event(FOwner);
    std::string hex;
    event.SetRecordHex(RecordHex(index, hex));
    return event.AsciiHeader();
}

std::string TEventList::SymbolString(int index) const
{
    if (HasObject(index))
        return FObjects[static_cast<size_t>(index)]->SymbolString();
    // A record of the image is finished and never empty.
    if (ErrorKind(index) != EVT_NO_ERROR)
        return "-";
    const TScnType* type = ScnType(index);
    return type != nullptr ? type->Extension : "???";
}
