#include "tools/q5gen/Q5Gen.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <set>

#include "common/DataPaths.h"
#include "common/DateTime.h"
#include "common/DecimalSep.h"
#include "common/Instrument.h"
#include "common/ScnElement.h"
#include "common/ScnType.h"
#include "common/StaParametre.h"
#include "common/analysis/Physics.h"
#include "common/analysis/ZeltUtils.h"

namespace q5gen {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kHeaderDateOffset = 4;

using Bytes = std::string;  // raw bytes

struct Civil {
  int year, month, day, hour, minute, second;
};

Civil ToCivil(int64_t seconds) {
  int y, m, d, h, n, s, ms;
  DecodeDateTime(UnixMsToDateTime(seconds * 1000), y, m, d, h, n, s, ms);
  return Civil{y, m, d, h, n, s};
}

uint8_t Bcd(int value) { return static_cast<uint8_t>(((value / 10) % 10) * 16 + value % 10); }

// The description lists of one folder, installed as the process-wide ones while they are in use.
class Descriptions {
 public:
  explicit Descriptions(const std::string& folder)
      : savedScn_(gListScn), savedEl_(gListElScn), savedIns_(gInstrumentList) {
    gListElScn = &elements;
    gListScn = &types;
    gInstrumentList = &instruments;
    std::string dir = folder.empty() ? PathToBytesOf(InstalledDataDir()) : folder;
    if (!dir.empty() && dir.back() != '/') dir += '/';
    directory = dir;
    instruments.LoadFromFile(dir + "InsList.dat");
    elements.LoadFromFile(dir + "ScnElList.dat");
    types.LoadFromFile(dir + "ScnList.dat");
    types.LoadFromFile(dir + "ExtraScn.dat");
  }
  ~Descriptions() {
    gListScn = savedScn_;
    gListElScn = savedEl_;
    gInstrumentList = savedIns_;
  }
  Descriptions(const Descriptions&) = delete;
  Descriptions& operator=(const Descriptions&) = delete;

  TInstrumentList instruments;
  TListElScn elements;
  TListScn types;
  std::string directory;

 private:
  static std::string PathToBytesOf(const std::filesystem::path& p) { return p.string(); }
  TListScn* savedScn_;
  TListElScn* savedEl_;
  TInstrumentList* savedIns_;
};

int ItemWidth(const TScnTypeItem& item) {
  int32_t valueClass = item.ValueDesc ? item.ValueDesc->ValueClass : 0;
  if (valueClass == VCLASS_DATE || valueClass == VCLASS_TIME) return 3;
  switch (item.ValueKind) {
    case VAL_CN:
    case VAL_TEMP:
    case VAL_TEMP2:
    case VAL_BAT2:
    case VAL_SCN: return 2;
    case VAL_BYTECN:
    case VAL_BYTEHEX:
    case VAL_BYTEREAL:
    case VAL_BAT:
    case VAL_HUM: return 1;
    case VAL_CN3BYTES: return 3;
    default: return 0;
  }
}

// Record length of a type: its own, else what its values need.
int RecordLength(const TScnType& type) {
  if (type.Length > 0) return type.Length;
  int end = kHeaderDateOffset + 6;
  for (const auto& item : type.Items)
    if (item->Offset >= 0) end = std::max(end, item->Offset + ItemWidth(*item));
  return end + 2;
}

// Sun photometry over the site: air mass and optical depth give each filter's direct-sun count.
struct Sky {
  double latitude = 48.71;
  double longitude = 2.21;

  // Sun elevation in degrees at a time (seconds since 1970 UTC).
  double Elevation(int64_t seconds) const {
    double d = static_cast<double>(seconds) / 86400.0 - 10957.5;  // days since J2000.0
    double g = (357.529 + 0.98560028 * d) * kPi / 180;
    double q = 280.459 + 0.98564736 * d;
    double l = (q + 1.915 * std::sin(g) + 0.020 * std::sin(2 * g)) * kPi / 180;
    double e = (23.439 - 0.00000036 * d) * kPi / 180;
    double ra = std::atan2(std::cos(e) * std::sin(l), std::cos(l));
    double dec = std::asin(std::sin(e) * std::sin(l));
    double gmst = std::fmod(18.697374558 + 24.06570982441908 * d, 24.0);
    double h = (gmst * 15 + longitude) * kPi / 180 - ra;
    double lat = latitude * kPi / 180;
    double sinElevation = std::sin(lat) * std::sin(dec) + std::cos(lat) * std::cos(dec) * std::cos(h);
    return std::asin(std::clamp(sinElevation, -1.0, 1.0)) * 180 / kPi;
  }

  static double AirMass(double elevation) {
    return 1.0 / (std::sin(elevation * kPi / 180) + 0.50572 * std::pow(elevation + 6.07995, -1.6364));
  }

  // Optical depth: Rayleigh, aerosol (Angstrom beta 0.08, alpha 1.3), water vapour at 940 nm.
  static double Tau(double nm) {
    double um = nm / 1000;
    double rayleigh = 0.008569 * std::pow(um, -4) * (1 + 0.0113 * std::pow(um, -2) + 0.00013 * std::pow(um, -4));
    double aerosol = 0.08 * std::pow(um, -1.3);
    double water = std::fabs(nm - 940) < 5 ? 0.35 : 0.0;
    return rayleigh + aerosol + water;
  }

  // Extraterrestrial count of a filter.
  static double V0(double nm) { return 9000 + 22000 * std::exp(-std::pow((nm - 650) / 450, 2)); }
};

// The station number, latitude in minutes and longitude in time (NNUM, NLAT, NHEU, NMIN, NSEC) that
// the plug-ins read, made from SITE, LAT and LON unless the caller sets them.
void SetSiteInTime(TParamsList& list, const std::vector<std::pair<std::string, std::string>>& given) {
  auto isGiven = [&given](const char* code) {
    for (const auto& entry : given)
      if (entry.first == code) return true;
    return false;
  };
  auto set = [&](const char* code, double value, int decimals) {
    TStaParametre* p = list.FindByNameID(code);
    if (p && !isGiven(code)) p->SetValueText(FormatFixed(value, decimals));
  };
  // Applies the caller's texts first, so that SITE, LAT and LON are the final ones.
  for (const auto& [code, text] : given)
    if (TStaParametre* p = list.FindByNameID(code)) p->SetValueText(text);
  const TStaParametre* site = list.FindByNameID("SITE");
  const TStaParametre* lat = list.FindByNameID("LAT");
  const TStaParametre* lon = list.FindByNameID("LON");
  if (site) set("NNUM", site->Value, 0);
  if (lat) set("NLAT", lat->Value * 60, 1);
  if (lon) {
    // Hours, minutes and seconds of time; a western longitude keeps its minutes and seconds and
    // stores -(hours + 1), which the reading takes as (hours + 1) less the minutes and seconds.
    long seconds = std::lround(std::fabs(lon->Value) * 240);
    long hours = seconds / 3600;
    seconds %= 3600;
    if (lon->Value < 0) hours = -hours - 1;
    set("NHEU", static_cast<double>(hours), 0);
    set("NMIN", static_cast<double>(seconds / 60), 0);
    set("NSEC", static_cast<double>(seconds % 60), 0);
  }
}

class Generator {
 public:
  Generator(const Options& options, Descriptions& descriptions)
      : options_(options), desc_(descriptions), rng_(options.seed) {}

  bool Run(std::string& bytes, Report& report, std::string& error);

 private:
  double Uniform(double low, double high) {
    return low + (high - low) * static_cast<double>(rng_() >> 11) * (1.0 / 9007199254740992.0);
  }
  long Pick(long count) { return static_cast<long>(rng_() % static_cast<uint64_t>(count)); }

  bool BuildParamBlock(int64_t downloadTime, Bytes& block, std::string& error);
  bool BuildSunDays(std::string& bytes, Report& report, std::string& error);
  Bytes BuildSunRecord(const TScnType& type, int64_t time, int sequence);
  Bytes BuildRecord(const TScnType& type, int64_t time, int sequence);
  void FillItem(const TScnType& type, const TScnTypeItem& item, int64_t time, Bytes& record);
  double Wavelength(int32_t position, const std::string& group) const;
  void WriteValue(Bytes& record, int offset, int width, uint32_t value) const;
  bool Damage(Bytes& record, const TScnType& type, Report& report);

  const Options& options_;
  Descriptions& desc_;
  std::mt19937_64 rng_;
  Sky sky_;
  Uphysics::TPositionRec site_;  // as the calibration reads it from the station parameters
  const TInstrument* instrument_ = nullptr;
  std::map<const TScnType*, int> scans_;  // records made per type, for the scanned filter position
  uint8_t unusedCode_ = 0;
};

double Generator::Wavelength(int32_t position, const std::string& group) const {
  if (instrument_)
    if (const TFilterDef* filter = instrument_->FindFilter(position, group))
      return filter->Wavelength > 0 ? filter->Wavelength : 1300;
  static const double fallback[] = {340, 380, 440, 500, 675, 870, 940, 1020, 1640};
  return position >= 1 && position <= 9 ? fallback[position - 1] : 870;
}

void Generator::WriteValue(Bytes& record, int offset, int width, uint32_t value) const {
  for (int i = 0; i < width; ++i)
    record[static_cast<size_t>(offset + i)] = static_cast<char>((value >> (8 * (width - 1 - i))) & 0xFF);
}

void Generator::FillItem(const TScnType& type, const TScnTypeItem& item, int64_t time, Bytes& record) {
  int width = ItemWidth(item);
  if (width == 0 || item.Offset < 2 || item.Offset + width > static_cast<int>(record.size()) - 2) return;
  int32_t valueClass = item.ValueDesc ? item.ValueDesc->ValueClass : 0;
  Civil c = ToCivil(time);
  if (valueClass == VCLASS_DATE) {
    WriteValue(record, item.Offset, 3, (Bcd(c.year % 100) << 16) | (Bcd(c.month) << 8) | Bcd(c.day));
    return;
  }
  if (valueClass == VCLASS_TIME) {
    WriteValue(record, item.Offset, 3, (Bcd(c.hour) << 16) | (Bcd(c.minute) << 8) | Bcd(c.second));
    return;
  }
  const std::string name = item.ValueDesc ? item.ValueDesc->Name : std::string();
  // Infrared radiometer: the mirror scans positions 0, 1 and 2 in turn; the mirror's reference view
  // sees the warm head, the sky a colder and wider range (clearer sky, lower count).
  if (name == "EL_POSITION") {
    WriteValue(record, item.Offset, width, static_cast<uint32_t>((scans_[&type] - 1) % 3));
    return;
  }
  if (name == "EL_RAD") {
    const double reference = 30000 + Uniform(-40, 40);
    const double sky = 30000 - 6000 - 3000 * std::sin(static_cast<double>(time % 86400) / 86400.0 * 2 * kPi) +
                       Uniform(-200, 200);
    WriteValue(record, item.Offset, 2, static_cast<uint32_t>(item.FilterGroup == "MIR" ? reference : sky));
    return;
  }
  double elevation = sky_.Elevation(time);
  double noise = Uniform(0.997, 1.003);
  if (valueClass == VCLASS_MESFILTER) {
    int32_t position = item.FilterPosition;
    if (position == -1) {
      // The scanned position was written into the sibling value before.
      position = -1;
      for (const auto& sibling : type.Items)
        if (sibling->ValueDesc && sibling->ValueDesc->Name == item.FilterSibling && sibling->Offset >= 0 &&
            sibling->Offset < static_cast<int>(record.size()))
          position = static_cast<uint8_t>(record[static_cast<size_t>(sibling->Offset)]);
    }
    double nm = Wavelength(position, item.FilterGroup);
    if (item.ValueKind == VAL_SCN) {
      int dark = static_cast<int>(Uniform(-30, 30));
      WriteValue(record, item.Offset, 2, dark < 0 ? (0x8000u | static_cast<uint32_t>(-dark)) : static_cast<uint32_t>(dark));
      return;
    }
    double count = Uniform(15, 60);  // dark signal at night
    if (elevation > 0) {
      double m = Sky::AirMass(elevation);
      double direct = Sky::V0(nm) * std::exp(-Sky::Tau(nm) * m);
      if (item.FilterGroup == "SKY") {
        double angle = item.AngleGiven ? item.Angle : 10.0;
        count += Sky::V0(nm) * std::sin(elevation * kPi / 180) * (0.05 + 0.5 * Sky::Tau(nm)) * 8.0 /
                 std::pow(angle + 2.0, 0.9);
      } else {
        count += direct;
      }
    }
    WriteValue(record, item.Offset, 2, static_cast<uint32_t>(std::clamp(count * noise, 0.0, 65527.0)));
    return;
  }
  // Housekeeping values: a daily temperature cycle, a battery charged by day.
  double day = std::sin((static_cast<double>(time % 86400) / 86400.0 - 0.375) * 2 * kPi);
  uint32_t raw = 0;
  switch (item.ValueKind) {
    case VAL_TEMP: raw = static_cast<uint32_t>(std::lround((22 + 6 * day + Uniform(-0.3, 0.3)) / 0.1 + 400)); break;
    case VAL_TEMP2: raw = static_cast<uint32_t>(std::lround(Uniform(-10.3, -9.7) / 0.0125 + 3200)); break;
    case VAL_BAT2: raw = static_cast<uint32_t>(std::lround((12.6 + (elevation > 0 ? 0.6 : 0.0) + Uniform(-0.1, 0.1)) / 0.01)); break;
    case VAL_BAT: raw = static_cast<uint32_t>(std::lround(Uniform(3.0, 3.1) / 0.04)); break;
    case VAL_HUM: raw = static_cast<uint32_t>(std::lround((38 - 6 * day + Uniform(-1, 1)) / 0.5)); break;
    case VAL_CN: raw = static_cast<uint32_t>(Uniform(5000, 40000)); break;
    case VAL_CN3BYTES: {
      double m = elevation > 0 ? Sky::AirMass(elevation) : 0;
      double count = elevation > 0 ? 12 * Sky::V0(940) * std::exp(-Sky::Tau(940) * m) : Uniform(200, 800);
      raw = static_cast<uint32_t>(std::clamp(count * noise, 0.0, 16777215.0));
      break;
    }
    case VAL_BYTECN:
      if (item.Labels && !item.Labels->empty())
        raw = static_cast<uint32_t>((*item.Labels)[Uniform(0, 1) < 0.9 ? 0 : Pick(static_cast<long>(item.Labels->size()))].Value);
      else if (item.DisplayMode == DISPLAY_HEX)
        raw = Uniform(0, 1) < 0.8 ? 0x01 : 0x81;
      else
        raw = static_cast<uint32_t>(Pick(50));
      break;
    default: return;
  }
  WriteValue(record, item.Offset, width, raw);
}

Bytes Generator::BuildRecord(const TScnType& type, int64_t time, int sequence) {
  int length = RecordLength(type);
  Bytes record(static_cast<size_t>(length), '\0');
  // Values that give the filter position of others: the instrument scans its positions in turn.
  int scan = scans_[&type]++;
  std::set<std::string> siblings;
  std::string siblingGroup;
  for (const auto& item : type.Items)
    if (item->FilterPosition == -1) {
      siblings.insert(item->FilterSibling);
      siblingGroup = item->FilterGroup;
    }
  for (const auto& item : type.Items) {
    if (item->ValueDesc && siblings.count(item->ValueDesc->Name)) {
      std::vector<int32_t> positions;
      if (instrument_)
        for (const auto& filter : instrument_->Filters)
          if (filter->Group == siblingGroup) positions.push_back(filter->Position);
      std::sort(positions.begin(), positions.end());
      int32_t position = positions.empty() ? 1 + scan % 9 : positions[static_cast<size_t>(scan) % positions.size()];
      int width = std::max(1, ItemWidth(*item));
      if (item->Offset >= 2 && item->Offset + width <= length - 2)
        WriteValue(record, item->Offset, width, static_cast<uint32_t>(position));
    }
  }
  for (const auto& item : type.Items)
    if (!(item->ValueDesc && siblings.count(item->ValueDesc->Name))) FillItem(type, *item, time, record);
  Civil c = ToCivil(time);
  const int date[6] = {c.year % 100, c.month, c.day, c.hour, c.minute, c.second};
  for (int i = 0; i < 6; ++i) record[static_cast<size_t>(kHeaderDateOffset + i)] = static_cast<char>(Bcd(date[i]));
  record[3] = static_cast<char>(sequence & 0xFF);
  // Conditions that choose this type: every mandatory one, and the first optional one.
  bool optionalSet = false;
  for (const TScnCondition& condition : type.Conditions) {
    if (condition.Kind != 1 || condition.Position < 2 || condition.Position >= length - 2) continue;
    if (!condition.Mandatory && optionalSet) continue;
    optionalSet = optionalSet || !condition.Mandatory;
    record[static_cast<size_t>(condition.Position)] = static_cast<char>(condition.Value);
  }
  record[0] = static_cast<char>(type.Code);
  record[1] = static_cast<char>(length);
  record[static_cast<size_t>(length - 2)] = static_cast<char>(0xFE);
  record[static_cast<size_t>(length - 1)] = static_cast<char>(length);
  return record;
}

bool Generator::Damage(Bytes& record, const TScnType& type, Report& report) {
  size_t length = record.size();
  std::vector<int> kinds;
  for (int k = 0; k < 5; ++k)
    if (options_.damageKinds & (1u << k)) kinds.push_back(k);
  if (kinds.empty()) kinds.push_back(0);
  switch (kinds[static_cast<size_t>(Pick(static_cast<long>(kinds.size())))]) {
    case 0:
      record[length - 2] = 0x00;
      ++report.endCorrupted;
      return true;
    case 1:
      record[length - 1] = static_cast<char>(record[length - 1] ^ 0x55);
      ++report.brokenFrame;
      return true;
    case 2:
      record[kHeaderDateOffset + 1] = 0x13;  // month 13
      ++report.undated;
      return true;
    case 3:
      if (unusedCode_ == 0) break;
      record[0] = static_cast<char>(unusedCode_);
      ++report.unknownCode;
      return true;
    default: {
      static const uint32_t markers[] = {0xFFFF, 0xFFFB, 0xFFFC, 0xFFFD, 0xFFFE, 0xFFF9, 0xFFFA};
      int n = 0;
      for (const auto& item : type.Items)
        if ((item->ValueKind == VAL_CN || item->ValueKind == VAL_SCN) && item->Offset >= 10 &&
            item->Offset + 2 <= static_cast<int>(length) - 2)
          WriteValue(record, item->Offset, 2, markers[n++ % 7]);
      if (n == 0) break;
      ++report.markers;
      return true;
    }
  }
  record[length - 2] = 0x00;
  ++report.endCorrupted;
  return true;
}

bool Generator::BuildParamBlock(int64_t downloadTime, Bytes& block, std::string& error) {
  block.assign(256, '\0');
  const std::string& id = options_.identifier;
  uint8_t type = 0x0A;
  if (id.size() >= 4) {
    uint64_t value = 0;
    if (desc::HexValueAt(id, 2, 2, value)) type = static_cast<uint8_t>(value);
  }
  std::string hex(512, '0');
  TDecodDorax decoder;
  std::unique_ptr<TParamsList> list(decoder.Decode(hex, id, desc_.directory));
  std::vector<std::pair<std::string, std::string>> defaults = {
      {"FIRM", "2.3"}, {"SITE", "1"},   {"LAT", "48.71"}, {"LON", "2.21"}, {"ALT", "156"},
      {"NSUN", "3"},   {"NALM", "4"},   {"AUTO", "1"},    {"WETS", "1"},   {"NHEU", "0"},
      {"PSUN", "15"},  {"DARK", "0100"}, {"ELMN", "5.0"}, {"TSET", "25"},  {"BATL", "7.80"}};
  if (list) {
    for (const auto& [code, text] : defaults)
      if (TStaParametre* p = list->FindByNameID(code)) p->SetValueText(text);
    SetSiteInTime(*list, options_.params);
    for (const auto& [code, text] : options_.params) {
      TStaParametre* p = list->FindByNameID(code);
      if (!p) {
        error = "Unknown station parameter " + code;
        return false;
      }
      if (int result = p->SetValueText(text)) {
        error = "Bad value " + text + " for " + code + " (" + std::to_string(result) + ")";
        return false;
      }
    }
    std::string buffer(512, '\0');
    for (const auto& p : list->Items) p->StoreInBlock(buffer);
    for (size_t i = 0; i < hex.size(); ++i)
      if (buffer[i] != '\0') hex[i] = buffer[i];
    if (const TStaParametre* lat = list->FindByNameID("LAT")) sky_.latitude = lat->Value;
    if (const TStaParametre* lon = list->FindByNameID("LON")) sky_.longitude = lon->Value;
    const TSitePosition position = ReadSitePosition(*list);
    site_.Latitude = position.HasLatitude ? position.Latitude : sky_.latitude;
    site_.Longitude = position.HasLongitude ? position.Longitude : sky_.longitude;
  } else if (!options_.params.empty()) {
    error = decoder.ErrorString();
    return false;
  }
  for (size_t i = 0; i < 256; ++i) {
    uint64_t value = 0;
    desc::HexValueAt(hex, 2 * i, 2, value);
    block[i] = static_cast<char>(value);
  }
  block[0] = static_cast<char>(type);
  for (size_t i = 0; i < 8 && i < id.size(); ++i) block[128 + i] = id[i];
  Civil clock = ToCivil(downloadTime);
  Civil pc = ToCivil(downloadTime + 2);
  const Civil* dates[2] = {&clock, &pc};
  for (int k = 0; k < 2; ++k) {
    const Civil& c = *dates[k];
    const int fields[6] = {c.year - 1900, c.month, c.day, c.hour, c.minute, c.second};
    for (int i = 0; i < 6; ++i) block[static_cast<size_t>(144 + 6 * k + i)] = static_cast<char>(fields[i]);
  }
  return true;
}

Bytes Generator::BuildSunRecord(const TScnType& type, int64_t time, int sequence) {
  Bytes record = BuildRecord(type, time, sequence);
  std::map<int32_t, int> readings;  // readings written so far per filter position
  const double correction = (25 - options_.sunTemperature) * 0.0025 + 1;
  for (const auto& item : type.Items) {
    const std::string name = item->ValueDesc ? item->ValueDesc->Name : std::string();
    if (name == "EL_TEMP") {
      WriteValue(record, item->Offset, 2,
                 static_cast<uint32_t>(std::lround(options_.sunTemperature / 0.1 + 400)));
      continue;
    }
    if (name != "EL_SUN" && name != "EL_SUNI") continue;
    const int reading = readings[item->FilterPosition]++;
    const TFilterDef* filter = instrument_ ? instrument_->FindFilter(item->FilterPosition, item->FilterGroup) : nullptr;
    const double nm = filter ? filter->Wavelength : Wavelength(item->FilterPosition, item->FilterGroup);
    const double when = UnixMsToDateTime((time + 30 * reading) * 1000);
    const double m = Uphysics::AirMass(Uphysics::SolarZenithAngle(Uphysics::DateRecOf(when), site_));
    double count = SunV0(nm) * Uphysics::EarthSunDistanceFactor(when) * std::exp(-m * SunTau(nm));
    if (options_.sunNoise > 0) count *= Uniform(1 - options_.sunNoise, 1 + options_.sunNoise);
    if (nm == 1020.0 && item->FilterGroup == "SUN") count /= correction;
    WriteValue(record, item->Offset, 2, static_cast<uint32_t>(std::clamp(std::lround(count), 0L, 65527L)));
  }
  return record;
}

bool Generator::BuildSunDays(std::string& bytes, Report& report, std::string& error) {
  const std::string wanted = options_.sunExtras ? "SSK" : "NSU";
  const TScnType* type = nullptr;
  for (const auto& t : desc_.types.Items)
    if (t->Extension == wanted) {
      type = t.get();
      break;
    }
  if (!type) {
    error = "No measurement type " + wanted + " in " + desc_.directory;
    return false;
  }
  const int64_t first = options_.start - options_.start % 86400;
  const int64_t end = first + static_cast<int64_t>(options_.sunDays) * 86400;
  Bytes block;
  if (!BuildParamBlock(end + 300, block, error)) return false;
  bytes = block;
  int sequence = 0;
  int64_t last = first;
  for (int64_t time = first; time < end; time += options_.interval) {
    // The instrument measures while the sun is above 5 degrees, until the triplet's last reading.
    bool sunUp = true;
    for (int k = 0; k < 3; ++k) {
      const double when = UnixMsToDateTime((time + 30 * k) * 1000);
      sunUp = sunUp && Uphysics::SolarZenithAngle(Uphysics::DateRecOf(when), site_) < 85;
    }
    if (!sunUp) continue;
    bytes += BuildSunRecord(*type, time, sequence++);
    ++report.typed;
    if (report.typed == 1) report.first = time;
    last = time;
  }
  report.last = last;
  report.bytes = static_cast<long long>(bytes.size());
  return true;
}

bool Generator::Run(std::string& bytes, Report& report, std::string& error) {
  report = Report();
  instrument_ = desc_.instruments.FindByID(options_.identifier);
  if (options_.sunDays > 0) {
    if (options_.interval < 90) {
      error = "Sun triplets need at least 90 seconds between them";
      return false;
    }
    return BuildSunDays(bytes, report, error);
  }
  std::vector<const TScnType*> types;
  std::set<int> codes;
  for (const auto& type : desc_.types.Items) {
    codes.insert(type->Code);
    bool inRange = type->IdRanges.empty();
    for (size_t i = 0; i + 1 < type->IdRanges.size(); i += 2)
      inRange = inRange || (type->IdRanges[i] <= options_.identifier && options_.identifier <= type->IdRanges[i + 1]);
    if (inRange && RecordLength(*type) <= 255 && RecordLength(*type) >= 12) types.push_back(type.get());
  }
  if (types.empty()) {
    error = "No measurement type for " + options_.identifier + " in " + desc_.directory;
    return false;
  }
  for (int code = 0x7E; code > 0; --code)
    if (!codes.count(code)) {
      unusedCode_ = static_cast<uint8_t>(code);
      break;
    }
  if (options_.interval < 1 || options_.records < 0 || options_.damaged < 0 || options_.erasedTail < 0) {
    error = "Counts and the interval must not be negative";
    return false;
  }

  long records = options_.records;
  if (options_.targetSize > 0) {
    double average = 0;
    for (const TScnType* type : types) average += RecordLength(*type);
    average /= static_cast<double>(types.size());
    double room = static_cast<double>(options_.targetSize - 256 - options_.erasedTail);
    records = room > 0 ? static_cast<long>(std::ceil(room / average)) : 0;
  }
  long damaged = std::min(options_.damaged, records);
  // Which records are damaged: a partial shuffle of the indices.
  std::vector<char> isDamaged(static_cast<size_t>(records), 0);
  {
    std::vector<long> order(static_cast<size_t>(records));
    for (long i = 0; i < records; ++i) order[static_cast<size_t>(i)] = i;
    for (long i = 0; i < damaged; ++i) {
      long j = i + Pick(records - i);
      std::swap(order[static_cast<size_t>(i)], order[static_cast<size_t>(j)]);
      isDamaged[static_cast<size_t>(order[static_cast<size_t>(i)])] = 1;
    }
  }

  int64_t last = options_.start + static_cast<int64_t>(std::max(0L, records - 1)) * options_.interval;
  Bytes block;
  if (!BuildParamBlock(last + 300, block, error)) return false;
  bytes = block;
  bytes.reserve(static_cast<size_t>(std::max<long long>(options_.targetSize, 0)) + 64);
  for (long i = 0; i < records; ++i) {
    const TScnType& type = *types[static_cast<size_t>(i) % types.size()];
    int64_t time = options_.start + static_cast<int64_t>(i) * options_.interval;
    Bytes record = BuildRecord(type, time, static_cast<int>(i));
    if (isDamaged[static_cast<size_t>(i)]) Damage(record, type, report);
    else ++report.typed;
    bytes += record;
  }
  bytes.append(static_cast<size_t>(options_.erasedTail), static_cast<char>(0xFF));
  report.bytes = static_cast<long long>(bytes.size());
  report.first = options_.start;
  report.last = last;
  return true;
}

}  // namespace

double SunV0(double nm) { return std::round(Sky::V0(nm)); }
double SunTau(double nm) { return Sky::Tau(nm); }

bool Generate(const Options& options, std::string& bytes, Report& report, std::string& error) {
  Descriptions descriptions(options.dataDir);
  Generator generator(options, descriptions);
  return generator.Run(bytes, report, error);
}

bool ParseDateTime(const std::string& text, int64_t& seconds) {
  int y, mo, d, h = 0, mi = 0, s = 0;
  char sep = 'T';
  int n = std::sscanf(text.c_str(), "%4d-%2d-%2d%c%2d:%2d:%2d", &y, &mo, &d, &sep, &h, &mi, &s);
  if (n != 3 && n != 7) return false;
  if (n == 7 && sep != 'T' && sep != ' ') return false;
  double value = 0;
  if (!TryEncodeDateTime(y, mo, d, h, mi, s, 0, value)) return false;
  seconds = DateTimeToUnixMs(value) / 1000;
  return true;
}

}  // namespace q5gen
