#pragma once
// Runs a check without the privilege of root, so that file permissions bind: root reads and writes
// past any file mode, and a check of a refused file would pass without testing anything.
//
// The check runs in a child process that gave up root's overrides of file permissions (and keeps
// them given up across exec, so that a program it starts is bound too), or, where those cannot be
// given up, runs as the user "nobody". Its result comes back with its message; gtest assertions
// inside the check would stay in the child: the check returns an AssertionResult instead.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <functional>
#include <string>

#include "common/tests/support/TestWait.h"

namespace test_user {

constexpr uid_t kNobodyUid = 65534;
constexpr gid_t kNobodyGid = 65534;

// Gives up, for this process and every program it starts, root's overrides of file permissions:
// reading, writing and searching past the mode bits, and acting as the owner of any file.
inline bool DropPermissionOverrides() {
  const int overrides[] = {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER};
  for (int cap : overrides)
    if (::prctl(PR_CAPBSET_DROP, cap, 0, 0, 0) != 0) return false;  // else exec would give them back
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2]{};
  if (::syscall(SYS_capget, &header, data) != 0) return false;
  for (int cap : overrides) {
    const unsigned bit = 1u << (cap % 32);
    data[cap / 32].effective &= ~bit;
    data[cap / 32].permitted &= ~bit;
    data[cap / 32].inheritable &= ~bit;
  }
  return ::syscall(SYS_capset, &header, data) == 0;
}

// In a child process of a root test: binds it by file permissions, as DropPermissionOverrides or as
// the user "nobody". An empty text when done, else why not.
inline std::string BecomeUnprivileged() {
  if (DropPermissionOverrides()) return {};
  if (::setgroups(0, nullptr) == 0 && ::setgid(kNobodyGid) == 0 && ::setuid(kNobodyUid) == 0) return {};
  return std::string("neither root's overrides of file permissions could be given up nor the user nobody taken: ") +
         std::strerror(errno);
}

// Runs `check` bound by file permissions: in a child process when the tests run as root, in this
// process otherwise. Its result, with its message, is the result.
inline ::testing::AssertionResult AsUnprivileged(const std::function<::testing::AssertionResult()>& check) {
  if (::geteuid() != 0) return check();
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return ::testing::AssertionFailure() << "no pipe: " << std::strerror(errno);
  const pid_t pid = ::fork();
  if (pid < 0) {
    ::close(out[0]);
    ::close(out[1]);
    return ::testing::AssertionFailure() << "no child process: " << std::strerror(errno);
  }
  if (pid == 0) {
    ::close(out[0]);
    int code = 3;
    std::string said = BecomeUnprivileged();
    if (said.empty()) {
      try {
        const ::testing::AssertionResult result = check();
        code = result ? 0 : 1;
        said = result.message();
      } catch (const std::exception& e) {
        code = 2;
        said = std::string("exception: ") + e.what();
      } catch (...) {
        code = 2;
        said = "unknown exception";
      }
    }
    for (size_t at = 0; at < said.size();) {
      const ssize_t n = ::write(out[1], said.data() + at, said.size() - at);
      if (n <= 0) break;
      at += static_cast<size_t>(n);
    }
    ::_exit(code);
  }
  ::close(out[1]);
  // Read as it comes, so that a long message never holds the child up.
  ::fcntl(out[0], F_SETFL, O_NONBLOCK);
  std::string said;
  int status = -1;
  bool ended = false;
  auto readSome = [&] {
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(out[0], buffer, sizeof buffer)) > 0) said.append(buffer, static_cast<size_t>(n));
  };
  const bool inTime = WaitUntil([&] {
    readSome();
    if (::waitpid(pid, &status, WNOHANG) == pid) ended = true;
    return ended;
  });
  readSome();
  ::close(out[0]);
  if (!inTime) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    return ::testing::AssertionFailure() << "the unprivileged check did not end within " << kTestDeadlineMs / 1000
                                         << " s";
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return ::testing::AssertionSuccess() << said;
  if (!WIFEXITED(status))
    return ::testing::AssertionFailure() << "the unprivileged check ended by signal " << WTERMSIG(status);
  return ::testing::AssertionFailure() << said;
}

// AsUnprivileged for a check that says only whether it held.
inline bool RunUnprivileged(const std::function<bool()>& body) {
  return AsUnprivileged([&] {
    return body() ? ::testing::AssertionSuccess() : ::testing::AssertionFailure() << "the check did not hold";
  });
}

}  // namespace test_user
