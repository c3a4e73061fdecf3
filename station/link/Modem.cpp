#include "station/link/Modem.h"

#include "station/link/LinkText.h"
#include "station/link/Media.h"

#include <algorithm>
#include <memory>

TModem::TModem(TLinkHost& host, TComTaskList& tasks) : Host(host), Tasks(tasks), TasksAlive(tasks.Token())
{
    Timer.setSingleShot(true);
    // The waits around "+++" are the modem's guard time: never shorter than asked.
    Timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&Timer, &QTimer::timeout, [this] { RunActions(); });
}

TModem::~TModem()
{
    Timer.stop();
    // Tasks of this driver still in the queue must not call into it.
    if (TasksAlive.expired()) return;
    for (int i = 0; i < Tasks.Count(); ++i) {
        TComTask* task = Tasks.Item(i);
        if (std::find(MyTasks.begin(), MyTasks.end(), task->Id) == MyTasks.end()) continue;
        task->OnData = nullptr;
        task->OnTimeOut = nullptr;
        task->OnStart = nullptr;
    }
    while (Tasks.Current && std::find(MyTasks.begin(), MyTasks.end(), Tasks.Current->Id) != MyTasks.end())
        Tasks.EndCurrent();
}

void TModem::SetInitStr(const std::string& text)
{
    InitStr = text;
    InitCommands.clear();
    if (text.empty()) return;
    // Empty parts are kept (they send a bare CR); a trailing empty part is dropped.
    size_t start = 0;
    for (;;) {
        const size_t sep = text.find(';', start);
        if (sep == std::string::npos) {
            if (start < text.size()) InitCommands.push_back(text.substr(start));
            break;
        }
        InitCommands.push_back(text.substr(start, sep - start));
        start = sep + 1;
    }
}

void TModem::Log(const std::string& line, bool expertOnly)
{
    if (!expertOnly || Host.IsExpert()) Host.LogInfoToDialog(line);
}

void TModem::AddTask(const char* name, int kind, int ticks)
{
    auto task = std::make_unique<TComTask>();
    task->Name = name;
    task->Kind = kind;
    task->SetTimeOut(ticks);
    task->EndWithPort = true;
    task->OnData = [this](void*, const char* data, int count) { ReplyReceived(data, count); };
    task->OnTimeOut = [this](TComTask* t) { StepTimedOut(t); };
    task->OnStart = [this](TComTask* t) { TaskStarted(t); };
    std::erase_if(MyTasks, [this](std::uint64_t id) {
        for (int i = 0; i < Tasks.Count(); ++i)
            if (Tasks.Item(i)->Id == id) return false;
        return true;
    });
    MyTasks.push_back(task->Id);
    Tasks.Add(std::move(task));
    Tasks.StartNext();
}

void TModem::Initialize() { AddTask("Modem initialize", KindInitialize, 30); }

void TModem::Disconnect() { AddTask("Modem disconnect", KindDisconnect, 15); }

void TModem::Then(int delayMs, std::function<void()> fn)
{
    Actions.push_back({delayMs, std::move(fn), TaskId});
    if (!Running && !Timer.isActive()) RunActions();
}

void TModem::RunActions()
{
    Running = true;
    while (!Actions.empty()) {
        TAction& next = Actions.front();
        if (!Tasks.IsCurrent(next.TaskId)) {
            Actions.pop_front();  // its task has ended (port closed): nothing more goes out for it
            continue;
        }
        if (next.DelayMs > 0) {
            HoldTimeOut(true);
            Timer.start(next.DelayMs);
            next.DelayMs = 0;
            Running = false;
            return;
        }
        std::function<void()> run = std::move(next.Run);
        Actions.pop_front();
        run();
    }
    Running = false;
    HoldTimeOut(false);
    if (OkWaiting && Tasks.IsCurrent(TaskId)) {
        OkWaiting = false;
        AfterOk();
    }
}

void TModem::HoldTimeOut(bool hold)
{
    if (!Tasks.IsCurrent(TaskId) || Tasks.Current->CountdownHeld == hold) return;
    Tasks.Current->CountdownHeld = hold;
    // The reply is awaited from the moment the step's last byte went out.
    if (!hold) Tasks.Current->Countdown = Tasks.Current->TimeOut;
}

void TModem::TaskStarted(TComTask* task)
{
    TaskKind = task->Kind;
    TaskId = task->Id;
    ReplyRest.clear();
    OkWaiting = false;
    Actions.clear();
    Timer.stop();
    auto begin = [this] {
        Step = 0;
        OkCount = 0;
        SendNextStep();
    };
    // A hang-up starts after a guard time of silence.
    if (TaskKind == KindDisconnect)
        Then(GuardMs(), begin);
    else
        begin();
}

void TModem::SendCommand(const std::string& command)
{
    std::string shown = command;
    if (!shown.empty() && shown.back() == '\r') shown.pop_back();
    Log("Send " + shown, true);
    Host.SendText(command);
}

bool TModem::SendNextStep()
{
    if (TaskKind == KindInitialize) {
        if (Step >= int(InitCommands.size()) + 4) return false;
        std::string command;
        switch (Step) {
        case 0: command = "ATZ\r"; break;
        case 1: command = "AT&F0\r"; break;
        case 2: command = "ATE0\r"; break;
        case 3:
            command = "ATS0=" + std::to_string(Host.IsManualPickUp() ? 0 : Rings) + "\r";
            break;
        default: command = InitCommands[size_t(Step - 4)] + "\r"; break;
        }
        ++Step;
        Then(0, [this, command] { SendCommand(command); });
        return true;
    }
    if (Step > 2) return false;
    ++Step;
    Then(0, [this] { SendCommand("+++"); });
    Then(GuardMs(), [this] { SendCommand("ATH\r"); });
    return true;
}

void TModem::ReplyReceived(const char* data, int count)
{
    if (count <= 0 || !data) return;
    // Lines end at CR; what follows the last CR waits for the next chunk, so a split "OK" is seen.
    std::string text = ReplyRest;
    for (int i = 0; i < count; ++i)
        if (data[i] != '\0') text += data[i];
    const size_t lastCr = text.rfind('\r');
    if (lastCr == std::string::npos) {
        ReplyRest = text;
        return;
    }
    ReplyRest = text.substr(lastCr + 1);
    int oks = 0;
    size_t start = 0;
    while (start <= lastCr) {
        const size_t cr = text.find('\r', start);
        std::string line = text.substr(start, cr - start);
        start = cr + 1;
        std::erase(line, '\n');
        if (!line.empty() && linktext::Upper(line) == "OK") ++oks;
    }
    OkCount += oks;
    if (oks == 0) return;
    Log("OK Received", true);
    if (Busy()) {
        OkWaiting = true;  // acted upon once the step's bytes are out
        return;
    }
    AfterOk();
}

void TModem::AfterOk()
{
    const bool sent = SendNextStep();
    if (sent && TaskKind == KindInitialize) {
        if (Tasks.Current) Tasks.Current->SetTimeOut(15);
        return;
    }
    Finish(TaskKind == KindDisconnect ? "Deconnected MODEM" : "Initialized MODEM");
}

void TModem::Finish(const std::string& line)
{
    // After whatever the last step still has to send.
    Then(0, [this, line] {
        Log(line, false);
        Tasks.EndCurrent();
    });
}

void TModem::StepTimedOut(TComTask*)
{
    Log("Timeout!", true);
    if (TaskKind == KindDisconnect) {
        Then(0, [this] {
            if (TMedia* media = Host.CurrentMedia()) {
                media->SetLine("DTR", true);
                media->SetLine("DTR", false);
            }
        });
        Then(WaitMs, [this] {
            if (TMedia* media = Host.CurrentMedia()) media->SetLine("DTR", true);
        });
    }
    if (SendNextStep()) return;
    if (TaskKind == KindDisconnect)
        Finish("Unable to disconnect the MODEM!");
    else
        Finish(OkCount > 0 ? "Initialized MODEM" : "Unable to initialize the MODEM!");
}

std::vector<std::string> TModem::SplitReplyLines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t lf = text.find('\n', start);
        if (lf == std::string::npos) lf = text.size();
        if (lf > start) lines.push_back(text.substr(start, lf - start));
        start = lf + 1;
    }
    if (lines.empty()) {
        PartialLine.clear();
        return lines;
    }
    if (!PartialLine.empty()) {
        lines.front() = PartialLine + lines.front();
        PartialLine.clear();
    }
    const std::string& last = lines.back();
    if (last.find('\r') != last.size() - 1) {
        PartialLine = last;
        lines.pop_back();
    }
    return lines;
}
