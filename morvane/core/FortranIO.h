#pragma once
// Fortran-style text input and output: list-directed reading (values separated by blanks or commas, every
// read starts on a new line) and the fixed-width I, F and E edit descriptors, byte for byte as the result
// files need them and independent of the process locale.

#include <cstdint>
#include <fstream>
#include <istream>
#include <string>
#include <string_view>
#include <vector>

namespace morvane {

// Parses one value of a list-directed record. False when the text is not a value of that type
// (integers take no decimal point; reals take d/D/q exponents and the letterless "1.5+03" form;
// infinities and NaN are refused).
bool ParseFortranInt(std::string_view text, long &value);
bool ParseFortranReal(std::string_view text, double &value);

// Splits one record into its values. A null value (two commas in a row, or a comma opening the record)
// comes out as an empty view flagged in nulls; "r*c" repeats c r times; a slash ends the record.
struct ListRecord {
  std::vector<std::string_view> items;
  std::vector<char> nulls; // 1 for a null value (chars: a bit vector is slow to fill)
  bool slash = false;
};
void SplitListRecord(std::string_view line, ListRecord &out);

enum class ReadStatus { Ok, End, Error };

// Reads a text stream as a Fortran unit: each Read* starts on the next line and takes as many lines as it
// needs for its values; a text read takes a whole line.
class ListReader {
public:
  explicit ListReader(std::istream &in) : in_(in) {}

  ReadStatus ReadInts(long *values, int count);
  ReadStatus ReadReals(double *values, int count);
  ReadStatus ReadInt(long &value) { return ReadInts(&value, 1); }
  // A count, then that many integers, in one read (the count must lie in 0..maxCount).
  ReadStatus ReadCountedInts(std::vector<long> &values, int maxCount);
  ReadStatus ReadReal(double &value) { return ReadReals(&value, 1); }
  // A whole line without its line end (CR LF or LF) and trailing blanks.
  ReadStatus ReadText(std::string &text);
  // The next raw line (line end removed); false at the end of the stream.
  bool NextLine(std::string &line);
  // Line number of the line read last (1-based).
  long LineNumber() const { return lineNo_; }

private:
  template <class T, class Parse> ReadStatus ReadValues(T *values, int count, Parse parse);
  std::istream &in_;
  std::string line_;
  ListRecord record_;
  long lineNo_ = 0;
};

// Fixed-width output, as a Fortran formatted write gives it. A value that does not fit fills the field
// with asterisks.
void AppendI(std::string &out, long value, int width);
void AppendF(std::string &out, double value, int width, int decimals);
void AppendE(std::string &out, double value, int width, int decimals);
// The E field written at out (room for width characters) when a short exact conversion settles it, as
// for all but the rarest values: returns the field's end, or null when AppendE must write it.
char *PutE(char *out, double value, int width, int decimals);
inline void AppendX(std::string &out, int count) { out.append(static_cast<size_t>(count), ' '); }

// List-directed output of one integer or logical (a record of its own, without the line end).
std::string ListDirectedInt(long value);
std::string ListDirectedLogical(bool value);

// Opens a file for reading. False, with the reason in why, when it cannot be opened or is a folder (which
// opens on Linux but reads as an empty file).
bool OpenInput(std::ifstream &in, const std::string &path, std::string &why);

// Trailing blanks and a CR removed.
std::string TrimRight(std::string_view text);

} // namespace morvane
