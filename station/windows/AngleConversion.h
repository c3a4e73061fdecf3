// Latitude and longitude between their written forms: decimal degrees, hours/minutes/seconds East or
// West, degrees and minutes, and minutes. One value in decimal degrees is kept; the form being edited
// is read into it and the other forms are written from it.
#pragma once

#include <string>

struct THourlyAngle {
    std::string HH, MM, SS;
    bool West = false;
};

struct TDegMinAngle {
    std::string DD, MM;
};

class TAngleConversion {
public:
    enum class Form { Hourly, Decimal, DegreesMinutes, Minutes };

    // Each reader sets Value and clears Error when the text is a valid angle, else sets Error and keeps
    // the previous Value.
    void ReadDecimal(const std::string& text);
    void ReadHourly(const THourlyAngle& hourly);
    void ReadDegreesMinutes(const TDegMinAngle& degMin);
    void ReadMinutes(const std::string& text);

    THourlyAngle HourlyText() const;
    std::string DecimalText() const;
    TDegMinAngle DegreesMinutesText() const;
    std::string MinutesText() const;

    double Value = 0;
    bool Error = false;

private:
    void Accept(bool valid, double degrees);
};
