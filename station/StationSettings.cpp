#include "station/StationSettings.h"

#include <cctype>
#include <cstdlib>

#include "common/DecimalSep.h"
#include "common/ScnType.h"

namespace {

bool ReadInt(const TSettingsSection& sec, const char* key, int& out)
{
    std::string v;
    if (!sec.Get || !sec.Get(key, v)) return false;
    size_t i = 0;
    while (i < v.size() && std::isspace(static_cast<unsigned char>(v[i]))) ++i;
    if (i == v.size()) return false;
    char* end = nullptr;
    const long n = std::strtol(v.c_str() + i, &end, 10);
    while (end && *end && std::isspace(static_cast<unsigned char>(*end))) ++end;
    if (!end || *end || n < -2147483647L || n > 2147483647L) return false;
    out = static_cast<int>(n);
    return true;
}

// Booleans as the store writes them ("1"/"0"), also accepting "true"/"false" written by hand.
bool ReadBool(const TSettingsSection& sec, const char* key, bool& out)
{
    std::string v;
    if (!sec.Get || !sec.Get(key, v)) return false;
    std::string t;
    for (char c : v)
        if (!std::isspace(static_cast<unsigned char>(c))) t += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (t == "1" || t == "true") { out = true; return true; }
    if (t == "0" || t == "false") { out = false; return true; }
    return false;
}

bool ReadText(const TSettingsSection& sec, const char* key, std::string& out)
{
    std::string v;
    if (!sec.Get || !sec.Get(key, v)) return false;
    out = v;
    return true;
}

bool Put(const TSettingsSection& sec, const char* key, const std::string& v) { return sec.Set && sec.Set(key, v); }
bool Put(const TSettingsSection& sec, const char* key, bool v) { return Put(sec, key, std::string(v ? "1" : "0")); }
bool Put(const TSettingsSection& sec, const char* key, int v) { return Put(sec, key, std::to_string(v)); }

}  // namespace

int NormaliseSpeed(int stored)
{
    switch (stored) {
    case 4: return 1200;
    case 7: return 9600;
    case 9: return 19200;
    default: return stored;
    }
}

std::string DefaultSeparator(int index)
{
    static const char* defaults[] = {",", ".", ":", "/"};
    return index >= 0 && index < 4 ? defaults[index] : std::string();
}

void ApplyAsciiFormat(const TStationSettings& s)
{
    const std::string* values[] = {&s.SepList, &s.SepDec, &s.SepTime, &s.SepDate};
    std::string seps[4];
    for (int i = 0; i < 4; ++i) seps[i] = values[i]->empty() ? DefaultSeparator(i) : *values[i];
    SetDecimalSeparator(seps[1][0]);
    if (!gListScn) return;
    gListScn->SepList = seps[0];
    gListScn->SepDec = seps[1];
    gListScn->SepTime = seps[2];
    gListScn->SepDate = seps[3];
    gListScn->Year4Digits = s.Year4Digits;
    gListScn->QuotedDateTime = s.QuotedDateTime;
    gListScn->ShowZeroDate = s.ShowZeroDate;
    gListScn->ForceDisplayDecimalValue = s.ForceDisplayDecimalValue;
}

void LoadStationSettings(TStationSettings& s, const TSettingsSection& sec)
{
    ReadText(sec, "PortNum", s.PortNum);
    if (ReadInt(sec, "Speed", s.Speed)) s.Speed = NormaliseSpeed(s.Speed);
    ReadInt(sec, "TypeCom", s.TypeCom);
    ReadBool(sec, "AutoRecord", s.AutoRecord);
    ReadText(sec, "AutoRecordPath", s.AutoRecordPath);
    ReadBool(sec, "AutoConnect", s.AutoConnect);
    ReadBool(sec, "AutoReconnect", s.AutoReconnect);
    ReadBool(sec, "ShowINIEvt", s.ShowINIEvt);
    ReadBool(sec, "ShowScnError", s.ShowScnError);
    ReadBool(sec, "ConfirmWrite", s.ConfirmWrite);
    ReadBool(sec, "Year4Digits", s.Year4Digits);
    ReadBool(sec, "QuotedDateTime", s.QuotedDateTime);
    ReadBool(sec, "ShowZeroDate", s.ShowZeroDate);
    ReadBool(sec, "ForceDisplayDecimalValue", s.ForceDisplayDecimalValue);
    ReadBool(sec, "StopAfter2FF", s.StopAfter2FF);
    ReadBool(sec, "OptimizeTransmission", s.OptimizeTransmission);
    ReadBool(sec, "SmartSetTime", s.SmartSetTime);
    ReadBool(sec, "HardSetTime", s.HardSetTime);
    ReadBool(sec, "CreateASCIIFiles", s.CreateASCIIFiles);
    const char* sepKeys[] = {"SepList", "SepDec", "SepTime", "SepDate"};
    std::string* seps[] = {&s.SepList, &s.SepDec, &s.SepTime, &s.SepDate};
    for (int i = 0; i < 4; ++i) {
        ReadText(sec, sepKeys[i], *seps[i]);
        if (seps[i]->empty()) *seps[i] = DefaultSeparator(i);
    }
    ReadInt(sec, "ASCIIPeriod", s.ASCIIPeriod);
    ReadText(sec, "BaseASCIIName", s.BaseASCIIName);
    ReadText(sec, "MODEMInitStr", s.MODEMInitStr);
    ReadInt(sec, "MODEMNbRings", s.MODEMNbRings);
    ReadBool(sec, "WriteTransReport", s.WriteTransReport);
    ReadBool(sec, "AddASCIIHeader", s.AddASCIIHeader);
    ReadBool(sec, "AutoRing", s.AutoRing);
    ReadBool(sec, "SoundEndTrans", s.SoundEndTrans);
    ReadText(sec, "SoundEndTransFile", s.SoundEndTransFile);
    ReadText(sec, "RemoteIP", s.RemoteIP);
}

bool SaveStationSettings(const TStationSettings& s, const TSettingsSection& sec)
{
    bool ok = true;
    ok &= Put(sec, "PortNum", s.PortNum);
    ok &= Put(sec, "Speed", s.Speed);
    ok &= Put(sec, "TypeCom", s.TypeCom);
    ok &= Put(sec, "AutoRecord", s.AutoRecord);
    ok &= Put(sec, "AutoRecordPath", s.AutoRecordPath);
    ok &= Put(sec, "AutoConnect", s.AutoConnect);
    ok &= Put(sec, "AutoReconnect", s.AutoReconnect);
    ok &= Put(sec, "ShowINIEvt", s.ShowINIEvt);
    ok &= Put(sec, "ShowScnError", s.ShowScnError);
    ok &= Put(sec, "ConfirmWrite", s.ConfirmWrite);
    ok &= Put(sec, "Year4Digits", s.Year4Digits);
    ok &= Put(sec, "QuotedDateTime", s.QuotedDateTime);
    ok &= Put(sec, "ShowZeroDate", s.ShowZeroDate);
    ok &= Put(sec, "ForceDisplayDecimalValue", s.ForceDisplayDecimalValue);
    ok &= Put(sec, "StopAfter2FF", s.StopAfter2FF);
    ok &= Put(sec, "OptimizeTransmission", s.OptimizeTransmission);
    ok &= Put(sec, "SmartSetTime", s.SmartSetTime);
    ok &= Put(sec, "HardSetTime", s.HardSetTime);
    ok &= Put(sec, "CreateASCIIFiles", s.CreateASCIIFiles);
    ok &= Put(sec, "SepDec", s.SepDec);
    ok &= Put(sec, "SepTime", s.SepTime);
    ok &= Put(sec, "SepDate", s.SepDate);
    ok &= Put(sec, "SepList", s.SepList);
    ok &= Put(sec, "ASCIIPeriod", s.ASCIIPeriod);
    ok &= Put(sec, "BaseASCIIName", s.BaseASCIIName);
    ok &= Put(sec, "MODEMInitStr", s.MODEMInitStr);
    ok &= Put(sec, "MODEMNbRings", s.MODEMNbRings);
    ok &= Put(sec, "WriteTransReport", s.WriteTransReport);
    ok &= Put(sec, "AddASCIIHeader", s.AddASCIIHeader);
    ok &= Put(sec, "AutoRing", s.AutoRing);
    ok &= Put(sec, "SoundEndTrans", s.SoundEndTrans);
    ok &= Put(sec, "SoundEndTransFile", s.SoundEndTransFile);
    ok &= Put(sec, "RemoteIP", s.RemoteIP);
    return ok;
}

bool LoadDebugSettings(TStationSettings& s, const TSettingsSection& sec)
{
    bool ok = true;
    ok &= ReadBool(sec, "DebugModemEchoOn", s.DebugModemEchoOn);
    ok &= ReadBool(sec, "MakeTransLogFile", s.MakeTransLogFile);
    ok &= ReadBool(sec, "MakeCnxErrors", s.MakeCnxErrors);
    ok &= ReadBool(sec, "SeeRS232DebugPanel", s.SeeRS232DebugPanel);
    return ok;
}

bool SaveDebugSettings(const TStationSettings& s, const TSettingsSection& sec)
{
    bool ok = true;
    ok &= Put(sec, "DebugModemEchoOn", s.DebugModemEchoOn);
    ok &= Put(sec, "MakeTransLogFile", s.MakeTransLogFile);
    ok &= Put(sec, "MakeCnxErrors", s.MakeCnxErrors);
    ok &= Put(sec, "SeeRS232DebugPanel", s.SeeRS232DebugPanel);
    return ok;
}
