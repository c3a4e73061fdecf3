#pragma once
// Import of the host's data in memory into the radiometer data set: the instrument's infrared
// filters, one acquisition per decoded record with values, its infrared counts with their mirror
// reference, and the site from the decoded station parameters. No window code here.
#include "plugins/radiometre/RadData.h"

class TQ5File;
class TParamsList;

namespace radio {

class TImportHostData {
public:
    enum { StatusOk = 0, StatusNoInstrument = 1, StatusNoCounts = 2 };
    TImportHostData(TRadiometreData& data, const TQ5File* file, const TParamsList* stationParams);
    int Status = StatusOk;
};

// The section of the calibration store for a site: its three ids joined by "/", so that sites
// 1/23/4 and 12/3/4 never share calibrations.
std::string SiteSection(const TSite& site);

}  // namespace radio
