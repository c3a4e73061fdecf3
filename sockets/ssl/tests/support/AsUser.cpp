#include "AsUser.h"

#include <sys/wait.h>
#include <unistd.h>

#include <exception>

#include "common/tests/support/TestWait.h"

namespace ssltest {

bool RunUnprivileged(const std::function<bool()>& body) {
  if (geteuid() != 0) return body();
  pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    int code = 1;
    if (setgid(65534) == 0 && setuid(65534) == 0) {
      try {
        code = body() ? 0 : 1;
      } catch (...) {
        code = 2;
      }
    }
    _exit(code);
  }
  const int status = WaitForChild(pid);
  return status >= 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace ssltest
