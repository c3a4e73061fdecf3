#pragma once
// Import of the host's sun data into the analysis data set: the sun filters in the canonical order,
// one count point per sun value of the direct-sun sequences, and the site from the station parameters
// and the site file.
#include <cstdint>
#include <vector>

class TBgrData;
class TFilter;
class TFilterDef;
class TParamsList;
class TQ5File;

class TImportData {
 public:
  enum { ImportOk = 0, NoSunFilter = 1, NoSunCount = 2 };

  // Performs the whole import into `data` (the global data set) from the data file and the decoded
  // station parameters (either may be null); then Status tells how it went. `countsToo` false is the
  // variant without points (filters and site only), which never sets NoSunCount.
  TImportData(TBgrData& data, const TQ5File* file, const TParamsList* stationParams, bool countsToo = true);

  TFilter* AddFilter(const TFilterDef* filterDef, uint32_t color);
  // Moves the filters into the order of the codes (1020, 870... see the tables); `scanToEnd` lets
  // the scan for a code run to the end of the list instead of the table's length.
  void SortFilters(const int* codes, int count, bool scanToEnd = false);
  // The order table for the filters now in the list.
  static std::vector<int> OrderTable(const TBgrData& data);

  int32_t Status = ImportOk;

 private:
  void ImportCounts(const TQ5File& file);
  void ApplySite(const TParamsList& params);

  TBgrData& data_;
};

// The colour of the k-th sun filter (from 0), 0x00BBGGRR.
uint32_t FilterColor(int k);
