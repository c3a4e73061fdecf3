#include "station/link/Media.h"

#include "station/link/LinkText.h"
#include "station/link/MediaSerial.h"

#include <cstdio>
#include <utility>

#ifdef ZELT_HAVE_NET_MEDIA
#include "station/link/media/net/NetMedia.h"
#endif

using namespace linktext;

// ---- mode objects -------------------------------------------------------------------------------------

int ParityCode(char letter)
{
    switch (letter) {
    case 'O': case 'I': return 1;
    case 'E': case 'P': return 2;
    case 'M': return 3;
    case 'S': return 4;
    default: return 0;
    }
}

std::string TComModeType::GetText() const
{
    std::string speed = std::to_string(Speed);
    if (Speed2 != Speed) speed += "/" + std::to_string(Speed2);
    return speed + " " + SerialText;
}

bool TComModeType::ParseSerial(const std::string& text, TSerialSettings& out) const
{
    // "%d%c%d": data bits, the very next character as parity letter, stop bits.
    const std::string s = Upper(text.empty() ? SerialText : text);
    size_t pos = 0;
    int data = 0, stop = 0;
    if (!ReadInt(s, pos, data, true) || pos >= s.size()) return false;
    const char parity = s[pos++];
    if (!ReadInt(s, pos, stop, true)) return false;
    if (data < 5 || data > 8 || stop < 1 || stop > 2) return false;
    if (std::string("EIMNOPS").find(parity) == std::string::npos) return false;
    out.DataBits = data;
    out.Parity = parity;
    out.StopBits = stop;
    return true;
}

bool TComModeType::DeviceSettings(TSerialSettings& out, int& baudRate) const
{
    if (Speed2 <= 0 || !ParseSerial(std::string(), out)) return false;
    baudRate = Speed2;
    return true;
}

bool TComModeType::SetText(const std::string& text)
{
    const std::string s = Upper(Trim(text));
    size_t sep = s.find(' ');
    if (sep == std::string::npos) sep = s.find(',');
    // The separator must leave room for a speed of two characters and a serial part of three.
    if (sep == std::string::npos || sep < 2 || s.size() < sep + 1 + 3) return false;

    const std::string speedPart = Trim(s.substr(0, sep));
    if (speedPart.empty()) return false;
    const int oldSpeed = Speed, oldSpeed2 = Speed2;
    size_t pos = 0;
    int first = 0, second = 0;
    if (ReadInt(speedPart, pos, first, false) && pos < speedPart.size() && speedPart[pos] == '/' &&
        ReadInt(speedPart, ++pos, second, true)) {
        Speed = first;
        Speed2 = second;
    } else {
        Speed = Speed2 = ToIntDef(speedPart, -1);
    }

    TSerialSettings serial;
    const std::string serialPart = Trim(s.substr(sep + 1));
    if (serialPart.empty() || !ParseSerial(serialPart, serial)) {
        Speed = oldSpeed;
        Speed2 = oldSpeed2;
        return false;
    }
    SerialText = std::to_string(serial.DataBits) + serial.Parity + std::to_string(serial.StopBits);
    return true;
}

bool TUSBModeType::SetText(const std::string& text)
{
    Valid = TComModeType::SetText(text);
    return true;
}

// ---- line signals -------------------------------------------------------------------------------------

static int LineBit(const std::string& name)
{
    if (name == "DTR") return TComLineType::LineDTR;
    if (name == "RTS") return TComLineType::LineRTS;
    if (name == "BREAK") return TComLineType::LineBREAK;
    return name.empty() ? 0 : -1;
}

int TComLineType::GetLine(const std::string& name) const
{
    const int bit = LineBit(Upper(Trim(name)));
    if (bit <= 0) return bit;
    return (Flags & bit) ? 1 : 0;
}

bool TComLineType::SetLine(const std::string& name, bool on)
{
    const int bit = LineBit(Upper(Trim(name)));
    if (bit < 0) return false;
    if (on)
        Flags |= bit;
    else
        Flags &= ~bit;
    return true;
}

// ---- media --------------------------------------------------------------------------------------------

bool TMediaType::SetName(const std::string& text)
{
    Name = Trim(text);
    return true;
}

bool TMediaType::SetDescription(const std::string& text)
{
    Description = Trim(text);
    return true;
}

bool TMedia::SetName(const std::string& text)
{
    const std::string t = Trim(text);
    // Exactly: device paths (and the adapter's sysfs strings) differ by case alone.
    if (t == Name) return true;
    Name = t;
    return ApplyPort() >= 0;
}

bool TMedia::SetDescription(const std::string& text)
{
    const std::string t = Trim(text);
    if (t == Description) return true;
    Description = t;
    return ApplyPort() >= 0;
}

bool TMedia::StoreLine(const std::string& name, bool on)
{
    if (!Lines) Lines = std::make_unique<TComLineType>();
    return Lines->SetLine(name, on);
}

// ---- creation by type name ----------------------------------------------------------------------------

namespace {

struct TMediaKind {
    std::string Name;
    TMediaFactory Factory;
};

std::vector<TMediaKind>& Kinds()
{
    static std::vector<TMediaKind> kinds = [] {
        // The order in which the names are tried; a kind without a factory creates nothing.
        std::vector<TMediaKind> k{{"COM", [](QObject* owner) { return new TMediaCOM(owner); }},
                                  {"IP", nullptr},
                                  {"Telnet", nullptr},
                                  {"TelCom", nullptr},
                                  {"USB", [](QObject* owner) { return new TMediaUSB(owner); }}};
        return k;
    }();
    return kinds;
}

void EnsureBuiltIns()
{
#ifdef ZELT_HAVE_NET_MEDIA
    static bool registered = (RegisterNetMedia(), true);
    (void)registered;
#endif
}

}  // namespace

void RegisterMediaType(const std::string& typeName, TMediaFactory factory)
{
    for (TMediaKind& kind : Kinds())
        if (SameText(kind.Name, typeName)) {
            kind.Factory = std::move(factory);
            return;
        }
    Kinds().push_back({typeName, std::move(factory)});
}

std::vector<std::string> MediaTypeNames()
{
    EnsureBuiltIns();
    std::vector<std::string> names;
    for (const TMediaKind& kind : Kinds())
        if (kind.Factory) names.push_back(kind.Name);
    return names;
}

TMedia* CreateMedia(const std::string& typeName, QObject* owner)
{
    EnsureBuiltIns();
    for (const TMediaKind& kind : Kinds())
        if (SameText(kind.Name, typeName)) return kind.Factory ? kind.Factory(owner) : nullptr;
    return nullptr;
}
