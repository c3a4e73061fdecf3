#pragma once
// One measurement record ("event") of the instrument: its frame check, the decoded record header and
// date, its measurement type and one decoded value object per element of that type.
// The plug-ins read these objects in place: keep the fields and their order.
#include <cstdint>
#include <string>

#include "common/Utils.h"

class TScnElement;
class TScnType;
class TQ5File;

constexpr char STX = '\x02';
constexpr char ETB = '\x17';

enum TEvtError : uint8_t {
    EVT_NO_ERROR = 0,
    EVT_TOO_SHORT = 1,
    EVT_BAD_SIZE = 2,
    EVT_BAD_SIZE_CHECK = 3,
    EVT_BAD_CHECKSUM = 4,
    EVT_END_CORRUPTED = 5,
};

class TEvenement : public TObjList<TScnElement> {
public:
    explicit TEvenement(TQ5File* owner);
    ~TEvenement() override;

    // Checks and decodes a frame: text before the first STX is discarded, then STX, one character,
    // the record hex, ETB and two check digits.
    void SetEvt(const std::string& frame);
    const std::string& Evt() const { return FEvt; }   // the record hex once decoded

    std::string DescString() const;
    std::string SymbolString() const;
    std::string AsciiString() const;
    // The same text appended to `out`; values are read straight from the record when the elements
    // are not built (and stay unbuilt).
    void AppendAsciiString(std::string& out) const;
    std::string AsciiHeader() const;
    // XOR of every character of the text, as two upper-case hex digits.
    static std::string FrameChecksum(const std::string& text);
    // What setting the frame of a stored record gives, without building the frame: the record hex of
    // a data file always passes the frame check.
    void SetRecordHex(std::string recordHex);
    // Builds the frame of a record hex: STX "1" hex ETB check.
    static std::string BuildFrame(const std::string& recordHex);
    void ResolveFilters();

    // The element list. Elements are decoded on first use, so that a large file holds only its records
    // until its values are asked for; every access below sees the whole list.
    int Count() const
    {
        EnsureElements();
        return TObjList<TScnElement>::Count();
    }
    TScnElement* Items(int index) const
    {
        EnsureElements();
        return TObjList<TScnElement>::Items(index);
    }
    TScnElement* operator[](int index) const { return Items(index); }
    std::vector<TScnElement*>::const_iterator begin() const
    {
        EnsureElements();
        return FItems.begin();
    }
    std::vector<TScnElement*>::const_iterator end() const
    {
        EnsureElements();
        return FItems.end();
    }
    bool ElementsBuilt() const { return FElementsBuilt != 0; }
    // Frees the decoded elements; they are decoded again when next asked for.
    void ReleaseElements();

    bool IsDated() const { return Date != 0; }
    int RecordSize() const { return static_cast<int>(FEvt.size() / 2); }

    // Fields, in this order.
    std::string FEvt;
    uint8_t Finished = 0;
    uint8_t Valid = 0;
    uint8_t BadChecksum = 0;
    double Date = 0;
    int8_t Code = 0;
    int32_t Length = 0;
    uint8_t Empty = 1;
    uint8_t ErrorKind = EVT_NO_ERROR;
    TScnType* ScnType = nullptr;
    TQ5File* Q5File = nullptr;

private:
    void Decode();
    void EnsureElements() const
    {
        if (!FElementsBuilt)
            const_cast<TEvenement*>(this)->BuildElements();
    }
    void BuildElements();

    uint8_t FElementsBuilt = 1;   // nothing to build until a decode finds a type
};

// What the structure checks of an event find in a record hex (the fields of the same names).
struct TRecordCheck {
    uint8_t Valid = 0;
    uint8_t Empty = 1;
    uint8_t ErrorKind = EVT_NO_ERROR;
    int8_t Code = 0;
    int32_t Length = 0;
};
void CheckRecordHex(const std::string& hex, TRecordCheck& check);
// The same for a record's bytes (`size` of them), without its hex text.
void CheckRecordBytes(const uint8_t* record, size_t size, TRecordCheck& check);
// The date of a record hex (bytes 4-9), 0 when it is not dated.
double RecordHexDate(const std::string& hex);

// Two hex characters at a character position read as a decimal number ("25" -> 25), -1 when they are
// not two decimal digits or lie past the end.
int HexPairAsDecimal(const std::string& hex, size_t pos);
