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

// Writes a short text straight into the end of `out`: room for `most` characters is made, `write` is
// given where to begin and returns where it stopped, and the string is cut there. A text put together
// in a small buffer and then copied costs more: the copy reads what is still being stored. The exports
// write millions of such texts.
template <class Writer>
void AppendInPlace(std::string& out, size_t most, Writer write)
{
    const size_t old = out.size();
    out.resize(old + most);
    char* const start = out.data() + old;
    out.resize(old + static_cast<size_t>(write(start) - start));
}

// Text to number with the process separator (surrounding blanks allowed; nothing else may follow).
bool TryStrToFloat(const std::string& text, double& out);
double StrToFloat(const std::string& text);   // throws std::invalid_argument on bad text
