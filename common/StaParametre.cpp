#include "common/StaParametre.h"

#include <QString>
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "common/DataPaths.h"
#include "common/DecimalSep.h"
#include "common/FileUtils.h"
#include "common/Prompt.h"
#include "common/ScnElement.h"
#include "common/ScnType.h"
#include "common/Utils.h"
#include "common/Zelt.h"

namespace {

char SystemSeparator() { return DecimalSeparator(); }

// A number typed by the user, in the system's format.
bool ParseSystemNumber(const std::string& text, double& value) {
  return TryStrToFloat(text, value) && std::isfinite(value);
}

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Byte count of a field: bit count / 8, at least 1.
size_t FieldBytes(int32_t bitCount) { return static_cast<size_t>(std::max(1, bitCount / 8)); }

}  // namespace

// ---- PAR file lines ------------------------------------------------------------------------------------

void TParFileLine::SetMin(int32_t raw) {
  Min = raw;
  MinValue = RawToValue(raw);
}

void TParFileLine::SetMax(int32_t raw) {
  Max = raw;
  MaxValue = RawToValue(raw);
}

double TParFileLine::RawToValue(double raw) const {
  double value = raw - Offset;
  if (Multiplier != 0) value *= Multiplier;
  if (Divisor != 0) value /= Divisor;
  return value;
}

bool TParFileLine::DecodeValue(const std::string& block, double& value) const {
  if (BytePos < 0 || BitCount < 0 || BitCount > 32 || Shift < 0) return false;
  size_t digits = FieldBytes(BitCount) * 2;
  uint64_t r = 0;
  if (!desc::HexValueAt(block, static_cast<size_t>(BytePos) * 2, digits, r)) return false;
  uint64_t mask = BitCount <= 1 ? 1u : (BitCount >= 32 ? 0xFFFFFFFFull : ((1ull << BitCount) - 1));
  uint64_t raw = Shift >= 64 ? 0 : (r >> Shift) & mask;
  value = RawToValue(static_cast<double>(raw));
  return true;
}

double TParFileLine::DecodeValue(const std::string& block) const {
  double value = 0.0;
  return DecodeValue(block, value) ? value : 0.0;
}

void TParFileLine::EncodeValue(std::string& buffer, double value) const {
  if (BytePos < 0 || Shift < 0 || Shift >= 64 || !std::isfinite(value)) return;
  size_t digits = FieldBytes(BitCount) * 2;
  size_t start = static_cast<size_t>(BytePos) * 2;
  if (start > buffer.size() || buffer.size() - start < digits) return;
  double t = value;
  if (Divisor != 0) t *= Divisor;
  if (Multiplier != 0) t /= Multiplier;
  // A typed 4.35 times 100 is 434.99999999999994: take it as the whole number it stands for.
  double nearest = std::round(t);
  t = std::fabs(t - nearest) < 1e-6 ? nearest : std::trunc(t);
  t = std::clamp(t, -9.0e15, 9.0e15);
  uint64_t raw = static_cast<uint64_t>(static_cast<int64_t>(t) + Offset) << Shift;
  for (size_t i = 0; i < digits; ++i) {
    unsigned shift = static_cast<unsigned>(4 * (digits - 1 - i));
    int digit = shift >= 64 ? 0 : static_cast<int>((raw >> shift) & 0xF);
    char& place = buffer[start + i];
    if (place != '\0') digit |= std::max(0, HexDigitValue(place));
    place = "0123456789ABCDEF"[digit];
  }
}

// ---- PAR files ---------------------------------------------------------------------------------------

bool TParFile::LoadFromFile(const std::string& path) {
  Title.clear();
  Text.clear();
  Lines.clear();
  State = STATE_MISSING;
  std::string text;
  if (!desc::ReadFile(path, text)) return false;
  LoadFromText(text);
  return true;
}

void TParFile::LoadFromText(const std::string& text) {
  State = STATE_MISSING;
  uint8_t fault = STATE_READ;
  for (const std::string& line : desc::SplitLines(text)) {
    if (line.empty()) continue;
    if (line[0] == '0') {
      Title.clear();
      for (char c : line)
        if (c != ' ' && c != '\t') Title += c;
    } else if (line[0] == 'T') {
      Text = line.substr(1);
    } else if (line[0] == 'P') {
      std::vector<std::string> f = desc::SplitFields(line, " \t", true);
      if (f.size() != 14) {
        if (fault == STATE_READ) fault = STATE_BAD_FIELD_COUNT;
        continue;
      }
      auto parLine = std::make_unique<TParFileLine>();
      parLine->Name = f[1];
      parLine->NameID = f[2];
      int32_t n[10];
      bool numbers = true;
      for (int i = 0; i < 10 && numbers; ++i) numbers = desc::ParseInteger(f[3 + i], n[i]);
      // A field the block cannot hold would decode as nonsense: treat it as a bad number.
      if (numbers) numbers = n[1] >= 0 && n[2] >= 0 && n[2] <= 32 && n[3] >= 0 && n[3] < 64;
      if (!numbers) {
        if (fault == STATE_READ) fault = STATE_BAD_NUMBER;
        continue;
      }
      parLine->Extra = n[0];
      parLine->BytePos = n[1];
      parLine->BitCount = n[2];
      parLine->Shift = n[3];
      parLine->Offset = n[6];
      parLine->Multiplier = n[7];
      parLine->Divisor = n[8];
      parLine->SetMin(n[4]);
      parLine->SetMax(n[5]);
      parLine->Precision = n[9];
      parLine->Kind = f[13].empty() ? 'D' : f[13][0];
      Lines.push_back(std::move(parLine));
    }
  }
  State = fault;
}

// ---- parameters --------------------------------------------------------------------------------------

std::string TStaParametre::GetValueText() const {
  if (Code == "NHEU") {
    double whole = std::clamp(std::trunc(Value), -1e15, 1e15);
    return (whole >= 0 ? "E" : "W") + std::to_string(static_cast<int64_t>(std::fabs(whole)));
  }
  switch (DisplayKind) {
    case PARAM_YESNO: return Value == 0.0 ? "No" : "Yes";
    case PARAM_DECIMAL: return FormatFixedDigits(Value, Precision, 8, SystemSeparator());
    case PARAM_SIGNED:
      return (Value >= 0.0 ? "+" : "") + FormatFixedDigits(Value, Precision, 8, SystemSeparator());
    case PARAM_HEX: {
      int digits = Desc ? std::clamp(Desc->BitCount / 4, 0, 8) : 0;
      double whole = std::clamp(std::trunc(Value), -2147483648.0, 4294967295.0);
      uint32_t bits = static_cast<uint32_t>(static_cast<int64_t>(whole));
      char text[32];
      std::snprintf(text, sizeof text, "%0*X", digits, static_cast<unsigned>(bits));
      return text;
    }
    default: return FormatFixedDigits(Value, Precision, 8, SystemSeparator());
  }
}

int32_t TStaParametre::SetValueText(const std::string& text) {
  double value = 0.0;
  if (DisplayKind == PARAM_HEX) {
    std::string t = Trim(text);
    size_t count = 0;
    uint32_t raw = 0;
    while (count < t.size() && count < 4 && HexDigitValue(t[count]) >= 0)
      raw = (raw << 4) | static_cast<uint32_t>(HexDigitValue(t[count++]));
    if (count == 0) return PARAM_SET_INVALID;
    value = raw;
  } else if (!ParseSystemNumber(text, value)) {
    return PARAM_SET_INVALID;
  }
  if (value < Min) return PARAM_SET_TOO_LOW;
  if (value > Max) return PARAM_SET_TOO_HIGH;
  if (!Desc) {
    Value = value;
    return PARAM_SET_OK;
  }
  // Store what the field can hold.
  std::string buffer(PARAM_BLOCK_HEX_LENGTH, '\0');
  Desc->EncodeValue(buffer, value);
  double stored = 0.0;
  Value = Desc->DecodeValue(buffer, stored) ? stored : value;
  return PARAM_SET_OK;
}

void TStaParametre::StoreInBlock(std::string& buffer) const {
  if (Desc) Desc->EncodeValue(buffer, Value);
}

TStaParametre* TParamsList::FindByNameID(const std::string& code) const {
  for (const auto& parameter : Items)
    if (parameter->Code == code) return parameter.get();
  return nullptr;
}

// ---- decoder -----------------------------------------------------------------------------------------

namespace {

// The file of that name in the folder: exact first, then without case (names typed on other systems).
std::string FindInFolder(const std::string& folder, const std::string& name) {
  std::string exact = folder + name;
  if (FileExists(BytesToPath(exact))) return exact;
  for (const auto& found : ListFiles(BytesToPath(folder.empty() ? "." : folder), name)) {
    std::string foundName = PathToBytes(found.filename());
    if (UpperCase(foundName) == UpperCase(name)) return folder + foundName;
  }
  return exact;
}

// The target "ParCorSP.dat" gives for a missing PAR file name, or empty.
std::string AliasTarget(const std::string& folder, const std::string& parName) {
  std::string text;
  if (!desc::ReadFile(FindInFolder(folder, "ParCorSP.dat"), text)) return {};
  std::string wanted = UpperCase(parName);
  for (const std::string& line : desc::SplitLines(text)) {
    std::vector<std::string> f = desc::SplitFields(line, "|");
    if (f.empty() || f[0].empty()) continue;
    for (size_t i = 1; i < f.size(); ++i)
      if (f[i] == wanted) return f[0];
  }
  return {};
}

void ApplyDescriptions(const std::string& folder, TParamsList& list) {
  std::string text;
  if (!desc::ReadFile(FindInFolder(folder, "ParDesc.dat"), text)) return;
  std::vector<std::vector<std::string>> rows;
  for (const std::string& line : desc::SplitLines(text)) rows.push_back(desc::SplitFields(line, "|"));
  for (const auto& parameter : list.Items) {
    for (const auto& row : rows) {
      if (row.empty() || row[0] != parameter->Code) continue;
      parameter->System = row.size() > 1 && row[1] == "SYSTEM";
      parameter->DescText = row.size() > 2 ? row[2] : std::string();
      break;
    }
  }
}

uint8_t DisplayKindOf(const TParFileLine& line) {
  switch (line.Kind) {
    case 'B':
    case 'b': return PARAM_YESNO;
    case 'D':
    case 'd':
    case 'S':
    case 's': return line.Offset != 0 ? PARAM_SIGNED : PARAM_DECIMAL;
    case 'H':
    case 'h': return PARAM_HEX;
    default:
      ShowWarning(std::string(" Unknown Kind ") + line.Kind);
      return PARAM_DECIMAL;
  }
}

}  // namespace

TParamsList* TDecodDorax::Decode(const std::string& paramBloc, const std::string& instrumentId,
                                 const std::string& parDirectory) {
  ErrorKind = ERR_NONE;
  std::string folder = parDirectory.empty() ? std::string() : IncludeTrailingSlash(parDirectory);
  std::string parName = instrumentId + ".PAR";
  ParFileName = folder + parName;
  Detail = ParFileName;
  // The identifier comes from the data file: it never names a file outside the folder.
  if (instrumentId.empty() || instrumentId.find_first_of(std::string("/\0", 2)) != std::string::npos) {
    ErrorKind = ERR_NO_PAR;
    return nullptr;
  }
  std::string path = FindInFolder(folder, parName);
  if (!FileExists(BytesToPath(path))) {
    std::string target = AliasTarget(folder, parName);
    if (!target.empty() && target.find('/') == std::string::npos) path = FindInFolder(folder, target);
  }
  Detail = path;

  auto parFile = std::make_shared<TParFile>();
  if (!parFile->LoadFromFile(path)) {
    ErrorKind = ERR_NO_PAR;
    return nullptr;
  }
  if (parFile->State != TParFile::STATE_READ) {
    ErrorKind = ERR_BAD_PAR;
    return nullptr;
  }

  auto list = std::make_unique<TParamsList>();
  list->ParFile = parFile;
  for (const auto& line : parFile->Lines) {
    double value = 0.0;
    if (!line->DecodeValue(paramBloc, value)) continue;  // outside a short block: absent
    auto parameter = std::make_unique<TStaParametre>();
    parameter->Desc = line.get();
    parameter->Value = value;
    parameter->Name = line->Name;
    parameter->Code = line->NameID;
    parameter->Precision = line->Precision;
    parameter->Min = line->MinValue;
    parameter->Max = line->MaxValue;
    parameter->DisplayKind = DisplayKindOf(*line);
    list->Items.push_back(std::move(parameter));
  }
  ApplyDescriptions(folder, *list);
  return list.release();
}

TParamsList* TDecodDorax::Decode(const std::string& paramBloc, const std::string& instrumentId) {
  std::string directory = gZELT ? gZELT->PARDirectory() : PathToBytes(InstalledDataDir());
  return Decode(paramBloc, instrumentId, directory);
}

QString TDecodDorax::ErrorText() const {
  if (ErrorKind == ERR_NO_PAR || ErrorKind == ERR_BAD_PAR)
    return TextWithFileName("", Detail, ErrorString().substr(Detail.size()));
  return AnsiToQString(ErrorString());
}

std::string TDecodDorax::ErrorString() const {
  switch (ErrorKind) {
    case ERR_BLOCK: return "Invalid parameters blocks";
    case ERR_NO_PAR: return Detail + "\nUnable to load the parameters description file (PAR file)";
    case ERR_BAD_PAR: return Detail + "\nError while opening the parameters description file";
    default: return "Unknown error!";
  }
}
