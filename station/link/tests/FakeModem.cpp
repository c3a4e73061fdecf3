#include "station/link/tests/FakeModem.h"

#include "station/link/tests/LinkTestSupport.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

namespace linktest {

FakeModem::FakeModem(int guardMs)
{
    EnsureApp();
    // The tools are built beside the test program.
    const char* bin = std::getenv("ZELT_BIN_DIR");
    const QString dir = bin && *bin ? QString::fromUtf8(bin) : QCoreApplication::applicationDirPath();
    const QString program = dir + "/fakemodem";
    Process.start(program, {"--guard", QString::number(guardMs)});
    if (!Process.waitForStarted(kTestDeadlineMs)) throw std::runtime_error("fakemodem did not start: " + program.toStdString() + ": " + Process.errorString().toStdString());
    WaitUntil([&] {
        Collect();
        return !Slave.empty();
    });
    if (Slave.empty()) throw std::runtime_error("fakemodem gave no pty");
}

FakeModem::~FakeModem()
{
    Process.closeWriteChannel();
    if (!Process.waitForFinished(kTestDeadlineMs)) {
        Process.kill();
        Process.waitForFinished(kTestDeadlineMs);
    }
}

void FakeModem::Collect()
{
    Pending += Process.readAllStandardOutput().toStdString();
    size_t nl;
    while ((nl = Pending.find('\n')) != std::string::npos) {
        const std::string line = Pending.substr(0, nl);
        Pending.erase(0, nl + 1);
        if (line.rfind("PTY ", 0) == 0) Slave = line.substr(4);
        Output.push_back(line);
    }
}

void FakeModem::Control(const std::string& line)
{
    Collect();
    const std::string done = "DONE " + line;
    const auto before = std::count(Output.begin(), Output.end(), done);
    Process.write((line + "\n").c_str());
    Process.waitForBytesWritten(kTestDeadlineMs);
    EXPECT_TRUE(::WaitFor("the fake modem to do \"" + line + "\"", [&] {
        Collect();
        return std::count(Output.begin(), Output.end(), done) > before;
    }));
}

bool FakeModem::WaitFor(const std::string& line, int ms)
{
    return WaitUntil([&] {
        Collect();
        return std::find(Output.begin(), Output.end(), line) != Output.end();
    }, ms);
}

std::vector<std::string> FakeModem::Lines(const std::string& prefix)
{
    Collect();
    std::vector<std::string> out;
    for (const std::string& l : Output)
        if (l.rfind(prefix, 0) == 0) out.push_back(l.substr(prefix.size()));
    return out;
}

}  // namespace linktest
