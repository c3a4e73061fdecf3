#include "fuzz/FuzzSupport.h"

void LoadFuzzDescriptions()
{
  // Filled in when the description lists can be loaded by the core.
}
