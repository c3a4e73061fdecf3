#pragma once
// The station program run without a screen (a scheduler, a remote shell): its communication log goes to
// standard error and the run ends by itself with a status that says how it went. It ends
// - with the status of the download once the first download is over: 0 when it ended well and its data
//   were saved (recorded even with automatic recording off: nobody could save them afterwards) without
//   an error on the way, 4 when it ended well and was saved but an error was logged (its ASCII files not
//   written, the data file kept in another folder than the settings say), 3 when it stalled mid-way or
//   was stopped by a signal and what came was saved, else 1; 1 too when the plug-in asked for by -RUN=
//   is not there;
// - with 1 at once when the port cannot be opened or is lost, or when nothing answers on it for as long
//   as the supervision's time-outs and retries last; with automatic reconnection the station keeps
//   trying instead, but only for UnattendedLimitSeconds() without a session, then ends with 1;
// - with 1 at once when the port is held by another running program (a second run of the station);
// - on TERM, INT or HUP, as a download that stalled: what came is kept and said incomplete (3), 1 when
//   nothing had come; a second signal ends the program at once;
// - with 1 at once when a plug-in alone was asked for and it is not there or refuses to run; one that
//   runs leaves the window up, as on a screen, until it is closed. When the program chose the offscreen
//   platform itself (no display at all), nobody can ever close a window: a plug-in that opens one ends
//   the run at once with 1, and one that has run without opening any ends it with 0.
#include <QObject>
#include <QTimer>

#include <memory>
#include <string>

#include "station/StopSignals.h"

class TZELTFrm;

// Exit statuses of the station program run without a screen.
constexpr int kUnattendedDone = 0;
constexpr int kUnattendedFailed = 1;
constexpr int kBadCommandLine = 2;  // an argument the program does not know: nothing was done
constexpr int kUnattendedIncomplete = 3;
constexpr int kUnattendedKeptWithErrors = 4;

// How long a run without a screen waits for a session on the port before it gives up.
constexpr int kUnattendedLimitSeconds = 300;
// kUnattendedLimitSeconds, or the whole positive number of seconds in ZELT_UNATTENDED_LIMIT.
int UnattendedLimitSeconds();

class TUnattendedRun : public QObject {
public:
    explicit TUnattendedRun(TZELTFrm& frm);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Check();
    int DownloadStatus() const;
    void StopOnSignal(int signal);

    TZELTFrm& FFrm;
    QTimer FPoll;
    bool FPlugInMissing = false;  // -RUN= names a plug-in the plug-ins folder does not hold
    std::unique_ptr<TStopSignals> FStopSignals;
};
