#pragma once
// The Qt event loop of the socket tests, and the openssl command-line tool as a TLS peer process.
#include <QProcess>

#include <functional>
#include <string>
#include <vector>

namespace ssltest {

void EnsureApp();
// Runs the event loop until pred() holds or the time is up; returns pred().
bool WaitFor(const std::function<bool()>& pred, int timeoutMs = 8000);

// "openssl s_server ..." or "openssl s_client ..." as a child process; output of both channels is
// collected while the event loop runs.
class TSslPeer {
public:
  explicit TSslPeer(const std::vector<std::string>& args);
  // Another program as the peer (python3 with a script, for one).
  TSslPeer(const std::string& program, const std::vector<std::string>& args);
  ~TSslPeer();
  // For s_server: waits for its "ACCEPT host:port" line and returns the port text.
  std::string WaitForAcceptPort(int timeoutMs = 8000);
  std::string Output();
  void Write(const std::string& data);
  void CloseInput();
  bool WaitForExit(int timeoutMs = 8000);
  int ExitCode() const { return FProcess.exitCode(); }

private:
  QProcess FProcess;
  std::string FOutput;
};

}  // namespace ssltest
