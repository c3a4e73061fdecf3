#pragma once
// ASCII export of data files: one delimited text file per measurement type, a line per event.
// TQ5File::ExportAsciiFiles writes fresh files; TQ5File::ExportAscii merges into period files.
#include <string>
#include <vector>

// Period modes of ExportAscii.
enum TAsciiPeriod { ASCII_FRESH = 0, ASCII_HOUR = 1, ASCII_DAY = 2, ASCII_MONTH = 3, ASCII_YEAR = 4, ASCII_ALL = 5 };

// The date-time at the start of an ASCII line (day, month, year, hour, minute, second with one separator
// character between them, each part in double quotes when the line starts with one), or 0.
double LineDateTime(const std::string& line);

// The name of the period file of an event date for modes 1-5 ("" for another mode).
std::string AsciiPeriodFileName(const std::string& base, int periodMode, double date, const std::string& extension);

// Lines of a text file (CR LF or LF ends), and the writing of such lines, each ended by CR LF, through a
// temporary file renamed over the target. Write errors are returned, never half a file left.
bool ReadAsciiLines(const std::string& path, std::vector<std::string>& lines);
bool WriteAsciiLines(const std::string& path, const std::vector<std::string>& lines, std::string* error = nullptr);
