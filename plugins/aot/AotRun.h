#pragma once
// What the AOT window hands to the optical-depth program and takes back from it: the work folder, the
// parameter file, the run as a separate process, and the result records read at their columns.
#include <QString>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class TBgrData;
class TFilter;
class TQ5File;
class QWidget;

// Morvane's work folder: the per-user "Aot" folder (it finds its tables there first, then in the
// installed data folder). Created when missing.
std::string AotWorkFolder();
// Where the results of the data files of one folder are kept: the work folder's "Results" followed by
// that folder's full path, so that data files of the same name in other folders keep their own.
// Ends in '/'; not created.
std::string AotResultFolder(const std::string& dataFileName);
// The program: "morvane" beside the station program, else on PATH; empty when there is none.
std::string FindMorvane();

// The calibration file Morvane reads for a site: the per-user one, else the one of the legacy folder
// beside the data files when only that one exists.
std::string AotCalibrationFile(int siteNumber);
// Whether the site has a calibration file; when not, the user is told which file is missing and what
// writes it.
bool AotCalibrationFound(int siteNumber);

// What results were computed from: the data file's bytes as the station holds them (their count and
// digest). Empty without bytes, which no results can then be told to belong to.
std::string AotDataIdentity(const TQ5File& file);
// The extension of the file beside the results that holds that identity.
extern const char kResultSourceExtension[];

// The base of a data file's name without its ".q5" extension (any case); false for any other name.
bool AotBaseName(const std::string& dataFileName, std::string& base);

// A filter of the water-vapour channel (926 to 946 nm inclusive).
bool IsWaterVapourFilter(const TFilter& filter);

// Everything a parameter file holds, as the window knows it.
struct TAotParameters {
  int InstrumentCode = 1;
  std::string CalibrationFile;
  std::string OutputFile;  // the ".tao" to write
  double Lat = 0, Lon = 0, Alt = 0;
  std::optional<int> Ozone;         // Dobson units given by the user
  std::string DailyOzoneFile;       // used when no ozone is given and the user has one
  std::optional<int> Pressure;      // hPa given by the user
  std::string DataFile;             // the sun-measurement export
};

// "2" with exactly ten filters, else "3" with a polarised filter, else "1".
int AotInstrumentCode(const TBgrData& data);
// The one Angstrom combination the window asks for: the positions (from 1, in the instrument's order)
// of 870, 675, 440 and 500 nm.
extern const std::vector<int> kAngstromPositions;
// The parameter file's lines, in order ('.' as decimal mark, the site within Morvane's ranges).
std::vector<std::string> AotParameterLines(const TAotParameters& p);
// The daily ozone file a user may put in the work folder.
extern const char kDailyOzoneFileName[];

// One run of the program in `folder` with `arguments`; the wait keeps the windows painting, shows
// progress and offers Cancel (which ends the process).
struct TMorvaneRun {
  bool Ok = false;
  bool Cancelled = false;
  int ExitCode = 0;
  std::string Message;  // the program's standard error, or why it did not run
};
TMorvaneRun RunMorvane(const std::string& program, const QStringList& arguments, const std::string& folder,
                       QWidget* parent);

// Removes what Morvane leaves of a result file it did not finish: it writes each through a temporary
// file beside it, named "." + the file's name + "." + six characters, which a killed run cannot remove.
void RemoveUnfinishedResult(const std::string& resultFile);

// A 15-character number of a result record; nothing for an unparsable field ("NaN", asterisks, an
// exponent of three digits).
std::optional<double> ParseENumber(const std::string& field);

// The value column `column` (from 1) of a record laid out as a ".tao" line (a ".ta2" line without its
// first character): characters 65 + 15 x (column - 1) on; nothing past the end of the line.
std::optional<double> ValueColumn(const std::string& record, int column);

// What Morvane computes for an instrument: the positions (from 1, in the instrument's order, which is
// the order of the data set's filters) it gives an optical thickness, and whether it computes the
// water vapour.
struct TMorvaneChannels {
  std::vector<int> Computed;
  bool Vapour = false;
  std::vector<int> VapourFrom;  // the positions the water vapour is computed from: its channel, its references
  // The place of the data set's filter `filterIndex` among the computed ones; -1 for none.
  int PlaceOf(size_t filterIndex) const;
};
// As the "instruments.dat" that Morvane reads (the work folder's, else the installed one) describes the
// instrument `code`; when that file does not know it, every filter of the data set but the
// water-vapour filter, with the vapour when there is such a filter.
TMorvaneChannels MorvaneChannels(const TBgrData& data, int code, const std::string& workFolder);

// The filters of the data set (in its order, which the calibration's constants follow) that a
// calibration file leaves not calibrated, with a constant of 0: on some line, and on every line. All
// false for a file that Morvane refuses.
struct TUncalibratedFilters {
  std::vector<bool> Somewhere, Everywhere;
  bool AtSomeDate(size_t filterIndex) const { return filterIndex < Somewhere.size() && Somewhere[filterIndex]; }
  bool AtEveryDate(size_t filterIndex) const { return filterIndex < Everywhere.size() && Everywhere[filterIndex]; }
};
TUncalibratedFilters UncalibratedFilters(const std::string& calibrationFile, size_t filterCount);
// What Morvane writes where it computed nothing (a filter not calibrated, a count of zero): 1e-05.
bool IsPlaceholder(double value);

// Where the values of a record lie. Morvane writes, for n computed wavelengths and one combination, the
// optical thickness of the first then of the second pass (n columns each), beta, alpha, SD and r2 of
// each pass, then, with the water vapour, that of each pass; a record of the first pass alone holds n
// optical thicknesses and one beta, alpha, SD and r2.
struct TResultLayout {
  int Computed = 0;  // n
  bool SecondPass = true;
  bool Vapour = false;
  int AotColumn(int place) const { return SecondPass ? Computed + place + 1 : place + 1; }
  int AlphaColumn() const { return SecondPass ? 2 * Computed + 6 : Computed + 2; }
  int WaterVapourColumn() const { return Vapour ? 2 * Computed + 10 : 0; }
};
// The layout of one record: from its number of value columns when that tells, else Morvane's layout
// for the channels.
TResultLayout LayoutOf(const std::string& record, const TMorvaneChannels& channels);

// The alpha of a record; nothing where Morvane fitted none: its placeholder, or the placeholder as the
// optical thickness of a wavelength of the combination (an earlier Morvane fitted through it).
std::optional<double> AngstromAlpha(const std::string& record, const TResultLayout& layout,
                                    const TMorvaneChannels& channels);

// The date-time of a record laid out as a ".tao" line (year 1-5, month 6-9, day 10-13, hour 14-17,
// minute 18-21, seconds 22-28, truncated) and its day number (29-41); false when unreadable.
bool RecordTime(const std::string& record, double& dateTime, double& julian);
