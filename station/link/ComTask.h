#pragma once
// The queue of communication tasks: exchanges that are not the download itself (modem set-up and
// hang-up, user scripts) run one after the other. While a task is current it receives every chunk and
// a countdown driven by the host's 100 ms task timer gives each step a time-out; with no task the
// host's default handler (the download state machine) gets the data again.
#include "station/link/LinkHost.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class TComTask;
using TTaskEvent = std::function<void(TComTask* sender)>;

class TComTask {
public:
    TComTask();
    int TimeOut = 0;  // reload value of the countdown, in ticks of 100 ms
    TDataEvent OnData;
    TTaskEvent OnTimeOut;
    TTaskEvent OnStart;
    int Kind = 0;       // for the producer's own use
    int Countdown = 0;  // ticks left before OnTimeOut
    std::string Name;
    bool EndWithPort = false;
    // The countdown stands still while its producer is still sending a step (guard waits in between).
    bool CountdownHeld = false;
    const std::uint64_t Id;  // unique in the run: tells a task from a later one at the same address

    void SetTimeOut(int ticks)
    {
        TimeOut = ticks;
        Countdown = ticks;
    }
};

class TComTaskList {
public:
    explicit TComTaskList(TLinkHost& host);
    // Tasks still queued are freed without any of their handlers being called.
    ~TComTaskList();
    TComTaskList(const TComTaskList&) = delete;
    TComTaskList& operator=(const TComTaskList&) = delete;

    // Appends a task; nothing starts it but StartNext.
    TComTask* Add(std::unique_ptr<TComTask> task);
    void StartNext();
    void Tick();
    // Ends the current task (from its own handlers too: it is freed once no handler runs), then StartNext.
    void EndCurrent();
    // Ends the tasks that end with the port; returns the task that stays current, or null.
    TComTask* EndPortTasks();

    TComTask* Current = nullptr;
    int Count() const { return int(Items.size()); }
    TComTask* Item(int i) const { return Items[size_t(i)].get(); }
    bool IsCurrent(std::uint64_t taskId) const { return Current && Current->Id == taskId; }
    TLinkHost& Host() const { return LinkHost; }
    // Expires with the list: producers that may outlive it check it before touching the list.
    std::weak_ptr<void> Token() const { return AliveToken; }

private:
    struct HandlerScope;
    void FreeEnded();

    TLinkHost& LinkHost;
    std::deque<std::unique_ptr<TComTask>> Items;
    std::vector<std::unique_ptr<TComTask>> Ended;  // ended while a handler ran
    int HandlerDepth = 0;
    std::shared_ptr<int> AliveToken = std::make_shared<int>(0);
};
