#pragma once
// Small text helpers of the link: trimming, case, whole-number reading.
#include <string>

namespace linktext {

std::string Trim(const std::string& s);
std::string Upper(std::string s);
bool SameText(const std::string& a, const std::string& b);
// Reads an optional sign and decimal digits at pos (skipping leading blanks when skipBlanks);
// false when there is no digit or the value leaves the int range. pos moves past what was read.
bool ReadInt(const std::string& s, size_t& pos, int& value, bool skipBlanks);
// The whole text as an int, or def when it is not exactly one number.
int ToIntDef(const std::string& s, int def);

// XOR of all bytes as two upper-case hex digits (the checksum of the framed commands).
std::string XorHex(const std::string& bytes);

}  // namespace linktext
