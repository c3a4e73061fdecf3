// Opens a data file and decodes every value of every event, as the analysis of a whole file does:
//   zelt-bench-decode FILE       (description files of the installed data folder)
// Prints the number of values and their sum, so that nothing is left undone.
#include <cstdio>
#include <string>

#include "common/DataPaths.h"
#include "common/Q5File.h"
#include "common/ScnElement.h"
#include "common/ScnType.h"
#include "common/Zelt.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: zelt-bench-decode FILE\n");
        return 2;
    }
    TZELT::LoadDescriptionLists(InstalledDataDir().string());
    TQ5File file(argv[1]);
    long long values = 0;
    double sum = 0;
    std::string hex;
    TScnValue value;
    for (int i = 0; i < file.Events.Count(); ++i) {
        const TScnType* type = file.Events.ScnType(i);
        if (type == nullptr || !file.Events.Valid(i)) continue;
        file.Events.RecordHex(i, hex);
        for (int k = 0; k < type->Count(); ++k) {
            DecodeScnValue((*type)[k], hex, value);
            sum += value.SpecialCode == SPECIAL_NONE ? value.Value + value.Parts[0] + value.Parts[1] + value.Parts[2] : 0;
            ++values;
        }
    }
    std::printf("%d events, %lld values, sum %.6g\n", file.Events.Count(), values, sum);
    return values > 0 ? 0 : 1;
}
