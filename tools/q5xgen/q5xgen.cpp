// zelt-q5xgen: writes the sample ".q5x" radiometer files from a known series.
//
//   zelt-q5xgen zenith-day|cold-night [output]      (standard output without an output name)
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

std::string Write(const std::vector<Acquisition>& list, const std::vector<Filter>& filters, uint32_t seed)
{
    Noise noise(seed);
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<!-- Sample made by zelt-q5xgen from a known sky temperature series (data/q5x/README.md) -->\n"
                      "<q5x>\n  <ins>\n    <n>SP0A0123</n>\n";
    for (const Filter& f : filters)
        out += "    <f id=\"" + std::to_string(f.id) + "\">" + f.wavelengthText + "</f>\n";
    out += "  </ins>\n  <data>\n";
    for (const Acquisition& a : list) {
        char when[64];
        std::snprintf(when, sizeof when, "      <d>%04d-%02d-%02d</d>\n      <h>%02d:%02d:%02d</h>\n", a.year, a.month,
                      a.day, a.hour, a.minute, a.second);
        out += "    <acq>\n";
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
    }
    out += "  </data>\n</q5x>\n";
    return out;
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

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: zelt-q5xgen zenith-day|cold-night [output]\n");
        return 2;
    }
    const std::string which = argv[1];
    std::string text;
    if (which == "zenith-day")
        text = ZenithDay();
    else if (which == "cold-night")
        text = ColdNight();
    else {
        std::fprintf(stderr, "zelt-q5xgen: unknown sample %s\n", argv[1]);
        return 2;
    }
    FILE* out = argc == 3 ? std::fopen(argv[2], "wb") : stdout;
    if (!out) {
        std::perror(argv[2]);
        return 1;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size();
    const bool closed = out == stdout ? std::fflush(out) == 0 : std::fclose(out) == 0;
    if (!written || !closed) {
        std::fprintf(stderr, "zelt-q5xgen: cannot write the output\n");
        return 1;
    }
    return 0;
}
