#include "common/Evenement.h"

#include "common/Q5File.h"

#include "common/Instrument.h"
#include "common/ScnElement.h"
#include "common/ScnType.h"

int HexPairAsDecimal(const std::string& hex, size_t pos)
{
    if (pos + 2 > hex.size())
        return -1;
    const char a = hex[pos], b = hex[pos + 1];
    if (a < '0' || a > '9' || b < '0' || b > '9')
        return -1;
    return (a - '0') * 10 + (b - '0');
}

TEvenement::TEvenement(TQ5File* owner) : Q5File(owner) {}

TEvenement::~TEvenement() = default;

std::string TEvenement::FrameChecksum(const std::string& text)
{
    uint8_t x = 0;
    for (char c : text)
        x ^= static_cast<uint8_t>(c);
    return ByteToHex(x);
}

std::string TEvenement::BuildFrame(const std::string& recordHex)
{
    std::string frame;
    frame.reserve(recordHex.size() + 5);
    frame += STX;
    frame += '1';
    frame += recordHex;
    frame += ETB;
    frame += FrameChecksum(frame);
    return frame;
}

void TEvenement::SetEvt(const std::string& frame)
{
    FEvt = frame;
    const size_t stx = FEvt.find(STX);
    if (stx == std::string::npos)
        return;
    if (stx > 0)
        FEvt.erase(0, stx);
    const size_t etb = FEvt.find(ETB);
    if (etb == std::string::npos)
        return;
    if (FEvt.size() - etb - 1 < 2)
        return;
    Finished = 1;
    uint8_t x = 0;
    for (size_t i = 0; i <= etb; ++i)
        x ^= static_cast<uint8_t>(FEvt[i]);
    char expected[2];
    ByteToHex(x, expected);
    if (FEvt[etb + 1] != expected[0] || FEvt[etb + 2] != expected[1]) {
        ErrorKind = EVT_BAD_CHECKSUM;
        BadChecksum = 1;
        return;
    }
    FEvt.erase(etb);
    FEvt.erase(0, std::min<size_t>(2, FEvt.size()));
    FEvt.shrink_to_fit();
    Decode();
}

void TEvenement::SetRecordHex(std::string recordHex)
{
    FEvt = std::move(recordHex);
    Finished = 1;
    Decode();
}

void CheckRecordHex(const std::string& hex, TRecordCheck& check)
{
    check = TRecordCheck();
    const size_t n = hex.size();
    if (n <= 5) {
        check.ErrorKind = EVT_TOO_SHORT;
        return;
    }
    const uint8_t code = HexToByte(hex);
    check.Code = static_cast<int8_t>(code);
    if (code == 0xFF) {
        check.Valid = 1;
        return;
    }
    check.Empty = 0;
    check.Length = HexCharToNibble(hex[2]) << 4 | HexCharToNibble(hex[3]);
    if (static_cast<size_t>(check.Length) != n / 2)
        check.ErrorKind = EVT_BAD_SIZE;
    else if ((HexCharToNibble(hex[n - 2]) << 4 | HexCharToNibble(hex[n - 1])) != check.Length)
        check.ErrorKind = EVT_BAD_SIZE_CHECK;
    else if (hex.compare(n - 4, 2, "FE") != 0)
        check.ErrorKind = EVT_END_CORRUPTED;
    else
        check.Valid = 1;
}

void CheckRecordBytes(const uint8_t* record, size_t size, TRecordCheck& check)
{
    // What CheckRecordHex finds in the hex of these bytes (two characters a byte).
    check = TRecordCheck();
    if (size <= 2) {
        check.ErrorKind = EVT_TOO_SHORT;
        return;
    }
    check.Code = static_cast<int8_t>(record[0]);
    if (record[0] == 0xFF) {
        check.Valid = 1;
        return;
    }
    check.Empty = 0;
    check.Length = record[1];
    if (static_cast<size_t>(check.Length) != size)
        check.ErrorKind = EVT_BAD_SIZE;
    else if (record[size - 1] != check.Length)
        check.ErrorKind = EVT_BAD_SIZE_CHECK;
    else if (record[size - 2] != 0xFE)
        check.ErrorKind = EVT_END_CORRUPTED;
    else
        check.Valid = 1;
}

double RecordHexDate(const std::string& hex)
{
    int v[6];
    for (int i = 0; i < 6; ++i)
        v[i] = HexPairAsDecimal(hex, static_cast<size_t>(8 + 2 * i));
    const int year = ExpandYear(v[0]);
    if (year < 1980 || year > 2049 || v[1] < 1 || v[1] > 12 || v[2] < 1 || v[2] > 31 || v[3] < 0 || v[3] > 23
        || v[4] < 0 || v[4] > 59 || v[5] < 0 || v[5] > 59)
        return 0;
    double date = 0;
    if (TryEncodeDateTime(year, v[1], v[2], v[3], v[4], v[5], 0, date))
        return date;
    return 0;
}

void TEvenement::Decode()
{
    TRecordCheck check;
    CheckRecordHex(FEvt, check);
    Valid = check.Valid;
    ErrorKind = check.ErrorKind;
    if (FEvt.size() <= 5)
        return;
    Code = check.Code;
    Empty = check.Empty;
    if (check.Empty)
        return;
    Length = check.Length;
    if (!Valid)
        return;
    if (gListScn != nullptr)
        ScnType = gListScn->FindType(FEvt, Q5File != nullptr ? Q5File->InstrumentId : std::string());
    Date = RecordHexDate(FEvt);
    // Elements are built for undated events too, when first asked for.
    FElementsBuilt = ScnType == nullptr ? 1 : 0;
}

void TEvenement::BuildElements()
{
    // Marked first: the element list is complete before any filter is resolved against it.
    FElementsBuilt = 1;
    if (ScnType == nullptr)
        return;
    for (int i = 0; i < ScnType->Count(); ++i)
        if (TScnElement* element = CreateScnElement((*ScnType)[i], this, FEvt))
            Add(element);
    // A filter may be taken from a sibling value listed after the measurement.
    if (const TInstrument* instrument = Q5File != nullptr ? Q5File->Instrument : nullptr)
        for (TScnElement* element : FItems)
            element->ResolveFilter(instrument);
}

void TEvenement::ReleaseElements()
{
    if (!FElementsBuilt)
        return;
    TObjList<TScnElement>::Clear();
    FElementsBuilt = ScnType == nullptr ? 1 : 0;
}

std::string TEvenement::DescString() const
{
    if (!Finished)
        return "Not finished event.";
    switch (ErrorKind) {
    case EVT_TOO_SHORT: return "Too short event.";
    case EVT_BAD_SIZE: return "Event has an incorrect size.";
    case EVT_BAD_SIZE_CHECK: return "Bad size check event.";
    case EVT_BAD_CHECKSUM: return "Bad checksum event.";
    case EVT_END_CORRUPTED: return "End of data corrupted event.";
    default: break;
    }
    if (Empty)
        return "Empty event (0xFF).";
    if (Date == 0)
        return "Event is not dated.";
    std::string text = ShortDateText(Date) + " " + TimeText(Date) + " : ";
    if (ScnType != nullptr)
        return text + ScnType->Description;
    return text + "Unknow event.";
}

std::string TEvenement::SymbolString() const
{
    if (!Finished || ErrorKind != EVT_NO_ERROR)
        return "-";
    if (Empty)
        return "INI";
    if (ScnType != nullptr)
        return ScnType->Extension;
    return "???";
}

std::string TEvenement::AsciiString() const
{
    std::string text;
    AppendAsciiString(text);
    return text;
}

void TEvenement::AppendAsciiString(std::string& out) const
{
    if (ScnType == nullptr || ScnType->Count() == 0) {
        out += FEvt;
        return;
    }
    if (!FElementsBuilt) {
        // The texts straight from the record, without building the elements.
        AppendRecordValuesText(*ScnType, FEvt, out);
        return;
    }
    const std::string& sep = gListScn != nullptr ? gListScn->SepList : std::string(",");
    for (int i = 0; i < Count(); ++i) {
        if (i > 0)
            out += sep;
        out += Items(i)->GetASCIIString();
    }
}

std::string TEvenement::AsciiHeader() const
{
    std::string text;
    if (ScnType == nullptr)
        return text;
    const std::string sep = gListScn != nullptr ? gListScn->SepList : std::string(",");
    for (int i = 0; i < Count(); ++i) {
        if (i > 0)
            text += sep;
        text += Items(i)->GetTitle();
    }
    return text;
}

void TEvenement::ResolveFilters()
{
    // Elements not built yet resolve against the file's instrument when they are built.
    const TInstrument* instrument = Q5File != nullptr ? Q5File->Instrument : nullptr;
    if (instrument == nullptr || !FElementsBuilt)
        return;
    for (TScnElement* element : *this)
        element->ResolveFilter(instrument);
}
