#pragma once
// Builders of instrument records, event frames and Q5 data-file images in bytes, and a temporary folder,
// for the tests of every part that reads or writes data files.
#include <cstdint>
#include <string>
#include <vector>

namespace q5test {

using Bytes = std::vector<uint8_t>;

struct RecordDate {
    int year = 2025;   // full year; stored as the two last digits
    int month = 6, day = 1, hour = 8, minute = 0, second = 0;
};

// 0x25 for 25: the record date bytes hold each number as two decimal digits of hex.
uint8_t Bcd(int value);

// [code][length][0][0][date][values...][0xFE][length]
Bytes MakeRecord(uint8_t code, const RecordDate& date, const Bytes& values);
// A record with the date bytes given as they stand (for bad dates).
Bytes MakeRecordRawDate(uint8_t code, const Bytes& dateBytes, const Bytes& values);
std::string Hex(const Bytes& bytes);
// STX "1" hex ETB check.
std::string Frame(const std::string& recordHex);
std::string Frame(const Bytes& record);

struct HeaderDate {
    int year = 0;   // 0: absent (month byte 0)
    int month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// 256-byte parameter block: type at byte 0, identifier at 128 (when not empty), clock and PC UTC dates.
Bytes MakeParamBlock(uint8_t type, const std::string& identifier, const HeaderDate& clock = {},
                     const HeaderDate& pcUtc = {});
// Parameter block + records + erasedTail bytes of 0xFF.
Bytes MakeImage(const Bytes& paramBlock, const std::vector<Bytes>& records, size_t erasedTail = 0);

void WriteFile(const std::string& path, const Bytes& bytes);
Bytes ReadFile(const std::string& path);
std::string ReadText(const std::string& path);
void WriteText(const std::string& path, const std::string& text);

// A fresh folder under the system's temporary folder, removed with everything in it at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return FPath; }
    std::string File(const std::string& name) const { return FPath + "/" + name; }

private:
    std::string FPath;
};

}   // namespace q5test
