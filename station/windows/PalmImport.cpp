#include "station/windows/PalmImport.h"

#include "common/Q5File.h"
#include "common/StaParametre.h"

#include <cstdio>
#include <cstring>

std::string PalmRecordCountCommand() { return "RC"; }

std::string PalmBlockCommand(int record, int block)
{
    char text[16];
    std::snprintf(text, sizeof text, "GR%04x%04x", unsigned(record) & 0xFFFFu, unsigned(block) & 0xFFFFu);
    return text;
}

int PalmParseRecordCount(const std::string& reply)
{
    if (reply.empty()) return 0;
    long long count = 0;
    for (char c : reply) {
        if (c < '0' || c > '9') return 0;
        count = count * 10 + (c - '0');
        if (count > PalmMaxRecords) return PalmMaxRecords;
    }
    return int(count);
}

namespace {

int HexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

bool PalmDecodeBlock(const std::string& reply, uint8_t* out)
{
    if (reply.size() != size_t(PalmBlockHexLength)) return false;
    uint8_t bytes[PalmBlockSize];
    for (int i = 0; i < PalmBlockSize; ++i) {
        const int hi = HexDigit(reply[size_t(2 * i)]);
        const int lo = HexDigit(reply[size_t(2 * i + 1)]);
        if (hi < 0 || lo < 0) return false;
        bytes[i] = uint8_t(hi * 16 + lo);
    }
    std::memcpy(out, bytes, sizeof bytes);
    return true;
}

TPalmRecordReader::TPalmRecordReader() : FFile(std::make_unique<TQ5File>())
{
    FFile->Image.reset(new uint8_t[PalmImageSize]);
    FFile->ImageLength = PalmImageSize;
    std::memset(FFile->Image.get(), 0xFF, PalmImageSize);
}

TPalmRecordReader::~TPalmRecordReader() = default;

TPalmRecordReader::TStoreResult TPalmRecordReader::StoreBlock(const std::string& reply)
{
    if (FNextBlock >= PalmBlockCount) return Complete;
    uint8_t block[PalmBlockSize];
    if (!PalmDecodeBlock(reply, block)) return BadBlock;
    std::memcpy(FFile->Image.get() + FNextBlock * PalmBlockSize, block, PalmBlockSize);
    if (FNextBlock == 0) {
        FEmptyCount = 0;
    } else {
        bool erased = true;
        for (uint8_t b : block) erased = erased && b == 0xFF;
        FEmptyCount = erased ? FEmptyCount + 1 : 0;
    }
    ++FNextBlock;
    return FNextBlock >= PalmBlockCount || FEmptyCount >= 2 ? Complete : More;
}

TRecordDescription::TRecordDescription() : FFile(std::make_unique<TQ5File>()) {}

TRecordDescription::~TRecordDescription() = default;

TPalmRecordInfo TRecordDescription::SetHeader(const std::string& reply, const std::string& parDirectory)
{
    TPalmRecordInfo info;
    FFile->SetParamBloc(reply);
    info.InstrumentType = FFile->InstruName();
    TDecodDorax decoder;
    std::unique_ptr<TParamsList> params(decoder.Decode(FFile->ParamBloc(), FFile->InstrumentId, parDirectory));
    if (params) {
        if (TStaParametre* p = params->FindByNameID("NNUM")) info.Number = p->GetValueText();
        if (TStaParametre* p = params->FindByNameID("NCOU")) info.Country = p->GetValueText();
        if (TStaParametre* p = params->FindByNameID("NDIS")) info.District = p->GetValueText();
    }
    return info;
}
