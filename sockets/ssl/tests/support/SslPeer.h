#pragma once
// The Qt event loop of the socket tests, and the openssl command-line tool as a TLS peer process.
#include <QProcess>

#include <functional>
#include <string>
#include <vector>

#include "common/tests/support/TestWait.h"

namespace ssltest {

void EnsureApp();

// "openssl s_server ..." or "openssl s_client ..." as a child process; output of both channels is
// collected while the event loop runs.
class TSslPeer {
public:
  explicit TSslPeer(const std::vector<std::string>& args);
  // Another program as the peer (python3 with a script, for one).
  TSslPeer(const std::string& program, const std::vector<std::string>& args);
  ~TSslPeer();
  // For s_server: waits for its "ACCEPT host:port" line and returns the port text.
  std::string WaitForAcceptPort(int timeoutMs = kTestDeadlineMs);
  // Waits until the peer has printed `text`: a peer may print what it did after our side saw it.
  ::testing::AssertionResult WaitForOutput(const std::string& text, int timeoutMs = kTestDeadlineMs);
  std::string Output();
  void Write(const std::string& data);
  void CloseInput();
  bool WaitForExit(int timeoutMs = kTestDeadlineMs);
  int ExitCode() const { return FProcess.exitCode(); }

private:
  QProcess FProcess;
  std::string FOutput;
};

}  // namespace ssltest
