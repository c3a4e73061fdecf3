#include "station/link/media/net/NetMedia.h"

#include "station/link/Media.h"
#include "station/link/media/net/IPClient.h"
#include "station/link/media/net/TelCom.h"
#include "station/link/media/net/Telnet.h"

void RegisterNetMedia()
{
    // The IP and telnet media keep no owner; the remote serial port does, as the serial media do.
    RegisterMediaType("IP", [](QObject*) -> TMedia* { return new TMediaIP(); });
    RegisterMediaType("Telnet", [](QObject*) -> TMedia* { return new TMediaTelnet(); });
    RegisterMediaType("TelCom", [](QObject* owner) -> TMedia* { return new TMediaTelCom(owner); });
}
