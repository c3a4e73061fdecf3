// q5gen: writes a Q5 data file of generated records (see --help).
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/FileUtils.h"
#include "tools/q5gen/Q5Gen.h"

namespace {

const char kUsage[] =
    "Usage: q5gen [options] OUTPUT.q5\n"
    "Writes a Q5 data file (256-byte parameter block, then records) from the description files.\n"
    "  --data DIR          description files (default: the installed data folder)\n"
    "  --id ID             instrument identifier (default SP0A0123; SP0B0001 is the infrared radiometer)\n"
    "  --records N         records to write, damaged ones included (default 100)\n"
    "  --size BYTES        instead of --records: about this many bytes of file\n"
    "  --damaged N         records damaged at random: end marker, length copy, date, code, markers\n"
    "  --damage-kinds MASK which of those (bits 1 2 4 8 16, default 31)\n"
    "  --erased BYTES      erased memory (0xFF) after the records (default 0)\n"
    "  --seed N            seed of the values (default 1): the same options give the same file\n"
    "  --start DATE        first record, UTC, YYYY-MM-DDTHH:MM:SS (default 2025-06-21T04:00:00)\n"
    "  --interval SECONDS  time between records (default 120)\n"
    "  --param CODE=VALUE  station parameter, as the parameter editor takes it (repeatable)\n"
    "  --sun-days N        instead of the records above: direct-sun triplets (NSU) every --interval\n"
    "                      seconds over N whole days from the start date, while the sun is up; the\n"
    "                      counts follow V0 x exp(-air mass x optical depth) per filter (see data/README.md)\n"
    "  --sun-extras        with --sun-days: triplets with dark counts (SSK) instead\n"
    "  --sun-temp C        with --sun-days: instrument temperature (default 25)\n"
    "  --sun-noise P       with --sun-days: relative noise of every count (default 0; 0.01 is 1 %)\n"
    "  --report            print what the file holds\n";

bool ParseCount(const char* text, long long& value) {
  char* end = nullptr;
  long long v = std::strtoll(text, &end, 10);
  if (end == text || *end != '\0' || v < 0) return false;
  value = v;
  return true;
}

bool ParseReal(const char* text, double& value) {
  char* end = nullptr;
  double v = std::strtod(text, &end);
  if (end == text || *end != '\0' || !std::isfinite(v) || v < -100 || v > 100) return false;
  value = v;
  return true;
}

int Usage(const std::string& message) {
  std::fprintf(stderr, "q5gen: %s\n%s", message.c_str(), kUsage);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  q5gen::Options options;
  std::string output;
  bool report = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "--report") {
      report = true;
      continue;
    }
    if (arg == "--sun-extras") {
      options.sunExtras = true;
      continue;
    }
    if (arg.rfind("--", 0) == 0) {
      if (i + 1 >= argc) return Usage("missing value after " + arg);
      const char* value = argv[++i];
      long long n = 0;
      if (arg == "--data") options.dataDir = value;
      else if (arg == "--id") options.identifier = value;
      else if (arg == "--records" && ParseCount(value, n)) options.records = static_cast<long>(n);
      else if (arg == "--size" && ParseCount(value, n)) options.targetSize = n;
      else if (arg == "--damaged" && ParseCount(value, n)) options.damaged = static_cast<long>(n);
      else if (arg == "--damage-kinds" && ParseCount(value, n) && n > 0 && n < 32) options.damageKinds = static_cast<unsigned>(n);
      else if (arg == "--erased" && ParseCount(value, n)) options.erasedTail = n;
      else if (arg == "--seed" && ParseCount(value, n)) options.seed = static_cast<uint64_t>(n);
      else if (arg == "--interval" && ParseCount(value, n) && n > 0 && n < 86400 * 366) options.interval = static_cast<int>(n);
      else if (arg == "--sun-days" && ParseCount(value, n) && n <= 366) options.sunDays = static_cast<int>(n);
      else if (arg == "--sun-temp" && ParseReal(value, options.sunTemperature)) {}
      else if (arg == "--sun-noise" && ParseReal(value, options.sunNoise) && options.sunNoise < 1) {}
      else if (arg == "--start") {
        if (!q5gen::ParseDateTime(value, options.start)) return Usage(std::string("bad date ") + value);
      } else if (arg == "--param") {
        const char* eq = std::strchr(value, '=');
        if (!eq) return Usage(std::string("expected CODE=VALUE: ") + value);
        options.params.emplace_back(std::string(value, eq), std::string(eq + 1));
      } else {
        return Usage("bad option or value: " + arg + " " + value);
      }
      continue;
    }
    if (!output.empty()) return Usage("more than one output file");
    output = arg;
  }
  if (output.empty()) return Usage("no output file");

  std::string bytes;
  q5gen::Report counts;
  std::string error;
  if (!q5gen::Generate(options, bytes, counts, error)) {
    std::fprintf(stderr, "q5gen: %s\n", error.c_str());
    return 1;
  }
  if (!WriteFileAtomically(BytesToPath(output), bytes, &error)) {
    std::fprintf(stderr, "q5gen: cannot write %s: %s\n", output.c_str(), error.c_str());
    return 1;
  }
  if (report)
    std::printf("bytes=%lld typed=%ld end_corrupted=%ld broken_frame=%ld undated=%ld unknown_code=%ld "
                "markers=%ld\n",
                counts.bytes, counts.typed, counts.endCorrupted, counts.brokenFrame, counts.undated,
                counts.unknownCode, counts.markers);
  return 0;
}
