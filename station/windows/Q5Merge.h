// Merges every data file of a folder into one new data file, optionally limited to a range of days.
#pragma once

#include <functional>
#include <string>

class TQ5Merge {
public:
    enum Result { Saved, Cancelled, NoDataFile, SaveFailed };

    // Percent done after each file.
    std::function<void(int percent)> OnProgress;

    // Merges the "*.Q5" files of the folder in name order into resultName. With bounded, only events
    // from the start day 00:00 to the end day 23:59:59 are kept. Differences of instrument or parameters
    // between files are asked about; a No cancels without saving.
    Result Run(const std::string& folder, const std::string& resultName, bool bounded = false,
               double startDay = 0, double endDay = 0);
};
