#pragma once
// Conversions asked on the command line ("-ASCII data folder", "-PAR data folder"), run before any
// window exists. Messages go to the user-prompt service (standard error without a screen).
#include <string>
#include <vector>

// How one conversion went. Incomplete: what the data file holds whole was converted, but the file ends
// inside a record (cut short, or a damaged length): what lies from there on is not in the output.
enum class TBatchOutcome { Done, Incomplete, Failed };

struct TBatchResult {
    bool Ran = false;         // at least one batch option was met, whether or not it could run
    bool Failed = false;      // something could not be done
    bool Incomplete = false;  // a conversion left part of its data file
    bool BadCommandLine = false;  // an option without its data file and folder: nothing was converted
    // The program's exit status: 2 for a command line that cannot be followed, 1 after a failure, else
    // 3 when a conversion was incomplete, else 0.
    int ExitStatus() const { return BadCommandLine ? 2 : Failed ? 1 : Incomplete ? 3 : 0; }
};

struct TBatchOptions {
    bool AddASCIIHeader = false;
    std::string ParDirectory;
};

// `args` are the arguments after the program name.
TBatchResult ParseCommandLine(const std::vector<std::string>& args, const TBatchOptions& options);
TBatchOutcome ExportAsciiBatch(const std::string& dataFile, const std::string& outFolder, const TBatchOptions& options);
TBatchOutcome ExportParamsBatch(const std::string& dataFile, const std::string& outFolder, const TBatchOptions& options);
