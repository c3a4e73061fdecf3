#pragma once
// Conversions asked on the command line ("-ASCII data folder", "-PAR data folder"), run before any
// window exists. Messages go to the user-prompt service (standard error without a screen).
#include <string>
#include <vector>

struct TBatchResult {
    bool Ran = false;     // at least one batch option was met, whether or not it could run
    bool Failed = false;  // something could not be done (the program then exits with status 1)
};

struct TBatchOptions {
    bool AddASCIIHeader = false;
    std::string ParDirectory;
};

// `args` are the arguments after the program name.
TBatchResult ParseCommandLine(const std::vector<std::string>& args, const TBatchOptions& options);
bool ExportAsciiBatch(const std::string& dataFile, const std::string& outFolder, const TBatchOptions& options);
bool ExportParamsBatch(const std::string& dataFile, const std::string& outFolder, const TBatchOptions& options);
