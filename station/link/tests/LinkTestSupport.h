#pragma once
// Helpers of the link tests: the event loop, pseudo-terminal pairs, and a host that records.
#include "common/tests/support/TestWait.h"
#include "station/link/LinkHost.h"

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace linktest {

// Creates the application object once (event loop for timers and serial notifications).
void EnsureApp();

// A pseudo-terminal: the test holds the master end, the code under test opens SlaveName.
class Pty {
public:
    Pty();
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    std::string SlaveName;
    int Master = -1;
    int Slave = -1;  // kept open until CloseSlave so that the master never sees a hang-up early

    void CloseSlave();
    void CloseMaster();
    void Write(const std::string& bytes);
    // Reads what is available now (non-blocking).
    std::string ReadNow();
    // Collects bytes, pumping events, until n bytes came or ms passed.
    std::string ReadBytes(size_t n, int ms = kTestDeadlineMs);
    // Speed and stop bits as the line discipline holds them.
    int Speed() const;
    int StopBits() const;
};

class RecordingHost : public TLinkHost {
public:
    std::vector<std::string> Log;
    std::string Sent;
    bool Expert = true;
    bool ManualPickUp = false;
    TMedia* Media = nullptr;
    std::vector<std::string> DefaultCalls;  // data of each default-handler call
    std::function<void(const char*, int)> OnSend;

    void LogInfoToDialog(const std::string& text) override { Log.push_back(text); }
    void LogErrorToDialog(const std::string& text) override { Log.push_back("ERROR: " + text); }
    bool IsExpert() const override { return Expert; }
    bool IsManualPickUp() const override { return ManualPickUp; }
    void SendToInstrument(const char* data, int count) override;
    TMedia* CurrentMedia() override { return Media; }
    void ProcessReceivedData(void*, const char* data, int count) override
    {
        DefaultCalls.emplace_back(data ? std::string(data, size_t(count)) : std::string());
    }
    // Hands bytes to the installed receive handler as the medium would.
    void Receive(const std::string& bytes) { CallReceiveHandler(this, bytes.data(), int(bytes.size())); }
    bool Logged(const std::string& line) const;
    int CountLogged(const std::string& line) const;
};

std::string TempDir();

}  // namespace linktest
