#pragma once
// Runs a check as an unprivileged user when the tests run as root, so that file permissions bind.
#include <functional>

namespace ssltest {
// Runs body in a child process (as user "nobody" when running as root); true when body returned true.
bool RunUnprivileged(const std::function<bool()>& body);
}  // namespace ssltest
