#pragma once
// Date-time values: days since 30/12/1899 as a double, the fraction being the time of day. Before that
// day the whole part is negative and the fraction still the time of day (-1.25 is 29/12/1899 06:00).
// Values of the data model are UTC; NowLocal is for file names and log lines only.
#include <string>

constexpr double UnixDateDelta = 25569.0;   // 01/01/1970 as a date-time value
constexpr double MSecsPerDay = 86400000.0;

bool TryEncodeDate(int year, int month, int day, double& out);
bool TryEncodeTime(int hour, int minute, int second, int msec, double& out);
bool TryEncodeDateTime(int year, int month, int day, int hour, int minute, int second, int msec, double& out);
bool IsLeapYear(int year);
int DaysInMonth(int year, int month);   // 0 for a month outside 1-12

void DecodeDate(double value, int& year, int& month, int& day);
void DecodeTime(double value, int& hour, int& minute, int& second, int& msec);
void DecodeDateTime(double value, int& year, int& month, int& day, int& hour, int& minute, int& second,
                    int& msec);

// Two-digit years of the instrument: 0-80 are 2000-2080, 81-99 are 1981-1999, other values unchanged.
int ExpandYear(int year);

double UnixMsToDateTime(long long msSinceEpoch);
long long DateTimeToUnixMs(double value);

double NowUTC();
double NowLocal();

// Formats with the tokens yyyy yy mm m dd d hh h nn n ss s zzz z (m = month, n = minute);
// text between double quotes and every other character are copied as they stand.
std::string FormatDateTime(const std::string& format, double value);
std::string ShortDateText(double value);   // dd/mm/yyyy
std::string TimeText(double value);        // hh:nn:ss
