#include "common/analysis/PlugInEntry.h"

#include <algorithm>
#include <cstring>

#include "common/DecimalSep.h"
#include "common/PlugInterface.h"
#include "common/ScnType.h"

const unsigned char* CopyToShortString(const char* text, unsigned char* buffer) {
  const size_t n = std::min<size_t>(std::strlen(text), 255);
  buffer[0] = static_cast<unsigned char>(n);
  std::memcpy(buffer + 1, text, n);
  return buffer;
}

bool AcceptPlugInContext(const TPlugInContext* context) {
  uint32_t abi = 0;
  std::memcpy(&abi, context->Reserved, sizeof abi);
  if (abi != ZELT_PLUGIN_ABI) return false;
  const auto* list = static_cast<const TListScn*>(context->ScnList);
  if (list && !list->SepDec.empty()) SetDecimalSeparator(list->SepDec[0]);
  return true;
}
