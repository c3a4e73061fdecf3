#pragma once
// Helpers of the socket tests: the Qt application, waiting on the event loop, and blocking loopback peers
// that run on their own threads.
#include <chrono>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>

#include "common/tests/support/TestWait.h"

// Bytes of a wire sequence written as numbers.
std::string B(std::initializer_list<int> bytes);

// Creates the process's QCoreApplication once.
void EnsureApp();

// A blocking TCP listener on 127.0.0.1 with a kernel-chosen port.
class TestListener {
public:
    TestListener();
    ~TestListener();
    uint16_t Port() const { return FPort; }
    std::string PortText() const { return std::to_string(FPort); }
    // Accepts one connection (blocking, with a time-out); -1 on time-out.
    int Accept(int timeoutMs = kTestDeadlineMs);
    int Fd() const { return FFd; }

private:
    int FFd = -1;
    uint16_t FPort = 0;
};

// A port on 127.0.0.1 with nothing listening.
uint16_t UnusedPort();
// Reads exactly n bytes (or until EOF/time-out) from a blocking descriptor.
std::string ReadN(int fd, size_t n, int timeoutMs = kTestDeadlineMs);
// Reads until the peer closes (or time-out); sets eof when the stream ended.
std::string ReadToEof(int fd, int timeoutMs = kTestDeadlineMs, bool* eof = nullptr);
bool WriteAll(int fd, const std::string& data);
// The same reads on a helper thread while this thread runs the event loop (the component under test
// lives on this thread and must keep answering).
std::string ReadNPumping(int fd, size_t n, int timeoutMs = kTestDeadlineMs);
std::string ReadToEofPumping(int fd, int timeoutMs = kTestDeadlineMs, bool* eof = nullptr);
// Closes with a reset (linger 0).
void ResetClose(int fd);
class TNetSocket;
// Connects the socket to the listener (event loop runs until connected); the peer's descriptor.
int ConnectToListener(TNetSocket& s, TestListener& l);
// True once something listens on 127.0.0.1:port, as the kernel's table says (no test connection, which
// a serial server would answer by opening its device).
bool IsListening(uint16_t port);
class QProcess;
// Ends a test peer process: terminate, then kill when it does not end.
void StopProcess(QProcess& p);
// Path of a program, or empty when it is not installed.
std::string FindProgram(const std::string& name);
