#include "station/windows/ParameterTemplate.h"

#include "common/StaParametre.h"

std::string BuildParameterTemplate(const TParamsList& params)
{
    std::string buffer(PARAM_BLOCK_HEX_LENGTH, '\0');
    for (const auto& param : params.Items) param->StoreInBlock(buffer);
    for (char& c : buffer)
        if (c == '\0') c = ParameterTemplateFiller;
    return buffer;
}

bool IsParameterLocked(const TStaParametre& param)
{
    std::string buffer(PARAM_BLOCK_HEX_LENGTH, '\0');
    param.StoreInBlock(buffer);
    for (size_t i : {size_t(0), size_t(1), size_t(80), size_t(81), size_t(82), size_t(83), PARAM_BLOCK_HEX_LENGTH - 1})
        if (buffer[i] != '\0') return true;
    return false;
}
