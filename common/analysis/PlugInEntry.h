#pragma once
// What every analysis plug-in does at its caption and initialisation exports.
#include <cstdint>

struct TPlugInContext;

// The caption as a length-prefixed string (length byte = the smaller of the text length and 255).
const unsigned char* CopyToShortString(const char* text, unsigned char* buffer);
// True when the host's context is of this build's interface; then the plug-in's decimal separator
// becomes the first character of the host list's decimal-separator text.
bool AcceptPlugInContext(const TPlugInContext* context);
