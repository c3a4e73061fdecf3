#pragma once
// Framed command link: one short command at a time over an open serial port, framed STX command ETX
// checksum; waits for one framed reply, resends once when none comes in time, and reports the outcome
// to its owner: 0 good reply (text in Data during the call), -1 wrong checksum, -2 no reply.
#include <QTimer>

#include <functional>
#include <string>

class TComPort;

class TComControl {
public:
    explicit TComControl(TComPort* port);
    ~TComControl();
    TComControl(const TComControl&) = delete;
    TComControl& operator=(const TComControl&) = delete;

    // The command of the next SendCommand, with a time-out of 1.3 s and one resend.
    void SetCommand(const std::string& text);
    // False when the port is not open (nothing is armed).
    bool SendCommand();
    // Every received chunk of the port.
    void DataReceived(const char* data, int count);
    void TimerTick();

    TComPort* Port;
    QTimer Timer;
    bool Waiting = false;
    bool InFrame = false;
    bool InChecksum = false;
    std::string Data;  // the reply, valid during the OnResult call
    std::string Checksum;
    std::string Command;
    int Countdown = 0;
    int TimeOutTicks = 0;
    int Resends = 0;
    // The owner may send its next command from inside the call.
    std::function<void(int code)> OnResult;

    // XOR of all bytes as two upper-case hex digits.
    static std::string ChecksumText(const std::string& bytes);

private:
    void Result(int code);
};
