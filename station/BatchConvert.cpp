#include "station/BatchConvert.h"

#include <QString>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <set>

#include "common/FileUtils.h"
#include "common/Prompt.h"
#include "common/Q5File.h"
#include "common/Utils.h"
#include "station/DataFileCheck.h"
#include "station/ParamDump.h"

namespace {

// Loads a data file for a conversion; a missing or unreadable file is reported and gives null.
std::unique_ptr<TQ5File> LoadForBatch(const std::string& dataFile, const std::string& outFolder)
{
    // Judged before the file is opened: a FIFO or a device never holds the conversion up.
    if (const std::string reason = UnreadableFileReason(dataFile); !reason.empty()) {
        ShowWarning(TextWithFileName("", dataFile, "\nUnable to load the file."));
        std::fprintf(stderr, "ERROR: Unable to load %s: %s\n", dataFile.c_str(), reason.c_str());
        return nullptr;
    }
    if (!DirectoryExists(outFolder)) {
        ShowWarning(TextWithFileName("The folder ", outFolder, " doesn't exist."));
        return nullptr;
    }
    auto file = std::make_unique<TQ5File>(dataFile);
    if (file->TooShort || file->ImageLength == 0) {
        ShowWarning(TextWithFileName("", dataFile, "\nUnable to load the file."));
        return nullptr;
    }
    return file;
}

// Where the records of a file stop short of its end, for the user: the record (counted from the first
// record kept) and the bytes it needs against those the file has.
std::string UnfinishedRecordText(const TQ5File& file)
{
    const int32_t at = file.UnfinishedRecordAt;
    std::string text = "The file ends inside record " + std::to_string(file.Events.Count() + 1) + ", which begins at byte " +
                       std::to_string(at);
    if (at + 1 < file.ImageLength)
        text += " and needs " + std::to_string(file.Image[at + 1]) + " bytes";
    return text + ": the file has " + std::to_string(file.ImageLength) +
           " bytes. What comes before it was converted; the rest of the file was not.";
}

std::string OutputName(const std::string& dataFile, const std::string& outFolder)
{
    return IncludeTrailingSlash(outFolder) + ExtractFileName(dataFile);
}

// True, with a message, when one of the files a conversion would write is its data file itself
// (an output folder that is the data file's own, with a type extension equal to the file's).
bool WouldOverwriteInput(const std::string& dataFile, const std::set<std::string>& outputs)
{
    for (const std::string& out : outputs) {
        std::error_code ec;
        if (std::filesystem::equivalent(dataFile, out, ec)) {
            ShowWarning(TextWithFileName("The file ", out, " is the data file being converted: it is not replaced."));
            return true;
        }
    }
    return false;
}

// One conversion asked on the command line. An option takes the two arguments after it, whatever they
// are.
struct TBatchRequest {
    bool Ascii = false;
    bool Complete = false;  // the two arguments are there
    std::string DataFile, OutFolder;
};

std::vector<TBatchRequest> BatchRequests(const std::vector<std::string>& args)
{
    std::vector<TBatchRequest> requests;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.size() < 2 || arg[0] != '-') continue;  // a '/' begins a path here, never an option
        const std::string option = UpperCase(arg.substr(1));
        if (option != "ASCII" && option != "PAR") continue;
        TBatchRequest request;
        request.Ascii = option == "ASCII";
        request.Complete = i + 2 < args.size();
        if (request.Complete) {
            request.DataFile = args[i + 1];
            request.OutFolder = args[i + 2];
            i += 2;
        }
        requests.push_back(request);
    }
    return requests;
}

}  // namespace

TBatchOutcome ExportAsciiBatch(const std::string& dataFile, const std::string& outFolder, const TBatchOptions& options)
{
    auto file = LoadForBatch(dataFile, outFolder);
    if (!file) return TBatchOutcome::Failed;
    if (NoRecordReadable(*file)) {
        ShowWarning(TextWithFileName("", dataFile, "\nNo record could be read from the file."));
        return TBatchOutcome::Failed;
    }
    const std::string name = OutputName(dataFile, outFolder);
    const std::vector<std::string> outputs = file->AsciiFileNames(name);
    if (WouldOverwriteInput(dataFile, {outputs.begin(), outputs.end()})) return TBatchOutcome::Failed;
    if (!file->ExportAsciiFiles(name, options.AddASCIIHeader)) {
        ShowWarning(TextWithFileName("Unable to write the ASCII files of ", dataFile) + TextWithFileName(" in ", outFolder));
        return TBatchOutcome::Failed;
    }
    if (file->UnfinishedRecordAt >= 0) {
        ShowWarning(TextWithFileName("", dataFile, "\n" + UnfinishedRecordText(*file)));
        return TBatchOutcome::Incomplete;
    }
    return TBatchOutcome::Done;
}

TBatchOutcome ExportParamsBatch(const std::string& dataFile, const std::string& outFolder, const TBatchOptions& options)
{
    // The parameter file comes from the parameter block alone: records left unread do not touch it.
    auto file = LoadForBatch(dataFile, outFolder);
    if (!file) return TBatchOutcome::Failed;
    const std::string name = OutputName(dataFile, outFolder);
    if (WouldOverwriteInput(dataFile, {ParamFileName(name)})) return TBatchOutcome::Failed;
    QString message;
    if (!WriteParamFile(file.get(), name, options.ParDirectory, message)) {
        ShowWarning(message);
        return TBatchOutcome::Failed;
    }
    return TBatchOutcome::Done;
}

TBatchResult ParseCommandLine(const std::vector<std::string>& args, const TBatchOptions& options)
{
    const std::vector<TBatchRequest> requests = BatchRequests(args);
    TBatchResult result;
    result.Ran = !requests.empty();
    // A conversion short of its file or folder is a command line that cannot be followed: none runs.
    for (const TBatchRequest& request : requests) {
        if (!request.Complete) {
            ShowWarning("Incorrect number of parameters!");
            result.BadCommandLine = true;
            return result;
        }
    }
    for (const TBatchRequest& request : requests) {
        const TBatchOutcome outcome = request.Ascii ? ExportAsciiBatch(request.DataFile, request.OutFolder, options)
                                                    : ExportParamsBatch(request.DataFile, request.OutFolder, options);
        if (outcome == TBatchOutcome::Failed) result.Failed = true;
        if (outcome == TBatchOutcome::Incomplete) result.Incomplete = true;
    }
    return result;
}
