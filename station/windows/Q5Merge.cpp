#include "station/windows/Q5Merge.h"

#include "common/FileUtils.h"
#include "common/Prompt.h"
#include "common/Q5File.h"

#include <QString>
#include <cmath>
#include <memory>
#include <strings.h>

namespace {

// Characters from..from+count of a parameter block text, compared without case.
bool SameBlockPart(const std::string& a, const std::string& b, size_t from, size_t count)
{
    std::string pa = a.size() > from ? a.substr(from, count) : std::string();
    std::string pb = b.size() > from ? b.substr(from, count) : std::string();
    return pa.size() == pb.size() && strcasecmp(pa.c_str(), pb.c_str()) == 0;
}

bool Keep(const TEvenement& event, double from, double to)
{
    return event.Valid && !event.Empty && event.Length > 0 && event.Finished && event.Date >= from && event.Date <= to;
}

}  // namespace

TQ5Merge::Result TQ5Merge::Run(const std::string& folder, const std::string& resultName, bool bounded,
                               double startDay, double endDay)
{
    auto files = ListFiles(folder, "*.Q5");
    if (files.empty()) {
        ShowWarning(TextWithFileName("There is no Q5 file in the directory ", folder, "."));
        return NoDataFile;
    }
    const double from = std::floor(startDay);
    // Up to the last second of the end day, with the slack the data file uses for its encoding.
    const double to = std::floor(endDay) + (86399.0 + 0.0005) / 86400.0;

    auto result = std::make_unique<TQ5File>(files[0].string());
    if (bounded) {
        for (int i = result->Events.Count() - 1; i >= 0; --i)
            if (!Keep(*result->Events[i], from, to)) result->Events.Delete(i);
    }
    bool instrumentsAccepted = false;
    bool differenceAccepted = false;
    const int count = static_cast<int>(files.size());
    if (OnProgress) OnProgress(100 / count);
    for (int i = 1; i < count; ++i) {
        TQ5File other(files[i].string());
        if (!instrumentsAccepted && !SameBlockPart(result->ParamBloc(), other.ParamBloc(), 256, 12)) {
            if (!AskYesNo("Q5 files come from different instruments, do you want to continue ?")) {
                ShowInfo("Merge cancelled");
                return Cancelled;
            }
            instrumentsAccepted = differenceAccepted = true;
        }
        if (!differenceAccepted && !SameBlockPart(result->ParamBloc(), other.ParamBloc(), 0, 256)) {
            if (!AskYesNo("Q5 files don't have same parameters, do you want to continue ?")) {
                ShowInfo("Merge cancelled");
                return Cancelled;
            }
            differenceAccepted = true;
        }
        if (bounded)
            result->MergeRange(&other, from, std::floor(endDay));
        else
            result->MergeAll(&other);
        if (OnProgress) OnProgress((i + 1) * 100 / count);
    }
    result->RemoveInvalidEvents();
    if (!result->Rebuild() || !result->SaveToFile(resultName)) {
        ShowWarning(TextWithFileName("Unable to save the merging result in ", resultName));
        return SaveFailed;
    }
    return Saved;
}
