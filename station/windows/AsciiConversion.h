// Converts a list of data files to ASCII files by period.
#pragma once

#include <functional>
#include <string>
#include <vector>

class TAsciiConversion {
public:
    // Percent done, twice per file (after loading and after exporting).
    std::function<void(int percent)> OnProgress;

    // Exports every listed file that exists into outputFolder + baseName with the period mode.
    // Returns false when a file could not be exported (the others are still converted).
    bool Run(const std::vector<std::string>& files, const std::string& outputFolder, const std::string& baseName,
             int periodMode, bool withHeader);

    std::vector<std::string> Failed;  // files whose export failed
};
