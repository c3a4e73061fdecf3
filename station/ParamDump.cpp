#include "station/ParamDump.h"

#include <memory>

#include "common/FileUtils.h"
#include "common/Prompt.h"
#include "common/Q5File.h"
#include "common/StaParametre.h"

std::string ParamFileName(const std::string& dataFileName)
{
    const std::string ext = ExtractFileExt(dataFileName);
    return dataFileName.substr(0, dataFileName.size() - ext.size()) + "_PAR.TXT";
}

bool WriteParamFile(TQ5File* file, const std::string& fileName, const std::string& parDirectory,
                    QString& message)
{
    if (!file) {
        message = AnsiToQString("No data in memory");
        return false;
    }
    // Without a name there is nowhere to put the dump (it would land beside the program as "_PAR.TXT").
    if (fileName.empty()) {
        message = AnsiToQString("The Q5 file doesn't have a name");
        return false;
    }
    TDecodDorax decoder;
    std::unique_ptr<TParamsList> params(decoder.Decode(file->ParamBloc(), file->InstrumentId, parDirectory));
    if (!params) {
        message = decoder.ErrorText();
        return false;
    }
    std::string text;
    for (const auto& p : params->Items) text += p->Name + " = " + p->GetValueText() + "\r\n";
    const std::string target = ParamFileName(fileName);
    std::string error;
    if (!WriteFileAtomically(target, text, &error)) {
        message = TextWithFileName("Unable to write the parameters file ", target, " (") + FileNameToQString(error) + AnsiToQString(")");
        return false;
    }
    message = AnsiToQString("The parameters file was created successfully");
    return true;
}
