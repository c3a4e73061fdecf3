#pragma once
// Memory image of the simulated instrument: its 256-byte parameter block and its stored records,
// plus the helpers that build records, frames and data files from bytes (used by the simulator
// itself and by the tests that drive the station against it).
#include <cstdint>
#include <string>
#include <vector>

namespace zsim {

using Bytes = std::vector<uint8_t>;

struct RecordDate {
  int year = 2026, month = 1, day = 1, hour = 0, minute = 0, second = 0;
};

struct Image {
  Bytes param;                  // exactly 256 bytes
  std::vector<Bytes> records;   // newest first, as the instrument sends them
};

// Upper-case hex text of bytes, two digits per byte.
std::string ToHex(const Bytes& bytes);
// XOR of every character of the text, as two upper-case hex digits.
std::string FrameCheck(const std::string& text);

// Event frame of one record: STX "1" hex ETB check.
std::string EventFrame(const Bytes& record);
// Reply frame: STX letter+payload ETB check.
std::string ReplyFrame(const std::string& letterAndPayload);

// A record [code][length][variant][sequence][date 6 bytes as decimal-in-hex][payload][0xFE][length].
Bytes MakeRecord(uint8_t code, const RecordDate& date, const Bytes& payload, uint8_t variant = 0,
                 uint8_t sequence = 0);
// A record of erased memory (code 0xFF), as the instrument sends past its last record.
Bytes EmptyRecord();
// Parameter block with the instrument type in byte 0 and the identifier in bytes 128-135.
Bytes MakeParamBlock(uint8_t type, const std::string& identifier);

// Parses a data-file image: 256 bytes of parameters, then framed records. Records keep the file's
// order. Returns false when the image is shorter than the parameter block.
bool ParseDataFile(const Bytes& file, Image& out);
// Bytes of a data file holding the image (parameter block, then the records in order).
Bytes BuildDataFile(const Image& image);
bool ReadFile(const std::string& path, Bytes& out);
bool WriteFile(const std::string& path, const Bytes& bytes);

// Record date read from bytes 4-9 (0 when absent), as a sortable number yymmddhhmmss.
int64_t RecordSortKey(const Bytes& record);
// Orders the records newest first (stable for equal dates).
void SortNewestFirst(Image& image);

// The image the simulator plays when no data file is given: a small sun photometer with `count`
// measurements ending shortly before `now` (seconds since the epoch, UTC).
Image DefaultImage(int64_t now, int count = 12);

}  // namespace zsim
