#include "SslPeer.h"

#include <QCoreApplication>
#include <QStringList>

namespace ssltest {

void EnsureApp() {
  if (QCoreApplication::instance()) return;
  static int argc = 1;
  static char name[] = "sockets_ssl_tests";
  static char* argv[] = {name, nullptr};
  new QCoreApplication(argc, argv);
}

TSslPeer::TSslPeer(const std::vector<std::string>& args) : TSslPeer(ZELT_OPENSSL_TOOL, args) {}

TSslPeer::TSslPeer(const std::string& program, const std::vector<std::string>& args) {
  EnsureApp();
  QStringList list;
  for (const std::string& a : args) list << QString::fromStdString(a);
  FProcess.setProcessChannelMode(QProcess::MergedChannels);
  FProcess.start(QString::fromStdString(program), list);
  FProcess.waitForStarted(kTestDeadlineMs);
}

TSslPeer::~TSslPeer() {
  if (FProcess.state() != QProcess::NotRunning) {
    FProcess.kill();
    FProcess.waitForFinished(kTestDeadlineMs);
  }
}

std::string TSslPeer::Output() {
  FOutput += FProcess.readAll().toStdString();
  return FOutput;
}

std::string TSslPeer::WaitForAcceptPort(int timeoutMs) {
  std::string port;
  WaitUntil([&] {
    std::string out = Output();
    size_t p = out.find("ACCEPT ");
    if (p == std::string::npos) return false;
    size_t eol = out.find('\n', p);
    if (eol == std::string::npos) return false;
    std::string line = out.substr(p, eol - p);
    port = line.substr(line.rfind(':') + 1);
    while (!port.empty() && (port.back() == '\r' || port.back() == ' ')) port.pop_back();
    return true;
  }, timeoutMs);
  return port;
}

void TSslPeer::Write(const std::string& data) { FProcess.write(data.data(), static_cast<qint64>(data.size())); }

void TSslPeer::CloseInput() { FProcess.closeWriteChannel(); }

::testing::AssertionResult TSslPeer::WaitForOutput(const std::string& text, int timeoutMs) {
  if (WaitUntil([&] { return Output().find(text) != std::string::npos; }, timeoutMs))
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "the peer did not print \"" << text << "\" within " << timeoutMs / 1000
                                       << " s; it printed:\n" << FOutput;
}

bool TSslPeer::WaitForExit(int timeoutMs) {
  return WaitUntil([&] {
    Output();
    return FProcess.state() == QProcess::NotRunning;
  }, timeoutMs);
}

}  // namespace ssltest
