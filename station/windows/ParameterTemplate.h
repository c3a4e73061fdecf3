// The parameter template: what the edited station parameters write into a data file's parameter block.
#pragma once

#include <string>

class TParamsList;
struct TStaParametre;

constexpr char ParameterTemplateFiller = 'X';

// 512 characters: each parameter stores its value in list order (parameters sharing a byte combine);
// places no parameter wrote are the filler, which leaves the block unchanged there.
std::string BuildParameterTemplate(const TParamsList& params);

// True when the parameter lies (even in part) where a template is never applied: the instrument type
// (characters 1-2), characters 81-84 and the last character of the block.
bool IsParameterLocked(const TStaParametre& param);
