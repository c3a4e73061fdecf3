#pragma once
// Loads the description lists of the data folder once, so that the fuzzers reach the decoding of
// records by measurement type, not only the framing.
void LoadFuzzDescriptions();
