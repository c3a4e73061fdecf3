#pragma once
// Download records: one TTransmission per connection with the instrument (times, counts, end status
// and the key, scenario number and date, of every event received), kept in a TTransmissionList that
// appends each finished connection to the history file and recognises events an earlier download
// already delivered.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class TEvenement;

class TTransmission {
public:
    enum { EndOk = 0, EndCanceled = 1, EndTimeout = 2, EndBad = 3, EndRingNoCarrier = 4, EndAloneRing = 5 };

    int32_t Errors = 0;
    int32_t Errors1 = 0;
    int32_t Errors2 = 0;
    int32_t Bytes = 0;
    uint8_t EndStatus = EndOk;
    double StartTime = 0;
    double EndTime = 0;
    double MaxSpeed = 0;  // characters per second
    int32_t EventCount = 0;
    // False when the download was to be recorded and no data file took it: its events exist in no file,
    // so they do not count as received (an optimised download must fetch them again).
    bool Kept = true;
    std::vector<double> EventDates;
    std::vector<int32_t> EventScenarios;

    // Records the key of one received event.
    void AddEvent(int32_t scenario, double date);
    void AddError(int kind);
    double GetDuration() const;  // days; 0 unless both times are set
    double GetSpeed() const;     // characters per second; -1 without a positive duration
    std::string GetSpeedText() const;
    std::string GetMaxSpeedText() const;
    std::string GetEndStatusText() const;
    // The link failed before the instrument had sent everything (it fell silent, or too slow).
    bool Stalled() const { return EndStatus == EndTimeout || EndStatus == EndBad; }
    // The history line of this connection.
    std::string HistoryLine() const;
    // Appends the history line to the file (created when missing); false when it cannot be written.
    bool AppendToHistory(const std::string& fileName, std::string* error = nullptr) const;
    // The connection ended well, was kept, and received this event (this key).
    bool ContainsEvent(const TEvenement* event, double date) const;
    bool ContainsKey(int32_t scenario, double date) const;
};

class TTransmissionList {
public:
    int32_t LastScenario = -1;  // -1: no last event known
    double LastDate = 0;

    int Count() const { return int(Items.size()); }
    TTransmission* Item(int i) const { return Items[size_t(i)].get(); }
    TTransmission* Add(std::unique_ptr<TTransmission> transmission);
    void Clear() { Items.clear(); }

    bool IsEventKnown(const TEvenement* event, double date) const;
    bool IsKeyKnown(int32_t scenario, double date) const;
    // "scenario dd mm yyyy hh nn ss" of the newest event of a good download that was kept ("" when none
    // is known).
    std::string GetLastEventText();
    void SetLastEventText(const std::string& text);

private:
    std::vector<std::unique_ptr<TTransmission>> Items;
};

// Event dates are compared at whole seconds: the same record decoded twice may differ in the last bits.
bool SameSecond(double a, double b);
