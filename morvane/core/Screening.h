#pragma once
// Cloud screening of the Level 1 file into the .ta2 file.

#include <ostream>
#include <string>
#include <vector>

namespace morvane {

struct ScreeningSummary {
  long read = 0, written = 0, malformed = 0;
};

// Screens taoPath into ta2Path. valueColumns: value columns of every row; place440: place of the
// 440 nm channel among the selected wavelengths (0 = none: only the cloud flag is tested).
// Throws Failure on an unreadable input or an unwritable output.
ScreeningSummary ScreenClouds(const std::string &taoPath, const std::string &ta2Path, int valueColumns, int place440,
                              std::ostream &diag);

// The day screening alone: taus and times of one day's clear records in time order; returns the indices
// kept (empty when the day is dropped).
std::vector<size_t> ScreenDay(const std::vector<double> &tau440, const std::vector<double> &time);

} // namespace morvane
