#include "fuzz/FuzzSupport.h"

#include "common/DataPaths.h"
#include "common/Prompt.h"
#include "common/ScnType.h"
#include "common/Zelt.h"

void SilenceFuzzPrompts()
{
  static ScopedPromptScript silent({}, false);
}

void LoadFuzzDescriptions()
{
  SilenceFuzzPrompts();
  if (!gListScn) TZELT::LoadDescriptionLists(InstalledDataDir().string());
}
