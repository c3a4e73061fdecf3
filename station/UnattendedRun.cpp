#include "station/UnattendedRun.h"

#include <QApplication>
#include <QEvent>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "common/Prompt.h"
#include "station/StationCore.h"
#include "station/ZELTFrm.h"
#include "station/link/Media.h"
#include "station/link/Transmission.h"

namespace {

// The local date and time with the offset from UTC: a line of a month of hourly runs is found by it.
std::string NowStamp()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S %z", &local);
    return text;
}

// The command line as it was typed, arguments with blanks in quotes.
std::string CommandLineText()
{
    std::string text;
    for (const QString& argument : QCoreApplication::arguments()) {
        const std::string word = argument.toStdString();
        if (!text.empty()) text += ' ';
        text += word.find_first_of(" \t") == std::string::npos ? word : "'" + word + "'";
    }
    return text;
}

const char* StatusMeaning(int status)
{
    switch (status) {
    case kUnattendedDone: return "done";
    case kUnattendedIncomplete: return "incomplete";
    case kUnattendedKeptWithErrors: return "kept with errors";
    default: return "failed";
    }
}

std::string Records(int count) { return std::to_string(count) + (count == 1 ? " record" : " records"); }

}  // namespace

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
    // The first line of the run's log says when it began and what it was asked.
    FFrm.MemoLine(NowStamp() + " Start: " + CommandLineText() + " (" + WhatWasAsked() + ")");
    // An unknown plug-in name runs nothing; nobody would see that nothing happened, so it is told now.
    const std::string& name = FFrm.PlugInName();
    FPlugInAsked = name;
    FPlugInMissing = !name.empty() && !FFrm.HasPlugIn(name);
    if (FPlugInMissing) FFrm.MemoLine("ERROR: No plug-in named " + name + " in " + FFrm.PlugInsFolder());
    // With no display at all not even a test drives the windows: watch for a plug-in opening one.
    if (!name.empty() && OffscreenChosenForNoDisplay()) qApp->installEventFilter(this);
    if (FFrm.Core().Settings.AutoConnect)
        FStopSignals = std::make_unique<TStopSignals>([this](int signal) { StopOnSignal(signal); });
    connect(&FPoll, &QTimer::timeout, this, &TUnattendedRun::Check);
    FPoll.start(200);
    // A plug-in may close the window, which ends the program with 0 on its own.
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] { LogEnd(kUnattendedDone); });
}

std::string TUnattendedRun::WhatWasAsked() const
{
    std::string asked;
    if (FFrm.Core().Settings.AutoConnect && FFrm.Core().Media()) asked = "a download from " + FFrm.Core().Media()->GetName();
    if (!FFrm.PlugInName().empty()) {
        if (!asked.empty()) asked += " and ";
        asked += "the plug-in " + FFrm.PlugInName();
        if (!FFrm.StartFileName().empty()) asked += " on " + FFrm.StartFileName();
    }
    return asked;
}

int TUnattendedRun::LogEnd(int status)
{
    if (FEnded) return status;
    FEnded = true;
    // The last line of the run's log: what was kept where, and the status.
    TStationCore& core = FFrm.Core();
    std::string outcome;
    if (core.Settings.AutoConnect) {
        const TKeptDownload& kept = core.LastDownload();
        if (core.Transmissions().Count() == 0)
            outcome = "no download";
        else if (!kept.File.empty())
            outcome = Records(kept.Records) + " kept in " + kept.File;
        else
            outcome = Records(kept.Records) + " received, kept in no file";
        for (const std::string& error : kept.Errors) outcome += "; " + error;
    }
    if (!FPlugInAsked.empty())
        outcome += (outcome.empty() ? "the plug-in " : "; the plug-in ") + FPlugInAsked +
                   (status == kUnattendedDone ? " has run" : " has not run through");
    FFrm.MemoLine(NowStamp() + " End, status " + std::to_string(status) + " (" + StatusMeaning(status) + "): " + outcome);
    std::fflush(stderr);
    TStopSignals::EndWithOnStop(status);
    return status;
}

void TUnattendedRun::Finish(int status) { QCoreApplication::exit(LogEnd(status)); }

bool TUnattendedRun::DownloadOver() const
{
    return FFrm.Core().Transmissions().Count() > 0 && !FFrm.Core().Connected();
}

bool TUnattendedRun::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::Show || FFrm.RunningPlugIn().empty()) return false;
    const auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || !widget->isWindow() || widget == &FFrm) return false;
    // The plug-in waits inside its window for a user who cannot exist, and only returns when the window
    // closes: the run ends here, in the plug-in's own loop.
    FFrm.MemoLine("ERROR: The plug-in " + FFrm.RunningPlugIn() + " needs a screen");
    LogEnd(kUnattendedFailed);
    std::fflush(nullptr);
    std::_Exit(kUnattendedFailed);
}

void TUnattendedRun::Check()
{
    TStationCore& core = FFrm.Core();
    const bool connectionAsked = core.Settings.AutoConnect;
    if (connectionAsked) {
        if (DownloadOver()) return Finish(DownloadStatus());
        if (core.GaveUpWithoutAnswer()) return Finish(kUnattendedFailed);
        // Another program holds the port (its message is on standard error); it will not let go for us.
        if (core.PortLost() && core.Media()->HeldBy) return Finish(kUnattendedFailed);
        if (core.PortLost() && !core.Settings.AutoReconnect) {
            FFrm.MemoLine("ERROR: No connection: the port could not be opened.");
            return Finish(kUnattendedFailed);
        }
    } else if (FPlugInMissing || FFrm.AutoRunRefused()) {
        // The plug-in is not there, or refused to run (its message is on standard error).
        return Finish(kUnattendedFailed);
    } else if (OffscreenChosenForNoDisplay() && FFrm.PlugInName().empty() && FFrm.RunningPlugIn().empty()) {
        // The plug-in has run without a window of its own; nobody can close the one it leaves up.
        return Finish(kUnattendedDone);
    }
}

void TUnattendedRun::StopOnSignal(int signal)
{
    FFrm.MemoLine("Stopped by signal " + std::to_string(signal));
    // A download under way ends (as one that stalled while records were still to come); Check() then
    // ends the run with its status.
    if (FFrm.Core().StopOnSignal(signal)) return;
    // The download is over and kept: the run ends as it was about to, judged by what was kept.
    if (DownloadOver()) return Finish(DownloadStatus());
    FFrm.MemoLine("ERROR: Stopped by signal " + std::to_string(signal) + " before a download began");
    Finish(kUnattendedFailed);
}

int TUnattendedRun::DownloadStatus() const
{
    // Data that could not be saved, or a download that did not end well and kept nothing, is a failure;
    // so is a plug-in that was asked for as well and is not there. A download that stalled mid-way and
    // kept what came is told apart: data kept, but incomplete. A whole download kept, but not where or
    // how the settings say (its ASCII files not written, the data file kept in another folder), is no
    // success: whoever reads the status must look at the log. Other errors of the run (a try that a
    // later one made good, a log that could not be written) leave the data as the settings say.
    const TTransmission* t = FFrm.Core().Transmissions().Item(0);
    const TKeptDownload& kept = FFrm.Core().LastDownload();
    if (kept.File.empty() || FPlugInMissing) return kUnattendedFailed;
    if (t->EndStatus == TTransmission::EndOk) return kept.Errors.empty() ? kUnattendedDone : kUnattendedKeptWithErrors;
    return t->Stalled() && t->EventCount > 0 ? kUnattendedIncomplete : kUnattendedFailed;
}
