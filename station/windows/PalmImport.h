// The handheld's side of the import, without windows: the framed commands, the record count, the
// strict decoding of a block reply and the assembly of one record into a Q5 image.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

class TQ5File;

constexpr int PalmBlockSize = 256;
constexpr int PalmBlockCount = 128;                       // a record is at most 128 blocks
constexpr int PalmImageSize = PalmBlockSize * PalmBlockCount;  // 32768
constexpr int PalmBlockHexLength = 2 * PalmBlockSize;     // 512 hex digits a block
// The record number of a block command has four hex digits: no more records can be addressed.
constexpr int PalmMaxRecords = 0xFFFF;

// "RC": the number of records the handheld holds.
std::string PalmRecordCountCommand();
// "GR" + record + block, each as four lower-case hex digits.
std::string PalmBlockCommand(int record, int block);
// The record count of an "RC" reply: decimal digits only (0 otherwise), capped at PalmMaxRecords.
int PalmParseRecordCount(const std::string& reply);
// Decodes a block reply into 256 bytes. False unless it is exactly 512 hex digits (out untouched).
bool PalmDecodeBlock(const std::string& reply, uint8_t* out);

// One record being read block after block into a 32768-byte image of erased memory (0xFF).
class TPalmRecordReader {
public:
    enum TStoreResult { More, Complete, BadBlock };

    TPalmRecordReader();
    ~TPalmRecordReader();
    TPalmRecordReader(const TPalmRecordReader&) = delete;
    TPalmRecordReader& operator=(const TPalmRecordReader&) = delete;

    // Stores the reply as block NextBlock(). Complete after the last block or after two erased blocks
    // in a row; BadBlock (nothing stored) for a reply that is not one whole block.
    TStoreResult StoreBlock(const std::string& reply);
    int NextBlock() const { return FNextBlock; }
    int EmptyCount() const { return FEmptyCount; }
    // The working data file; its image is the whole 32768 bytes.
    TQ5File& File() { return *FFile; }

private:
    std::unique_ptr<TQ5File> FFile;
    int FNextBlock = 0;
    int FEmptyCount = 0;
};

// What a record's parameter block says about it, for its list row.
struct TPalmRecordInfo {
    std::string Number = "?";   // station parameter "NNUM"
    std::string Country = "?";  // "NCOU"
    std::string District = "?"; // "NDIS"
    std::string InstrumentType = "?";
};

// One list row: the record's parameter block in an owned data file.
class TRecordDescription {
public:
    TRecordDescription();
    ~TRecordDescription();
    TRecordDescription(const TRecordDescription&) = delete;
    TRecordDescription& operator=(const TRecordDescription&) = delete;

    // Takes the header reply as parameter block and decodes it with the PAR files of parDirectory.
    TPalmRecordInfo SetHeader(const std::string& reply, const std::string& parDirectory);
    TQ5File& File() { return *FFile; }

private:
    std::unique_ptr<TQ5File> FFile;
};
