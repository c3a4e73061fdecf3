// Baseline of the ".q5x" benchmark: the reader alone. Reads a file into a radiometer data set as the
// viewer does, without any window, and says what it read.
//   zelt-q5x-read FILE
#include "common/analysis/Q5xReader.h"

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: zelt-q5x-read FILE\n");
        return 2;
    }
    radio::TRadData data;
    const radio::TImportDataXml import(argv[1], data);
    if (import.Status != radio::TImportDataXml::StatusOk) {
        std::fprintf(stderr, "zelt-q5x-read: status %d %s\n", import.Status, import.Error.Message().c_str());
        return 1;
    }
    std::printf("%d acquisitions, %d counts\n", data.SerieList.Count(), data.GetNbTotalCN());
    return 0;
}
