#pragma once
// The station program run without a screen (a scheduler, a remote shell): its communication log goes to
// standard error, opened by a line with the date, the time and what the run was asked, and closed by one
// with what was kept where and the status; the run ends by itself with a status that says how it went.
// It ends
// - with the status of the download once the first download is over: 0 when it ended well and its data
//   were saved (recorded even with automatic recording off: nobody could save them afterwards) where
//   and as the settings say, 4 when it ended well and was saved, but not so (its ASCII files not
//   written, the data file kept in another folder than the settings say), 3 when it stalled mid-way or
//   was stopped by a signal before the last record and what came was saved, else 1 (a download that no
//   data file took is not taken for received either); 1 too when the plug-in asked for by -RUN= is not
//   there. Other errors on the way (a try that a later one made good, a log not written) leave it so;
// - with 1 at once when the port cannot be opened or is lost, or when nothing answers on it for as long
//   as the supervision's time-outs and retries last; with automatic reconnection the station keeps
//   trying instead, but only for UnattendedLimitSeconds() without a session, then ends with 1;
// - with 1 at once when the port is held by another running program (a second run of the station);
// - on TERM, INT or HUP, by what was kept: in the middle of a download as a download that stalled (what
//   came is kept and said incomplete, 3; 1 when nothing had come); after the last record, or once the
//   download is kept, as that whole download ends (0 or 4), the clock's check or setting left undone
//   said in its own line; 1 before any download; a second signal ends the program at once;
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
    // Closes the run's log with its last line (once: when, what was kept where, the status) and gives
    // back `status`.
    int LogEnd(int status);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Check();
    // The first download has ended (the run takes one).
    bool DownloadOver() const;
    int DownloadStatus() const;
    void StopOnSignal(int signal);
    // Ends the event loop with `status`, the log closed.
    void Finish(int status);
    std::string WhatWasAsked() const;

    TZELTFrm& FFrm;
    QTimer FPoll;
    bool FPlugInMissing = false;  // -RUN= names a plug-in the plug-ins folder does not hold
    std::string FPlugInAsked;     // the plug-in of -RUN= (the window forgets it once it has run)
    bool FEnded = false;          // the log's last line is written
    std::unique_ptr<TStopSignals> FStopSignals;
};
