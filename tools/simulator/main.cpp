// zelt-simulator: plays a sun photometer on a pseudo-terminal, a serial device or a TCP listener on
// 127.0.0.1, so that the station program can download from it without an instrument.
//
// It prints "PTY <path>" or "TCP <port>" on standard output once the link is offered, and reports
// every command it was asked and every answer it sent, one line each, on standard error or the
// --log file.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <ctime>
#include <string>
#include <thread>

#include "tools/q5gen/Q5Gen.h"
#include "tools/simulator/SimImage.h"
#include "tools/simulator/SimInstrument.h"

namespace {

volatile sig_atomic_t g_stop = 0;
void OnSignal(int) { g_stop = 1; }

double NowUtc() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9;
}

double Monotonic() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9;
}

const char* kUsage =
    "usage: zelt-simulator (--pty [--link PATH] | --device PATH | --tcp PORT) [options]\n"
    "  --q5 FILE           memory image from a data file (default: the embedded image)\n"
    "  --records N         embedded image with N records (default 12)\n"
    "  --id ID             embedded image of that instrument model instead: q5gen's N records of it, one\n"
    "                      every 10 minutes before the image's end (SP0B0001: the infrared radiometer)\n"
    "  --sun-days N        embedded image: also direct-sun triplets (NSU) every 15 minutes over the N\n"
    "                      whole days (UTC) before the image's end, at the site of the parameter block,\n"
    "                      made by q5gen's sun days (counts V0 x exp(-air mass x optical depth))\n"
    "  --sun-noise P       relative noise of those counts (default 0)\n"
    "  --sun-temp C        instrument temperature of those triplets (default 25)\n"
    "  --write-image FILE  write the memory image as a data file and exit\n"
    "  --image-time T      the embedded image ends at T (seconds since the epoch) instead of now\n"
    "  --log FILE          report file (default: standard error)\n"
    "  --clock-offset S    instrument clock minus UTC, in seconds (default 0)\n"
    "  --no-seconds        clock replies without seconds ('H')\n"
    "  --wrap              memory wraps to the newest record after the oldest\n"
    "  --noise P           chance per frame of line noise (damaged frame, stray bytes)\n"
    "  --drop P            chance per frame of a lost byte\n"
    "  --stall-after N     go silent after N records ...\n"
    "  --stall-for S       ... for S seconds (default: for good)\n"
    "  --cut-after N       cut the link after N records\n"
    "  --reopen            offer the link again after a cut (a new pseudo-terminal)\n"
    "  --announce S        resend the parameter block every S seconds until asked (0: once)\n"
    "  --again S           start a new session S seconds after a session ended\n"
    "  --sessions N        exit after N sessions ended, once the station closed the exchange or the link\n"
    "  --baud N            pace the output at N baud (default: unthrottled)\n"
    "  --seed N            seed of the noise\n";

struct Config {
  enum Mode { None, Pty, Device, Tcp } mode = None;
  std::string link, device, q5, writeImage, log, identifier;
  int tcpPort = 0;
  int records = 12;
  int sunDays = 0;
  double sunNoise = 0.0;
  double sunTemperature = 25.0;
  long long imageTime = 0;
  bool reopen = false;
  double announce = 1.0, again = -1;
  int sessions = 0;
  int baud = 0;
  zsim::Behaviour behaviour;
};

bool ParseArgs(int argc, char** argv, Config& c) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) throw std::runtime_error("missing value after " + a);
      return argv[++i];
    };
    if (a == "--pty") c.mode = Config::Pty;
    else if (a == "--link") c.link = value();
    else if (a == "--device") { c.mode = Config::Device; c.device = value(); }
    else if (a == "--tcp") { c.mode = Config::Tcp; c.tcpPort = std::stoi(value()); }
    else if (a == "--q5") c.q5 = value();
    else if (a == "--records") c.records = std::stoi(value());
    else if (a == "--id") c.identifier = value();
    else if (a == "--sun-days") c.sunDays = std::stoi(value());
    else if (a == "--sun-noise") c.sunNoise = std::stod(value());
    else if (a == "--sun-temp") c.sunTemperature = std::stod(value());
    else if (a == "--write-image") c.writeImage = value();
    else if (a == "--image-time") c.imageTime = std::stoll(value());
    else if (a == "--log") c.log = value();
    else if (a == "--clock-offset") c.behaviour.clockOffset = std::stod(value());
    else if (a == "--no-seconds") c.behaviour.noSeconds = true;
    else if (a == "--wrap") c.behaviour.wrap = true;
    else if (a == "--noise") c.behaviour.noise = std::stod(value());
    else if (a == "--drop") c.behaviour.drop = std::stod(value());
    else if (a == "--stall-after") c.behaviour.stallAfter = std::stoi(value());
    else if (a == "--stall-for") c.behaviour.stallSeconds = std::stod(value());
    else if (a == "--cut-after") c.behaviour.cutAfter = std::stoi(value());
    else if (a == "--reopen") c.reopen = true;
    else if (a == "--announce") c.announce = std::stod(value());
    else if (a == "--again") c.again = std::stod(value());
    else if (a == "--sessions") c.sessions = std::stoi(value());
    else if (a == "--baud") c.baud = std::stoi(value());
    else if (a == "--seed") c.behaviour.seed = static_cast<uint32_t>(std::stoul(value()));
    else throw std::runtime_error("unknown option " + a);
  }
  return true;
}

void MakeRaw(int fd) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) return;
  cfmakeraw(&t);
  tcsetattr(fd, TCSANOW, &t);
}

void SetNonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

// Opens a pseudo-terminal pair, keeps the master side and offers the slave path.
int OpenPty(const std::string& link) {
  int master = -1, slave = -1;
  char name[256] = {0};
  if (openpty(&master, &slave, name, nullptr, nullptr) != 0) return -1;
  MakeRaw(slave);
  close(slave);  // the station opens it; the master sees a hang-up while nobody has it open
  SetNonBlocking(master);
  if (!link.empty()) {
    const std::string tmp = link + ".new";
    unlink(tmp.c_str());
    if (symlink(name, tmp.c_str()) != 0 || rename(tmp.c_str(), link.c_str()) != 0) {
      std::fprintf(stderr, "zelt-simulator: cannot link %s: %s\n", link.c_str(), std::strerror(errno));
    }
  }
  std::printf("PTY %s\n", name);
  std::fflush(stdout);
  return master;
}

int OpenListener(int& port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 1) != 0) {
    close(fd);
    return -1;
  }
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  port = ntohs(a.sin_port);
  SetNonBlocking(fd);
  std::printf("TCP %d\n", port);
  std::fflush(stdout);
  return fd;
}

}  // namespace

// The memory image of q5gen's file made with `options`.
bool GeneratedImage(const q5gen::Options& options, zsim::Image& image, std::string& error) {
  std::string bytes;
  q5gen::Report report;
  if (!q5gen::Generate(options, bytes, report, error)) return false;
  if (!zsim::ParseDataFile(zsim::Bytes(bytes.begin(), bytes.end()), image)) {
    error = "q5gen made no data";
    return false;
  }
  return true;
}

// Sun triplets of whole days before the image's end, with the parameter block that gives their site.
bool AddSunDays(zsim::Image& image, int64_t end, const Config& cfg, std::string& error) {
  q5gen::Options options;
  const int days = cfg.sunDays;
  options.sunDays = days;
  options.sunNoise = cfg.sunNoise;
  options.sunTemperature = cfg.sunTemperature;
  options.interval = 900;
  options.start = end - end % 86400 - static_cast<int64_t>(days) * 86400;
  zsim::Image sun;
  if (!GeneratedImage(options, sun, error)) return false;
  image.param = sun.param;
  image.records.insert(image.records.end(), sun.records.begin(), sun.records.end());
  zsim::SortNewestFirst(image);
  return true;
}

// q5gen's records of another instrument model, the newest ten minutes before the image's end.
bool ModelImage(zsim::Image& image, int64_t end, const Config& cfg, std::string& error) {
  q5gen::Options options;
  options.identifier = cfg.identifier;
  options.records = cfg.records;
  options.interval = 600;
  options.start = end - 600 * static_cast<int64_t>(cfg.records);
  if (!GeneratedImage(options, image, error)) return false;
  zsim::SortNewestFirst(image);
  return true;
}

int main(int argc, char** argv) {
  Config cfg;
  try {
    ParseArgs(argc, argv, cfg);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zelt-simulator: %s\n%s", e.what(), kUsage);
    return 2;
  }

  zsim::Image image;
  if (!cfg.q5.empty()) {
    zsim::Bytes bytes;
    if (!zsim::ReadFile(cfg.q5, bytes) || !zsim::ParseDataFile(bytes, image)) {
      std::fprintf(stderr, "zelt-simulator: cannot read the data file %s\n", cfg.q5.c_str());
      return 1;
    }
    zsim::SortNewestFirst(image);
  } else {
    const int64_t end = cfg.imageTime > 0 ? cfg.imageTime : static_cast<int64_t>(NowUtc());
    std::string error;
    if (!cfg.identifier.empty()) {
      if (cfg.sunDays > 0) error = "--sun-days goes with the embedded sun photometer only, not with --id";
      if (!error.empty() || !ModelImage(image, end, cfg, error)) {
        std::fprintf(stderr, "zelt-simulator: %s\n", error.c_str());
        return 1;
      }
    } else {
      image = zsim::DefaultImage(end, cfg.records);
    }
    if (cfg.sunDays > 0 && !AddSunDays(image, end, cfg, error)) {
      std::fprintf(stderr, "zelt-simulator: %s\n", error.c_str());
      return 1;
    }
  }
  if (!cfg.writeImage.empty()) {
    if (!zsim::WriteFile(cfg.writeImage, zsim::BuildDataFile(image))) {
      std::fprintf(stderr, "zelt-simulator: cannot write %s\n", cfg.writeImage.c_str());
      return 1;
    }
    return 0;
  }
  if (cfg.mode == Config::None) {
    std::fprintf(stderr, "%s", kUsage);
    return 2;
  }

  FILE* report = stderr;
  if (!cfg.log.empty()) {
    report = std::fopen(cfg.log.c_str(), "a");
    if (!report) {
      std::fprintf(stderr, "zelt-simulator: cannot write the report %s\n", cfg.log.c_str());
      return 1;
    }
  }
  auto log = [&](const std::string& line) {
    std::fprintf(report, "%s\n", line.c_str());
    std::fflush(report);
  };

  signal(SIGPIPE, SIG_IGN);
  signal(SIGTERM, OnSignal);
  signal(SIGINT, OnSignal);

  zsim::Instrument instrument(image, cfg.behaviour, log);

  int fd = -1, listener = -1;
  bool connected = false;  // somebody is at the other end of the link
  if (cfg.mode == Config::Pty) {
    fd = OpenPty(cfg.link);
  } else if (cfg.mode == Config::Device) {
    fd = open(cfg.device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd >= 0) MakeRaw(fd);
    connected = fd >= 0;
  } else {
    listener = OpenListener(cfg.tcpPort);
    if (listener < 0) {
      std::fprintf(stderr, "zelt-simulator: cannot listen on 127.0.0.1:%d\n", cfg.tcpPort);
      return 1;
    }
  }
  if (cfg.mode != Config::Tcp && fd < 0) {
    std::fprintf(stderr, "zelt-simulator: cannot open the link: %s\n", std::strerror(errno));
    return 1;
  }

  std::string pending;            // bytes waiting to go out
  double nextAnnounce = -1;       // when the parameter block goes out (again)
  bool announcing = false;        // an announcement is still going out: the next waits for it
  double cutAt = -1;
  int endedSeen = 0;
  double paceStart = 0;
  long long pacedBytes = 0;
  if (connected) nextAnnounce = Monotonic();

  auto dropLink = [&](const char* why) {
    instrument.LinkClosed(NowUtc());
    log(std::string("LINK ") + why);
    if (fd >= 0) close(fd);
    fd = -1;
    connected = false;
    pending.clear();
    instrument.ResetSession();
    nextAnnounce = -1;
    announcing = false;
  };

  int rc = 0;
  while (!g_stop) {
    const double now = Monotonic();
    const double utc = NowUtc();

    // Pseudo-terminal: the master sees a hang-up while the station does not hold the slave open.
    if (cfg.mode == Config::Pty && fd >= 0) {
      pollfd p{fd, POLLIN, 0};
      poll(&p, 1, 0);
      const bool up = !(p.revents & POLLHUP);
      if (up && !connected) {
        connected = true;
        nextAnnounce = now + 0.2;  // let the station finish setting up its port
        instrument.ResetSession();
        pending.clear();
        log("LINK opened");
      } else if (!up && connected) {
        connected = false;
        instrument.LinkClosed(utc);
        instrument.ResetSession();
        pending.clear();
        nextAnnounce = -1;
        announcing = false;
        log("LINK closed");
      }
    }

    if (instrument.SessionsEnded() != endedSeen) {
      endedSeen = instrument.SessionsEnded();
      nextAnnounce = cfg.again >= 0 ? now + cfg.again : -1;
    }
    if (connected && nextAnnounce >= 0 && now >= nextAnnounce && !instrument.SessionStarted() && !announcing) {
      instrument.Announce();
      announcing = true;
      nextAnnounce = -1;  // counted from the moment this one has gone out
    }
    // The station closes the exchange with a lone "Z" a moment after "ZT": the run ends once that has
    // come, or once the station let go of the link, however long the moment was.
    if (cfg.sessions > 0 && endedSeen >= cfg.sessions && pending.empty() &&
        (instrument.ExchangeClosed() || !connected))
      break;

    instrument.Poll(utc);
    pending += instrument.TakeOutput();

    // Write what may go out now.
    if (connected && fd >= 0 && !pending.empty()) {
      size_t allowed = pending.size();
      if (cfg.baud > 0) {
        if (pacedBytes == 0) paceStart = now;
        const double budget = (now - paceStart) * cfg.baud / 10.0 - static_cast<double>(pacedBytes) + 1;
        allowed = budget < 1 ? 0 : std::min(pending.size(), static_cast<size_t>(budget));
      }
      if (allowed > 0) {
        const ssize_t n = write(fd, pending.data(), allowed);
        if (n > 0) {
          pending.erase(0, static_cast<size_t>(n));
          pacedBytes += n;
        }
      }
      if (pending.empty()) pacedBytes = 0;
    }
    if (announcing && pending.empty()) {
      announcing = false;
      if (cfg.announce > 0 && nextAnnounce < 0) nextAnnounce = now + cfg.announce;
    }
    // The cut comes a moment after the last frame, so that the frame reaches the other end
    // (closing a pseudo-terminal discards what its slave has not read yet).
    if (instrument.CutRequested() && pending.empty() && cutAt < 0) cutAt = now + 0.15;
    if (cutAt >= 0 && now >= cutAt) {
      cutAt = -1;
      instrument.ClearCut();
      dropLink("cut");
      if (cfg.mode == Config::Pty) {
        if (!cfg.reopen) break;
        fd = OpenPty(cfg.link);
        if (fd < 0) { rc = 1; break; }
      } else if (cfg.mode == Config::Device) {
        break;
      }
      continue;
    }

    // Wait for bytes, a new client, or the next moment something is due.
    // Paced output waits for the moment its next byte is due, not for the link to be writable.
    int timeout = 100;
    bool wantOut = !pending.empty();
    if (wantOut && cfg.baud > 0 && pacedBytes > 0) {
      const double due = paceStart + static_cast<double>(pacedBytes) * 10.0 / cfg.baud;
      const double wait = due - Monotonic();
      if (wait > 0) {
        wantOut = false;
        timeout = static_cast<int>(std::ceil(wait * 1000));
      }
    }
    pollfd fds[2];
    int nfds = 0;
    int linkIndex = -1, listenIndex = -1;
    if (fd >= 0 && connected) {
      linkIndex = nfds;
      fds[nfds++] = {fd, static_cast<short>(POLLIN | (wantOut ? POLLOUT : 0)), 0};
    }
    if (listener >= 0 && fd < 0) {
      listenIndex = nfds;
      fds[nfds++] = {listener, POLLIN, 0};
    }
    if (wantOut || cutAt >= 0) timeout = std::min(timeout, 20);
    if (cfg.mode == Config::Pty && !connected) timeout = 20;
    if (nextAnnounce >= 0) timeout = std::min(timeout, std::max(0, static_cast<int>((nextAnnounce - now) * 1000) + 1));
    const int r = poll(fds, static_cast<nfds_t>(nfds), timeout);
    if (r < 0) continue;
    if (nfds == 0) continue;

    if (listenIndex >= 0 && (fds[listenIndex].revents & POLLIN)) {
      const int client = accept(listener, nullptr, nullptr);
      if (client >= 0) {
        SetNonBlocking(client);
        fd = client;
        connected = true;
        instrument.ResetSession();
        pending.clear();
        nextAnnounce = now + 0.05;
        log("LINK opened");
      }
    }
    if (linkIndex >= 0 && (fds[linkIndex].revents & (POLLIN | POLLHUP | POLLERR))) {
      char buf[4096];
      const ssize_t n = read(fd, buf, sizeof buf);
      if (n > 0 && cutAt < 0 && !instrument.CutRequested()) {  // nothing gets through a cut link
        instrument.Receive(std::string(buf, static_cast<size_t>(n)), NowUtc());
      } else if (n <= 0 && cfg.mode == Config::Tcp && (n == 0 || (errno != EAGAIN && errno != EINTR))) {
        dropLink("closed");
      }
      // A pseudo-terminal hang-up is noticed at the top of the loop.
    }
  }
  log("EXIT");
  if (fd >= 0) close(fd);
  if (listener >= 0) close(listener);
  if (!cfg.link.empty()) unlink(cfg.link.c_str());
  if (report != stderr) std::fclose(report);
  return rc;
}
