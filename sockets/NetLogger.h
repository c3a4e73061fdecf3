#pragma once
// Optional diagnostics sink of the socket layers: each line goes to an event handler, to the debugger
// output (standard error here) and/or to a log file.
#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>

#include <QObject>

enum TLogOption {
    loDestEvent, loDestFile, loDestOutDebug, loAddStamp,
    loNetSockErr, loNetSockInfo, loNetSockDump,
    loSslErr, loSslInfo, loSslDump,
    loProtSpecErr, loProtSpecInfo, loProtSpecDump,
};

// Set of TLogOption, one bit per option.
class TLogOptions {
public:
    TLogOptions() = default;
    TLogOptions(std::initializer_list<TLogOption> l) { for (auto o : l) Include(o); }
    bool Contains(TLogOption o) const { return (FBits >> o) & 1u; }
    void Include(TLogOption o) { FBits = static_cast<uint16_t>(FBits | (1u << o)); }
    void Exclude(TLogOption o) { FBits = static_cast<uint16_t>(FBits & ~(1u << o)); }
    uint16_t Bits() const { return FBits; }
    bool operator==(const TLogOptions&) const = default;

private:
    uint16_t FBits = 0;
};

enum TLogFileOption { lfoAppend, lfoOverwrite };
enum TNTEventType { etError, etWarning, etInformation, etAuditSuccess, etAuditFailure };

class ELoggerException : public std::runtime_error {
public:
    explicit ELoggerException(const std::string& msg) : std::runtime_error(msg) {}
};

class TNetLogger;
// Sender is the component that logs (a socket or a TLS context).
using TNetLogEvent = std::function<void(void* Sender, TLogOption LogOption, const std::string& Msg)>;

class TNetLogger : public QObject {
    Q_OBJECT
public:
    explicit TNetLogger(QObject* owner = nullptr);
    ~TNetLogger() override;

    void DoDebugLog(void* Sender, TLogOption LogOption, const std::string& Msg);
    void OpenLogFile();
    void CloseLogFile();

    TLogFileOption LogFileOption() const { return FLogFileOption; }
    void SetLogFileOption(TLogFileOption v);
    const std::string& LogFileName() const { return FLogFileName; }
    void SetLogFileName(const std::string& v);
    TLogOptions LogOptions() const { return FLogOptions; }
    void SetLogOptions(TLogOptions v);
    void SetOnNetLogEvent(TNetLogEvent v);

private:
    void OpenLocked();
    void CloseLocked();

    std::recursive_mutex FLock;
    TLogFileOption FLogFileOption = lfoAppend;
    std::string FLogFileName;
    TLogOptions FLogOptions;
    TNetLogEvent FOnNetLogEvent;
    std::FILE* FFile = nullptr;
    bool FDestroying = false;
};

// Current time of day as "hh:nn:ss:zzz".
std::string NetLoggerAddTimeStamp();
