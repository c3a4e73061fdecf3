#pragma once
// Runs the simulator program as a child process for tests and benchmarks: starts it, waits for the
// link it offers ("PTY <path>" or "TCP <port>"), reads its report and stops it.
#include <string>
#include <vector>

namespace zsim {

class SimProcess {
 public:
  SimProcess() = default;
  ~SimProcess();
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  // Starts `program` with `args` plus "--log <reportPath>"; waits for the link line (up to a minute: a
  // loaded machine may be slow to start it).
  bool Start(const std::string& program, const std::vector<std::string>& args, const std::string& reportPath);
  // Waits for the next link line (after a cut with --reopen); empty after the time-out.
  std::string WaitLink(double seconds = 60);
  const std::string& Link() const { return link_; }  // pty path or TCP port
  // Lines of the report so far.
  std::vector<std::string> Report() const;
  // Waits until a report line starts with `prefix`; false after the time-out.
  bool WaitReport(const std::string& prefix, double seconds);
  // Sends SIGTERM and waits; returns the exit status (or -1).
  int Stop();
  // Waits for the program to end by itself; returns its exit status, or -1 after the time-out.
  int Wait(double seconds);
  int Pid() const { return pid_; }

  // The simulator built beside the test programs ($ZELT_BIN_DIR/zelt-simulator).
  static std::string DefaultProgram();

 private:
  int pid_ = -1;
  int out_ = -1;  // the child's standard output
  std::string buffered_;
  std::string link_;
  std::string reportPath_;
  int status_ = -1;
};

}  // namespace zsim
