#include "station/StationCore.h"

#include <QScopeGuard>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "common/DataPaths.h"
#include "common/DateTime.h"
#include "common/Evenement.h"
#include "common/FileUtils.h"
#include "common/Instrument.h"
#include "common/Q5File.h"
#include "common/ScnType.h"
#include "common/Utils.h"
#include "station/link/ComTask.h"
#include "station/link/LinkText.h"
#include "station/link/Media.h"
#include "station/link/Modem.h"
#include "station/link/Transmission.h"

namespace {

constexpr double kSecond = 1.0 / 86400.0;
const char* const kSourceName = "ZELT_Win";
const std::string kDot = "\xB7";  // the middle dot of the instrument messages
// A record is at most 255 bytes: its frame is STX, "1", 510 hex digits, ETB and two check digits.
constexpr size_t kMaxEventFrame = 1 + 1 + 2 * 255 + 1 + 2;
// The longest reply is the parameter block: STX, 'S' and its 10-character prefix, 256 bytes as hex, ETB
// and two check digits.
constexpr size_t kMaxReply = 1 + 11 + 2 * 256 + 1 + 2;

std::vector<std::string> LinesAtCR(const std::string& chunk)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < chunk.size()) {
        size_t cr = chunk.find('\r', start);
        if (cr == std::string::npos) cr = chunk.size();
        if (cr > start) lines.push_back(chunk.substr(start, cr - start));
        start = cr + 1;
    }
    return lines;
}

std::string DateTimeText(double value) { return ShortDateText(value) + " " + TimeText(value); }

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

}  // namespace

TStationCore::TStationCore(TStationView* view, QObject* parent)
    : QObject(parent), FView(view)
{
    // Made now: a new user has no data folder yet, and the logs and recordings go there.
    LogFolder = UserDataDir(true).string();
    Settings.AutoRecordPath = IncludeTrailingSlash(LogFolder);
    FTasks = std::make_unique<TComTaskList>(*this);
    FModem = std::make_unique<TModem>(*this, *FTasks);
    FTransmissions = std::make_unique<TTransmissionList>();
    FTaskTimer.setInterval(100);
    FDefaultTimer.setInterval(1000);
    connect(&FTaskTimer, &QTimer::timeout, this, [this] { ComTasksTimerTimer(); });
    connect(&FDefaultTimer, &QTimer::timeout, this, [this] { DefaultTimerTimer(); });
}

TStationCore::~TStationCore()
{
    StopTimers();
    if (FMedia) {
        FMedia->OnData = nullptr;
        FMedia->OnOpened = nullptr;
        FMedia->OnClosed = nullptr;
        FMedia->Close();
    }
    // The queue goes first: its tasks are dropped without any handler running, so ending the modem's
    // task cannot hand data to a download whose driver is being freed.
    FTasks.reset();
    FModem.reset();
    delete Q5File;
    Q5File = nullptr;
    delete FTransmission;
    FTransmissions.reset();
    FMedia.reset();
}

void TStationCore::StartTimers()
{
    FTaskTimer.start();
    FDefaultTimer.start();
}

void TStationCore::StopTimers()
{
    FTaskTimer.stop();
    FDefaultTimer.stop();
}

// ---- communication log ------------------------------------------------------------------------------

void TStationCore::LogInfoToDialog(const std::string& text) { View().MemoLine(text); }

void TStationCore::LogErrorToDialog(const std::string& text) { View().MemoLine("ERROR: " + text); }

// ---- medium -------------------------------------------------------------------------------------------

void TStationCore::ConfigureMedia()
{
    std::string typeName = "COM";
    if (Settings.TypeCom == TypeComUsb) typeName = "USB";
    if (Settings.TypeCom == TypeComIp) typeName = "TelCom";

    if (FMedia && !linktext::SameText(FMedia->TypeName, typeName)) {
        FMedia->Close();
        FMedia->OnData = nullptr;
        FMedia->OnClosed = nullptr;
        FMedia->OnOpened = nullptr;
        FMedia.reset();
    }
    bool writeMode = false;
    if (!FMedia) {
        FMedia.reset(CreateMedia(typeName, this));
        if (!FMedia) {
            LogErrorToDialog("Unknown communication type " + typeName);
            return;
        }
        writeMode = true;
    }
    FMedia->OnData = nullptr;
    const std::string mode = "1200 8N1";
    if (typeName == "COM") {
        if (FMedia->GetName() != Settings.PortNum) writeMode = true;
        FMedia->SetName(Settings.PortNum);
    } else if (typeName == "USB") {
        const std::string usbName = "DORAX current loop adapter";
        if (FMedia->GetName() != usbName) {
            FMedia->SetName(usbName);
            writeMode = true;
        }
    } else {
        if (FMedia->GetName() != Settings.RemoteIP) writeMode = true;
        FMedia->SetName(Settings.RemoteIP);
    }
    if (FMedia->GetMode() != mode) writeMode = true;
    if (writeMode) {
        FMedia->Close();
        FMedia->SetMode(mode);
    }
    FMedia->OnData = [this](TMedia*, const char* data, int count) { RS232ReceiveData(this, data, count); };
    FMedia->OnOpened = [this](TMedia*) { MediaOpened(); };
    FMedia->OnClosed = [this](TMedia*) { MediaClosed(); };
    View().MediaReconfigured();
}

void TStationCore::ConnectButton(bool down)
{
    if (FConnected) {
        // Leaving a download by the button ends it as Stop does: cancelled, the instrument told,
        // what came kept (and recorded when automatic recording is on).
        if (FTransmission && FTransmission->EndStatus == 0) FTransmission->EndStatus = 1;
        EndOfTransfer();
    }
    SetConnected(false);
    FButtonDown = down;
    FButtonEnabled = false;
    if (!FMedia) ConfigureMedia();
    if (down) {
        FConnectionWanted = true;
        FOpening = true;
        bool opened = false;
        try {
            opened = FMedia && FMedia->Open();
        } catch (...) {
            opened = false;
        }
        if (!opened) {
            FOpening = false;
            FButtonEnabled = true;
            FButtonDown = FMedia && FMedia->IsOpen();
            if (FMedia && !FMedia->LastError.empty()) LogErrorToDialog(FMedia->LastError);
        }
    } else {
        FConnectionWanted = false;
        FOpening = false;
        if (FMedia) FMedia->Close();
        FButtonEnabled = true;
        FButtonDown = FMedia && FMedia->IsOpen();
    }
    View().PortStateChanged();
}

bool TStationCore::PortLost() const
{
    return FConnectionWanted && !FOpening && !FConnected && FMedia && !FMedia->IsOpen();
}

void TStationCore::MediaOpened()
{
    FOpening = false;
    FButtonEnabled = true;
    FButtonDown = FMedia && FMedia->IsOpen();
    View().PortStateChanged();
    if (!FMedia || !FMedia->IsOpen()) return;
    LogInfoToDialog(FMedia->Caption + " " + FMedia->GetName() + ": active communication port");
    if (Settings.DebugModemEchoOn) LogInfoToDialog("Debug Mode ECHO ON.");
    // An instrument may speak the moment the port opens: with no task waiting, the download state
    // machine takes the bytes from now on, not from the next tick of the task timer.
    if (FTasks->Count() == 0) FTasks->StartNext();
    if (Settings.TypeCom == TypeComModem)
        FModem->Initialize();
    else if (!Settings.AutoConnect && !Settings.AutoRecord)
        LogInfoToDialog("Select the PC scenario on the instrument.");
}

void TStationCore::MediaClosed()
{
    FOpening = false;
    FButtonEnabled = true;
    FButtonDown = FMedia && FMedia->IsOpen();
    View().PortStateChanged();
    if (FMedia && FMedia->IsOpen()) return;
    if (FMedia) LogInfoToDialog(FMedia->Caption + " " + FMedia->GetName() + ": Communication port closed");
    FTasks->EndPortTasks();
}

bool TStationCore::StopOnSignal(int signal)
{
    if (!FConnected) return false;
    FStopSignal = signal;
    if (FRecordsEnded)
        LogInfoToDialog(ClockLeftUndone() + ": the download was stopped after its last record");
    else if (FTransmission)
        FTransmission->EndStatus = TTransmission::EndBad;
    EndRequest = Abort = true;
    // A signal can come while the download handler waits for the clock's second: that handler ends the
    // transfer when it returns, not a second one inside it.
    if (!FHandlingData) RS232ReceiveData(this, nullptr, 0);
    return true;
}

std::string TStationCore::ClockLeftUndone() const
{
    if (FPhase == 11) return "The correction of the instrument's clock was sent but not confirmed";
    if (FPhase == 12 || FPhase == 13) return "The instrument's clock was set; its new time was not read back";
    return "The instrument's clock was not checked";
}

void TStationCore::StopTransmission()
{
    if (!FConnected) return;
    if (EndRequest)
        Abort = true;
    else
        EndRequest = true;
    if (FTransmission && FTransmission->EndStatus == 0) FTransmission->EndStatus = 1;
    RS232ReceiveData(this, nullptr, 0);
}

void TStationCore::SetConnected(bool value)
{
    ConnectionStart = NowLocal();
    FConnected = value;
    if (value) {
        delete FTransmission;
        FTransmission = new TTransmission();
        FTransmission->StartTime = ConnectionStart;
        View().ProgressChanged(0);
        if (Settings.MakeCnxErrors) {
            if (std::rand() & 1) {
                FErrorLevel = -1;
                LogInfoToDialog("Error mode: No error during that transmission.");
            } else {
                FErrorLevel = std::rand() % 4;
                LogInfoToDialog("Error mode: Error " + std::to_string(FErrorLevel));
            }
        }
    } else if (FTransmission) {
        StoreReceivedEvents();
        TTransmission* done = FTransmissions->Add(std::unique_ptr<TTransmission>(FTransmission));
        FTransmission = nullptr;
        ReportLastEventText();
        WriteHistory(*done);
    }
    View().ConnectedChanged(value);
}

void TStationCore::ReportLastEventText()
{
    // None known yet (nothing received and kept): nothing to store.
    const std::string text = FTransmissions->GetLastEventText();
    if (OnLastEventText && !text.empty()) OnLastEventText(text);
}

void TStationCore::StoreReceivedEvents()
{
    if (!FTransmission) return;
    FTransmission->Bytes = ReceivedBytes;
    FTransmission->EventDates.clear();
    FTransmission->EventScenarios.clear();
    FTransmission->EventCount = 0;
    if (!Q5File || Q5File->NbEvt() == 0) return;
    for (TEvenement* ev : Q5File->Events) {
        if (!ev->Valid || ev->Empty || !ev->ScnType) continue;
        FTransmission->EventDates.push_back(ev->Date);
        FTransmission->EventScenarios.push_back(ev->ScnType->Number);
    }
    FTransmission->EventCount = static_cast<int>(FTransmission->EventDates.size());
}

void TStationCore::EndFailedSession(int endStatus)
{
    delete FTransmission;
    FTransmission = new TTransmission();
    FTransmission->StartTime = FLastRing;
    FTransmission->EndTime = ConnectionStart;
    FTransmission->Errors = 1;
    FTransmission->Bytes = 0;
    FTransmission->EndStatus = static_cast<uint8_t>(endStatus);
    TTransmission* done = FTransmissions->Add(std::unique_ptr<TTransmission>(FTransmission));
    FTransmission = nullptr;
    ReportLastEventText();
    WriteHistory(*done);
    SetConnected(false);
}

std::string TStationCore::LogFile(const char* name) const
{
    ForceDirectories(LogFolder);  // a failure shows when the file is written
    return LogFolder + "/" + name;
}

void TStationCore::WriteHistory(const TTransmission& transmission)
{
    if (!Settings.WriteTransReport) return;
    std::string error;
    if (transmission.AppendToHistory(LogFile("Transmission.log"), &error) || FHistoryReported) return;
    // Reported once; later connections try again.
    FHistoryReported = true;
    LogErrorToDialog("The transmission history Transmission.log cannot be written (" + error + ").");
}

void TStationCore::ComTasksTimerTimer()
{
    FTasks->Tick();
    FTasks->StartNext();
}

void TStationCore::DefaultTimerTimer()
{
    if (FConnected) {
        const int bytesThisSecond = ReceivedBytes - FPreviousBytes;
        FPreviousBytes = ReceivedBytes;
        ++ConnectedSeconds;
        Throughput[ThroughputIndex] = bytesThisSecond;
        ThroughputIndex = (ThroughputIndex + 1) % 30;
        int sum = 0;
        for (int v : Throughput) sum += v;
        if (ConnectedSeconds > 5 && FTransmission) {
            int last5 = 0;
            for (int i = 1; i <= 5; ++i) last5 += Throughput[(ThroughputIndex - i + 30) % 30];
            const double mean = last5 * 0.2;
            if (mean > FTransmission->MaxSpeed) FTransmission->MaxSpeed = mean;
        }
        if (sum < 50 && ConnectedSeconds > 20 && ReceivedBytes > 0 && !FTasks->Current) {
            if (FTransmission) FTransmission->EndStatus = 3;
            LogInfoToDialog("Too bad connection.");
            Abort = true;
            StopTransmission();
        }
        View().SupervisionTick();
    } else {
        View().ReceptionLed(false);
        FPreviousBytes = 0;
    }
    if (!FConnected && FRingCount > 0 && NowLocal() - FLastRing > 60 * kSecond) {
        LogInfoToDialog("RING without CONNECT !!!");
        EndFailedSession(5);
        EndRequest = Abort = false;
        if (Settings.TypeCom == TypeComModem && !Settings.DebugModemEchoOn) {
            FModem->Disconnect();
            FModem->Initialize();
        }
        FPhase = 0;
        FRingCount = 0;
    }
    if (FConnected && !FTasks->Current) {
        ++SilenceCounter;
        if (SilenceCounter > 4) {
            if (FTransmission) FTransmission->AddError(2);
            --TimeOutRetries;
            if (TimeOutRetries < 0) {
                if (FTransmission) FTransmission->EndStatus = 2;
                LogInfoToDialog("End of the transmission.");
                TimeOutRetries = 3;
                Abort = true;
                StopTransmission();
            } else {
                FPhase = 6;
                RS232ReceiveData(this, nullptr, 0);
                LogInfoToDialog("TimrOut Error #" + std::to_string(3 - TimeOutRetries));
            }
        }
        if (SilenceCounter > 1) View().ReceptionLed(false);
    }
    if (GiveUpWithoutAnswer) SuperviseFirstContact();
    if (GiveUpAfterSeconds > 0) SuperviseReconnection();
    if (FConnectionWanted && Settings.AutoReconnect && !FOpening && FMedia && !FMedia->IsOpen()) {
        if (FReopenCounter >= 6) {
            FReopenCounter = 0;
        } else if (++FReopenCounter == 6) {
            FOpening = true;
            bool opened = false;
            try {
                opened = FMedia->Open();
            } catch (...) {
                opened = false;
            }
            if (!opened) {
                FOpening = false;
                // Each attempt that fails is told once; the next comes seven seconds later.
                if (!FMedia->LastError.empty()) LogErrorToDialog(FMedia->LastError);
            }
        }
    }
}

void TStationCore::SuperviseFirstContact()
{
    if (FConnected || !FMedia || !FMedia->IsOpen() || FTasks->Current) {
        FSecondsWithoutAnswer = 0;
        return;
    }
    // As long as a connected link may stay silent: the silence limit, once and for each retry.
    constexpr int kSilenceLimit = 4, kRetries = 3;
    constexpr int kLimit = (kSilenceLimit + 1) * (kRetries + 1);
    if (++FSecondsWithoutAnswer < kLimit) return;
    FSecondsWithoutAnswer = 0;
    const std::string reason = "No answer on " + FMedia->GetName() + " for " + std::to_string(kLimit) + " s";
    if (!Settings.AutoReconnect) return GiveUp(reason);
    LogErrorToDialog(reason);  // the port stays open for the instrument
}

void TStationCore::SuperviseReconnection()
{
    if (!FConnectionWanted || FConnected || FGaveUp || !FMedia) {
        FSecondsWithoutSession = 0;
        FOpenedWithoutSession = false;
        return;
    }
    if (FMedia->IsOpen()) FOpenedWithoutSession = true;
    if (++FSecondsWithoutSession < GiveUpAfterSeconds) return;
    const std::string port = FMedia->GetName(), seconds = std::to_string(FSecondsWithoutSession);
    GiveUp(FOpenedWithoutSession ? "No answer on " + port + " for " + seconds + " s: giving up"
                                 : "No connection on " + port + " after " + seconds + " s: giving up");
}

void TStationCore::GiveUp(const std::string& reason)
{
    LogErrorToDialog(reason);
    FGaveUp = true;
    ConnectButton(false);
}

// ---- send and receive path ----------------------------------------------------------------------------

void TStationCore::SendToInstrument(const char* data, int count)
{
    if (count <= 0) return;
    if (FMedia) FMedia->Write(data, count);
    if (Settings.MakeTransLogFile) WriteLogLine(data, count, "-SND-");
    if (MemoView)
        LogInfoToDialog("-SND- " + BytesToPrintable(reinterpret_cast<const uint8_t*>(data), size_t(count), false));
}

bool TStationCore::WriteLogLine(const char* data, int count, const char* tag)
{
    if (FLogBroken) return false;
    const double now = NowLocal();
    std::string line = ShortDateText(now) + "," + TimeText(now) + "," + tag + ",";
    for (int i = 0; i < count; ++i) {
        const uint8_t c = static_cast<uint8_t>(data[i]);
        if (c >= 0x20 && c <= 0x7F) {
            line += static_cast<char>(c);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "<%02x>", c);
            line += buf;
        }
    }
    line += "\r\n";
    std::string error;
    if (!AppendFileBytes(LogFile("ZELTWIN.LOG"), line, &error)) {
        // Reported once; the log is switched off and the link goes on.
        FLogBroken = true;
        Settings.MakeTransLogFile = false;
        LogErrorToDialog("The transaction log ZELTWIN.LOG cannot be written (" + error + "); it is switched off.");
        return false;
    }
    return true;
}

void TStationCore::RS232ReceiveData(void* sender, const char* data, int count)
{
    SilenceCounter = 0;
    if (count > 0) FSecondsWithoutAnswer = 0;
    if (FConnected && count > 0) {
        View().ReceptionLed(true);
        ReceivedBytes += count;
    }
    if (Settings.MakeTransLogFile && count > 0) WriteLogLine(data, count, "-REC-");
    if (MemoView && count > 0)
        LogInfoToDialog("-REC- " + BytesToPrintable(reinterpret_cast<const uint8_t*>(data), size_t(count), false));
    if (Settings.DebugModemEchoOn && !FConnected && count > 0) SendToInstrument(data, count);
    if (InactiveReply || !(count > 0 || EndRequest || FPhase == 6)) return;
    if (HasReceiveHandler())
        CallReceiveHandler(sender, data, count);
    else if (count > 0 && !FTasks->Current)
        // A task queued before the port opened starts on the next tick; what comes until then is
        // the instrument's, not that task's.
        ProcessReceivedData(sender, data, count);
}

// ---- data file ----------------------------------------------------------------------------------------

void TStationCore::ReplaceDataFile(TQ5File* file)
{
    // The download's last event belonged to the file that goes: forget it before freeing that file.
    FLastAppended = nullptr;
    // The records already held are gathered when a download first needs them, not for every file opened.
    FSeenRecords.clear();
    FSeenFilled = false;
    FHasPending = false;
    FPendingFrame.clear();
    if (file != Q5File) delete Q5File;
    Q5File = file;
    View().DataFileReplaced();
}

void TStationCore::StartNewDataFile()
{
    // The download is not the file that was open: Save must not write it over that file.
    ReplaceDataFile(new TQ5File());
    SetQ5FileName(std::string());
    Modified = true;
}

void TStationCore::SetQ5FileName(const std::string& name)
{
    FQ5FileName = name;
    if (Q5File) Q5File->FileName = name;
    View().Q5FileNameChanged();
}

std::string TStationCore::AutoRecordName(const std::string& folder) const
{
    const time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%02d%02d%02d%02d", tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min);
    const std::string base = (folder.empty() ? RecordFolder() : folder) + Settings.BaseASCIIName + stamp;
    std::string name = base + ".Q5";
    for (int i = 1; FileExists(name); ++i) name = base + "_" + std::to_string(i) + ".Q5";
    return name;
}

std::string TStationCore::RecordFolder() const
{
    return IncludeTrailingSlash(Settings.AutoRecordPath.empty() ? LogFolder : Settings.AutoRecordPath);
}

// ---- download -----------------------------------------------------------------------------------------

void TStationCore::StartConnection(const char* memo)
{
    EndRequest = Abort = false;
    FRecordsEnded = false;
    FLastDownload = TKeptDownload();
    SetConnected(true);
    FPhase = 0;
    FRingCount = 0;
    FReply.clear();
    StartNewDataFile();
    SilenceCounter = 0;
    TimeOutRetries = 3;
    FBadFrames = 0;
    FCommandTime = 0;
    FTargetTime = 0;
    if (memo) LogInfoToDialog(memo);
    View().RefreshScnList();
}

void TStationCore::ConnectionErrorEnd()
{
    LogInfoToDialog("Error mode: End of the connection");
    SetConnected(false);
}

void TStationCore::ModemLines(const std::string& chunk)
{
    for (std::string line : FModem->SplitReplyLines(chunk)) {
        size_t start = 0;
        while (start < line.size() && static_cast<uint8_t>(line[start]) <= 0x20) ++start;
        line.erase(0, start);
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
        std::string upper;
        for (char c : line) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        const double now = NowLocal();
        if (StartsWith(upper, "NO CARRIER")) {
            LogInfoToDialog("No carrier (" + DateTimeText(now) + ") !!!");
            EndFailedSession(4);
            if (!Settings.DebugModemEchoOn) {
                FModem->Disconnect();
                FModem->Initialize();
            }
            FRingCount = 0;
        } else if (StartsWith(upper, "RING")) {
            LogInfoToDialog("Ring (" + DateTimeText(now) + ")");
            if (now - FLastRing > 10 * kSecond) FRingCount = 0;
            FLastRing = now;
            ++FRingCount;
            if (FRingCount > Settings.MODEMNbRings + 2 || (Settings.AutoRing && FRingCount > Settings.MODEMNbRings)) {
                LogInfoToDialog("Manual pick-up");
                SendText("ATA\r");
                FRingCount = 0;
            }
        } else if (Settings.DebugModemEchoOn && StartsWith(upper, "ATD")) {
            Delay(1000, false);
            if (!Settings.MakeCnxErrors || FErrorLevel != 0) {
                std::string reply;
                if (Settings.Speed == 1200 || Settings.Speed == 9600 || Settings.Speed == 19200)
                    reply = "CONNECT " + std::to_string(Settings.Speed) + "\r";
                RS232ReceiveData(this, reply.data(), static_cast<int>(reply.size()));
                LogInfoToDialog("Sending CONNECT (In reply to ATD)");
            } else {
                LogInfoToDialog("Error mode: End of the connection");
                FConnected = false;
            }
        } else if (Settings.DebugModemEchoOn && StartsWith(upper, "AT")) {
            Delay(1000, false);
            const std::string ok = "OK\r";
            RS232ReceiveData(this, ok.data(), static_cast<int>(ok.size()));
            LogInfoToDialog("Sending OK (In reply to ATxxx)");
        } else if (StartsWith(upper, "CONNECT")) {
            std::string digits;
            for (size_t i = 8; i < line.size() && std::isdigit(static_cast<unsigned char>(line[i])); ++i) digits += line[i];
            FLinkRate = digits.empty() || digits.size() > 9 ? 0 : std::atoi(digits.c_str());
            char buf[64];
            std::snprintf(buf, sizeof buf, "Connected to %d bauds.", FLinkRate);
            StartConnection(buf);
        }
    }
}

void TStationCore::ProcessReceivedData(void*, const char* data, int count)
{
    ++FHandlingData;
    const auto handled = qScopeGuard([this] { --FHandlingData; });
    std::string chunk = count > 0 && data ? std::string(data, size_t(count)) : std::string();

    if (!FConnected) {
        if (OneSessionOnly && FTransmissions->Count() > 0) return;
        if (Settings.TypeCom == TypeComModem) {
            ModemLines(chunk);
            return;
        }
        // A direct link counts as connected at the first STX, wherever it stands in the chunk.
        const size_t stx = chunk.find(STX);
        if (stx == std::string::npos) return;
        chunk.erase(0, stx);
        StartConnection("Communication established.");
    }
    if (!Q5File) ReplaceDataFile(new TQ5File());

    // 1. Replies of the instrument.
    if (FPhase == 0 || FPhase == 8 || (FPhase >= 10 && FPhase <= 13)) {
        for (const std::string& line : LinesAtCR(chunk)) FReply += line;
        ParseInstrumentReply();
        if (Settings.MakeCnxErrors && FErrorLevel == 1) {
            ConnectionErrorEnd();
            return;
        }
    }
    // 2. Parameters and clock known.
    if (FPhase == 1) {
        View().ShowQ5FileInfo();
        LogInfoToDialog("Parameters OK.");
        LogInfoToDialog("Instrument: " + Q5File->InstruName());
        FPhase = 2;
        if (View().StartScripts() > 0) return;
    }
    // 3. One event frame.
    if (FPhase == 3) {
        if (Settings.MakeCnxErrors && FErrorLevel >= 2 && std::rand() % (75 * FErrorLevel - 75) == 0) {
            ConnectionErrorEnd();
            return;
        }
        ReceiveEventLines(chunk);
    }
    // 4. Records finished.
    if (FPhase == 9) {
        FRecordsEnded = true;
        TimeOutRetries = 0;
        if (Settings.HardSetTime || Settings.SmartSetTime) {
            SendText("HT");
            FPhase = 10;
            FCommandTime = NowUTC();
        } else {
            EndRequest = true;
        }
    }
    // 5. Parameters received: read the clock.
    if (FPhase == 7 && !EndRequest) {
        SendText("HT");
        FPhase = 8;
        FCommandTime = NowUTC();
    }
    // 6. Progress.
    if (FConnected) View().ProgressChanged(static_cast<int>((static_cast<long long>(Q5File->DataSize()) + 512) * 100 / 53248));
    // 7. Ask for a record (or for the parameters again).
    if ((FPhase == 2 || FPhase == 4 || FPhase == 6) && !EndRequest) {
        const bool hasParams = !Q5File->ParamBloc().empty();
        if (FPhase == 2)
            SendText("aT");
        else if (FPhase == 4)
            SendText("jT");
        else
            SendText(hasParams ? "uT" : "IBA7ST");
        if (hasParams) {
            FPhase = 3;
            FHasPending = true;  // a partial frame left by a time-out is dropped here
            FPendingFrame.clear();
            FPendingChars = 0;
        } else {
            FPhase = 0;
        }
    }
    // 8. End of the transfer.
    if (FConnected && ((EndRequest && !FHasPending) || Abort)) EndOfTransfer();
}

bool TStationCore::PendingFrameComplete() const
{
    const size_t stx = FPendingFrame.find(STX);
    if (stx == std::string::npos) return false;
    const size_t etb = FPendingFrame.find(ETB, stx);
    return etb != std::string::npos && FPendingFrame.size() >= etb + 3;
}

void TStationCore::ReceiveEventLines(const std::string& chunk)
{
    for (const std::string& line : LinesAtCR(chunk)) {
        if (!FHasPending) break;  // nothing was asked: whatever follows the frame is dropped
        FPendingFrame += line;
        FPendingChars += line.size();
        // Text before the first STX is never part of the frame.
        const size_t stx = FPendingFrame.find(STX);
        FPendingFrame.erase(0, stx == std::string::npos ? FPendingFrame.size() : stx);
        bool dropRest = false;
        bool mayRepeat = false;
        // Asked again up to three times in a row, then skipped.
        auto badFrame = [&] {
            FHasPending = false;
            FPendingFrame.clear();
            if (FTransmission) FTransmission->AddError(1);
            ++FBadFrames;
            if (FBadFrames <= 3) {
                FPhase = 6;
            } else {
                FPhase = 4;
                FBadFrames = 0;
            }
            dropRest = true;
        };
        if (PendingFrameComplete()) {
            auto ev = std::make_unique<TEvenement>(Q5File);
            ev->SetEvt(FPendingFrame);
            if (ev->Finished) {
                TimeOutRetries = 3;
                LogInfoToDialog(ev->DescString());
                FHasPending = false;
                FPendingFrame.clear();
                if (ev->ErrorKind != EVT_NO_ERROR) {
                    badFrame();
                } else {
                    if (!FSeenFilled) {
                        std::string hex;
                        for (int i = 0; i < Q5File->Events.Count(); ++i)
                            if (Q5File->Events.Valid(i)) FSeenRecords.insert(Q5File->Events.RecordHex(i, hex));
                        FSeenFilled = true;
                    }
                    mayRepeat = !FSeenRecords.insert(ev->Evt()).second;
                    FLastAppended = ev.get();
                    Q5File->Events.Add(ev.release());
                    View().ShowQ5FileInfo();
                    FPhase = 4;
                    FBadFrames = 0;
                }
            }
        } else if (FPendingChars > kMaxEventFrame) {
            // No frame is this long: the instrument talks without end. Each byte keeps the link from
            // going silent, so this counts as a time-out: asked again while retries are left, then
            // the session ends.
            LogErrorToDialog("Event frame without end after " + std::to_string(FPendingChars) + " characters");
            FHasPending = false;
            FPendingFrame.clear();
            if (FTransmission) FTransmission->AddError(1);
            if (--TimeOutRetries < 0) {
                if (FTransmission) FTransmission->EndStatus = 2;
                LogInfoToDialog("End of the transmission.");
                TimeOutRetries = 3;
                Abort = true;
            } else {
                FPhase = 6;
            }
            dropRest = true;
        }
        const int n = Q5File->Events.Count();
        if (Settings.StopAfter2FF && n > 2 && Q5File->Events[n - 1]->Empty && Q5File->Events[n - 2]->Empty &&
            Q5File->Events[n - 1]->Valid && Q5File->Events[n - 2]->Valid)
            FPhase = 9;
        if (mayRepeat && Q5File->RemoveDuplicate()) FPhase = 9;
        // The duplicate removed may be the event just added: never look at it again.
        if (FLastAppended && Q5File->Events.IndexOf(FLastAppended) < 0) FLastAppended = nullptr;
        TEvenement* current = FHasPending ? nullptr : FLastAppended;
        if (Settings.OptimizeTransmission && current && current->Valid && !current->Empty &&
            FTransmissions->IsEventKnown(current, current->Date)) {
            LogInfoToDialog("Optimization : The last scenario was already received.");
            FPhase = 9;
        }
        if (dropRest) break;
    }
}

double TStationCore::ParseInstrumentDate(const std::string& text, bool& secondsKnown)
{
    secondsKnown = false;
    int f[6] = {-1, -1, -1, -1, -1, -1};
    int n = 0;
    const char letter = text.empty() ? '\0' : text[0];
    const std::string fields = text.size() > 1 ? text.substr(1) : std::string();
    int hour = 0, minute = 0, second = 0, day = 0, month = 0, year = 0;
    bool ok = false;
    if (letter == 'h') {
        n = std::sscanf(fields.c_str(), "%2d%2d%2d%2d%2d%2d", &f[0], &f[1], &f[2], &f[3], &f[4], &f[5]);
        ok = n == 6;
        hour = f[0], minute = f[1], second = f[2], day = f[3], month = f[4], year = f[5];
        secondsKnown = true;
    } else if (letter == 'H') {
        n = std::sscanf(fields.c_str(), "%2d%2d%2d%2d%2d", &f[0], &f[1], &f[2], &f[3], &f[4]);
        ok = n == 5;
        hour = f[0], minute = f[1], second = 0, day = f[2], month = f[3], year = f[4];
    }
    double date = 0, time = 0;
    // An impossible date or time (month 13, hour 25) is a bad format like any other.
    if (ok && second <= 59 && year >= 0) {
        year = year < 90 ? 2000 + year : 1900 + year;
        ok = TryEncodeDate(year, month, day, date) && TryEncodeTime(hour, minute, second, 0, time);
    } else {
        ok = false;
    }
    if (!ok) {
        secondsKnown = false;
        LogErrorToDialog("Date '" + text + "' has bad format !");
        return 0;
    }
    return date + time;
}

void TStationCore::ParseInstrumentReply()
{
    const size_t stx = FReply.find(STX);
    if (stx == std::string::npos) {
        FReply.clear();
        return;
    }
    FReply.erase(0, stx);
    const size_t etb = FReply.find(ETB, 1);
    if (etb == std::string::npos) {
        // No reply is this long: the end of the frame will never come.
        if (FReply.size() > kMaxReply) {
            LogErrorToDialog("Reply without end of frame after " + std::to_string(FReply.size()) + " characters");
            FReply.clear();
            FPhase = 99;
            EndRequest = true;
        }
        return;
    }
    const std::string reply = FReply.substr(1, etb - 1);
    const char letter = reply.empty() ? '\0' : reply[0];

    if (FPhase == 11) {
        if (reply != FExpectedEcho) {
            LogErrorToDialog("Error during time update" + kDot + ":" + kDot + "expected" + kDot + "'" + FExpectedEcho +
                             "' received '" + reply + "'");
            FPhase = 99;
        } else {
            FPhase = 12;
            if (FTargetTime != 0) {
                const double at = FTargetTime - FRoundTrip / 2;
                LogInfoToDialog("Waiting for synchronization " + FormatDateTime("hh:nn:ss", at) + "...");
                Delay(1, true);
                while (NowUTC() < at) Delay(1, false);
            }
            FCommandTime = NowUTC();
            SendText("HT");
        }
    } else if (letter == 'H' || letter == 'h') {
        bool secondsKnown = false;
        double date = ParseInstrumentDate(reply, secondsKnown);
        if (FCommandTime != 0) {
            const double rtt = NowUTC() - FCommandTime;
            if (rtt < 30 * kSecond) FRoundTrip = rtt;
        }
        FCommandTime = 0;
        if (date > 1) date += FRoundTrip / 2;
        switch (FPhase) {
        case 7:
        case 8:
            if (date > 1) Q5File->SetDownloadTimes(secondsKnown, date);
            FPhase = 1;
            break;
        case 10:
            ClockCheck(reply, date);
            break;
        case 12:
            FPhase = 13;
            FCommandTime = NowUTC();
            Delay(1000, false);
            SendText("HT");
            break;
        case 13:
            LogInfoToDialog("New instrument date : " + DateTimeText(date));
            FPhase = 99;
            break;
        default:
            LogErrorToDialog("Case not expected #" + std::to_string(FPhase) + ": " + kSourceName + ":851");
            FPhase = 99;
            break;
        }
    } else if (letter == 'S') {
        Q5File->SetParamBloc(reply);
        FPhase = 7;
    } else {
        LogInfoToDialog("Sequence" + kDot + "'" + std::string(1, letter) + "' not understood" + kSourceName + ":857");
        FPhase = 99;
    }
    FReply.clear();
    if (FPhase == 99) EndRequest = true;
}

void TStationCore::ClockCheck(const std::string& reply, double date)
{
    if (reply.empty() || reply[0] != 'h' || date <= 1) {
        LogInfoToDialog("Can't remote change time of this instrument");
        FPhase = 99;
        return;
    }
    double seconds = (NowUTC() - date) * 86400.0;
    if (Settings.TypeCom == TypeComModem) seconds -= 2;
    int e = static_cast<int>(std::trunc(seconds));
    if (e >= -2 && e <= 2) {
        LogInfoToDialog("Time of the instrument is ok");
        FPhase = 99;
        return;
    }
    if (std::abs(e) > 7200) {
        LogInfoToDialog("The intrument time error is more than 2 hours");
        e = e > 0 ? 7200 : -7200;
    } else {
        LogInfoToDialog("The instrument time error is " + std::to_string(e) + kDot + "seconds ");
    }
    if (Settings.SmartSetTime && ((e >= -120 && e <= 120) || !Settings.HardSetTime)) {
        e = std::max(-63, std::min(63, e));
        char buf[32];
        std::snprintf(buf, sizeof buf, "J%02X000000010100", static_cast<unsigned>(e & 0xFF));
        FExpectedEcho = buf;
        SendText(FExpectedEcho + "T");
        FPhase = 11;
        LogInfoToDialog("Smart correction intrument time of " + std::to_string(e) + kDot + "seconds ");
        FTargetTime = 0;
    } else if (Settings.HardSetTime && (Settings.TypeCom != TypeComModem || e < -8 || e > 8)) {
        const double lead = FRoundTrip * 2 >= 2 * kSecond ? FRoundTrip * 2 : 2 * kSecond;
        // The command carries whole seconds: aim at the next whole second so that the instrument is
        // set exactly, never up to a second late.
        FTargetTime = std::ceil((NowUTC() + lead) * 86400.0 - 1e-6) / 86400.0;
        const std::string digits = FormatDateTime("hhnnssddmmyy", FTargetTime);
        FExpectedEcho = "R" + digits;
        FCommandTime = NowUTC();
        SendText("R8461" + digits + "T");
        FPhase = 11;
        LogInfoToDialog("Update instrument's time at : " + DateTimeText(FTargetTime));
    } else {
        LogInfoToDialog("Time update is not possible");
        FPhase = 99;
    }
}

void TStationCore::EndOfTransfer()
{
    EndRequest = Abort = false;
    SendText("ZT");
    Delay(100, false);
    SendText("Z");
    if (Settings.TypeCom == TypeComModem && !Settings.DebugModemEchoOn) {
        FModem->Disconnect();
        FModem->Initialize();
    }
    if (FTransmission) FTransmission->EndTime = NowLocal();
    FPhase = 0;
    FRingCount = 0;
    FHasPending = false;
    FPendingFrame.clear();
    Q5File->Rebuild();
    // The instrument's filters give the ASCII columns their titles: attach it before the export.
    Q5File->AttachInstrument(gInstrumentList ? gInstrumentList->FindByID(Q5File->InstrumentId) : nullptr);
    std::string recorded;
    FLastDownload = TKeptDownload();
    FLastDownload.Records = Q5File->NbEvt();
    if ((Settings.AutoRecord || KeepEveryDownload) && Q5File->NbEvt() > 0) {
        recorded = RecordDownload(RecordFolder());
        // Nobody could save it afterwards: a folder of the settings that cannot be written to is no
        // reason to lose it.
        const std::string ownFolder = IncludeTrailingSlash(LogFolder);
        if (recorded.empty() && KeepEveryDownload && RecordFolder() != ownFolder) {
            recorded = RecordDownload(ownFolder);
            if (!recorded.empty())
                FLastDownload.Errors.insert(FLastDownload.Errors.begin(), "not in " + RecordFolder() + " as the settings say");
        }
        if (!recorded.empty() && KeepEveryDownload)
            LogInfoToDialog("The download is kept in " + recorded +
                            (Settings.AutoRecord ? "" : " (automatic recording is off, and without a screen "
                                                        "every download is kept)"));
        // Its records are in no file: an optimised download must fetch them again.
        if (recorded.empty() && FTransmission) FTransmission->Kept = false;
    }
    if (FTransmission && FTransmission->Stalled() && Q5File->NbEvt() > 0)
        // What came is good, but it is not all the instrument holds: nobody may take it for a whole download.
        LogErrorToDialog("Incomplete download: " + (recorded.empty() ? std::string("the data file") : recorded) +
                         " holds " + std::to_string(Q5File->NbEvt()) + " records, " +
                         (FStopSignal ? "stopped by signal " + std::to_string(FStopSignal)
                                      : std::string("the link failed")) +
                         " before the instrument had sent them all");
    SetConnected(false);
    if (Settings.SoundEndTrans) View().PlayEndSound();
    ReceivedBytes = 0;
    ConnectedSeconds = 0;
    View().RefreshScnList();
}

std::string TStationCore::RecordDownload(const std::string& folder)
{
    const std::string name = AutoRecordName(folder);
    SetQ5FileName(name);
    if (!Q5File->SaveToFile(name)) {
        // The data stay in memory, marked modified, for the user to save elsewhere.
        LogErrorToDialog("Unable to save the Q5 file " + name);
        return std::string();
    }
    Modified = false;
    FLastDownload.File = name;
    LogInfoToDialog("Q5 file creation");
    if (Settings.CreateASCIIFiles) {
        // Files of no period take the data file's own name, its "_1" suffix included, so that
        // a second download within the same minute does not replace the first one's files.
        const bool written = Settings.ASCIIPeriod == 0
                                 ? Q5File->ExportAsciiFiles(name, Settings.AddASCIIHeader)
                                 : Q5File->ExportAscii(folder + Settings.BaseASCIIName, Settings.ASCIIPeriod,
                                                       Settings.AddASCIIHeader);
        if (written) {
            LogInfoToDialog("ASCII files creation");
        } else {
            LogErrorToDialog("Unable to write the ASCII files in " + folder);
            FLastDownload.Errors.push_back("no ASCII files");
        }
    }
    return name;
}
