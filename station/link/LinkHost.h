#pragma once
// What the link needs of the program that hosts it (the main window, or a test): the communication
// log, the expert flag, the send routine, the current medium, the manual pick-up flag, and the one
// receive-handler slot that the task queue fills.
#include <functional>
#include <string>

class TMedia;

// A received chunk (sender, bytes, count); the signature of the host's receive routine.
using TDataEvent = std::function<void(void* sender, const char* data, int count)>;

class TLinkHost {
public:
    virtual ~TLinkHost() = default;

    // One line of the communication log.
    virtual void LogInfoToDialog(const std::string& text) = 0;
    // One error line of the communication log: "ERROR: " + text.
    virtual void LogErrorToDialog(const std::string& text) = 0;
    virtual bool IsExpert() const = 0;
    // The modem must not answer by itself (the user picks up).
    virtual bool IsManualPickUp() const = 0;
    // Writes through the current medium (and logs the block).
    virtual void SendToInstrument(const char* data, int count) = 0;
    // The current medium, or null.
    virtual TMedia* CurrentMedia() = 0;
    // The handler used when no task is current (the download state machine).
    virtual void ProcessReceivedData(void* sender, const char* data, int count) = 0;

    // ---- the receive-handler slot ----------------------------------------------------------------------
    void SetReceiveHandler(TDataEvent handler)
    {
        ReceiveHandler = std::move(handler);
        DefaultInstalled = false;
    }
    void InstallDefaultHandler()
    {
        ReceiveHandler = [this](void* sender, const char* data, int count) {
            ProcessReceivedData(sender, data, count);
        };
        DefaultInstalled = true;
    }
    bool IsDefaultHandlerInstalled() const { return DefaultInstalled; }
    bool HasReceiveHandler() const { return bool(ReceiveHandler); }
    // Calls the installed handler; the handler may replace itself while it runs.
    void CallReceiveHandler(void* sender, const char* data, int count)
    {
        if (!ReceiveHandler) return;
        TDataEvent handler = ReceiveHandler;
        handler(sender, data, count);
    }

    void SendText(const std::string& text) { SendToInstrument(text.data(), int(text.size())); }

private:
    TDataEvent ReceiveHandler;
    bool DefaultInstalled = false;
};
