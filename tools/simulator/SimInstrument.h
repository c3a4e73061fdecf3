#pragma once
// The instrument's side of the download protocol, apart from any transport: it takes the bytes
// the station sends, answers with the bytes an instrument would send, and reports every command
// and every answer as one line of text so that tests can check both sides of a download.
#include <cstdint>
#include <functional>
#include <random>
#include <string>

#include "tools/simulator/SimImage.h"

namespace zsim {

struct Behaviour {
  double clockOffset = 0;       // instrument clock minus UTC, seconds
  bool noSeconds = false;       // the clock reply gives no seconds ('H'); such a clock cannot be set
  bool wrap = false;            // after the last record the memory wraps to the newest one again
  double noise = 0;             // chance per frame of a damaged character and stray bytes before it
  double drop = 0;              // chance per frame of one byte lost
  int stallAfter = -1;          // go silent after sending this many records (once)
  double stallSeconds = 1e9;    //   for this long
  int cutAfter = -1;            // cut the link after sending this many records (once)
  uint32_t seed = 1;
  std::string paramPrefix = "SIM1000000";  // the ten characters between 'S' and the block
};

class Instrument {
 public:
  using Report = std::function<void(const std::string&)>;

  Instrument(Image image, Behaviour behaviour, Report report);

  // Bytes received from the station at time `now` (UTC seconds since the epoch).
  void Receive(const std::string& bytes, double now);
  // Lets pending work run at time `now`: a lone "Z" that no "T" followed, the end of a stall.
  void Poll(double now);
  // The parameter block frame, sent unasked when the operator selects the PC scenario.
  void Announce();
  // The link closed at time `now`: a lone "Z" waiting for the silence after it has had it.
  void LinkClosed(double now);
  // A new link: the next session starts from the newest record again.
  void ResetSession();

  std::string TakeOutput();
  bool CutRequested() const { return cutRequested_; }
  void ClearCut() { cutRequested_ = false; }
  bool SessionStarted() const { return commands_ > 0; }
  int SessionsEnded() const { return sessionsEnded_; }
  // The station has closed the exchange with the lone "Z" that follows its last "ZT".
  bool ExchangeClosed() const { return exchangeClosed_; }
  double ClockOffset() const { return behaviour_.clockOffset; }
  // Instrument clock as "hhmmssddmmyy" at time `now`.
  std::string ClockDigits(double now) const;

 private:
  void Handle(const std::string& command, double now);
  void SendRecord(size_t index, bool isNew);
  void SendFrame(std::string frame, const std::string& what, bool damageable);
  void Log(const std::string& line) { if (report_) report_(line); }
  void LogClock(const std::string& why);
  bool Chance(double p);

  Image image_;
  Behaviour behaviour_;
  Report report_;
  std::mt19937 rng_;
  std::string input_;
  std::string output_;
  double lastInput_ = 0;
  size_t position_ = 0;         // index of the record last asked for
  bool started_ = false;        // "aT" was received in this session
  int distinctSent_ = 0;        // records sent for the first time, over the whole run
  int commands_ = 0;
  int sessionsEnded_ = 0;
  bool exchangeClosed_ = false;
  bool stallDone_ = false, cutDone_ = false;
  double stallUntil_ = 0;
  bool cutRequested_ = false;
  bool hasTarget_ = false;
  double target_ = 0;           // pending hard clock set, UTC seconds of the instrument clock
};

// UTC seconds of "hhmmssddmmyy" (two-digit year below 90 is 20yy); false for an impossible date.
bool DigitsToTime(const std::string& digits, double& out);

}  // namespace zsim
