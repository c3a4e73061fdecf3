#include "station/link/ComTask.h"

#include <atomic>

static std::atomic<std::uint64_t> NextTaskId{1};

TComTask::TComTask() : Id(NextTaskId++) {}

// While a task handler runs, ended tasks are kept; the outermost scope frees them.
struct TComTaskList::HandlerScope {
    explicit HandlerScope(TComTaskList& list) : List(list) { ++List.HandlerDepth; }
    ~HandlerScope()
    {
        if (--List.HandlerDepth == 0) List.FreeEnded();
    }
    TComTaskList& List;
};

TComTaskList::TComTaskList(TLinkHost& host) : LinkHost(host) {}

TComTaskList::~TComTaskList()
{
    // The host must not call into a handler of a task freed here.
    if (Current) LinkHost.SetReceiveHandler(nullptr);
}

TComTask* TComTaskList::Add(std::unique_ptr<TComTask> task)
{
    Items.push_back(std::move(task));
    return Items.back().get();
}

void TComTaskList::FreeEnded() { Ended.clear(); }

void TComTaskList::StartNext()
{
    if (!Items.empty()) {
        if (Current) return;
        TComTask* task = Items.front().get();
        Current = task;
        if (LinkHost.IsExpert()) LinkHost.LogInfoToDialog("Starting task " + task->Name);
        LinkHost.SetReceiveHandler([this, task](void* sender, const char* data, int count) {
            HandlerScope scope(*this);
            if (task->OnData) task->OnData(sender, data, count);
        });
        if (task->OnStart) {
            HandlerScope scope(*this);
            task->OnStart(task);
        }
        return;
    }
    if (LinkHost.IsDefaultHandlerInstalled()) return;
    LinkHost.InstallDefaultHandler();
    if (LinkHost.IsExpert()) LinkHost.LogInfoToDialog("Default task installed");
    LinkHost.CallReceiveHandler(this, nullptr, 0);
}

void TComTaskList::Tick()
{
    TComTask* task = Current;
    // The countdown stops at zero: a task without time-out (or without handler) never fires.
    if (!task || task->CountdownHeld || task->Countdown <= 0) return;
    if (--task->Countdown != 0 || !task->OnTimeOut) return;
    {
        HandlerScope scope(*this);
        task->OnTimeOut(task);
        // The handler may have ended its task; the one current now gets a full countdown.
        if (Current) Current->Countdown = Current->TimeOut;
    }
}

void TComTaskList::EndCurrent()
{
    if (Current) {
        if (LinkHost.IsExpert()) LinkHost.LogInfoToDialog("Ending task " + Current->Name);
        Ended.push_back(std::move(Items.front()));
        Items.pop_front();
        Current = nullptr;
    }
    StartNext();
    if (HandlerDepth == 0) FreeEnded();
}

TComTask* TComTaskList::EndPortTasks()
{
    while (Current && Current->EndWithPort) EndCurrent();
    return Current;
}
