// The simulator as the station sees it: a child process on a real pseudo-terminal or a loopback
// TCP port, asked with the station's commands, answers and report checked.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tools/simulator/SimImage.h"
#include "tools/simulator/SimInstrument.h"
#include "tools/simulator/SimProcess.h"
#include "common/tests/support/TestWait.h"

namespace fs = std::filesystem;
using namespace zsim;

namespace {

class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/zsimtestXXXXXX";
    path_ = mkdtemp(tmpl);
  }
  ~TempDir() { fs::remove_all(path_); }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// One end of the link, as the station holds it.
class Peer {
 public:
  explicit Peer(int fd) : fd_(fd) {}
  static Peer OpenTty(const std::string& path) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd >= 0) {
      termios t{};
      tcgetattr(fd, &t);
      cfmakeraw(&t);
      tcsetattr(fd, TCSANOW, &t);
    }
    return Peer(fd);
  }
  static Peer ConnectTcp(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
      close(fd);
      return Peer(-1);
    }
    return Peer(fd);
  }
  Peer(Peer&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
  ~Peer() {
    if (fd_ >= 0) close(fd_);
  }
  bool ok() const { return fd_ >= 0; }
  void Send(const std::string& s) { ASSERT_EQ(write(fd_, s.data(), s.size()), static_cast<ssize_t>(s.size())); }
  // Reads up to and including the next CR; empty after the time-out. `closed` tells a hang-up.
  std::string Line(double seconds = kTestDeadlineMs / 1000.0, bool* closed = nullptr) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
      const size_t cr = buf_.find('\r');
      if (cr != std::string::npos) {
        std::string line = buf_.substr(0, cr + 1);
        buf_.erase(0, cr + 1);
        return line;
      }
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 20) > 0) {
        char b[4096];
        const ssize_t n = read(fd_, b, sizeof b);
        if (n > 0) {
          buf_.append(b, static_cast<size_t>(n));
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
          if (closed) *closed = true;
          return {};
        }
      }
    }
    return {};
  }
  std::string Ask(const std::string& command, double seconds = kTestDeadlineMs / 1000.0) {
    Send(command);
    return Line(seconds);
  }

 private:
  int fd_;
  std::string buf_;
};

// Frame payload between STX and ETB, checking the check digits.
std::string Payload(const std::string& frame) {
  const size_t stx = frame.find('\x02'), etb = frame.find('\x17');
  if (stx == std::string::npos || etb == std::string::npos || etb + 3 > frame.size()) return "?";
  if (FrameCheck(frame.substr(stx, etb - stx + 1)) != frame.substr(etb + 1, 2)) return "BADCHECK";
  return frame.substr(stx + 1, etb - stx - 1);
}

double ClockOf(const std::string& payload) {
  double t = 0;
  EXPECT_TRUE(DigitsToTime(payload.substr(1, 12), t)) << payload;
  return t;
}

Image ThreeRecordImage() {
  Image image;
  image.param = MakeParamBlock(0x14, "SP140042");
  // Stored oldest first in the file; the instrument sends the newest first.
  image.records.push_back(MakeRecord(0x20, {2026, 3, 1, 10, 0, 0}, {1, 2, 3}));
  image.records.push_back(MakeRecord(0x21, {2026, 3, 1, 11, 0, 0}, {4, 5}));
  image.records.push_back(MakeRecord(0x20, {2026, 3, 1, 12, 0, 0}, {6}));
  return image;
}

}  // namespace

TEST(Simulator, FullSessionOverPseudoTerminal) {
  TempDir dir;
  const Image image = ThreeRecordImage();
  ASSERT_TRUE(WriteFile(dir / "mem.q5", BuildDataFile(image)));
  SimProcess sim;
  ASSERT_TRUE(sim.Start(SimProcess::DefaultProgram(),
                        {"--pty", "--link", dir / "tty", "--q5", dir / "mem.q5", "--clock-offset", "-500",
                         "--sessions", "1"},
                        dir / "report.txt"));
  Peer peer = Peer::OpenTty(dir / "tty");
  ASSERT_TRUE(peer.ok());

  // Unasked, the parameter block: 'S', ten characters, 512 hex digits.
  const std::string param = Payload(peer.Line());
  ASSERT_EQ(param.size(), 1u + 10u + 512u);
  EXPECT_EQ(param[0], 'S');
  EXPECT_EQ(param.substr(11), ToHex(image.param));

  // The clock is 500 s behind.
  const double before = ClockOf(Payload(peer.Ask("HT")));
  EXPECT_NEAR(before - std::time(nullptr), -500, 2);

  // Records newest first, then erased memory; "uT" repeats the last one.
  EXPECT_EQ(Payload(peer.Ask("aT")), "1" + ToHex(image.records[2]));
  EXPECT_EQ(Payload(peer.Ask("jT")), "1" + ToHex(image.records[1]));
  EXPECT_EQ(Payload(peer.Ask("uT")), "1" + ToHex(image.records[1]));
  EXPECT_EQ(Payload(peer.Ask("jT")), "1" + ToHex(image.records[0]));
  EXPECT_EQ(Payload(peer.Ask("jT")), "1" + ToHex(EmptyRecord()));
  EXPECT_EQ(Payload(peer.Ask("jT")), "1" + ToHex(EmptyRecord()));
  // Stray bytes before a command do not hide it.
  EXPECT_EQ(Payload(peer.Ask("xxIBA7ST")), param);

  // A small offset is echoed without its "T" and moves the clock (-100 s is 0x9C).
  EXPECT_EQ(Payload(peer.Ask("J9C000000010100T")), "J9C000000010100");
  EXPECT_NEAR(ClockOf(Payload(peer.Ask("HT"))) - std::time(nullptr), -600, 2);

  // A hard set is echoed and applied at the next clock read.
  EXPECT_EQ(Payload(peer.Ask("R8461235958311227T")), "R235958311227");
  EXPECT_EQ(Payload(peer.Ask("HT")), "h235958311227");

  // "ZT" ends the session; the lone "Z" after it closes the exchange, and the simulator then ends.
  peer.Send("ZT");
  ASSERT_TRUE(sim.WaitReport("END session 1", kTestDeadlineMs / 1000.0));
  peer.Send("Z");
  EXPECT_EQ(sim.Wait(kTestDeadlineMs / 1000.0), 0);

  const std::vector<std::string> report = sim.Report();
  auto has = [&](const std::string& line) { return std::find(report.begin(), report.end(), line) != report.end(); };
  EXPECT_TRUE(has("ASK aT"));
  EXPECT_TRUE(has("SEND record 2"));
  EXPECT_TRUE(has("SEND empty 1"));
  EXPECT_TRUE(has("IGNORED xx"));
  EXPECT_TRUE(has("CLOCK shift -100 offset -600.000"));
  EXPECT_TRUE(has("CLOCK target 235958311227"));
  EXPECT_TRUE(has("END session 1"));
  EXPECT_TRUE(has("ASK Z"));
}

TEST(Simulator, CutAfterRecordsThenOfferedAgain) {
  TempDir dir;
  SimProcess sim;
  ASSERT_TRUE(sim.Start(SimProcess::DefaultProgram(),
                        {"--pty", "--link", dir / "tty", "--records", "5", "--cut-after", "2", "--reopen"},
                        dir / "report.txt"));
  {
    Peer peer = Peer::OpenTty(dir / "tty");
    ASSERT_NE(peer.Line(), "");
    ASSERT_NE(peer.Ask("aT"), "");
    ASSERT_NE(peer.Ask("jT"), "");
    bool closed = false;
    peer.Send("jT");
    EXPECT_EQ(peer.Line(kTestDeadlineMs / 1000.0, &closed), "");  // the cut, not a frame
    EXPECT_TRUE(closed);
  }
  ASSERT_FALSE(sim.WaitLink().empty());
  EXPECT_TRUE(sim.WaitReport("CUT after 2 records", kTestDeadlineMs / 1000.0));
  Peer again = Peer::OpenTty(dir / "tty");
  ASSERT_TRUE(again.ok());
  EXPECT_EQ(Payload(again.Line())[0], 'S');
  // The memory is intact: the session starts again from the newest record, and the link stays.
  const std::string first = Payload(again.Ask("aT"));
  EXPECT_EQ(first.substr(0, 3), "110");  // the newest record: direct sun
  EXPECT_NE(again.Ask("jT"), "");
  EXPECT_NE(again.Ask("jT"), "");
}

TEST(Simulator, TcpWithNoiseStallAndReconnection) {
  TempDir dir;
  SimProcess sim;
  ASSERT_TRUE(sim.Start(SimProcess::DefaultProgram(),
                        {"--tcp", "0", "--records", "4", "--noise", "1", "--stall-after", "1", "--stall-for",
                         "1"},
                        dir / "report.txt"));
  const int port = std::stoi(sim.Link());
  {
    Peer peer = Peer::ConnectTcp(port);
    ASSERT_TRUE(peer.ok());
    EXPECT_EQ(Payload(peer.Line())[0], 'S');  // replies are never damaged
    const std::string noisy = peer.Ask("aT");
    EXPECT_EQ(Payload(noisy), "BADCHECK");
    EXPECT_NE(noisy[0], '\x02');  // stray bytes before the frame
    // Stalled: no answer for a while, then answers again.
    peer.Send("uT");
    ASSERT_TRUE(sim.WaitReport("ASK uT stalled", kTestDeadlineMs / 1000.0));
    ASSERT_TRUE(sim.WaitReport("STALL over", kTestDeadlineMs / 1000.0));
    EXPECT_EQ(peer.Line(0.05), "");  // an answer to the stalled ask would be here by now
    EXPECT_NE(peer.Ask("uT"), "");
  }
  EXPECT_TRUE(sim.WaitReport("LINK closed", kTestDeadlineMs / 1000.0));
  Peer second = Peer::ConnectTcp(port);
  ASSERT_TRUE(second.ok());
  EXPECT_EQ(Payload(second.Line())[0], 'S');
  EXPECT_TRUE(sim.WaitReport("ASK uT stalled", 0));
  EXPECT_TRUE(sim.WaitReport("SEND record 0 noisy", 0));
}

TEST(Simulator, ClockDigitsRejectImpossibleDates) {
  double t = 0;
  EXPECT_TRUE(DigitsToTime("120000290224", t));   // 29 Feb 2024
  EXPECT_FALSE(DigitsToTime("120000290223", t));  // no 29 Feb 2023
  EXPECT_FALSE(DigitsToTime("250000010126", t));
  EXPECT_FALSE(DigitsToTime("1200000101", t));
}

namespace {

// CPU time the process has used so far, in seconds.
double CpuSeconds(int pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::istringstream fields(stat.substr(stat.rfind(')') + 2));
  std::string field;
  long long ticks = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i)
    if (i >= 14) ticks += std::stoll(field);  // utime and stime
  return static_cast<double>(ticks) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

}  // namespace

TEST(Simulator, PacedAnnouncementsGoOutOneAtATimeWithoutSpinning) {
  TempDir dir;
  SimProcess sim;
  // At 9600 baud the parameter block takes about 0.55 s, longer than the announcement period.
  ASSERT_TRUE(sim.Start(SimProcess::DefaultProgram(),
                        {"--pty", "--link", dir / "tty", "--baud", "9600", "--announce", "0.3"},
                        dir / "report.txt"));
  const int fd = open((dir / "tty").c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  termios t{};
  tcgetattr(fd, &t);
  cfmakeraw(&t);
  tcsetattr(fd, TCSANOW, &t);
  const double cpuBefore = CpuSeconds(sim.Pid());
  const auto start = std::chrono::steady_clock::now();
  auto elapsed = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); };
  std::string received;
  double lastByte = -1, longestSilence = 0;
  while (elapsed() < 3.0) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 20) <= 0) continue;
    char b[1024];
    const ssize_t n = read(fd, b, sizeof b);
    if (n <= 0) continue;
    const double at = elapsed();
    if (lastByte >= 0) longestSilence = std::max(longestSilence, at - lastByte);
    lastByte = at;
    received.append(b, static_cast<size_t>(n));
  }
  const double cpu = CpuSeconds(sim.Pid()) - cpuBefore;
  close(fd);
  // Whole parameter blocks, each after the previous one has gone out and a period of silence.
  size_t frames = 0;
  for (size_t at = 0; (at = received.find("\x02S", at)) != std::string::npos; ++at) ++frames;
  EXPECT_GE(frames, 2u);
  EXPECT_LE(frames, 4u);
  EXPECT_GE(longestSilence, 0.2);
  EXPECT_LT(cpu, 0.6) << "the paced simulator used " << cpu << " s of CPU in 3 s";
}

TEST(Simulator, SunDaysAddTripletsAndTheirSite) {
  const fs::path dir = fs::temp_directory_path() / ("zsim-sun-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const std::string out = (dir / "image.q5").string();
  // 2025-06-21 18:00 UTC: the two whole days before are the 19th and the 20th.
  const std::string command = "'" + SimProcess::DefaultProgram() + "' --sun-days 2 --sun-temp 30 --image-time 1750528800 " +
                              "--write-image '" + out + "'";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  Bytes bytes;
  ASSERT_TRUE(ReadFile(out, bytes));
  Image image;
  ASSERT_TRUE(ParseDataFile(bytes, image));
  int triplets = 0, others = 0;
  for (const Bytes& r : image.records) {
    if (r[0] == 0x12) {
      ++triplets;
      ASSERT_EQ(r.size(), 68u);
      EXPECT_TRUE(r[6] == 0x19 || r[6] == 0x20) << int(r[6]);  // the day, two decimal digits
      EXPECT_EQ((r[64] << 8) | r[65], 700);                      // 30.0 degrees
    } else {
      ++others;
    }
  }
  // Every 15 minutes of the two June days at 48.7 N while the sun is above 5 degrees.
  EXPECT_GT(triplets, 2 * 55);
  EXPECT_LT(triplets, 2 * 70);
  EXPECT_EQ(others, 12);
  // Newest first, as the instrument sends them.
  EXPECT_GE(RecordSortKey(image.records.front()), RecordSortKey(image.records.back()));
  // The parameter block names the station and its site in the plug-ins' terms: station 1, latitude
  // 48.71 N as tenths of minutes (29226 + 54000 in bytes 24-26).
  EXPECT_EQ((image.param[20] << 8) | image.param[21], 1);
  EXPECT_EQ((image.param[24] << 16) | (image.param[25] << 8) | image.param[26], 29226 + 54000);
  fs::remove_all(dir);
}
