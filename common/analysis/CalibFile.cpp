#include "common/analysis/CalibFile.h"

#include "common/FileUtils.h"
#include "common/analysis/BgrData.h"

std::string ExtractBlankField(const std::string& text, int n, char separator) {
  std::string rest = text;
  for (int i = 0; i < n; ++i) {
    const size_t at = rest.find(separator);
    if (at == std::string::npos) break;
    rest.erase(0, at + 1);
  }
  const size_t at = rest.find(separator);
  return at == std::string::npos ? rest : rest.substr(0, at);
}

std::string NormaliseRealText(const std::string& text, char decimalMark) {
  std::string out;
  bool mark = false, exponent = false, digits = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c >= '0' && c <= '9') {
      out += c;
      digits = true;
    } else if ((c == '-' || c == '+') && (out.empty() || out.back() == 'E')) {
      out += c;
    } else if ((c == '.' || c == ',') && !mark && !exponent) {
      out += decimalMark;
      mark = true;
    } else if ((c == 'e' || c == 'E') && digits && !exponent) {
      out += 'E';
      exponent = true;
    } else if (c == ' ' && out.empty()) {
      continue;
    } else {
      break;
    }
  }
  // An exponent without digits is no part of the number.
  while (!out.empty() && (out.back() == 'E' || ((out.back() == '-' || out.back() == '+') && exponent &&
                                                  out.size() >= 2 && out[out.size() - 2] == 'E'))) {
    if (out.back() == 'E') exponent = false;
    out.pop_back();
  }
  double value = 0;
  return digits && TryReadReal(out, value) ? out : std::string();
}

std::string TCalibFile::FileNameFor(int siteNumber) {
  return CalibrationFolder() + "calibr" + std::to_string(siteNumber) + ".cal";
}

void TCalibFile::Load(int siteNumber) {
  FileName = FileNameFor(siteNumber);
  Dates.clear();
  std::string path = FileName;
  const std::string legacy = LegacyCalibrationFolder();
  if (!FileExists(path) && !legacy.empty() && FileExists(legacy + ExtractFileName(FileName))) path = legacy + ExtractFileName(FileName);
  std::string bytes;
  if (!FileExists(path) || !ReadFileBytes(BytesToPath(path), bytes)) return;
  size_t start = 0;
  while (start < bytes.size()) {
    size_t end = bytes.find('\n', start);
    if (end == std::string::npos) end = bytes.size();
    std::string line = bytes.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    TCalibDate date;
    date.DateText = ExtractBlankField(line, 0) + " " + ExtractBlankField(line, 1) + " " + ExtractBlankField(line, 2);
    date.CoefText = line.size() > date.DateText.size() + 1 ? line.substr(date.DateText.size() + 1) : std::string();
    Dates.push_back(date);
  }
}

bool TCalibFile::Save(std::string* error) const {
  if (!ForceDirectories(BytesToPath(ExtractFileDir(FileName)), error)) return false;
  std::string bytes;
  for (const TCalibDate& d : Dates) bytes += d.DateText + " " + d.CoefText + "\r\n";
  return WriteFileAtomically(BytesToPath(FileName), bytes, error);
}

TCalibDate* TCalibFile::Find(const std::string& dateText) {
  for (TCalibDate& d : Dates)
    if (d.DateText == dateText) return &d;
  return nullptr;
}

bool TCalibFile::Remove(const std::string& dateText) {
  for (auto it = Dates.begin(); it != Dates.end(); ++it)
    if (it->DateText == dateText) {
      Dates.erase(it);
      return true;
    }
  return false;
}
