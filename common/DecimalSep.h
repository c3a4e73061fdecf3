#pragma once
// The process-wide decimal separator: one value in libzeltcore, shared by the station program and every
// plug-in of the process, read by the number formatting helpers below. The C locale is never changed.
#include <string>

char DecimalSeparator();
void SetDecimalSeparator(char separator);

// Fixed notation: rounded to the lesser of six significant digits and `decimals`, then padded with zeros
// to `decimals`, written with the process separator. Large values keep every integer digit.
std::string FormatFixed(double value, int decimals);
// The same with '.' whatever the process separator (files read by other programs).
std::string FormatFixedDot(double value, int decimals);
// The same with `significant` digits at most (0: no limit) and the given separator.
std::string FormatFixedSignificant(double value, int decimals, int significant, char separator);
// The same text appended to `out` (no temporary string).
void AppendFixedSignificant(std::string& out, double value, int decimals, int significant, char separator);

// Text to number with the process separator (surrounding blanks allowed; nothing else may follow).
bool TryStrToFloat(const std::string& text, double& out);
double StrToFloat(const std::string& text);   // throws std::invalid_argument on bad text
