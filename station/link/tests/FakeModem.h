#pragma once
// The fake modem of tools/fakemodem as a child process on its own pseudo-terminal.
#include <QProcess>

#include "common/tests/support/TestWait.h"

#include <string>
#include <vector>

namespace linktest {

class FakeModem {
public:
    explicit FakeModem(int guardMs = 1000);
    ~FakeModem();
    std::string Slave;  // device to open
    // Sends a control line and waits until the modem has done it.
    void Control(const std::string& line);
    // Waits until the modem reported this line on its output.
    bool WaitFor(const std::string& line, int ms = kTestDeadlineMs);
    // Reported lines that begin with prefix ("CMD ", "DATA "), prefix removed.
    std::vector<std::string> Lines(const std::string& prefix);

private:
    void Collect();
    QProcess Process;
    std::string Pending;
    std::vector<std::string> Output;
};

}  // namespace linktest
