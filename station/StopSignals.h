#pragma once
// TERM, INT and HUP (a shutdown, a service stop, `timeout`, Ctrl-C) delivered on the event loop: the
// program stops as it chooses instead of being cut off with a download half received. Once one has
// come, what the program inherited is back (the system's action: a second one ends it at once). A
// signal ignored when the program started (HUP under nohup, INT in a background job) stays ignored.
#include <QObject>

#include <functional>

class QSocketNotifier;

class TStopSignals : public QObject {
public:
    // `stop` runs on the event loop with the signal's number, once.
    explicit TStopSignals(std::function<void(int)> stop);
    // The run's outcome is decided and said: from now on a stop signal that still finds a handler of
    // ours ends the program at once with that status, through to the program's last instruction
    // (nothing is left to keep, and the status stays what the log's last line says).
    static void EndWithOnStop(int status);
    ~TStopSignals() override;
    TStopSignals(const TStopSignals&) = delete;
    TStopSignals& operator=(const TStopSignals&) = delete;

private:
    static void Caught(int signal);
    void Deliver();

    std::function<void(int)> FStop;
    QSocketNotifier* FNotifier = nullptr;
};
