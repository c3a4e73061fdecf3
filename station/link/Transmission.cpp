#include "station/link/Transmission.h"

#include "common/DateTime.h"
#include "common/DecimalSep.h"
#include "common/Evenement.h"
#include "common/FileUtils.h"
#include "common/ScnType.h"

#include <cctype>
#include <climits>
#include <cmath>

bool SameSecond(double a, double b) { return std::llround(a * 86400.0) == std::llround(b * 86400.0); }

void TTransmission::AddEvent(int32_t scenario, double date)
{
    EventScenarios.push_back(scenario);
    EventDates.push_back(date);
    EventCount = int32_t(EventDates.size());
}

void TTransmission::AddError(int kind)
{
    ++Errors;
    if (kind == 1) ++Errors1;
    if (kind == 2) ++Errors2;
}

double TTransmission::GetDuration() const
{
    return StartTime != 0 && EndTime != 0 ? EndTime - StartTime : 0;
}

double TTransmission::GetSpeed() const
{
    const double duration = GetDuration();
    return duration > 0 ? Bytes / (duration * 86400.0) : -1;
}

std::string TTransmission::GetSpeedText() const
{
    const double speed = GetSpeed();
    return speed == -1 ? "-" : FormatFixed(speed, 1) + " Car./s";
}

std::string TTransmission::GetMaxSpeedText() const
{
    return MaxSpeed == 0 ? "-" : FormatFixed(MaxSpeed, 1) + " Car./s";
}

std::string TTransmission::GetEndStatusText() const
{
    static const char* const texts[] = {"Ok", "Canceled", "Timeout", "Bad", "Ring without carrier", "alone ring"};
    return EndStatus < 6 ? texts[EndStatus] : "";
}

std::string TTransmission::HistoryLine() const
{
    return "Start:" + ShortDateText(StartTime) + " " + TimeText(StartTime) +
           ",Duration:" + FormatDateTime("hh:nn:ss", GetDuration()) + ",Errors:" + std::to_string(Errors) +
           ",End:" + GetEndStatusText() + ",Scenarios:" + std::to_string(EventCount) +
           ",Bytes transmitted:" + std::to_string(Bytes) + ",Speed:" + GetSpeedText();
}

bool TTransmission::AppendToHistory(const std::string& fileName, std::string* error) const
{
    // One line appended; a last line left without its end gets one first.
    std::string existing;
    std::string text = HistoryLine() + "\r\n";
    if (FileExists(fileName) && ReadFileBytes(fileName, existing) && !existing.empty() && existing.back() != '\n')
        text = "\r\n" + text;
    return AppendFileBytes(fileName, text, error);
}

bool TTransmission::ContainsKey(int32_t scenario, double date) const
{
    if (EndStatus != EndOk || !Kept) return false;
    for (size_t i = 0; i < EventDates.size() && i < EventScenarios.size(); ++i)
        if (EventScenarios[i] == scenario && SameSecond(EventDates[i], date)) return true;
    return false;
}

// An event's key is its measurement type's number, as the received events are recorded (and as
// "LastTransScnStr" keeps it); an event without a type has no key.
static bool ScenarioOf(const TEvenement* event, int32_t& scenario)
{
    if (!event || !event->ScnType) return false;
    scenario = event->ScnType->Number;
    return true;
}

bool TTransmission::ContainsEvent(const TEvenement* event, double date) const
{
    int32_t scenario = 0;
    return ScenarioOf(event, scenario) && ContainsKey(scenario, date);
}

TTransmission* TTransmissionList::Add(std::unique_ptr<TTransmission> transmission)
{
    Items.push_back(std::move(transmission));
    return Items.back().get();
}

bool TTransmissionList::IsKeyKnown(int32_t scenario, double date) const
{
    if (scenario == LastScenario && SameSecond(date, LastDate)) return true;
    for (const auto& t : Items)
        if (t->ContainsKey(scenario, date)) return true;
    return false;
}

bool TTransmissionList::IsEventKnown(const TEvenement* event, double date) const
{
    int32_t scenario = 0;
    return ScenarioOf(event, scenario) && IsKeyKnown(scenario, date);
}

std::string TTransmissionList::GetLastEventText()
{
    for (auto it = Items.rbegin(); it != Items.rend(); ++it) {
        const TTransmission& t = **it;
        if (t.EndStatus != TTransmission::EndOk || !t.Kept) continue;
        for (size_t i = 0; i < t.EventDates.size() && i < t.EventScenarios.size(); ++i)
            if (t.EventDates[i] > 0 && t.EventScenarios[i] > 0) {
                LastScenario = t.EventScenarios[i];
                LastDate = t.EventDates[i];
                break;
            }
        break;
    }
    if (LastScenario == -1) return std::string();
    return std::to_string(LastScenario) + " " + FormatDateTime("dd mm yyyy hh nn ss", LastDate);
}

namespace {

// One "%d" (width 0) or "%0<width>d" item: blanks skipped, optional sign, at most width digits.
bool ScanInt(const std::string& s, size_t& pos, size_t width, int& value)
{
    while (pos < s.size() && std::isspace(static_cast<unsigned char>(s[pos]))) ++pos;
    size_t p = pos, limit = width ? pos + width : s.size();
    bool negative = false;
    if (p < s.size() && p < limit && (s[p] == '-' || s[p] == '+')) negative = s[p++] == '-';
    long long v = 0;
    const size_t digits = p;
    while (p < s.size() && p < limit && std::isdigit(static_cast<unsigned char>(s[p]))) {
        v = v * 10 + (s[p++] - '0');
        if (v > INT_MAX) return false;
    }
    if (p == digits) return false;
    value = int(negative ? -v : v);
    pos = p;
    return true;
}

}  // namespace

void TTransmissionList::SetLastEventText(const std::string& text)
{
    int v[7];
    size_t pos = 0;
    static const size_t widths[7] = {0, 2, 2, 4, 2, 2, 2};
    for (int i = 0; i < 7; ++i)
        if (!ScanInt(text, pos, widths[i], v[i])) return;  // fewer than seven values: nothing changes
    double date = 0, time = 0;
    if (!TryEncodeDate(v[3], v[2], v[1], date) || !TryEncodeTime(v[4], v[5], v[6], 0, time)) {
        LastScenario = -1;
        return;
    }
    LastScenario = v[0];
    LastDate = date + time;
}
