#include "tools/simulator/SimProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

namespace zsim {

namespace {
double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}
}  // namespace

SimProcess::~SimProcess() { Stop(); }

std::string SimProcess::DefaultProgram() {
  const char* bin = std::getenv("ZELT_BIN_DIR");
  return std::string(bin && *bin ? bin : ZSIM_BIN_DIR) + "/zelt-simulator";
}

bool SimProcess::Start(const std::string& program, const std::vector<std::string>& args,
                       const std::string& reportPath) {
  reportPath_ = reportPath;
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return false;
  std::vector<std::string> all{program};
  all.insert(all.end(), args.begin(), args.end());
  all.push_back("--log");
  all.push_back(reportPath);
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_ = fork();
  if (pid_ < 0) return false;
  if (pid_ == 0) {
    dup2(pipeFds[1], 1);
    close(pipeFds[0]);
    close(pipeFds[1]);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(pipeFds[1]);
  out_ = pipeFds[0];
  fcntl(out_, F_SETFL, fcntl(out_, F_GETFL) | O_NONBLOCK);
  return !WaitLink().empty();
}

std::string SimProcess::WaitLink(double seconds) {
  const double end = Now() + seconds;
  while (Now() < end) {
    const size_t nl = buffered_.find('\n');
    if (nl != std::string::npos) {
      const std::string line = buffered_.substr(0, nl);
      buffered_.erase(0, nl + 1);
      if (line.rfind("PTY ", 0) == 0 || line.rfind("TCP ", 0) == 0) {
        link_ = line.substr(4);
        return link_;
      }
      continue;
    }
    pollfd p{out_, POLLIN, 0};
    if (poll(&p, 1, 50) > 0) {
      char buf[512];
      const ssize_t n = read(out_, buf, sizeof buf);
      if (n > 0) buffered_.append(buf, static_cast<size_t>(n));
      if (n == 0) return {};
    }
  }
  return {};
}

std::vector<std::string> SimProcess::Report() const {
  std::vector<std::string> lines;
  std::ifstream in(reportPath_);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

bool SimProcess::WaitReport(const std::string& prefix, double seconds) {
  const double end = Now() + seconds;
  do {
    for (const std::string& line : Report())
      if (line.rfind(prefix, 0) == 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  } while (Now() < end);
  return false;
}

int SimProcess::Wait(double seconds) {
  if (pid_ <= 0) return status_;
  const double end = Now() + seconds;
  while (Now() < end) {
    int st = 0;
    if (waitpid(pid_, &st, WNOHANG) == pid_) {
      pid_ = -1;
      status_ = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
      if (out_ >= 0) close(out_);
      out_ = -1;
      return status_;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return -1;
}

int SimProcess::Stop() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    if (Wait(3) < 0 && pid_ > 0) {
      kill(pid_, SIGKILL);
      Wait(3);
    }
  }
  if (out_ >= 0) close(out_);
  out_ = -1;
  return status_;
}

}  // namespace zsim
