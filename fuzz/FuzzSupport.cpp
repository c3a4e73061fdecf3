#include "fuzz/FuzzSupport.h"

#include "common/DataPaths.h"
#include "common/Instrument.h"
#include "common/Prompt.h"
#include "common/ScnElement.h"
#include "common/ScnType.h"

void SilenceFuzzPrompts()
{
  static ScopedPromptScript silent({}, false);
}

void LoadFuzzDescriptions()
{
  SilenceFuzzPrompts();
  if (gListScn) return;
  const std::string dir = InstalledDataDir().string() + "/";
  gInstrumentList = new TInstrumentList;
  gInstrumentList->LoadFromFile(dir + "InsList.dat");
  gListElScn = new TListElScn;
  gListElScn->LoadFromFile(dir + "ScnElList.dat");
  gListScn = new TListScn;
  gListScn->LoadFromFile(dir + "ScnList.dat");
  gListScn->LoadFromFile(dir + "ExtraScn.dat");
}
