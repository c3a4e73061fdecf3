#include "station/UnattendedRun.h"

#include <QApplication>
#include <QEvent>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/Prompt.h"
#include "station/StationCore.h"
#include "station/ZELTFrm.h"
#include "station/link/Media.h"
#include "station/link/Transmission.h"

int UnattendedLimitSeconds()
{
    const char* text = std::getenv("ZELT_UNATTENDED_LIMIT");
    if (!text || !*text) return kUnattendedLimitSeconds;
    char* end = nullptr;
    const long seconds = std::strtol(text, &end, 10);
    return *end == '\0' && seconds > 0 && seconds <= 86400 ? int(seconds) : kUnattendedLimitSeconds;
}

TUnattendedRun::TUnattendedRun(TZELTFrm& frm) : FFrm(frm)
{
    FFrm.EchoMemoToStderr = true;
    FFrm.Core().GiveUpWithoutAnswer = true;
    FFrm.Core().GiveUpAfterSeconds = UnattendedLimitSeconds();
    FFrm.Core().OneSessionOnly = true;
    FFrm.Core().KeepEveryDownload = true;
    // An unknown plug-in name runs nothing; nobody would see that nothing happened, so it is told now.
    const std::string& name = FFrm.PlugInName();
    FPlugInMissing = !name.empty() && !FFrm.HasPlugIn(name);
    if (FPlugInMissing) FFrm.MemoLine("ERROR: No plug-in named " + name + " in " + FFrm.PlugInsFolder());
    // With no display at all not even a test drives the windows: watch for a plug-in opening one.
    if (!name.empty() && OffscreenChosenForNoDisplay()) qApp->installEventFilter(this);
    if (FFrm.Core().Settings.AutoConnect)
        FStopSignals = std::make_unique<TStopSignals>([this](int signal) { StopOnSignal(signal); });
    connect(&FPoll, &QTimer::timeout, this, &TUnattendedRun::Check);
    FPoll.start(200);
}

bool TUnattendedRun::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::Show || FFrm.RunningPlugIn().empty()) return false;
    const auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || !widget->isWindow() || widget == &FFrm) return false;
    // The plug-in waits inside its window for a user who cannot exist, and only returns when the window
    // closes: the run ends here, in the plug-in's own loop.
    FFrm.MemoLine("ERROR: The plug-in " + FFrm.RunningPlugIn() + " needs a screen");
    std::fflush(nullptr);
    std::_Exit(kUnattendedFailed);
}

void TUnattendedRun::Check()
{
    TStationCore& core = FFrm.Core();
    const bool connectionAsked = core.Settings.AutoConnect;
    if (connectionAsked) {
        if (core.Transmissions().Count() > 0 && !core.Connected()) return QCoreApplication::exit(DownloadStatus());
        if (core.GaveUpWithoutAnswer()) return QCoreApplication::exit(kUnattendedFailed);
        // Another program holds the port (its message is on standard error); it will not let go for us.
        if (core.PortLost() && core.Media()->HeldBy) return QCoreApplication::exit(kUnattendedFailed);
        if (core.PortLost() && !core.Settings.AutoReconnect) {
            FFrm.MemoLine("ERROR: No connection: the port could not be opened.");
            return QCoreApplication::exit(kUnattendedFailed);
        }
    } else if (FPlugInMissing || FFrm.AutoRunRefused()) {
        // The plug-in is not there, or refused to run (its message is on standard error).
        return QCoreApplication::exit(kUnattendedFailed);
    } else if (OffscreenChosenForNoDisplay() && FFrm.PlugInName().empty() && FFrm.RunningPlugIn().empty()) {
        // The plug-in has run without a window of its own; nobody can close the one it leaves up.
        return QCoreApplication::exit(kUnattendedDone);
    }
}

void TUnattendedRun::StopOnSignal(int signal)
{
    FFrm.MemoLine("Stopped by signal " + std::to_string(signal));
    // A download under way ends as one that stalled; Check() then ends the run with its status.
    if (FFrm.Core().StopOnSignal(signal)) return;
    FFrm.MemoLine("ERROR: Stopped by signal " + std::to_string(signal) + " before a download began");
    QCoreApplication::exit(kUnattendedFailed);
}

int TUnattendedRun::DownloadStatus() const
{
    // Data that could not be saved, or a download that did not end well and kept nothing, is a failure;
    // so is a plug-in that was asked for as well and is not there. A download that stalled mid-way and
    // kept what came is told apart: data kept, but incomplete. A whole download kept, but with an error
    // on the way (its ASCII files not written, the data file kept elsewhere than the settings say), is
    // no success: whoever reads the status must look at the log.
    const TTransmission* t = FFrm.Core().Transmissions().Item(0);
    const bool saved = !FFrm.Core().Modified;
    if (!saved || FPlugInMissing) return kUnattendedFailed;
    if (t->EndStatus == TTransmission::EndOk) return FFrm.ErrorLines() > 0 ? kUnattendedKeptWithErrors : kUnattendedDone;
    return t->Stalled() && t->EventCount > 0 ? kUnattendedIncomplete : kUnattendedFailed;
}
