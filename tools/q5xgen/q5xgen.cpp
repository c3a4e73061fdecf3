// zelt-q5xgen: writes the sample ".q5x" radiometer files from a known series, and long files of the
// same kind for the benchmarks.
//
//   zelt-q5xgen zenith-day|cold-night [output]      (standard output without an output name)
//   zelt-q5xgen series [--acquisitions N] [--size BYTES] [--counts C] [output]
//
// "series": acquisitions one minute apart from 01/01/2025, the sky (position 0) with the black body
// (position 1) every tenth; N acquisitions (default 1000), or as many as make a file of about BYTES;
// each with C infrared counts and their mirror counts (default 3), filter numbers 1 to C.
//
// For each acquisition the generator takes a known sky brightness temperature Tsky and head
// temperature Th (kelvin), turns them into radiances with the radiometer law of each filter
//   L(T) = a / (exp(b / T^n) - d)
// and writes the digital count that the instrument would give with its reference mirror count CNm
// and gain S:
//   CN = CNm + S * (L(Tsky) - L(Th))
// so that L(Tsky) = L(Th) + (CN - CNm) / S gives the known series back. The coefficients of each
// filter are in data/q5x/README.md. Everything is repeatable: the noise comes from a fixed seed.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Filter {
    int id;
    const char* wavelengthText;  // nm, as written in the file
    double a, b, n, d, S;
};

// a = 1.191e8 / lambda^5 and b = 14388 / lambda for lambda in micrometres; n = d = 1.
const Filter kFilters[] = {
    {1, "8700", 2389.57, 1653.79, 1, 1, 2000},
    {2, "10800.0", 810.57, 1332.22, 1, 1, 2500},
    {3, "12000", 478.63, 1199.00, 1, 1, 3000},
};

double Radiance(const Filter& f, double kelvin) { return f.a / (std::exp(f.b / std::pow(kelvin, f.n)) - f.d); }

// A small linear congruential generator: the same numbers on every machine.
class Noise {
public:
    explicit Noise(uint32_t seed) : state_(seed) {}
    // Uniform in [-1, 1).
    double Next()
    {
        state_ = state_ * 1664525u + 1013904223u;
        return (state_ >> 8) / double(1u << 24) * 2.0 - 1.0;
    }

private:
    uint32_t state_;
};

struct Acquisition {
    int year, month, day, hour, minute, second;
    int position;
    double skyC, headC, blackC, humidity;  // degrees Celsius and percent; NAN: not written
    bool headNotAvailableFirst = false;    // an "n/a" head temperature before the real one
    int mirrorMissingFilter = 0;           // this filter's mirror count is not written
};

std::string Format(const char* format, double value)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, value);
    return buffer;
}

std::string Header(const std::vector<Filter>& filters)
{
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<!-- Sample made by zelt-q5xgen from a known sky temperature series (data/q5x/README.md) -->\n"
                      "<q5x>\n  <ins>\n    <n>SP0A0123</n>\n";
    for (const Filter& f : filters)
        out += "    <f id=\"" + std::to_string(f.id) + "\">" + f.wavelengthText + "</f>\n";
    out += "  </ins>\n  <data>\n";
    return out;
}

const char* const kFooter = "  </data>\n</q5x>\n";

std::string AcquisitionText(const Acquisition& a, const std::vector<Filter>& filters, Noise& noise)
{
    char when[64];
    std::snprintf(when, sizeof when, "      <d>%04d-%02d-%02d</d>\n      <h>%02d:%02d:%02d</h>\n", a.year, a.month,
                  a.day, a.hour, a.minute, a.second);
    std::string out = "    <acq>\n";
    out += when;
    out += "      <p>" + std::to_string(a.position) + "</p>\n";
    if (a.headNotAvailableFirst) out += "      <m id=\"EL_TEMPHEAD\">n/a</m>\n";
    if (!std::isnan(a.headC)) out += "      <m id=\"EL_TEMPHEAD\">" + Format("%.2f", a.headC) + "</m>\n";
    if (!std::isnan(a.blackC)) out += "      <m id=\"EL_TEMPBLACK\">" + Format("%.2f", a.blackC) + "</m>\n";
    if (!std::isnan(a.humidity)) out += "      <m id=\"EL_HUM\">" + Format("%.1f", a.humidity) + "</m>\n";
    for (const Filter& f : filters) {
        const double mirror = std::round(30000 + 40 * noise.Next());
        const double count =
            mirror + f.S * (Radiance(f, a.skyC + 273.15) - Radiance(f, a.headC + 273.15)) + 0.5 * noise.Next();
        out += "      <m id=\"EL_RAD\" t=\"IR\" f=\"" + std::to_string(f.id) + "\">" + Format("%.1f", count) +
               "</m>\n";
        if (a.mirrorMissingFilter != f.id)
            out += "      <m id=\"EL_RAD\" t=\"MIR\" f=\"" + std::to_string(f.id) + "\">" + Format("%.0f", mirror) +
                   "</m>\n";
    }
    out += "    </acq>\n";
    return out;
}

std::string Write(const std::vector<Acquisition>& list, const std::vector<Filter>& filters, uint32_t seed)
{
    Noise noise(seed);
    std::string out = Header(filters);
    for (const Acquisition& a : list) out += AcquisitionText(a, filters, noise);
    return out + kFooter;
}

constexpr double kPi = 3.14159265358979323846;

// A winter day at the zenith: every ten minutes the sky (position 0), every hour the black body
// (position 1, which sees the black-body temperature); a cloud passes from 13:00 to 15:00.
std::string ZenithDay()
{
    std::vector<Acquisition> list;
    for (int minutes = 0; minutes < 24 * 60; minutes += 10) {
        const double hours = minutes / 60.0;
        const double wave = std::sin(2 * kPi * (hours - 8) / 24);
        Acquisition a{2025, 1, 15, minutes / 60, minutes % 60, 0, 0, 0, 0, 0, 0};
        a.headC = -1 + 5 * wave;
        a.blackC = a.headC + 0.8;
        a.humidity = 80 - 15 * wave;
        if (minutes % 60 == 0) {
            Acquisition b = a;
            b.second = 30;
            b.position = 1;
            b.skyC = b.blackC;
            list.push_back(b);
        }
        a.minute += 5;
        a.skyC = -45 + 10 * wave + (hours >= 13 && hours < 15 ? 30 : 0);
        if (list.size() % 25 == 7) a.humidity = NAN;
        if (minutes == 6 * 60) a.mirrorMissingFilter = 2;
        if (minutes == 9 * 60) a.headNotAvailableFirst = true;
        list.push_back(a);
    }
    // The hourly black-body views sort before the sky view of the same hour.
    return Write(list, {kFilters[0], kFilters[1], kFilters[2]}, 20250115u);
}

// A cold night: a constant head temperature below zero, the sky every quarter of an hour.
std::string ColdNight()
{
    std::vector<Acquisition> list;
    for (int i = 0; i < 12; ++i) {
        const int minutes = 20 * 60 + 15 * i;
        Acquisition a{2025, 1, 20, minutes / 60, minutes % 60, 0, 0, 0, 0, 0, 0};
        a.headC = -12.5;
        a.blackC = i % 4 == 3 ? NAN : -11.0 - 0.1 * i;
        a.humidity = 92;
        a.skyC = -52 + 0.5 * i;
        list.push_back(a);
    }
    return Write(list, {kFilters[1], kFilters[2]}, 20250120u);
}

// A long series for the benchmarks, written as it is made: `acquisitions` one minute apart (or, with
// `size` > 0, as many as make about that many bytes), `counts` filters 1 to `counts` in each.
bool WriteSeries(FILE* out, long long acquisitions, long long size, int counts)
{
    std::vector<Filter> filters;
    for (int i = 0; i < counts; ++i) {
        Filter f = kFilters[i % 3];
        f.id = i + 1;
        filters.push_back(f);
    }
    Noise noise(20250101u);
    std::string text = Header(filters);
    long long written = 0;
    for (long long i = 0; size > 0 ? written + static_cast<long long>(text.size()) < size : i < acquisitions; ++i) {
        // Minutes from 01/01/2025 00:00, whole days of 1440 minutes.
        const long long day = i / 1440, minute = i % 1440;
        int year = 2025, month = 1, dayOfMonth = 1 + static_cast<int>(day);
        static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
        while (dayOfMonth > kDays[month - 1] + (month == 2 && year % 4 == 0 ? 1 : 0)) {
            dayOfMonth -= kDays[month - 1] + (month == 2 && year % 4 == 0 ? 1 : 0);
            if (++month > 12) {
                month = 1;
                ++year;
            }
        }
        const double hours = minute / 60.0;
        const double wave = std::sin(2 * kPi * (hours - 8) / 24);
        Acquisition a{year, month, dayOfMonth, static_cast<int>(minute / 60), static_cast<int>(minute % 60), 0, 0, 0, 0, 0, 0};
        a.headC = -1 + 5 * wave;
        a.blackC = a.headC + 0.8;
        a.humidity = 80 - 15 * wave;
        a.position = i % 10 == 0 ? 1 : 0;
        a.skyC = a.position == 1 ? a.blackC : -45 + 10 * wave;
        text += AcquisitionText(a, filters, noise);
        if (text.size() >= (1u << 20)) {
            if (std::fwrite(text.data(), 1, text.size(), out) != text.size()) return false;
            written += static_cast<long long>(text.size());
            text.clear();
        }
    }
    text += kFooter;
    return std::fwrite(text.data(), 1, text.size(), out) == text.size();
}

int Usage()
{
    std::fprintf(stderr, "usage: zelt-q5xgen zenith-day|cold-night [output]\n"
                         "       zelt-q5xgen series [--acquisitions N] [--size BYTES] [--counts C] [output]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) return Usage();
    const std::string which = argv[1];
    std::string text, output;
    long long acquisitions = 1000, size = 0;
    int counts = 3;
    int next = 2;
    if (which == "series") {
        for (; next + 1 < argc && argv[next][0] == '-'; next += 2) {
            const std::string option = argv[next];
            const long long value = std::atoll(argv[next + 1]);
            if (option == "--acquisitions" && value >= 0) acquisitions = value;
            else if (option == "--size" && value > 0) size = value;
            else if (option == "--counts" && value > 0 && value < 1000000) counts = static_cast<int>(value);
            else return Usage();
        }
    } else if (which == "zenith-day") {
        text = ZenithDay();
    } else if (which == "cold-night") {
        text = ColdNight();
    } else {
        std::fprintf(stderr, "zelt-q5xgen: unknown sample %s\n", argv[1]);
        return 2;
    }
    if (argc > next + 1 || (next < argc && argv[next][0] == '-')) return Usage();
    if (next < argc) output = argv[next];
    FILE* out = output.empty() ? stdout : std::fopen(output.c_str(), "wb");
    if (!out) {
        std::perror(output.c_str());
        return 1;
    }
    const bool written = which == "series" ? WriteSeries(out, acquisitions, size, counts)
                                           : std::fwrite(text.data(), 1, text.size(), out) == text.size();
    const bool closed = out == stdout ? std::fflush(out) == 0 : std::fclose(out) == 0;
    if (!written || !closed) {
        std::fprintf(stderr, "zelt-q5xgen: cannot write the output\n");
        return 1;
    }
    return 0;
}
