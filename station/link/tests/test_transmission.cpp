#include "common/DateTime.h"
#include "common/Evenement.h"
#include "common/ScnType.h"
#include "station/link/Transmission.h"
#include "station/link/tests/LinkTestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

using namespace linktest;

namespace {

double At(int y, int mo, int d, int h, int mi, int s)
{
    double v = 0;
    EXPECT_TRUE(TryEncodeDateTime(y, mo, d, h, mi, s, 0, v));
    return v;
}

std::string ReadAll(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

}  // namespace

TEST(Transmission, SpeedsDurationsAndTexts)
{
    TTransmission t;
    t.StartTime = At(2017, 3, 5, 14, 30, 0);
    EXPECT_EQ(t.GetDuration(), 0);
    EXPECT_EQ(t.GetSpeed(), -1);
    EXPECT_EQ(t.GetSpeedText(), "-");
    EXPECT_EQ(t.GetMaxSpeedText(), "-");
    t.EndTime = At(2017, 3, 5, 14, 31, 0);
    t.Bytes = 2400;
    EXPECT_EQ(t.GetSpeedText(), "40.0 Car./s");
    t.MaxSpeed = 120.04;
    EXPECT_EQ(t.GetMaxSpeedText(), "120.0 Car./s");
    t.AddError(1);
    t.AddError(2);
    t.AddError(7);
    EXPECT_EQ(t.Errors, 3);
    EXPECT_EQ(t.Errors1, 1);
    EXPECT_EQ(t.Errors2, 1);
    t.EndStatus = 4;
    EXPECT_EQ(t.GetEndStatusText(), "Ring without carrier");
    t.EndStatus = 9;
    EXPECT_EQ(t.GetEndStatusText(), "");
}

TEST(Transmission, HistoryIsAppendedLineByLine)
{
    const std::string file = TempDir() + "/Transmission.log";
    TTransmission t;
    t.StartTime = At(2017, 3, 5, 14, 30, 0);
    t.EndTime = At(2017, 3, 5, 15, 31, 5);
    t.Bytes = 366500;
    t.Errors = 2;
    t.EndStatus = TTransmission::EndTimeout;
    t.AddEvent(12, t.StartTime);
    const std::string line = "Start:05/03/2017 14:30:00,Duration:01:01:05,Errors:2,End:Timeout,Scenarios:1,"
                             "Bytes transmitted:366500,Speed:100.0 Car./s";
    EXPECT_EQ(t.HistoryLine(), line);
    ASSERT_TRUE(t.AppendToHistory(file));
    EXPECT_EQ(ReadAll(file), line + "\r\n");
    // An existing history keeps its bytes; a last line without its end gets one.
    { std::ofstream(file, std::ios::app | std::ios::binary) << "hand-written"; }
    ASSERT_TRUE(t.AppendToHistory(file));
    EXPECT_EQ(ReadAll(file), line + "\r\nhand-written\r\n" + line + "\r\n");
    EXPECT_FALSE(t.AppendToHistory(TempDir() + "/missing/dir/Transmission.log"));
}

TEST(TransmissionList, KnownEventsAtWholeSeconds)
{
    TTransmissionList list;
    const double when = At(2017, 3, 5, 14, 30, 0);
    auto* good = list.Add(std::make_unique<TTransmission>());
    good->AddEvent(12, when);
    auto* timedOut = list.Add(std::make_unique<TTransmission>());
    timedOut->EndStatus = TTransmission::EndTimeout;
    timedOut->AddEvent(7, when);

    // Keys are measurement-type numbers, whatever the record's code byte.
    TScnType sun, other;
    sun.Number = 12;
    other.Number = 7;
    TEvenement ev(nullptr);
    ev.Code = 7;
    EXPECT_FALSE(list.IsEventKnown(&ev, when));  // no type: no key
    ev.ScnType = &sun;
    EXPECT_FALSE(list.IsEventKnown(nullptr, when));
    EXPECT_TRUE(list.IsEventKnown(&ev, when));
    EXPECT_TRUE(list.IsEventKnown(&ev, when + 0.3 / 86400));  // same second as decoded elsewhere
    EXPECT_FALSE(list.IsEventKnown(&ev, when + 1.0 / 86400));
    ev.Code = 12;
    ev.ScnType = &other;  // only in a download that ended "Timeout"
    EXPECT_FALSE(list.IsEventKnown(&ev, when));
    EXPECT_FALSE(timedOut->ContainsEvent(&ev, when));

    list.LastScenario = 7;
    list.LastDate = when;
    EXPECT_TRUE(list.IsEventKnown(&ev, when));
}

TEST(TransmissionList, LastEventTextRoundTrip)
{
    TTransmissionList list;
    EXPECT_EQ(list.GetLastEventText(), "");
    list.SetLastEventText("12 05 03 2017 14 30 00");
    EXPECT_EQ(list.LastScenario, 12);
    EXPECT_TRUE(SameSecond(list.LastDate, At(2017, 3, 5, 14, 30, 0)));
    EXPECT_EQ(list.GetLastEventText(), "12 05 03 2017 14 30 00");

    list.SetLastEventText("12 31 02 2017 14 30 00");
    EXPECT_EQ(list.LastScenario, -1);
    list.SetLastEventText("3 01 01 2020 00 00 00");
    list.SetLastEventText("5 01 01");  // fewer values: unchanged
    EXPECT_EQ(list.LastScenario, 3);
    list.SetLastEventText("garbage");
    EXPECT_EQ(list.LastScenario, 3);

    // The newest good download gives its first dated key with a positive scenario.
    auto* older = list.Add(std::make_unique<TTransmission>());
    older->AddEvent(4, At(2018, 1, 1, 0, 0, 0));
    auto* newer = list.Add(std::make_unique<TTransmission>());
    newer->AddEvent(0, At(2019, 1, 1, 0, 0, 0));
    newer->AddEvent(9, 0);
    newer->AddEvent(8, At(2019, 2, 3, 4, 5, 6));
    newer->AddEvent(6, At(2019, 2, 3, 4, 5, 7));
    auto* bad = list.Add(std::make_unique<TTransmission>());
    bad->EndStatus = TTransmission::EndBad;
    bad->AddEvent(2, At(2020, 1, 1, 0, 0, 0));
    EXPECT_EQ(list.GetLastEventText(), "8 03 02 2019 04 05 06");
}
