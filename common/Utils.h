#pragma once
// Free functions shared by every unit of the station program and compiled into the plug-ins.
// The message boxes are in common/Prompt.h.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/DateTime.h"
#include "common/DecimalSep.h"

class QWidget;

// The class library's pointer list that owns its objects: Delete and Clear free them, Extract hands one
// back without freeing it. Derived classes keep their own fields after the list.
template <class T>
class TObjList {
public:
    TObjList() = default;
    TObjList(const TObjList&) = delete;
    TObjList& operator=(const TObjList&) = delete;
    virtual ~TObjList() { Clear(); }

    int Count() const { return static_cast<int>(FItems.size()); }
    T* Items(int index) const { return FItems[static_cast<size_t>(index)]; }
    T* operator[](int index) const { return Items(index); }
    int Add(T* item)
    {
        FItems.push_back(item);
        return Count() - 1;
    }
    void Insert(int index, T* item) { FItems.insert(FItems.begin() + index, item); }
    int IndexOf(const T* item) const
    {
        const auto it = std::find(FItems.begin(), FItems.end(), item);
        return it == FItems.end() ? -1 : static_cast<int>(it - FItems.begin());
    }
    void Delete(int index)
    {
        T* item = FItems[static_cast<size_t>(index)];
        FItems.erase(FItems.begin() + index);
        delete item;
    }
    T* Extract(int index)
    {
        T* item = FItems[static_cast<size_t>(index)];
        FItems.erase(FItems.begin() + index);
        return item;
    }
    void Clear()
    {
        std::vector<T*> items;
        items.swap(FItems);
        for (T* item : items)
            delete item;
    }
    typename std::vector<T*>::const_iterator begin() const { return FItems.begin(); }
    typename std::vector<T*>::const_iterator end() const { return FItems.end(); }

protected:
    std::vector<T*> FItems;
};

// Fields between separator characters. Without collapse every separator ends a field (empty fields
// too); with it a run of separators counts as one and a leading separator gives no field. A trailing
// separator adds no empty field. With trim each field is trimmed of blanks and control characters.
std::vector<std::string> SplitString(const std::string& text, char separator, bool collapse, bool trim);
std::string Trim(const std::string& text);   // blanks and control characters at both ends
std::string UpperCase(const std::string& text);   // ASCII letters only
std::string RemoveChars(const std::string& text, const std::string& chars);
void ReplaceChar(std::string& text, char from, char to);
// "." or "," as decimal point, whichever the text uses; throws std::invalid_argument on bad text.
double StrToFloatAnySep(const std::string& text);

char NibbleToHexChar(int nibble);
int HexCharToNibble(char c);             // 0 for a character that is not a hex digit
bool IsHexDigit(char c);
void ByteToHex(uint8_t value, char* out);   // two upper-case digits, no terminator
std::string ByteToHex(uint8_t value);
std::string BytesToHex(const uint8_t* bytes, size_t count);   // upper-case, two digits a byte
void BytesToHexInto(const uint8_t* bytes, size_t count, std::string& out);   // the same, reusing `out`
uint8_t HexToByte(const std::string& text);     // 0 for a text shorter than 2
uint16_t HexToWord(const std::string& text);    // up to the first four digits
uint32_t HexToInt(const char* text, int count);   // up to the first count digits of a NUL-terminated text
// Bytes below 0x20 or from 0x7F, "|" itself, or every byte with allHex, as "|%02X"; "%" doubled.
std::string BytesToPrintable(const uint8_t* bytes, size_t count, bool allHex);

// Adds the path separator ('/' here) unless the path is empty or already ends with one.
std::string IncludeTrailingBackslash(const std::string& path);

// Attribute bits of FindFiles (the values of the original attribute mask).
enum FileAttr : unsigned { faReadOnly = 0x01, faHidden = 0x02, faSysFile = 0x04, faDirectory = 0x10,
                           faArchive = 0x20, faSymLink = 0x40 };
// Sorted names in folder matching mask (* and ?, letters in any case); attributes 0 = any entry, else
// entries having one of the bits. With recurse, the hits of each sub-folder are added as "sub/name".
// Empty for an empty folder text.
std::vector<std::string> FindFiles(const std::string& folder, const std::string& mask, unsigned attributes,
                                   bool recurse);
bool MatchesMask(const std::string& name, const std::string& mask);

// Appends one line ("dd/mm/yyyy,hh:nn:ss.z," local time first with withTimestamp), trimmed, ending CR LF,
// at offset bytes from the end (offset <= 0). Other writers are excluded while it writes; up to 15
// attempts 20 ms apart. False when the file cannot be opened or written.
bool AppendToLogFile(const std::string& path, const std::string& line, bool withTimestamp, long long offset = 0);

bool OpenFileWithShell(const std::string& path);
// Makes the desktop open files of the type (".q5") with program; true when the entries could be written.
bool RegisterFileAssociation(const std::string& type, const std::string& program, int iconIndex,
                             const std::string& description);
// The serial ports of the system, then current when not listed, then extra (a port number, above 0) when
// not listed; sorted by name and number. Returns the count.
int FillComPortList(std::vector<std::string>& list, const std::string& current, int extra);
// "major.minor" of this build (the minor two digits, "0" when 0); build receives the patch number.
std::string GetProductVersionString(const std::string& file, int* build);
void EnableControls(QWidget* container, bool recurse, bool enabled);

// Waits ms milliseconds; with pumpMessages the application's pending events are processed meanwhile
// (its handlers may run during the wait).
void Delay(unsigned ms, bool pumpMessages);
