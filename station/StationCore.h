#pragma once
// The station's link with the instrument, apart from any window: the medium and its connection,
// the one-second supervision and the 100 ms task timer, the send and receive path with its
// transaction log, and the download state machine that fills the data file. The main window shows
// what it reports through TStationView; tests drive it against the instrument simulator.
#include <QObject>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "station/StationSettings.h"
#include "station/link/LinkHost.h"

class TMedia;
class TQ5File;
class TEvenement;
class TComTaskList;
class TModem;
class TTransmission;
class TTransmissionList;

// What became of the last download: the data file that took it (empty when none did), the records it
// holds (or, kept nowhere, those that came), and why its data are not where or how the settings say:
// the only errors that make a whole download "kept with errors" in a run without a screen.
struct TKeptDownload {
    std::string File;
    int Records = 0;
    std::vector<std::string> Errors;
};

// What the core reports to its window. Every call has a do-nothing default.
class TStationView {
public:
    virtual ~TStationView() = default;
    virtual void MemoLine(const std::string&) {}
    virtual void ConnectedChanged(bool) {}      // buttons, clears the list on connecting
    virtual void PortStateChanged() {}          // opened or closed: connect button, panels
    virtual void ShowQ5FileInfo() {}
    virtual void RefreshScnList() {}
    virtual void Q5FileNameChanged() {}
    virtual void ProgressChanged(int) {}        // per cent
    virtual void ReceptionLed(bool) {}
    virtual void SupervisionTick() {}           // throughput, duration, chart
    virtual void PlayEndSound() {}
    virtual void DataFileReplaced() {}          // the plug-in context points at the new file
    virtual int StartScripts() { return 0; }    // scripts started after the identification
    virtual void MediaReconfigured() {}
};

class TStationCore : public QObject, public TLinkHost {
    Q_OBJECT
public:
    explicit TStationCore(TStationView* view = nullptr, QObject* parent = nullptr);
    ~TStationCore() override;

    TStationSettings Settings;
    bool ModeExpert = false;
    // Where "ZELTWIN.LOG" and "Transmission.log" are written (the per-user data folder by default).
    std::string LogFolder;

    // ---- medium and connection ----
    void ConfigureMedia();
    TMedia* Media() const { return FMedia.get(); }
    // The Connect button pressed (true) or released (false).
    void ConnectButton(bool down);
    bool ConnectButtonDown() const { return FButtonDown; }
    bool ConnectButtonEnabled() const { return FButtonEnabled; }
    void StopTransmission();
    // The program was asked to stop by a signal: a download under way ends as one that stalled (what
    // came is kept, said incomplete, and not taken for the newest records received). Once the last
    // record has come the download is whole: it ends as a whole download does, and what is left undone
    // of the instrument's clock is said. False when no download was under way.
    bool StopOnSignal(int signal);
    bool Connected() const { return FConnected; }
    // The user asked for the port and it is neither open nor opening (an open that failed, a link
    // that closed); with automatic reconnection the supervision tries again.
    bool PortLost() const;
    // Runs without a screen: nobody is there to wait for an instrument that never speaks, so an open
    // port on which nothing arrives for as long as the supervision's time-outs and retries last is
    // given up (closed; tried again with automatic reconnection).
    bool GiveUpWithoutAnswer = false;
    // An unattended run takes one session: once a download has ended, what the instrument starts after
    // it is left alone (the run is ending).
    bool OneSessionOnly = false;
    bool GaveUpWithoutAnswer() const { return FGaveUp; }
    // Runs without a screen: nobody can save a download afterwards, so every one is recorded as if
    // automatic recording were on, and where it went is said.
    bool KeepEveryDownload = false;
    // The last download that ended (empty until one has).
    const TKeptDownload& LastDownload() const { return FLastDownload; }
    // Runs without a screen bound the automatic reconnection too: with the connection wanted and no
    // session begun for this many seconds (the port never opened, or nothing started on it), the port
    // is given up as above. 0: no bound (a station left running with a screen keeps trying).
    int GiveUpAfterSeconds = 0;
    void SetConnected(bool value);
    void EndFailedSession(int endStatus);
    void StoreReceivedEvents();
    // Starts both timers (the window's constructor does it at the end; tests call it).
    void StartTimers();
    void StopTimers();
    void DefaultTimerTimer();   // supervision, every second
    void ComTasksTimerTimer();  // task queue, every 100 ms

    // ---- send and receive path ----
    void SendToInstrument(const char* data, int count) override;
    void RS232ReceiveData(void* sender, const char* data, int count);
    bool WriteLogLine(const char* data, int count, const char* tag);
    bool MemoView = false;       // "Edit RS-232 dialog"
    bool InactiveReply = false;  // "Inactive reply"

    // ---- download ----
    void ProcessReceivedData(void* sender, const char* data, int count) override;
    void ParseInstrumentReply();
    // Date-time value of a clock reply ('h' with seconds, 'H' without); 0 for a bad format, which is
    // also reported as an error line.
    double ParseInstrumentDate(const std::string& text, bool& secondsKnown);
    int phase() const { return FPhase; }
    void Setphase(int value) { FPhase = value; }

    // ---- data file ----
    TQ5File* Q5File = nullptr;  // owned; the plug-in context points at this pointer
    // Replaces the current data file (Open, a plug-in's result); forgets the download's event.
    void ReplaceDataFile(TQ5File* file);
    bool Modified = false;
    const std::string& Q5FileName() const { return FQ5FileName; }
    void SetQ5FileName(const std::string& name);
    // A new empty, unnamed data file for a download that starts.
    void StartNewDataFile();
    // The automatic name of a download saved now in `folder` (RecordFolder() by default); an existing
    // file gets "_1", "_2", ... instead.
    std::string AutoRecordName(const std::string& folder = {}) const;
    // Where downloads are recorded: the folder of the settings, else the per-user data folder.
    std::string RecordFolder() const;

    // ---- objects of the link ----
    TComTaskList& Tasks() { return *FTasks; }
    TModem& Modem() { return *FModem; }
    TTransmissionList& Transmissions() { return *FTransmissions; }
    TTransmission* CurrentTransmission() const { return FTransmission; }
    // Called with the text of the last received event whenever a connection ends and one is known
    // ("LastTransScnStr").
    std::function<void(const std::string&)> OnLastEventText;

    // ---- counters the window shows ----
    int ReceivedBytes = 0;
    int ConnectedSeconds = 0;
    int Throughput[30] = {};
    int ThroughputIndex = 0;
    int SilenceCounter = 0;
    int TimeOutRetries = 3;
    double ConnectionStart = 0;
    bool EndRequest = false;
    bool Abort = false;

    // ---- TLinkHost ----
    void LogInfoToDialog(const std::string& text) override;
    void LogErrorToDialog(const std::string& text) override;
    bool IsExpert() const override { return ModeExpert; }
    bool IsManualPickUp() const override { return Settings.AutoRing; }
    TMedia* CurrentMedia() override { return FMedia.get(); }

private:
    void MediaOpened();
    void MediaClosed();
    void SuperviseFirstContact();
    void SuperviseReconnection();
    void GiveUp(const std::string& reason);
    void ReportLastEventText();
    void StartConnection(const char* memo);
    void ModemLines(const std::string& chunk);
    void ReceiveEventLines(const std::string& chunk);
    void ClockCheck(const std::string& reply, double date);
    void EndOfTransfer();
    // Saves the download under its automatic name in `folder` with its ASCII files; the name, empty on
    // a failure. ASCII files that could not be written are noted in the last download's errors.
    std::string RecordDownload(const std::string& folder);
    // What a stop after the last record leaves undone of the clock's check or setting.
    std::string ClockLeftUndone() const;
    void SendText(const std::string& text) { SendToInstrument(text.data(), static_cast<int>(text.size())); }
    void ConnectionErrorEnd();
    bool PendingFrameComplete() const;
    // Path of a file of the log folder; the folder is made when missing.
    std::string LogFile(const char* name) const;
    // Appends the connection to "Transmission.log" when the settings ask for it.
    void WriteHistory(const TTransmission& transmission);

    TStationView* FView;
    TStationView FNoView;
    TStationView& View() { return FView ? *FView : FNoView; }

    std::unique_ptr<TMedia> FMedia;
    std::unique_ptr<TComTaskList> FTasks;
    std::unique_ptr<TModem> FModem;
    std::unique_ptr<TTransmissionList> FTransmissions;
    TTransmission* FTransmission = nullptr;  // owned while connected
    QTimer FTaskTimer, FDefaultTimer;

    bool FConnected = false;
    bool FButtonDown = false, FButtonEnabled = true;
    bool FConnectionWanted = false, FOpening = false;
    int FReopenCounter = 0;
    int FSecondsWithoutAnswer = 0;  // the port open, nothing received, no task current
    int FStopSignal = 0;  // the signal that stopped the download, if one did
    int FHandlingData = 0;  // depth of the download handler: a stop inside it is ended by it
    bool FRecordsEnded = false;  // the instrument has sent its last record: the download is whole
    TKeptDownload FLastDownload;
    bool FGaveUp = false;
    int FSecondsWithoutSession = 0;  // the connection wanted, no session begun
    bool FOpenedWithoutSession = false;  // ... and the port was open meanwhile
    int FPreviousBytes = 0;

    int FPhase = 0;
    std::string FReply;            // instrument reply collected across chunks
    bool FHasPending = false;      // an event frame is being received ...
    std::string FPendingFrame;     // ... and this much of it came; owned here until it is complete
    size_t FPendingChars = 0;      // characters received since it was asked, stray ones included
    TEvenement* FLastAppended = nullptr;  // the event this download added last, while the file holds it
    // Records of the valid events this download added: a new record can only repeat one of them,
    // so the file is searched for duplicates only when it does (a download of thousands of records
    // stays linear).
    std::unordered_set<std::string> FSeenRecords;
    bool FSeenFilled = false;
    int FBadFrames = 0;
    double FRoundTrip = 0;         // days
    double FCommandTime = 0;       // UTC days, 0 when no clock command is pending
    std::string FExpectedEcho;
    double FTargetTime = 0;        // UTC days, for the hard clock set
    int FRingCount = 0;
    double FLastRing = 0;
    int FLinkRate = 0;
    int FErrorLevel = -1;          // simulated connection error in force, -1 for none
    std::string FQ5FileName;
    bool FLogBroken = false;       // the transaction log could not be written: reported once, then off
    bool FHistoryReported = false; // a history line could not be written (reported once)
};
