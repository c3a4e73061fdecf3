#include "plugins/aot/AotRun.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QProgressDialog>
#include <QStandardPaths>
#include <QTimer>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <unistd.h>

#include "common/DataPaths.h"
#include "common/DateTime.h"
#include "common/FileUtils.h"
#include "common/Instrument.h"
#include "common/Prompt.h"
#include "common/Q5File.h"
#include "common/analysis/BgrData.h"
#include "common/analysis/CalibFile.h"
#include "morvane/core/Calibration.h"
#include "morvane/core/ResultFiles.h"
#include "morvane/core/Tables.h"

const char kDailyOzoneFileName[] = "ozonodiario.dat";
const std::vector<int> kAngstromPositions = {2, 3, 4, 5};
const char kResultSourceExtension[] = ".source";

std::string AotWorkFolder() {
  const std::filesystem::path folder = UserDataDir(true) / "Aot";
  ForceDirectories(folder);
  return IncludeTrailingSlash(PathToBytes(folder));
}

std::string AotResultFolder(const std::string& dataFileName) {
  const std::string dir = ExtractFileDir(dataFileName);
  std::error_code ec;
  std::filesystem::path folder = std::filesystem::absolute(BytesToPath(dir.empty() ? "." : dir), ec);
  const std::filesystem::path real = std::filesystem::weakly_canonical(folder, ec);
  folder = ec ? folder.lexically_normal() : real;
  return IncludeTrailingSlash(PathToBytes(BytesToPath(AotWorkFolder()) / "Results" / folder.relative_path()));
}

std::string FindMorvane() {
  const std::filesystem::path beside = ProgramDir() / "morvane";
  if (FileExists(beside) && ::access(beside.c_str(), X_OK) == 0) return PathToBytes(beside);
  return QStandardPaths::findExecutable("morvane").toStdString();
}

std::string AotCalibrationFile(int siteNumber) {
  const std::string name = TCalibFile::FileNameFor(siteNumber);
  const std::string legacy = LegacyCalibrationFolder();
  if (FileExists(BytesToPath(name)) || legacy.empty() || !FileExists(BytesToPath(legacy + ExtractFileName(name))))
    return name;
  return legacy + ExtractFileName(name);
}

bool AotCalibrationFound(int siteNumber) {
  if (FileExists(BytesToPath(AotCalibrationFile(siteNumber)))) return true;
  // The classic text, then the file this station looks for and where it comes from.
  ShowWarning(TextWithFileName("No calibration file for this instrument (..\\Calibration\\calibr" +
                                   std::to_string(siteNumber) + ".cal)\n",
                               TCalibFile::FileNameFor(siteNumber),
                               " does not exist: the Bouguer-Langley calibration writes it."));
  return false;
}

std::string AotDataIdentity(const TQ5File& file) {
  if (!file.Image || file.ImageLength <= 0) return {};
  const QByteArray digest = QCryptographicHash::hash(
      QByteArrayView(file.Image.get(), file.ImageLength), QCryptographicHash::Sha256);
  return std::to_string(file.ImageLength) + " " + digest.toHex().toStdString();
}

bool AotBaseName(const std::string& dataFileName, std::string& base) {
  const std::string name = ExtractFileName(dataFileName);
  if (name.size() <= 3) return false;
  const std::string ext = name.substr(name.size() - 3);
  if (ext != ".q5" && ext != ".Q5") return false;
  base = name.substr(0, name.size() - 3);
  return true;
}

bool IsWaterVapourFilter(const TFilter& filter) {
  return filter.FilterDef && filter.FilterDef->Wavelength >= 926 && filter.FilterDef->Wavelength <= 946;
}

int TMorvaneChannels::PlaceOf(size_t filterIndex) const {
  const auto at = std::find(Computed.begin(), Computed.end(), static_cast<int>(filterIndex) + 1);
  return at == Computed.end() ? -1 : static_cast<int>(at - Computed.begin());
}

TMorvaneChannels MorvaneChannels(const TBgrData& data, int code, const std::string& workFolder) {
  TMorvaneChannels channels;
  std::string table = workFolder + "instruments.dat";
  if (!FileExists(BytesToPath(table))) table = PathToBytes(InstalledDataFile("morvane/instruments.dat"));
  try {
    const morvane::InstrumentDesc instrument = morvane::ReadInstrument(table, code);
    for (int position = 1; position <= instrument.nwl; ++position)
      if (position != instrument.vapour) channels.Computed.push_back(position);
    channels.Vapour = instrument.vapour >= 1;
    if (channels.Vapour) {
      channels.VapourFrom = instrument.references;
      channels.VapourFrom.push_back(instrument.vapour);
    }
    return channels;
  } catch (const morvane::Failure&) {
  }
  for (size_t i = 0; i < data.FilterList.size(); ++i) {
    if (IsWaterVapourFilter(*data.FilterList[i])) {
      channels.Vapour = true;
      channels.VapourFrom.push_back(static_cast<int>(i) + 1);
    } else {
      channels.Computed.push_back(static_cast<int>(i) + 1);
    }
  }
  return channels;
}

TUncalibratedFilters UncalibratedFilters(const std::string& calibrationFile, size_t filterCount) {
  TUncalibratedFilters filters;
  filters.Somewhere.assign(filterCount, false);
  filters.Everywhere.assign(filterCount, false);
  // Read as Morvane reads it.
  morvane::Calibration calibration;
  try {
    calibration.Load(calibrationFile, static_cast<int>(filterCount));
  } catch (const morvane::Failure&) {
    return filters;
  }
  std::vector<size_t> zeroLines(filterCount, 0);
  for (const morvane::Calibration::Uncalibrated& zero : calibration.Zeros()) {
    const size_t i = static_cast<size_t>(zero.position - 1);
    filters.Somewhere[i] = true;
    ++zeroLines[i];
  }
  for (size_t i = 0; i < filterCount; ++i) filters.Everywhere[i] = zeroLines[i] == calibration.size();
  return filters;
}

bool IsPlaceholder(double value) { return value == morvane::kMarker; }

int AotInstrumentCode(const TBgrData& data) {
  if (data.FilterList.size() == 10) return 2;
  for (const auto& f : data.FilterList)
    if (f->FilterDef && f->FilterDef->Polarised) return 3;
  return 1;
}

namespace {
// Morvane refuses a site outside these (its own limits): latitude within +-90, longitude within +-180
// (a longitude past 180 is the same meridian counted the other way), altitude -500 to 9000 m.
double LongitudeWithin180(double lon) {
  if (!std::isfinite(lon)) return 0;
  lon = std::fmod(lon, 360.0);
  if (lon > 180) lon -= 360;
  if (lon < -180) lon += 360;
  return lon;
}
double Within(double v, double lo, double hi) { return std::isfinite(v) ? std::clamp(v, lo, hi) : 0.0; }
}  // namespace

std::vector<std::string> AotParameterLines(const TAotParameters& p) {
  std::vector<std::string> lines;
  lines.push_back(std::to_string(p.InstrumentCode));
  lines.push_back(p.CalibrationFile);
  lines.push_back(p.OutputFile);
  lines.push_back("1");
  lines.push_back(RealTextDot(Within(p.Lat, -90, 90)));
  lines.push_back(RealTextDot(LongitudeWithin180(p.Lon)));
  lines.push_back(RealTextDot(Within(p.Alt, -500, 9000)));
  lines.push_back("-2");
  if (p.Ozone || p.DailyOzoneFile.empty()) {
    lines.push_back(std::to_string(p.Ozone.value_or(300)));
  } else {
    lines.push_back("-1");
    lines.push_back(p.DailyOzoneFile);
  }
  lines.push_back("1");
  lines.push_back(std::to_string(kAngstromPositions.size()));
  std::string positions;
  for (int position : kAngstromPositions) positions += (positions.empty() ? "" : " ") + std::to_string(position);
  lines.push_back(positions);
  lines.push_back(p.Pressure ? std::to_string(*p.Pressure) : std::string("-1"));
  lines.push_back(p.DataFile);
  return lines;
}

TMorvaneRun RunMorvane(const std::string& program, const QStringList& arguments, const std::string& folder,
                       QWidget* parent) {
  TMorvaneRun run;
  QProcess process;
  process.setProgram(QString::fromStdString(program));
  process.setArguments(arguments);
  process.setWorkingDirectory(QString::fromStdString(folder));
  process.setStandardInputFile(QProcess::nullDevice());

  // The window computes before it is first shown: a hidden owner would keep the progress hidden too.
  QWidget* owner = parent && parent->isVisible() ? parent : nullptr;
  QProgressDialog progress("Computing the optical thickness with Morvane...", "Cancel", 0, 0, owner);
  progress.setObjectName("MorvaneProgress");
  progress.setWindowTitle("AOT");
  progress.setWindowModality(owner ? Qt::WindowModal : Qt::ApplicationModal);
  progress.setMinimumDuration(0);
  progress.setAutoClose(false);
  progress.setAutoReset(false);

  QEventLoop loop;
  bool failedToStart = false;
  QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
  QObject::connect(&process, &QProcess::errorOccurred, &loop, [&](QProcess::ProcessError e) {
    if (e == QProcess::FailedToStart) {
      failedToStart = true;
      loop.quit();
    }
  });
  QObject::connect(&progress, &QProgressDialog::canceled, &loop, [&] {
    run.Cancelled = true;
    process.kill();
  });
  // Morvane says nothing while it works: the time it has taken is the progress shown.
  QElapsedTimer elapsed;
  elapsed.start();
  QTimer tick;
  QObject::connect(&tick, &QTimer::timeout, &progress, [&] {
    progress.setLabelText(QString("Computing the optical thickness with Morvane... %1 s").arg(elapsed.elapsed() / 1000));
  });
  tick.start(500);
  process.start();
  progress.show();
  if (process.state() != QProcess::NotRunning || !failedToStart) loop.exec();
  progress.hide();
  if (failedToStart) {
    run.Message = "CreateProcess failed .\n" + process.errorString().toStdString();
    return run;
  }
  if (process.state() != QProcess::NotRunning) process.waitForFinished(-1);
  const std::string err = process.readAllStandardError().trimmed().toStdString();
  if (run.Cancelled) {
    run.Message = "Morvane was cancelled.";
    return run;
  }
  if (process.exitStatus() == QProcess::CrashExit) {
    run.Message = "Morvane stopped abnormally." + (err.empty() ? std::string() : "\n" + err);
    return run;
  }
  run.ExitCode = process.exitCode();
  run.Ok = run.ExitCode == 0;
  if (!run.Ok)
    run.Message = err.empty() ? "Morvane ended with status " + std::to_string(run.ExitCode) + "." : err;
  return run;
}

void RemoveUnfinishedResult(const std::string& resultFile) {
  const std::filesystem::path target = BytesToPath(resultFile);
  const std::string prefix = "." + PathToBytes(target.filename()) + ".";
  constexpr size_t kUniqueChars = 6;  // what mkstemp puts in place of "XXXXXX"
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(target.parent_path(), ec)) {
    const std::string name = PathToBytes(entry.path().filename());
    if (name.size() == prefix.size() + kUniqueChars && name.compare(0, prefix.size(), prefix) == 0 &&
        entry.is_regular_file(ec))
      DeleteFileIfExists(entry.path());
  }
}

std::optional<double> ParseENumber(const std::string& field) {
  size_t b = 0, e = field.size();
  while (b < e && field[b] == ' ') ++b;
  while (e > b && (field[e - 1] == ' ' || field[e - 1] == '\r')) --e;
  if (b == e) return std::nullopt;
  double v = 0;
  const char* first = field.data() + b;
  const char* last = field.data() + e;
  const auto res = std::from_chars(first, last, v, std::chars_format::general);
  if (res.ec != std::errc() || res.ptr != last || !std::isfinite(v)) return std::nullopt;
  // Only plain reals: from_chars also takes "inf" and "nan" spellings, which the finite check drops.
  return v;
}

std::optional<double> ValueColumn(const std::string& record, int column) {
  if (column < 1) return std::nullopt;
  const size_t start = 64 + 15 * static_cast<size_t>(column - 1);  // 0-based start of the field
  if (start + 15 > record.size()) return std::nullopt;  // a field cut by the end of the line
  return ParseENumber(record.substr(start, 15));
}

TResultLayout LayoutOf(const std::string& record, const TMorvaneChannels& channels) {
  TResultLayout layout;
  const int n = static_cast<int>(channels.Computed.size());
  layout.Computed = n;
  size_t end = record.size();
  while (end > 0 && (record[end - 1] == ' ' || record[end - 1] == '\r')) --end;
  const int columns = end > 64 ? static_cast<int>((end - 64 + 14) / 15) : 0;
  if (columns == 2 * n + 10) {
    layout.Vapour = true;
  } else if (columns == 2 * n + 8) {
    layout.Vapour = false;
  } else if (columns == n + 4) {
    layout.SecondPass = false;
  } else {
    layout.Vapour = channels.Vapour;  // a line cut short: the layout Morvane writes for the instrument
  }
  return layout;
}

std::optional<double> AngstromAlpha(const std::string& record, const TResultLayout& layout,
                                    const TMorvaneChannels& channels) {
  const std::optional<double> alpha = ValueColumn(record, layout.AlphaColumn());
  if (!alpha || IsPlaceholder(*alpha)) return std::nullopt;
  for (int position : kAngstromPositions) {
    const int place = channels.PlaceOf(static_cast<size_t>(position - 1));
    const std::optional<double> aot = place < 0 ? std::nullopt : ValueColumn(record, layout.AotColumn(place));
    if (aot && IsPlaceholder(*aot)) return std::nullopt;
  }
  return alpha;
}

namespace {
bool IntField(const std::string& record, size_t from, size_t to, int& value) {
  if (record.size() < to) return false;
  std::string s = record.substr(from - 1, to - from + 1);
  size_t b = s.find_first_not_of(' ');
  if (b == std::string::npos) return false;
  s = s.substr(b);
  const auto res = std::from_chars(s.data(), s.data() + s.size(), value);
  return res.ec == std::errc() && res.ptr == s.data() + s.size();
}
}  // namespace

bool RecordTime(const std::string& record, double& dateTime, double& julian) {
  int year, month, day, hour, minute;
  if (!IntField(record, 1, 5, year) || !IntField(record, 6, 9, month) || !IntField(record, 10, 13, day) ||
      !IntField(record, 14, 17, hour) || !IntField(record, 18, 21, minute) || record.size() < 41)
    return false;
  const std::optional<double> seconds = ParseENumber(record.substr(21, 7));
  const std::optional<double> n = ParseENumber(record.substr(28, 13));
  if (!seconds || !n || *seconds < 0 || *seconds >= 61) return false;
  julian = *n;
  return TryEncodeDateTime(year, month, day, hour, minute, std::min(59, static_cast<int>(*seconds)), 0, dateTime);
}
