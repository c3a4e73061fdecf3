// Any bytes as the replies of a handheld, one reply a line: the first answers "RC" (the record count),
// each further one a block: block 0 is decoded as the record's parameter block for its list row, and
// every block goes into the record being read until it is complete. Nothing may crash, hang, write
// outside the 32768-byte image or take more than the bounded number of records and blocks.
#include "common/DataPaths.h"
#include "fuzz/FuzzSupport.h"
#include "station/windows/PalmImport.h"
#include "common/Q5File.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
  LoadFuzzDescriptions();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
  const std::string bytes = FuzzBytes(data, size);
  std::vector<std::string> replies;
  for (size_t at = 0; at <= bytes.size();) {
    const size_t end = bytes.find('\n', at);
    replies.push_back(bytes.substr(at, end == std::string::npos ? std::string::npos : end - at));
    if (end == std::string::npos) break;
    at = end + 1;
  }
  const int count = PalmParseRecordCount(replies[0]);
  if (count < 0 || count > PalmMaxRecords) __builtin_trap();
  if (PalmBlockCommand(count, 127).size() != 10) __builtin_trap();

  static const std::string parDir = InstalledDataDir().string();
  TPalmRecordReader reader;
  TRecordDescription row;
  for (size_t i = 1; i < replies.size(); ++i) {
    uint8_t block[PalmBlockSize];
    const bool whole = PalmDecodeBlock(replies[i], block);
    if (whole != (replies[i].size() == size_t(PalmBlockHexLength) &&
                  replies[i].find_first_not_of("0123456789ABCDEFabcdef") == std::string::npos))
      __builtin_trap();
    if (i == 1 && whole) {
      const TPalmRecordInfo info = row.SetHeader(replies[i], parDir);
      if (info.Number.empty() && info.Country.empty() && info.District.empty() && info.InstrumentType.size() > 64)
        __builtin_trap();
    }
    const TPalmRecordReader::TStoreResult r = reader.StoreBlock(replies[i]);
    if (reader.NextBlock() > PalmBlockCount || reader.File().ImageLength != PalmImageSize) __builtin_trap();
    if (r == TPalmRecordReader::Complete) {
      // The assembled record reads as a data file.
      TQ5File file;
      file.LoadFromBytes(reader.File().Image.get(), size_t(reader.File().ImageLength));
      for (TEvenement* ev : file.Events) ev->AsciiString();
      break;
    }
  }
  return 0;
}
