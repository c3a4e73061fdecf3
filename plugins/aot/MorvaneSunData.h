#pragma once
// The sun triplets as Morvane is to read them. The station's ASCII export, made to write numbers, writes
// an instrument code in place of a reading (over range, no value, hardware error, absent, ...) as its raw
// number, which Morvane would take for a count. Here every reading of a filter is written as a count of 0
// in a record where one of its readings holds a code: Morvane then computes nothing from that filter in
// that record, from the mean of the three readings or from the first, and screens the record as it does
// for a reading lost.
#include <string>

class TQ5File;

struct TMorvaneSunData {
  long CodedReadings = 0;  // readings that held an instrument code
  long Records = 0;        // the records they lie in
};

// Rewrites the sun-triplet export `nsuFile` (written from `file` by its ASCII export, in Morvane's
// options) when a record holds a code, as said above; untouched otherwise. False when it could not be
// written (`error` says why).
bool WithoutInstrumentCodes(const TQ5File& file, const std::string& nsuFile, TMorvaneSunData& found,
                            std::string& error);
