#include "common/IniFile.h"
#include "common/Zelt.h"
#include "station/link/MediaSerial.h"
#include "station/link/Scripts.h"
#include "station/link/tests/LinkTestSupport.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

using namespace linktest;
namespace fs = std::filesystem;

namespace {

std::string ReadAll(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

void WriteAll(const std::string& path, const std::string& text)
{
    std::ofstream f(path, std::ios::binary);
    f << text;
}

TScriptSendCommand* AddSend(TScript& s, const std::string& cmd, bool stxEtb = true, bool checksum = true)
{
    auto c = std::make_unique<TScriptSendCommand>();
    c->Cmd = cmd;
    c->IsSTXETB = stxEtb;
    c->IsCheckSum = checksum;
    auto* p = c.get();
    s.AddCommand(std::move(c));
    return p;
}

TScriptGetCommand* AddReceive(TScript& s, int timeOut = 10)
{
    auto c = std::make_unique<TScriptGetCommand>();
    c->TimeOut = timeOut;
    auto* p = c.get();
    s.AddCommand(std::move(c));
    return p;
}

// Lines of a transaction file without their time prefix.
std::vector<std::string> TransactionLines(const std::string& path)
{
    std::vector<std::string> lines;
    std::stringstream in(ReadAll(path));
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        // "dd/mm/yyyy,hh:nn:ss.z," prefix
        if (line.size() > 20 && line[2] == '/' && line[10] == ',') line = line.substr(line.find(',', 11) + 1);
        lines.push_back(line);
    }
    return lines;
}

}  // namespace

TEST(ScriptFiles, MissingFileEmptyListAndRoundTrip)
{
    EnsureApp();
    const std::string file = TempDir() + "/Scripts.lst";
    {
        TScriptsList list;
        list.LoadFromFile(file);
        EXPECT_EQ(list.Count(), 0);
        EXPECT_TRUE(list.SaveToFile());
        EXPECT_FALSE(fs::exists(file));

        TScript* s = list.Add(std::make_unique<TScript>());
        s->Name = "Clock check";
        s->ScriptActivation = TScript::Once;
        s->SaveTransaction = true;
        s->SaveTransactionFile = "clock.txt";
        AddSend(*s, "HT", true, false);
        TScriptGetCommand* r = AddReceive(*s, 25);
        r->WaitEndOfTimeout = true;
        r->AnalyseChecksum = false;
        AddSend(*s, "", false, true);
    }  // saved at destruction
    ASSERT_TRUE(fs::exists(file));
    TScriptsList again;
    again.LoadFromFile(file);
    ASSERT_EQ(again.Count(), 1);
    TScript* s = again.Item(0);
    EXPECT_EQ(s->Name, "Clock check");
    EXPECT_EQ(s->ScriptActivation, TScript::Once);
    EXPECT_TRUE(s->SaveTransaction);
    EXPECT_EQ(s->SaveTransactionFile, "clock.txt");
    ASSERT_EQ(s->Count(), 3);
    auto* send = dynamic_cast<TScriptSendCommand*>(s->Item(0));
    ASSERT_NE(send, nullptr);
    EXPECT_EQ(send->Cmd, "HT");
    EXPECT_FALSE(send->IsCheckSum);
    EXPECT_EQ(send->Owner, s);
    auto* get = dynamic_cast<TScriptGetCommand*>(s->Item(1));
    ASSERT_NE(get, nullptr);
    EXPECT_EQ(get->TimeOut, 25);
    EXPECT_TRUE(get->WaitEndOfTimeout);
    EXPECT_FALSE(get->AnalyseChecksum);
    EXPECT_TRUE(get->ETXETBTrame);
    EXPECT_EQ(get->GetDescription(), "Reception");
    EXPECT_EQ(s->Item(2)->GetDescription(), "Send <empty>");
    const std::string text = ReadAll(file);
    EXPECT_NE(text.find("[General]\r\nCount=1\r\n"), std::string::npos);
    EXPECT_NE(text.find("[Scr0Cmd1]\r\nTypeCmd=2\r\nTimeOut=25\r\n"), std::string::npos);
}

TEST(ScriptFiles, UnknownCommandKindsAreSkippedAndDefaultsApply)
{
    EnsureApp();
    const std::string file = TempDir() + "/Scripts.lst";
    WriteAll(file,
             "[General]\r\nCount=1\r\n[Scr0]\r\nCount=4\r\nName=Mixed\r\n"
             "[Scr0Cmd0]\r\nTypeCmd=1\r\nCmd=A\r\n[Scr0Cmd1]\r\nTypeCmd=3\r\nCmd=Z\r\n"
             "[Scr0Cmd2]\r\nTypeCmd=2\r\n[Scr0Cmd3]\r\nTypeCmd=1\r\n");
    TScriptsList list;
    list.LoadFromFile(file);
    ASSERT_EQ(list.Count(), 1);
    TScript* s = list.Item(0);
    EXPECT_EQ(s->SaveTransactionFile, "ScriptResult.txt");
    EXPECT_FALSE(s->SaveTransaction);
    ASSERT_EQ(s->Count(), 3);
    EXPECT_EQ(s->Item(0)->GetDescription(), "Send A");
    EXPECT_EQ(s->Item(1)->TypeCmd, 2);
    EXPECT_EQ(dynamic_cast<TScriptGetCommand*>(s->Item(1))->TimeOut, 10);
    EXPECT_EQ(s->Item(2)->GetDescription(), "Send <empty>");
    auto* send = dynamic_cast<TScriptSendCommand*>(s->Item(2));
    EXPECT_TRUE(send->IsCheckSum);
    EXPECT_TRUE(send->IsSTXETB);
}

TEST(ScriptFiles, DamagedCountsAreBounded)
{
    EnsureApp();
    const std::string file = TempDir() + "/Scripts.lst";
    WriteAll(file,
             "[General]\r\nCount=2147483647\r\n[Scr0]\r\nCount=2147483647\r\nName=Huge\r\n"
             "[Scr0Cmd0]\r\nTypeCmd=1\r\nCmd=A\r\n");
    QElapsedTimer timer;
    timer.start();
    TScriptsList list;
    list.LoadFromFile(file);
    EXPECT_LT(timer.elapsed(), 60000);  // not two thousand million empty scripts
    // No more scripts than the file has sections.
    ASSERT_GE(list.Count(), 1);
    ASSERT_LE(list.Count(), 3);
    EXPECT_EQ(list.Item(0)->Name, "Huge");
    ASSERT_EQ(list.Item(0)->Count(), 1);
    EXPECT_EQ(list.Item(0)->Item(0)->GetDescription(), "Send A");
    list.FileName.clear();
}

TEST(ScriptFiles, WrittenOnlyWhenChangedAndNeverLostUnread)
{
    EnsureApp();
    const std::string dir = TempDir();
    const std::string file = dir + "/Scripts.lst";
    WriteAll(file, "; kept unless the list changes\r\n[General]\r\nCount=1\r\n[Scr0]\r\nCount=0\r\nName=One\r\n");
    {
        TScriptsList list;
        list.LoadFromFile(file);
        ASSERT_EQ(list.Count(), 1);
    }
    EXPECT_NE(ReadAll(file).find("; kept"), std::string::npos);  // unchanged: not rewritten
    {
        TScriptsList list;
        list.LoadFromFile(file);
        list.Item(0)->Name = "Renamed";
        EXPECT_TRUE(list.SaveToFile());
        EXPECT_NE(ReadAll(file).find("Name=Renamed"), std::string::npos);
        list.Delete(0);
    }
    EXPECT_FALSE(fs::exists(file));  // emptied list: file deleted
    for (const auto& e : fs::directory_iterator(dir)) ADD_FAILURE() << "left behind: " << e.path();

    // A list that was never loaded does not touch the file.
    WriteAll(file, "[General]\r\nCount=1\r\n");
    {
        TScriptsList list;
        EXPECT_FALSE(list.SaveToFile());
        list.FileName = file;
        EXPECT_FALSE(list.SaveToFile());
    }
    EXPECT_EQ(ReadAll(file), "[General]\r\nCount=1\r\n");

    // A file that cannot be read is neither deleted nor overwritten.
    const std::string unreadable = dir + "/Unreadable.lst";
    fs::create_directory(unreadable);
    {
        TScriptsList list;
        list.LoadFromFile(unreadable);
        list.Add(std::make_unique<TScript>())->Name = "new";
        EXPECT_FALSE(list.SaveToFile());
    }
    EXPECT_TRUE(fs::is_directory(unreadable));
}

TEST(ScriptSend, FramesChecksumsAndPercentCodes)
{
    TScript s;
    TScriptSendCommand* c = AddSend(s, "AB");
    std::string frame, text, unknown;
    bool expanded = false;
    ASSERT_TRUE(c->BuildFrame(frame, text, expanded, unknown, "170305143000"));
    EXPECT_EQ(frame, std::string("\x02" "AB\x17" "16"));
    EXPECT_FALSE(expanded);

    c->Cmd = "T%DATEPC!";
    c->IsSTXETB = false;
    c->IsCheckSum = false;
    ASSERT_TRUE(c->BuildFrame(frame, text, expanded, unknown, "170305143000"));
    EXPECT_EQ(frame, "T170305143000!");
    EXPECT_TRUE(expanded);

    // Unknown or cut-short codes: dropped with the transaction file off, refused with it on.
    c->Cmd = "A%XXXXXXB%DATE";
    ASSERT_TRUE(c->BuildFrame(frame, text, expanded, unknown, "x"));
    EXPECT_EQ(frame, "AB");
    c->Cmd = "%datepc";
    ASSERT_TRUE(c->BuildFrame(frame, text, expanded, unknown, "x"));
    EXPECT_EQ(frame, "");  // the code is case-sensitive
    s.SaveTransaction = true;
    c->Cmd = "A%DAT";
    EXPECT_FALSE(c->BuildFrame(frame, text, expanded, unknown, "x"));
    EXPECT_EQ(unknown, "DAT");
    c->Cmd = "A%";
    EXPECT_FALSE(c->BuildFrame(frame, text, expanded, unknown, "x"));
    EXPECT_EQ(unknown, "");
}

TEST(ScriptReceive, FrameChecksumAndTimeOutJudgement)
{
    TScriptGetCommand r;
    r.Execute();
    EXPECT_EQ(r.AddData("\x02O", 2), TScriptGetCommand::ReplyWaiting);
    EXPECT_EQ(r.AddData("K\x17", 2), TScriptGetCommand::ReplyWaiting);  // no checksum yet
    EXPECT_EQ(r.AddData("1", 1), TScriptGetCommand::ReplyWaiting);     // only one of two characters
    // 02 ^ 'O' ^ 'K' ^ 17 = 0x11
    EXPECT_EQ(r.AddData("1", 1), TScriptGetCommand::ReplyOk);
    EXPECT_EQ(r.Reply, "OK");
    EXPECT_EQ(r.AddData(nullptr, 0), TScriptGetCommand::ReplyOk);

    r.Execute();
    EXPECT_EQ(r.ReplyLength(), 0);
    EXPECT_EQ(r.AddData("junk\x02OK\x17" "12", 10), TScriptGetCommand::ReplyBad);
    EXPECT_EQ(r.Reply, "OK");
    r.Execute();
    r.AnalyseChecksum = false;
    EXPECT_EQ(r.AddData("\x02OK\x17", 4), TScriptGetCommand::ReplyOk);
    EXPECT_EQ(r.Reply, std::string("\x02OK\x17"));  // without checksum analysis: the whole buffer
    r.Execute();
    r.ETXETBTrame = false;
    EXPECT_EQ(r.AddData("any", 3), TScriptGetCommand::ReplyOk);
    EXPECT_EQ(r.Reply, "any");

    TScriptGetCommand w;
    w.WaitEndOfTimeout = true;
    w.Execute();
    EXPECT_EQ(w.AddData("\x02OK\x17" "11", 6), TScriptGetCommand::ReplyWaiting);
    w.TimedOut = true;
    EXPECT_EQ(w.Analyse(), TScriptGetCommand::ReplyOk);
}

namespace {

// A script run against a far end on a pty, through a serial medium, with a task timer driven by hand.
struct ScriptRig {
    Pty Far;
    RecordingHost Host;
    TMediaCOM Media;
    TComTaskList Tasks{Host};
    std::string Transactions = TempDir() + "/result.txt";

    ScriptRig()
    {
        Host.Media = &Media;
        Media.OnData = [this](TMedia*, const char* d, int n) { Host.CallReceiveHandler(&Host, d, n); };
        Media.SetName(Far.SlaveName);
        Media.SetMode("9600 8N1");
        if (!Media.Open()) throw std::runtime_error(Media.LastError);
        Tasks.StartNext();
    }
    void Prepare(TScript& s)
    {
        s.Name = "probe";
        s.SaveTransaction = true;
        s.SaveTransactionFile = Transactions;
    }
};

}  // namespace

TEST(ScriptRun, SendReceiveAgainstAFarEnd)
{
    ScriptRig rig;
    TScript s;
    rig.Prepare(s);
    AddSend(s, "ID");
    AddReceive(s, 20);
    AddSend(s, "GO%DATEPC", false, false);
    s.Start(rig.Host, rig.Tasks);
    EXPECT_TRUE(rig.Host.Logged("Starting task probe"));
    EXPECT_EQ(rig.Far.ReadBytes(6), std::string("\x02" "ID\x17") + "18");
    EXPECT_EQ(rig.Tasks.Current->TimeOut, 20);
    rig.Far.Write("\x02Q5-");
    LetTimePass(50);
    EXPECT_NE(rig.Tasks.Current, nullptr);
    rig.Far.Write("42\x17");
    rig.Far.Write("5A");  // 02^'Q'^'5'^'-'^'4'^'2'^17
    const std::string tail = rig.Far.ReadBytes(14);
    EXPECT_EQ(tail.substr(0, 2), "GO");
    EXPECT_EQ(tail.size(), 14u);
    EXPECT_TRUE(WaitUntil([&] { return rig.Tasks.Current == nullptr; }));
    EXPECT_TRUE(rig.Host.Logged("Replied OK"));
    EXPECT_TRUE(rig.Host.Logged("Ending task probe"));
    const std::vector<std::string> lines = TransactionLines(rig.Transactions);
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0], "Send command: Send ID");
    EXPECT_EQ(lines[1], "Send command: Reception");
    EXPECT_EQ(lines[2], "Reply: Q5-42");
    EXPECT_EQ(lines[3], "Reply analysed: OK");
    EXPECT_EQ(lines[4], "Send command: Send GO%DATEPC");
    EXPECT_EQ(lines[5].substr(0, 21), "Send real command: GO");
}

TEST(ScriptRun, TimeOutsDoNotStopTheScript)
{
    ScriptRig rig;
    TScript s;
    rig.Prepare(s);
    AddReceive(s, 3);
    AddReceive(s, 0);  // no time-out given: one tick
    AddSend(s, "END", false, false);
    s.Start(rig.Host, rig.Tasks);
    rig.Far.Write("\x02" "BAD\x17" "00");  // wrong checksum: keeps waiting
    LetTimePass(50);
    rig.Tasks.Tick();
    rig.Tasks.Tick();
    EXPECT_EQ(rig.Host.Sent, "");
    rig.Tasks.Tick();  // 0.3 s
    EXPECT_EQ(rig.Tasks.Current->TimeOut, 1);
    rig.Tasks.Tick();
    EXPECT_EQ(rig.Host.Sent, "END");
    EXPECT_EQ(rig.Tasks.Current, nullptr);
    const auto lines = TransactionLines(rig.Transactions);
    ASSERT_GE(lines.size(), 7u);
    EXPECT_EQ(lines[1], "Reply: BAD");
    EXPECT_EQ(lines[2], "Reply analysed: TimeOut");
    EXPECT_EQ(lines[4], "Reply:");  // log lines are trimmed
    EXPECT_EQ(lines[5], "Reply analysed: TimeOut");
}

TEST(ScriptRun, TimeOutWithHalfAChecksumWritesWhatCame)
{
    ScriptRig rig;
    TScript s;
    rig.Prepare(s);
    AddReceive(s, 2);
    s.Start(rig.Host, rig.Tasks);
    rig.Far.Write("\x02" "OK\x17" "5");  // one of the two checksum characters
    LetTimePass(50);
    rig.Tasks.Tick();
    rig.Tasks.Tick();
    EXPECT_EQ(rig.Tasks.Current, nullptr);
    const auto lines = TransactionLines(rig.Transactions);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], "Reply: \x02OK\x17" "5");
    EXPECT_EQ(lines[2], "Reply analysed: TimeOut");
}

TEST(ScriptRun, WaitEndOfTimeoutJudgesOnceAtTheEnd)
{
    ScriptRig rig;
    TScript s;
    rig.Prepare(s);
    AddReceive(s, 10)->WaitEndOfTimeout = true;
    AddSend(s, "NEXT", false, false);
    AddReceive(s, 50);
    s.Start(rig.Host, rig.Tasks);
    rig.Far.Write("\x02OK\x17" "11");
    LetTimePass(50);
    for (int i = 0; i < 9; ++i) rig.Tasks.Tick();
    EXPECT_EQ(rig.Host.Sent, "");
    rig.Tasks.Tick();
    EXPECT_EQ(rig.Host.Sent, "NEXT");
    EXPECT_TRUE(rig.Host.Logged("Replied OK after timeout"));
    EXPECT_EQ(rig.Host.CountLogged("Send NEXT"), 1);
    const auto lines = TransactionLines(rig.Transactions);
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[1], "Force waiting timeout");
    EXPECT_EQ(lines[2], "Reply: OK");
    EXPECT_EQ(lines[3], "Reply analysed: OK");
    EXPECT_EQ(rig.Tasks.Current->TimeOut, 50);
}

TEST(ScriptRun, UnknownCodeSkipsOneSendAndScriptsWithoutReceiveRunAtOnce)
{
    ScriptRig rig;
    TScript s;
    rig.Prepare(s);
    AddSend(s, "A%NOPE12", false, false);
    AddSend(s, "B", false, false);
    s.Start(rig.Host, rig.Tasks);
    EXPECT_EQ(rig.Tasks.Current, nullptr);
    EXPECT_EQ(rig.Host.Sent, "B");
    const auto lines = TransactionLines(rig.Transactions);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[1], "Error unknown SubCommand : NOPE12");
    const std::string raw = ReadAll(rig.Transactions);
    EXPECT_NE(raw.find("\r\nError unknown SubCommand : NOPE12\r\n"), std::string::npos);  // no time prefix
}

TEST(ScriptRun, StartScriptsHonoursActivation)
{
    EnsureApp();
    RecordingHost host;
    TComTaskList tasks(host);
    TScriptsList list;
    const char* names[] = {"active", "once", "off"};
    for (int i = 0; i < 3; ++i) {
        TScript* s = list.Add(std::make_unique<TScript>());
        s->Name = names[i];
        s->ScriptActivation = i;
        AddReceive(*s, 5);
    }
    EXPECT_EQ(list.StartScripts(host, tasks), 2);
    EXPECT_EQ(list.Item(1)->ScriptActivation, TScript::Inactive);
    EXPECT_EQ(tasks.Count(), 2);
    EXPECT_EQ(tasks.Current->Name, "active");
    // A script deleted while its task is current ends that task.
    list.Delete(0);
    EXPECT_EQ(tasks.Current->Name, "once");
    EXPECT_EQ(list.StartScripts(host, tasks), 0);  // both left are inactive now
}

TEST(ScriptRun, RelativeTransactionFileGoesToTheUserDataFolder)
{
    EnsureApp();
    const std::string data = TempDir();
    const std::string previous = getenv("XDG_DATA_HOME");
    setenv("XDG_DATA_HOME", data.c_str(), 1);
    TScript s;
    s.SaveTransaction = true;
    EXPECT_EQ(s.TransactionPath(), data + "/zelt/ScriptResult.txt");
    s.Transaction("line", false);
    EXPECT_EQ(ReadAll(data + "/zelt/ScriptResult.txt"), "line\r\n");
    setenv("XDG_DATA_HOME", previous.c_str(), 1);
}

TEST(ScriptFiles, SettingsObjectLoadsAndSavesTheProgramList)
{
    EnsureApp();
    const std::string dir = TempDir();
    const std::string par = dir + "/par";
    fs::create_directories(par);
    WriteAll(dir + "/zelt.ini", "[General]\r\nPARDirectory=" + par + "/\r\n");
    WriteAll(par + "/Scripts.lst", "[General]\r\nCount=1\r\n[Scr0]\r\nName=Boot\r\nScriptActivation=1\r\n");
    RegisterScriptsListHooks();
    {
        TZELT zelt(std::vector<std::string>{"zelt", "-CONFIG=" + dir + "/zelt.ini"});
        ASSERT_NE(ScriptsList(), nullptr);
        ASSERT_EQ(ScriptsList()->Count(), 1);
        EXPECT_EQ(ScriptsList()->Item(0)->Name, "Boot");
        ScriptsList()->Item(0)->ScriptActivation = TScript::Inactive;  // as a started Once script
    }
    EXPECT_EQ(ScriptsList(), nullptr);
    EXPECT_NE(ReadAll(par + "/Scripts.lst").find("ScriptActivation=2"), std::string::npos);
    TZELT::SetScriptsListHooks(nullptr, nullptr);
}

TEST(ScriptFiles, CountsAreBoundedByTheFileAndLargeListsLoadAndSaveQuickly)
{
    EnsureApp();
    const std::string dir = TempDir();
    const std::string par = dir + "/par";
    fs::create_directories(par);
    WriteAll(dir + "/zelt.ini", "[General]\r\nPARDirectory=" + par + "/\r\n");
    RegisterScriptsListHooks();

    // Counts far beyond what the file holds: the list reads no more sections than there are.
    WriteAll(par + "/Scripts.lst", "[General]\r\nCount=2000000000\r\n[Scr0]\r\nCount=2000000000\r\nName=Big\r\n"
                                   "[Scr0Cmd0]\r\nTypeCmd=1\r\nCmd=AB\r\n");
    {
        TZELT zelt(std::vector<std::string>{"zelt", "-CONFIG=" + dir + "/zelt.ini"});
        ASSERT_NE(ScriptsList(), nullptr);
        EXPECT_LE(ScriptsList()->Count(), 3);
        EXPECT_EQ(ScriptsList()->Item(0)->Name, "Big");
        EXPECT_EQ(ScriptsList()->Item(0)->Count(), 1);
    }

    // A large list: read at start-up and written back at exit whole.
    auto loadAndSave = [&](int scripts) {
        std::string text = "[General]\r\nCount=" + std::to_string(scripts) + "\r\n";
        for (int i = 0; i < scripts; ++i) {
            const std::string s = "Scr" + std::to_string(i);
            text += "[" + s + "]\r\nCount=2\r\nName=S" + std::to_string(i) + "\r\nScriptActivation=1\r\n" +
                    "SaveTransactionFile=ScriptResult.txt\r\nSaveTransaction=0\r\n[" + s +
                    "Cmd0]\r\nTypeCmd=1\r\nIsCheckSum=1\r\nIsSTXETB=1\r\nCmd=AB\r\n[" + s +
                    "Cmd1]\r\nTypeCmd=2\r\nTimeOut=10\r\nETXETBTrame=1\r\nAnalyseChecksum=1\r\nWaitEndOfTimeout=0\r\n";
        }
        WriteAll(par + "/Scripts.lst", text);
        {
            TZELT zelt(std::vector<std::string>{"zelt", "-CONFIG=" + dir + "/zelt.ini"});
            EXPECT_EQ(ScriptsList()->Count(), scripts);
            EXPECT_EQ(ScriptsList()->Item(scripts - 1)->Name, "S" + std::to_string(scripts - 1));
            EXPECT_EQ(ScriptsList()->Item(scripts - 1)->Count(), 2);
            for (int i = 0; i < scripts; ++i) ScriptsList()->Item(i)->ScriptActivation = TScript::Inactive;
        }
        const std::string saved = ReadAll(par + "/Scripts.lst");
        int inactive = 0;
        for (size_t at = 0; (at = saved.find("ScriptActivation=2\r\n", at)) != std::string::npos; ++at) ++inactive;
        EXPECT_EQ(inactive, scripts);
    };
    loadAndSave(1000);
    loadAndSave(4000);
    TZELT::SetScriptsListHooks(nullptr, nullptr);
}
