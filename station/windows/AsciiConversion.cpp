#include "station/windows/AsciiConversion.h"

#include "common/FileUtils.h"
#include "common/Q5File.h"

bool TAsciiConversion::Run(const std::vector<std::string>& files, const std::string& outputFolder,
                           const std::string& baseName, int periodMode, bool withHeader)
{
    Failed.clear();
    const int n = static_cast<int>(files.size());
    for (int k = 0; k < n; ++k) {
        if (!FileExists(files[k])) continue;
        TQ5File file(files[k]);
        if (OnProgress) OnProgress((2 * k + 1) * 100 / (2 * n));
        if (!file.ExportAscii(IncludeTrailingSlash(outputFolder) + baseName, periodMode, withHeader))
            Failed.push_back(files[k]);
        if (OnProgress) OnProgress(2 * (k + 1) * 100 / (2 * n));
    }
    return Failed.empty();
}
