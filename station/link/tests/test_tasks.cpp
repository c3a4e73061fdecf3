#include "station/link/ComTask.h"
#include "station/link/tests/LinkTestSupport.h"

#include <gtest/gtest.h>

using namespace linktest;

namespace {

TComTask* AddTask(TComTaskList& list, const std::string& name, bool endWithPort = false)
{
    auto t = std::make_unique<TComTask>();
    t->Name = name;
    t->EndWithPort = endWithPort;
    return list.Add(std::move(t));
}

}  // namespace

TEST(TaskQueue, TimeOutRepeatsEveryPeriodAndStopsAtZero)
{
    RecordingHost host;
    TComTaskList list(host);
    TComTask* t = AddTask(list, "periodic");
    t->SetTimeOut(30);
    int fired = 0;
    t->OnTimeOut = [&](TComTask* s) {
        EXPECT_EQ(s, t);
        ++fired;
    };
    list.StartNext();
    for (int i = 0; i < 89; ++i) list.Tick();
    EXPECT_EQ(fired, 2);
    list.Tick();
    EXPECT_EQ(fired, 3);
    EXPECT_EQ(t->Countdown, 30);

    // No time-out set, or no handler: never fires, and the countdown never goes below zero.
    t->SetTimeOut(0);
    for (int i = 0; i < 50; ++i) list.Tick();
    EXPECT_EQ(fired, 3);
    EXPECT_EQ(t->Countdown, 0);
    t->OnTimeOut = nullptr;
    t->SetTimeOut(2);
    for (int i = 0; i < 5; ++i) list.Tick();
    EXPECT_EQ(t->Countdown, 0);
}

TEST(TaskQueue, ReceptionGoesToTheCurrentTaskThenBackToTheDefault)
{
    RecordingHost host;
    TComTaskList list(host);
    list.StartNext();
    EXPECT_EQ(host.CountLogged("Default task installed"), 1);
    ASSERT_EQ(host.DefaultCalls.size(), 1u);
    EXPECT_EQ(host.DefaultCalls[0], "");
    list.StartNext();
    list.StartNext();
    EXPECT_EQ(host.CountLogged("Default task installed"), 1);
    EXPECT_EQ(host.DefaultCalls.size(), 1u);

    TComTask* t = AddTask(list, "reader");
    std::string got;
    int started = 0;
    t->OnStart = [&](TComTask*) { ++started; };
    t->OnData = [&](void*, const char* d, int n) { got.append(d, size_t(n)); };
    list.StartNext();
    EXPECT_TRUE(host.Logged("Starting task reader"));
    EXPECT_EQ(started, 1);
    host.Receive("abc");
    EXPECT_EQ(got, "abc");
    EXPECT_EQ(host.DefaultCalls.size(), 1u);
    list.StartNext();  // already current: nothing
    EXPECT_EQ(started, 1);

    list.EndCurrent();
    EXPECT_TRUE(host.Logged("Ending task reader"));
    EXPECT_EQ(list.Current, nullptr);
    EXPECT_EQ(host.CountLogged("Default task installed"), 2);
    host.Receive("xyz");
    EXPECT_EQ(got, "abc");
    EXPECT_EQ(host.DefaultCalls.back(), "xyz");

    // Outside expert mode nothing of this reaches the log.
    host.Log.clear();
    host.Expert = false;
    AddTask(list, "quiet");
    list.StartNext();
    list.EndCurrent();
    EXPECT_TRUE(host.Log.empty());
}

TEST(TaskQueue, PortCloseEndsOnlyThePortTasks)
{
    RecordingHost host;
    TComTaskList list(host);
    std::vector<std::string> events;
    for (auto [name, withPort] : {std::pair{"m1", true}, {"m2", true}, {"script", false}}) {
        TComTask* t = AddTask(list, name, withPort);
        t->OnStart = [&events, n = std::string(name)](TComTask*) { events.push_back("start " + n); };
    }
    list.StartNext();
    TComTask* left = list.EndPortTasks();
    ASSERT_NE(left, nullptr);
    EXPECT_EQ(left->Name, "script");
    EXPECT_EQ(list.Count(), 1);
    EXPECT_EQ(events, (std::vector<std::string>{"start m1", "start m2", "start script"}));
    EXPECT_TRUE(host.Logged("Ending task m1"));
    EXPECT_TRUE(host.Logged("Ending task m2"));
    EXPECT_FALSE(host.Logged("Ending task script"));

    // Ending with nothing current only starts the next.
    list.EndCurrent();
    list.EndCurrent();
    EXPECT_EQ(list.Current, nullptr);
    EXPECT_EQ(list.EndPortTasks(), nullptr);
}

TEST(TaskQueue, TaskEndingItselfInItsHandlersIsFreedAfterwards)
{
    RecordingHost host;
    TComTaskList list(host);
    // Each handler ends its own task and then still reads its own fields (freed memory would show
    // under the address sanitizer).
    TComTask* a = AddTask(list, "a");
    a->OnData = [&](void*, const char*, int) {
        list.EndCurrent();
        EXPECT_EQ(a->Name, "a");
    };
    TComTask* b = AddTask(list, "b");
    b->SetTimeOut(1);
    b->OnTimeOut = [&](TComTask* self) {
        list.EndCurrent();
        EXPECT_EQ(self->Name, "b");
    };
    TComTask* c = AddTask(list, "c");
    c->OnStart = [&](TComTask* self) {
        list.EndCurrent();
        EXPECT_EQ(self->Name, "c");
    };
    TComTask* d = AddTask(list, "d");
    d->SetTimeOut(3);
    d->OnTimeOut = [](TComTask*) {};
    list.StartNext();
    EXPECT_EQ(list.Current, a);
    host.Receive("x");
    EXPECT_EQ(list.Current, b);
    list.Tick();  // b ends, c starts and ends at once, d starts with a full countdown
    ASSERT_EQ(list.Current, d);
    EXPECT_EQ(d->Countdown, 3);
    EXPECT_EQ(list.Count(), 1);
}

TEST(TaskQueue, DestroyingTheListCallsNoHandler)
{
    RecordingHost host;
    int calls = 0;
    {
        TComTaskList list(host);
        for (const char* n : {"a", "b"}) {
            TComTask* t = AddTask(list, n);
            t->OnStart = [&](TComTask*) { ++calls; };
            t->OnData = [&](void*, const char*, int) { ++calls; };
        }
        list.StartNext();
        EXPECT_EQ(calls, 1);
    }
    host.Receive("late");  // the slot no longer points into the freed list
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(host.HasReceiveHandler());
}
