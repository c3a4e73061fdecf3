#pragma once
// Hayes modem driver: initialises the local modem when the port opens and hangs it up on request, each
// as one communication task whose steps are AT commands answered by "OK"; splits received modem text
// into lines for the host. The waits of a hang-up (guard time around "+++", the DTR pulse) are timer
// steps: nothing waits inside a handler, and a step's bytes all go out before its "OK" is acted upon.
// While a step is still going out its task's time-out stands still: it counts from the last byte.
#include "station/link/ComTask.h"

#include <QTimer>

#include <deque>
#include <memory>
#include <functional>
#include <string>
#include <vector>

class TModem {
public:
    enum { KindInitialize = 0, KindDisconnect = 1 };

    TModem(TLinkHost& host, TComTaskList& tasks);
    ~TModem();
    TModem(const TModem&) = delete;
    TModem& operator=(const TModem&) = delete;

    // The user's extra initialisation text; its parts split at ";" are sent after the fixed steps.
    void SetInitStr(const std::string& text);
    const std::string& GetInitStr() const { return InitStr; }
    const std::vector<std::string>& GetInitCommands() const { return InitCommands; }
    int Rings = 2;  // rings before the modem answers by itself

    void Initialize();
    void Disconnect();
    // Lines of received modem text (each with its CR); an unfinished last line is kept for the next call.
    // Empty when there is no complete line.
    std::vector<std::string> SplitReplyLines(const std::string& text);

    std::string PartialLine;
    int Step = 0;
    int OkCount = 0;
    // The modem's guard time around "+++" and the length of the DTR pulse, in ms (1 s; tests may shorten
    // it). The silence around "+++" is a tenth longer, so that the modem's guard time has surely passed.
    int WaitMs = 1000;
    int GuardMs() const { return WaitMs + WaitMs / 10; }

private:
    struct TAction {
        int DelayMs;
        std::function<void()> Run;
        std::uint64_t TaskId;
    };
    void AddTask(const char* name, int kind, int ticks);
    void TaskStarted(TComTask* task);
    void ReplyReceived(const char* data, int count);
    void StepTimedOut(TComTask* task);
    bool SendNextStep();
    void SendCommand(const std::string& command);
    void AfterOk();
    void Finish(const std::string& line);
    // Runs fn after delayMs once the actions queued before it ran; dropped when the task has ended.
    void Then(int delayMs, std::function<void()> fn);
    void RunActions();
    void HoldTimeOut(bool hold);
    bool Busy() const { return !Actions.empty(); }
    void Log(const std::string& line, bool expertOnly);

    TLinkHost& Host;
    TComTaskList& Tasks;
    std::weak_ptr<void> TasksAlive;
    std::vector<std::uint64_t> MyTasks;  // ids of the tasks queued by this driver
    std::string InitStr;
    std::vector<std::string> InitCommands;
    int TaskKind = 0;
    std::uint64_t TaskId = 0;
    std::string ReplyRest;   // received text after the last CR, joined with the next chunk
    bool OkWaiting = false;  // an "OK" came while a step was still going out
    std::deque<TAction> Actions;
    QTimer Timer;
    bool Running = false;
};
