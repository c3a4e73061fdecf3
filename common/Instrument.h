#pragma once
// Instrument models and their filters ("InsList.dat"), found by instrument identifier. The plug-ins
// read these objects in place, so the field order of each class is fixed.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class TFilterDef {
public:
  int32_t Position = 0;
  int32_t Number = 0;
  double Wavelength = 0.0;  // nm; 0 = wide band
  std::string Group;
  std::string Detector;
  uint8_t Polarised = 0;
  int32_t PolarChannel = 0;

  // "440 nm", "870 P2", or "Large" for a wide band.
  std::string GetWavelengthText() const;
  // Group, wavelength text and detector: "SKY 870 P2 InGaAs".
  std::string GetLabel() const;
};

class TInstrument {
public:
  std::string InstruName;
  std::vector<std::string> Ids;
  std::vector<std::unique_ptr<TFilterDef>> Filters;

  bool HasID(const std::string& id) const;
  // The first filter with this position and exactly this group, or null.
  TFilterDef* FindFilter(int32_t position, const std::string& group) const;
};

class TInstrumentList {
public:
  std::vector<std::unique_ptr<TInstrument>> Items;

  TInstrumentList() = default;
  TInstrumentList(const TInstrumentList&) = delete;
  TInstrumentList& operator=(const TInstrumentList&) = delete;

  int Count() const { return static_cast<int>(Items.size()); }
  TInstrument* operator[](int i) const { return Items[static_cast<size_t>(i)].get(); }

  // Appends the instruments of "InsList.dat"; false when the file does not exist.
  bool LoadFromFile(const std::string& path);
  void LoadFromText(const std::string& text);
  // The first instrument that lists this identifier, or null.
  TInstrument* FindByID(const std::string& id) const;
  // Its name, or "Inconnu (" + id + ")".
  std::string GetInstrumentName(const std::string& id) const;
};

// The process-wide list, created at start-up by the settings object; null before.
extern TInstrumentList* gInstrumentList;
