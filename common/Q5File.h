#pragma once
// One Q5 data file in memory: the 256-byte parameter block of the instrument, the two header dates and
// the instrument's records as decoded events. Built from a file, filled by a download, rebuilt into a
// byte image, saved, merged and exported. The plug-ins read it in place: keep the fields and their order.
//
// On disk: bytes 0-255 the parameter block (byte 0 instrument type, 128-135 the identifier when they begin
// with "SP", 144-149 the instrument clock and 150-155 the PC's UTC at download: year - 1900, month, day,
// hour, minute, second); from byte 256 the records [code][length][data...][0xFE][length]; 0xFF is erased
// memory.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/EventList.h"
#include "common/Evenement.h"
#include "common/Utils.h"

class TInstrument;

constexpr int Q5ParamBlockSize = 256;

class TQ5File {
public:
    TQ5File();
    // Loads the file when it exists; a file that cannot be opened gives a warning and an empty object.
    explicit TQ5File(const std::string& fileName);
    TQ5File(const TQ5File&) = delete;
    TQ5File& operator=(const TQ5File&) = delete;
    virtual ~TQ5File();

    // Decodes the image: header dates and records. False for an image shorter than 256 bytes.
    bool Parse();
    // Parses a copy of the bytes (what a file holds); the entry point for checks of raw data.
    bool LoadFromBytes(const uint8_t* data, size_t size);
    // Makes the image from ParamBloc, the header dates and the events. False when ParamBloc is empty.
    bool Rebuild();
    // Writes the image (the folder is created when missing) through a temporary file renamed over the
    // target, so a failure never leaves a half-written file. False without an image or on any failure.
    bool SaveToFile(const std::string& name);
    void Assign(TQ5File* other);
    void Clear();
    void SetDownloadTimes(bool secondsKnown, double instrumentClock);
    bool AttachInstrument(TInstrument* instrument);
    void ApplyParameterTemplate(const std::string& templ);

    bool RemoveDuplicate();
    void RemoveInvalidEvents();
    bool HasEventAt(const TEvenement* event) const;
    bool MergeRange(TQ5File* other, double from, double to);
    bool MergeAll(TQ5File* other);

    // ASCII export (common/AsciiExport.cpp): one file per measurement type. ExportAsciiFiles writes fresh
    // files named after `name` with each type's extension; ExportAscii merges into the period files of
    // `base` (modes of TAsciiPeriod), false for an unknown mode. Both return false when a file could not
    // be written (the others are still written; none is left half-written).
    bool ExportAsciiFiles(const std::string& name, bool withHeader);
    // The files ExportAsciiFiles would write for `name`, in order of first appearance.
    std::vector<std::string> AsciiFileNames(const std::string& name) const;
    bool ExportAscii(const std::string& base, int periodMode, bool withHeader);

    int DataSize() const;   // hex characters of every record (bytes are half of it); a running total
    int NbEvt() const;      // events that are valid and not empty records; a running total
    const std::string& ParamBloc() const { return FParamBloc; }
    void SetParamBloc(const std::string& value);
    std::string InstruName() const;

    // Fields, in this order.
    std::unique_ptr<uint8_t[]> Image;
    std::string FileName;
    int32_t ImageLength = 0;
    TEventList Events{this};
    std::string FParamBloc;
    uint8_t SecondsKnown = 0;
    double InstrumentClock = 0;
    double PcUtc = 0;
    uint8_t InstrumentType = 0;
    std::string InstrumentId;
    TInstrument* Instrument = nullptr;
    uint8_t TooShort = 0;
    // Where the records stop short of the end of the image Parse read: the offset of a record that runs
    // past the end (a file cut short, or a damaged length), whose bytes and all after it were left; -1
    // when the records reach the end or are followed by erased memory only.
    int32_t UnfinishedRecordAt = -1;

private:
    bool MergeWhere(TQ5File* other, double from, double to);
};
