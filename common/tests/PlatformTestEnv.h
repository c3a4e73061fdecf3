#pragma once
// A temporary folder per test with HOME and the XDG folders pointed into it, so that the platform
// tests never touch the real user's files. Restores the environment afterwards.
#include <csignal>
#include <cstdlib>
#include <functional>
#include <sys/resource.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <unistd.h>

class ScopedTestHome {
 public:
  ScopedTestHome()
  {
    std::string pattern = (std::filesystem::temp_directory_path() / "zelt-test-XXXXXX").string();
    char* made = ::mkdtemp(pattern.data());
    root_ = made ? std::filesystem::path(made) : std::filesystem::path();
    Set("HOME", (root_ / "home").string());
    Set("XDG_CONFIG_HOME", (root_ / "config").string());
    Set("XDG_DATA_HOME", (root_ / "data").string());
    std::filesystem::create_directories(root_ / "home");
  }
  ~ScopedTestHome()
  {
    for (auto& [name, value] : saved_) {
      if (value) ::setenv(name.c_str(), value->c_str(), 1);
      else ::unsetenv(name.c_str());
    }
    std::error_code ec;
    std::filesystem::permissions(root_, std::filesystem::perms::owner_all, ec);
    std::filesystem::remove_all(root_, ec);
  }
  ScopedTestHome(const ScopedTestHome&) = delete;
  ScopedTestHome& operator=(const ScopedTestHome&) = delete;

  const std::filesystem::path& Root() const { return root_; }

  // Sets (or with nullptr unsets) a variable for the test's lifetime.
  void Set(const std::string& name, const char* value)
  {
    if (!saved_.count(name)) {
      const char* old = std::getenv(name.c_str());
      saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    if (value) ::setenv(name.c_str(), value, 1);
    else ::unsetenv(name.c_str());
  }
  void Set(const std::string& name, const std::string& value) { Set(name, value.c_str()); }

  static std::string Read(const std::filesystem::path& p)
  {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  static void Write(const std::filesystem::path& p, const std::string& bytes)
  {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << bytes;
  }

  // Runs `body` with files limited to `bytes` (writes past it fail as on a full disk; root too).
  static void WithFileSizeLimit(rlim_t bytes, const std::function<void()>& body)
  {
    struct rlimit old {};
    ::getrlimit(RLIMIT_FSIZE, &old);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &small);
    body();
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
  }

 private:
  std::filesystem::path root_;
  std::map<std::string, std::optional<std::string>> saved_;
};
