#include "station/UnattendedRun.h"

#include <QCoreApplication>

#include "station/StationCore.h"
#include "station/ZELTFrm.h"
#include "station/link/Transmission.h"

TUnattendedRun::TUnattendedRun(TZELTFrm& frm) : FFrm(frm)
{
    FFrm.EchoMemoToStderr = true;
    FFrm.Core().GiveUpWithoutAnswer = true;
    FFrm.Core().OneSessionOnly = true;
    FFrm.Core().KeepEveryDownload = true;
    // An unknown plug-in name runs nothing; nobody would see that nothing happened, so it is told now.
    const std::string& name = FFrm.PlugInName();
    FPlugInMissing = !name.empty() && !FFrm.HasPlugIn(name);
    if (FPlugInMissing) FFrm.MemoLine("ERROR: No plug-in named " + name + " in " + FFrm.PlugInsFolder());
    connect(&FPoll, &QTimer::timeout, this, &TUnattendedRun::Check);
    FPoll.start(200);
}

void TUnattendedRun::Check()
{
    TStationCore& core = FFrm.Core();
    const bool connectionAsked = core.Settings.AutoConnect;
    if (connectionAsked) {
        if (core.Transmissions().Count() > 0 && !core.Connected()) return QCoreApplication::exit(DownloadStatus());
        if (core.GaveUpWithoutAnswer()) return QCoreApplication::exit(1);
        if (core.PortLost() && !core.Settings.AutoReconnect) {
            FFrm.MemoLine("ERROR: No connection: the port could not be opened.");
            return QCoreApplication::exit(1);
        }
    } else if (FPlugInMissing || FFrm.AutoRunRefused()) {
        // The plug-in is not there, or refused to run (its message is on standard error).
        return QCoreApplication::exit(1);
    }
}

int TUnattendedRun::DownloadStatus() const
{
    // Data that could not be saved, or a download that did not end well and kept nothing, is a failure;
    // so is a plug-in that was asked for as well and is not there. A download that stalled mid-way and
    // kept what came is told apart: data kept, but incomplete.
    const TTransmission* t = FFrm.Core().Transmissions().Item(0);
    const bool saved = !FFrm.Core().Modified;
    if (!saved || FPlugInMissing) return 1;
    if (t->EndStatus == TTransmission::EndOk) return 0;
    return t->Stalled() && t->EventCount > 0 ? 3 : 1;
}
