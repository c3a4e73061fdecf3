#pragma once
// Reader of ".q5x" radiometer files: the XML form of an instrument's infrared channels. The file is
// read once, linearly, into a small document model holding only what the format uses (the instrument,
// its filter elements, the acquisitions and their measures), with a nesting limit far above a valid
// file's; TImportDataXml then builds the radiometer data set from that model. No window code here.
//
// Malformed files never raise: a file that cannot be read or parsed, a date that is not one, or a
// position, filter number or mirror count that is not an integer, makes the import fail with the
// line and the element named.
#include "common/analysis/RadioDataSet.h"

#include <cstdint>
#include <string>
#include <vector>

class QString;

namespace radio {

// Deeper element nesting than this is refused (a valid file nests four levels).
constexpr int kQ5xMaxDepth = 256;

struct TQ5xMeasure {
    std::string Id, T, F;        // attributes "id", "t", "f"
    bool HasF = false;
    std::string Text;            // the element's own text
    bool HasChildNodes = false;  // text or elements inside
    long long Line = 0;
};

struct TQ5xAcquisition {
    std::string Name;
    bool HasChildNodes = false;
    std::string D, H, P;         // texts of the first "d", "h" and "p" elements
    bool HasP = false;
    long long Line = 0, DLine = 0, PLine = 0;
    std::vector<TQ5xMeasure> Measures;
};

struct TQ5xFilterElement {
    std::string Id;              // attribute "id"
    std::string Text;            // nominal wavelength, "." as decimal mark
    long long Line = 0;
};

struct TQ5xDocument {
    bool HasIns = false, HasData = false;
    std::string InstrumentId;    // last "n" of "ins"
    std::vector<TQ5xFilterElement> Filters;
    std::vector<TQ5xAcquisition> Acquisitions;
};

// Where and why a file could not be read.
struct TQ5xError {
    std::string File;
    long long Line = 0;
    std::string Element;
    std::string Reason;
    // "<file>, line <n>, element <name>: <reason>" (without the parts that are unknown).
    std::string Message() const;
    // Message as shown to the user: the file part is a file name, not Windows-1252.
    QString MessageText() const;
};

// Parses a whole document from memory or from a file. False with the error on a malformed file.
bool ReadQ5xDocument(const std::string& bytes, TQ5xDocument& document, TQ5xError& error);
bool LoadQ5xDocument(const std::string& fileName, TQ5xDocument& document, TQ5xError& error);

// Text of a measure value: XML white space trimmed, then an optional sign, digits with at most one
// decimal mark ("." or ","; only "." with dotOnly) and an optional exponent. Anything else gives
// the default.
double Q5xNumber(const std::string& text, double defaultValue, bool dotOnly = false);
// A decimal integer (XML white space around allowed) that fits 32 bits.
bool Q5xInteger(const std::string& text, int32_t& value);
// "d" and "h" texts read by fixed character positions: year 1-4, month 6-7, day 9-10, hour 12-13,
// minute 15-16, second 18-19 of "d h". False when a part is not a number or the date is not valid.
bool Q5xDateTime(const std::string& d, const std::string& h, double& value);
// The date-time as the windows show it: "dd/mm/yyyy hh:nn:ss", the date alone at midnight.
std::string Q5xDateTimeText(double value);
// Shortest text of a real (up to 15 significant digits, no trailing zeros) with the process decimal
// separator.
std::string ShortestRealText(double value);

enum class TQ5xVariant {
    Viewer,       // humidity read, a file without filters gets status 3, wavelengths converted
    Radiometre,   // no humidity, status 1 for a file without filters, wavelength text as given
};

// Reads a ".q5x" file into a data set, appending to what it holds.
class TImportDataXml {
public:
    enum {
        StatusUnreadable = -1,  // Error says why
        StatusOk = 0,
        StatusNoInstrument = 1,
        StatusNoCounts = 2,
        StatusNoFilters = 3,
    };

    TImportDataXml(const std::string& fileName, TRadData& data, TQ5xVariant variant = TQ5xVariant::Viewer);
    // The same from a document already read.
    TImportDataXml(const TQ5xDocument& document, const std::string& fileName, TRadData& data,
                   TQ5xVariant variant = TQ5xVariant::Viewer);

    int Status = StatusOk;
    TQ5xError Error;

private:
    void Import(const TQ5xDocument& document, TRadData& data, TQ5xVariant variant);
    bool ImportAcquisition(const TQ5xAcquisition& acquisition, TRadData& data, TQ5xVariant variant);
    bool Fail(long long line, const std::string& element, const std::string& reason);
};

}  // namespace radio
