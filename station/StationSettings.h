#pragma once
// The station program's settings: every key of the main section and of the "Debug" section with its
// default, read key by key (a missing or bad value keeps its default and the others still load).
#include <functional>
#include <string>

enum TTypeCom { TypeComModem = 0, TypeComSerial = 1, TypeComUsb = 2, TypeComIp = 3 };

struct TStationSettings {
    std::string PortNum = "COM1";
    int Speed = 1200;
    int TypeCom = TypeComSerial;
    bool AutoRecord = false;
    std::string AutoRecordPath;          // with a trailing '/'; the per-user data folder by default
    bool AutoConnect = false;
    bool AutoReconnect = true;
    bool ShowINIEvt = false;
    bool ShowScnError = false;
    bool ConfirmWrite = true;
    bool Year4Digits = true;
    bool QuotedDateTime = false;
    bool ShowZeroDate = true;
    bool ForceDisplayDecimalValue = false;
    bool StopAfter2FF = true;
    bool OptimizeTransmission = false;
    bool SmartSetTime = true;
    bool HardSetTime = false;
    bool CreateASCIIFiles = false;
    std::string SepDec = ".";
    std::string SepTime = ":";
    std::string SepDate = "/";
    std::string SepList = ",";
    int ASCIIPeriod = 0;
    std::string BaseASCIIName;
    std::string MODEMInitStr;
    int MODEMNbRings = 2;
    bool WriteTransReport = false;
    bool AddASCIIHeader = false;
    bool AutoRing = false;
    bool SoundEndTrans = false;
    std::string SoundEndTransFile;
    std::string RemoteIP;

    // "Debug" section (expert mode only).
    bool DebugModemEchoOn = false;
    bool MakeTransLogFile = false;
    bool MakeCnxErrors = false;
    bool SeeRS232DebugPanel = true;
};

// Key/value access to one section of the settings store; the station does not care whether it is
// the per-user store or an alternate ini file. Get returns false when the key is missing.
struct TSettingsSection {
    std::function<bool(const std::string& key, std::string& value)> Get;
    std::function<bool(const std::string& key, const std::string& value)> Set;
};

// Reads the main section key by key: each key that is missing or does not read keeps its default.
void LoadStationSettings(TStationSettings& s, const TSettingsSection& main);
// Writes every key of the main section. False when a value could not be written.
bool SaveStationSettings(const TStationSettings& s, const TSettingsSection& main);
// The "Debug" section: false when it could not be read (nothing was there or a value was bad).
bool LoadDebugSettings(TStationSettings& s, const TSettingsSection& debug);
bool SaveDebugSettings(const TStationSettings& s, const TSettingsSection& debug);
// Speeds stored as codes 4, 7 and 9 are 1200, 9600 and 19200.
int NormaliseSpeed(int stored);
// The default of a separator (0 list, 1 decimal, 2 time, 3 date) for an empty value.
std::string DefaultSeparator(int index);
// Hands the ASCII format (separators, the four format flags) to the measurement-type list that
// every export reads, and the decimal separator to the process. The main window and the batch
// conversions both go through here, so that their files are the same for the same settings.
void ApplyAsciiFormat(const TStationSettings& s);
