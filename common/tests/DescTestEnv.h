#pragma once
// Description lists installed as the process-wide ones for one test, restored afterwards.
#include <filesystem>
#include <memory>
#include <string>

#include "common/Instrument.h"
#include "common/ScnElement.h"
#include "common/ScnType.h"
#include "common/tests/PlatformTestEnv.h"

class ScopedDescLists {
 public:
  ScopedDescLists()
      : savedScn_(gListScn), savedEl_(gListElScn), savedIns_(gInstrumentList),
        scn_(std::make_unique<TListScn>()), el_(std::make_unique<TListElScn>()),
        ins_(std::make_unique<TInstrumentList>()) {
    gListScn = scn_.get();
    gListElScn = el_.get();
    gInstrumentList = ins_.get();
  }
  ~ScopedDescLists() {
    gListScn = savedScn_;
    gListElScn = savedEl_;
    gInstrumentList = savedIns_;
  }
  ScopedDescLists(const ScopedDescLists&) = delete;
  ScopedDescLists& operator=(const ScopedDescLists&) = delete;

  TListScn& Scn() { return *scn_; }
  TListElScn& El() { return *el_; }
  TInstrumentList& Ins() { return *ins_; }

  // Loads the three description files of a folder, in the start-up order.
  void LoadFolder(const std::filesystem::path& folder) {
    ins_->LoadFromFile((folder / "InsList.dat").string());
    el_->LoadFromFile((folder / "ScnElList.dat").string());
    scn_->LoadFromFile((folder / "ScnList.dat").string());
    scn_->LoadFromFile((folder / "ExtraScn.dat").string());
  }

 private:
  TListScn* savedScn_;
  TListElScn* savedEl_;
  TInstrumentList* savedIns_;
  std::unique_ptr<TListScn> scn_;
  std::unique_ptr<TListElScn> el_;
  std::unique_ptr<TInstrumentList> ins_;
};

// Builds a record hex: code, length, the given middle bytes (from byte 2), FE, length.
inline std::string RecordHex(uint8_t code, const std::string& middleHex) {
  size_t length = middleHex.size() / 2 + 4;
  char head[8];
  std::snprintf(head, sizeof head, "%02X%02X", code, static_cast<unsigned>(length));
  char tail[8];
  std::snprintf(tail, sizeof tail, "FE%02X", static_cast<unsigned>(length));
  return std::string(head) + middleHex + tail;
}
