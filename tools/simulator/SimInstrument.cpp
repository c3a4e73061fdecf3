#include "tools/simulator/SimInstrument.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace zsim {

namespace {
std::string Printable(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "<%02x>", c);
      out += buf;
    }
  }
  return out;
}

bool AllDigits(const std::string& s) {
  for (char c : s)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

bool AllHex(const std::string& s) {
  for (char c : s)
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

std::string Two(int v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02d", v);
  return buf;
}
}  // namespace

bool DigitsToTime(const std::string& digits, double& out) {
  if (digits.size() != 12 || !AllDigits(digits)) return false;
  auto field = [&](int i) { return (digits[2 * i] - '0') * 10 + (digits[2 * i + 1] - '0'); };
  std::tm tm{};
  tm.tm_hour = field(0);
  tm.tm_min = field(1);
  tm.tm_sec = field(2);
  tm.tm_mday = field(3);
  tm.tm_mon = field(4) - 1;
  const int yy = field(5);
  tm.tm_year = (yy < 90 ? 2000 + yy : 1900 + yy) - 1900;
  const std::tm asked = tm;
  const time_t t = timegm(&tm);
  if (tm.tm_mday != asked.tm_mday || tm.tm_mon != asked.tm_mon || tm.tm_hour != asked.tm_hour ||
      tm.tm_min != asked.tm_min || tm.tm_sec != asked.tm_sec)
    return false;
  out = static_cast<double>(t);
  return true;
}

Instrument::Instrument(Image image, Behaviour behaviour, Report report)
    : image_(std::move(image)), behaviour_(std::move(behaviour)), report_(std::move(report)),
      rng_(behaviour_.seed) {
  image_.param.resize(256, 0);
  LogClock("start");
}

bool Instrument::Chance(double p) {
  if (p <= 0) return false;
  return std::uniform_real_distribution<double>(0, 1)(rng_) < p;
}

std::string Instrument::ClockDigits(double now) const {
  const time_t t = static_cast<time_t>(std::floor(now + behaviour_.clockOffset));
  std::tm tm{};
  gmtime_r(&t, &tm);
  return Two(tm.tm_hour) + Two(tm.tm_min) + Two(tm.tm_sec) + Two(tm.tm_mday) + Two(tm.tm_mon + 1) +
         Two(tm.tm_year % 100);
}

void Instrument::LogClock(const std::string& why) {
  char buf[96];
  std::snprintf(buf, sizeof buf, "CLOCK %s offset %.3f", why.c_str(), behaviour_.clockOffset);
  Log(buf);
}

void Instrument::Announce() {
  SendFrame(ReplyFrame("S" + behaviour_.paramPrefix + ToHex(image_.param)), "param", false);
}

void Instrument::LinkClosed(double now) {
  if (input_ == "Z") {
    input_.clear();
    Handle("Z", now);
  }
}

void Instrument::ResetSession() {
  input_.clear();
  position_ = 0;
  started_ = false;
  commands_ = 0;
  hasTarget_ = false;
}

std::string Instrument::TakeOutput() {
  std::string out;
  out.swap(output_);
  return out;
}

void Instrument::SendFrame(std::string frame, const std::string& what, bool damageable) {
  std::string note;
  if (damageable && Chance(behaviour_.noise)) {
    // A damaged hex digit (the check no longer matches) and a little garbage before the frame.
    const size_t etb = frame.find('\x17');
    if (etb > 2) {
      const size_t at = 2 + std::uniform_int_distribution<size_t>(0, etb - 3)(rng_);
      frame[at] = frame[at] == '0' ? '1' : '0';
    }
    static const char garbage[] = "#~?!*@";
    const int n = std::uniform_int_distribution<int>(1, 3)(rng_);
    for (int i = 0; i < n; ++i) frame.insert(frame.begin(), garbage[std::uniform_int_distribution<int>(0, 5)(rng_)]);
    note += " noisy";
  }
  if (damageable && Chance(behaviour_.drop)) {
    frame.erase(std::uniform_int_distribution<size_t>(0, frame.size() - 1)(rng_), 1);
    note += " dropped";
  }
  output_ += frame;
  output_ += '\r';
  Log("SEND " + what + note);
}

void Instrument::SendRecord(size_t index, bool isNew) {
  const size_t count = image_.records.size();
  if (behaviour_.wrap && count > 0) index %= count;
  if (index < count) {
    SendFrame(EventFrame(image_.records[index]), "record " + std::to_string(index), true);
  } else {
    SendFrame(EventFrame(EmptyRecord()), "empty " + std::to_string(index - count), true);
    isNew = false;
  }
  if (!isNew) return;
  ++distinctSent_;
  if (distinctSent_ == behaviour_.cutAfter && !cutDone_) {
    cutDone_ = true;
    cutRequested_ = true;
    Log("CUT after " + std::to_string(distinctSent_) + " records");
  }
  if (distinctSent_ == behaviour_.stallAfter && !stallDone_) {
    stallDone_ = true;
    stallUntil_ = lastInput_ + behaviour_.stallSeconds;
    Log("STALL after " + std::to_string(distinctSent_) + " records");
  }
}

void Instrument::Receive(const std::string& bytes, double now) {
  lastInput_ = now;
  for (char c : bytes) {
    if (c == 'T') {
      std::string command;
      command.swap(input_);
      Handle(command + "T", now);
    } else if (c == '\r' || c == '\n') {
      if (!input_.empty()) Log("IGNORED " + Printable(input_));
      input_.clear();
    } else {
      if (input_ == "Z") {  // the lone "Z" after "ZT"
        input_.clear();
        Handle("Z", now);
      }
      input_ += c;
    }
  }
}

void Instrument::Poll(double now) {
  if (input_ == "Z" && now - lastInput_ > 0.05) {
    input_.clear();
    Handle("Z", now);
  }
  if (stallUntil_ > 0 && now >= stallUntil_) {
    stallUntil_ = 0;
    Log("STALL over");
  }
}

void Instrument::Handle(const std::string& command, double now) {
  // The command is recognised at the end of what came, so stray bytes before it do not hide it.
  const size_t n = command.size();
  std::string known;
  if (n >= 6 && command.compare(n - 6, 6, "IBA7ST") == 0) {
    known = "IBA7ST";
  } else if (n >= 18 && command.compare(n - 18, 5, "R8461") == 0 && AllDigits(command.substr(n - 13, 12))) {
    known = command.substr(n - 18);
  } else if (n >= 16 && command[n - 16] == 'J' && AllHex(command.substr(n - 15, 14))) {
    known = command.substr(n - 16);
  } else if (n == 1 && command == "Z") {
    known = "Z";
  } else if (n >= 2 && std::string("ajuHZ").find(command[n - 2]) != std::string::npos) {
    known = command.substr(n - 2);
  }
  if (known.size() < n) Log("IGNORED " + Printable(command.substr(0, n - known.size())));
  if (known.empty()) return;
  if (stallUntil_ > 0 && now < stallUntil_) {
    Log("ASK " + known + " stalled");
    return;
  }
  stallUntil_ = 0;
  Log("ASK " + known);
  if (known != "Z") ++commands_;

  if (known == "aT") {
    position_ = 0;
    started_ = true;
    SendRecord(0, distinctSent_ == 0);
  } else if (known == "jT") {
    const bool isNew = static_cast<int>(position_ + 1) >= distinctSent_;
    ++position_;
    SendRecord(position_, isNew);
  } else if (known == "uT") {
    SendRecord(position_, false);
  } else if (known == "IBA7ST") {
    Announce();
  } else if (known == "HT") {
    if (hasTarget_) {
      // The clock set of the "R" command takes effect when the clock is next read.
      behaviour_.clockOffset = target_ - now;
      hasTarget_ = false;
      LogClock("set");
    }
    const std::string d = ClockDigits(now);
    if (behaviour_.noSeconds)
      SendFrame(ReplyFrame("H" + d.substr(0, 4) + d.substr(6)), "clock H" + d.substr(0, 4) + d.substr(6), false);
    else
      SendFrame(ReplyFrame("h" + d), "clock h" + d, false);
  } else if (known[0] == 'J') {
    const int raw = std::stoi(known.substr(1, 2), nullptr, 16);
    const int offset = raw >= 128 ? raw - 256 : raw;
    behaviour_.clockOffset += offset;
    LogClock("shift " + std::to_string(offset));
    const std::string echo = known.substr(0, known.size() - 1);
    SendFrame(ReplyFrame(echo), "echo " + echo, false);
  } else if (known[0] == 'R') {
    const std::string digits = known.substr(5, 12);
    double t = 0;
    if (DigitsToTime(digits, t)) {
      hasTarget_ = true;
      target_ = t;
      Log("CLOCK target " + digits);
    } else {
      Log("CLOCK bad target " + digits);
    }
    SendFrame(ReplyFrame("R" + digits), "echo R" + digits, false);
  } else if (known == "ZT") {
    ++sessionsEnded_;
    exchangeClosed_ = false;
    Log("END session " + std::to_string(sessionsEnded_));
    ResetSession();
  }
  // A lone "Z" closes the exchange and needs no answer.
  if (known == "Z" && sessionsEnded_ > 0) exchangeClosed_ = true;
}

}  // namespace zsim
