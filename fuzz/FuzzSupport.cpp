#include "fuzz/FuzzSupport.h"

#include "common/DataPaths.h"
#include "common/Prompt.h"
#include "common/ScnType.h"
#include "common/Zelt.h"

#include <QCoreApplication>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

void SilenceFuzzPrompts()
{
  static ScopedPromptScript silent({}, false);
}

void LoadFuzzDescriptions()
{
  SilenceFuzzPrompts();
  if (!gListScn) TZELT::LoadDescriptionLists(InstalledDataDir().string());
}

std::vector<std::string> FuzzChunks(const uint8_t* data, size_t size)
{
  std::vector<std::string> chunks;
  if (size == 0) return chunks;
  const std::string stream(reinterpret_cast<const char*>(data) + 1, size - 1);
  uint32_t state = data[0];
  if (state == 0) {
    chunks.push_back(stream);
    return chunks;
  }
  state = state * 2654435761u | 1u;
  for (size_t at = 0; at < stream.size();) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    const size_t len = 1 + state % 64;
    chunks.push_back(stream.substr(at, len));
    at += len;
  }
  return chunks;
}

const std::string& FuzzScratchDir()
{
  // Never freed: the clean-up at exit still needs it.
  static const std::string* dir = [] {
    const std::filesystem::path base = std::filesystem::exists("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path();
    const std::filesystem::path d = base / ("zelt-fuzz-" + std::to_string(::getpid()));
    std::filesystem::create_directories(d);
    // Whatever the loaders write for the user goes here too, never into the real home folder.
    ::setenv("XDG_DATA_HOME", (d / "data").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (d / "config").c_str(), 1);
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(*dir, ignored);
    });
    return new std::string(d.string());
  }();
  return *dir;
}

std::string FuzzWriteFile(const std::string& name, const std::string& bytes)
{
  const std::string path = FuzzScratchDir() + "/" + name;
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return path;
}

void EnsureFuzzApplication()
{
  if (QCoreApplication::instance()) return;
  static int argc = 1;
  static char name[] = "zelt-fuzz";
  static char* argv[] = {name, nullptr};
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  new QCoreApplication(argc, argv);
}

void RunFuzzEvents()
{
  QCoreApplication::sendPostedEvents();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}
