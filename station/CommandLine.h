#pragma once
// The station program's command line: what each argument is. An option begins with '-' (its name
// compared without case, its value taken as typed after the first '='); an argument that begins with
// '/' is a path, but for "/NOSPLASH"; any other argument is the data file to open.
#include <string>
#include <vector>

enum class TArgumentKind { DataFile, Debug, Com, Ip, Usb, Run, NoSplash, Config, Ascii, Par, Unknown };

TArgumentKind ArgumentKind(const std::string& arg);
// The first argument the program does not know, or empty when it knows them all.
std::string FirstUnknownArgument(const std::vector<std::string>& args);
// The options the program takes, for a user who gave one it does not know.
extern const char* const kCommandLineUsage;
