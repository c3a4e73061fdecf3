#pragma once
// Reader of ".q5x" radiometer files: the XML form of an instrument's infrared channels. The file is
// read once, linearly and as a stream: the instrument and its filter elements are kept, each
// acquisition is handed over as soon as its element ends and then forgotten, so that memory follows
// the data set, not the file. Element nesting is limited far above a valid file's. TImportDataXml
// builds the radiometer data set from what is read. No window code here.
//
// Malformed files never raise: a file that cannot be read or parsed, a date that is not one, or a
// position, filter number or mirror count that is not an integer, makes the import fail with the
// line and the element named.
#include "common/analysis/RadioDataSet.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class QIODevice;
class QString;

namespace radio {

// Deeper element nesting than this is refused (a valid file nests four levels).
constexpr int kQ5xMaxDepth = 256;

struct TQ5xMeasure {
    std::string Id, T, F;        // attributes "id", "t", "f"
    bool HasF = false;
    // The element's first run of text: "12" of <m>12<x/>34</m>, "34" of <m><x/>34</m>.
    std::string Text;
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

// What is kept of a file besides its acquisitions.
struct TQ5xHeader {
    bool HasIns = false, HasData = false;
    std::string InstrumentId;    // last "n" of "ins"
    std::vector<TQ5xFilterElement> Filters;
};

// Called with every child element of "data" as soon as it is read, the empty ones included. The
// acquisition is reused for the next one: keep what is needed, not the reference.
using TQ5xAcquisitionObserver = std::function<void(const TQ5xAcquisition&)>;

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

// Reads a whole document from a device (from its start), handing over each acquisition. False
// with the error on a malformed file; the line of an encoding error is the line of the first byte
// that is not UTF-8 in a UTF-8 file, and none in a file of another encoding.
bool ReadQ5x(QIODevice& device, TQ5xHeader& header, const TQ5xAcquisitionObserver& onAcquisition,
             TQ5xError& error);

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

    // Reads the file; `observer`, when given, also sees every acquisition element as it is read.
    TImportDataXml(const std::string& fileName, TRadData& data, TQ5xVariant variant = TQ5xVariant::Viewer,
                   const TQ5xAcquisitionObserver& observer = {});
    // The same from a device; `fileName` names it in the messages.
    TImportDataXml(QIODevice& device, const std::string& fileName, TRadData& data,
                   TQ5xVariant variant = TQ5xVariant::Viewer, const TQ5xAcquisitionObserver& observer = {});

    int Status = StatusOk;
    TQ5xError Error;

private:
    void Read(QIODevice& device, TRadData& data, TQ5xVariant variant, const TQ5xAcquisitionObserver& observer);
    bool Fail(long long line, const std::string& element, const std::string& reason);
};

}  // namespace radio
