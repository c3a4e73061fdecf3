#include "station/link/Scripts.h"

#include <algorithm>

#include "common/DataPaths.h"
#include "common/FileUtils.h"
#include "common/IniFile.h"
#include "common/Zelt.h"
#include "common/Utils.h"
#include "station/link/LinkText.h"

#include <algorithm>
#include <QDateTime>

#include <filesystem>

namespace {

const char STX = 0x02;
const char ETB = 0x17;

std::string CommandSection(const std::string& section, int j) { return section + "Cmd" + std::to_string(j); }

}  // namespace

// ---- commands -------------------------------------------------------------------------------------------

void TScriptCommand::SaveToIniFile(TCustomIniFile& ini, const std::string& section) const
{
    ini.WriteInteger(section, "TypeCmd", TypeCmd);
}

std::string TScriptSendCommand::GetDescription() const { return "Send " + (Cmd.empty() ? "<empty>" : Cmd); }

void TScriptSendCommand::SaveToIniFile(TCustomIniFile& ini, const std::string& section) const
{
    TScriptCommand::SaveToIniFile(ini, section);
    ini.WriteBool(section, "IsCheckSum", IsCheckSum);
    ini.WriteBool(section, "IsSTXETB", IsSTXETB);
    ini.WriteString(section, "Cmd", Cmd);
}

void TScriptSendCommand::LoadFromIniFile(TCustomIniFile& ini, const std::string& section)
{
    IsCheckSum = ini.ReadBool(section, "IsCheckSum", true);
    IsSTXETB = ini.ReadBool(section, "IsSTXETB", true);
    Cmd = ini.ReadString(section, "Cmd", "");
}

bool TScriptSendCommand::BuildFrame(std::string& frame, std::string& text, bool& expanded,
                                    std::string& unknownCode, const std::string& datePc) const
{
    const bool transaction = Owner && Owner->SaveTransaction;
    text.clear();
    expanded = false;
    for (size_t i = 0; i < Cmd.size(); ++i) {
        if (Cmd[i] != '%') {
            text += Cmd[i];
            continue;
        }
        expanded = true;
        // A code cut short by the end of the command is an unknown code.
        const std::string code = Cmd.substr(i + 1, 6);
        i += code.size();
        if (code == "DATEPC") {
            text += datePc;
        } else if (transaction) {
            unknownCode = code;
            return false;
        }
    }
    frame = IsSTXETB ? STX + text + ETB : text;
    if (IsCheckSum) frame += linktext::XorHex(frame);
    return true;
}

void TScriptSendCommand::Execute()
{
    if (!Owner || !Owner->Host()) return;
    const std::string datePc = QDateTime::currentDateTime().toString("yyMMddhhmmss").toStdString();
    std::string frame, text, unknown;
    bool expanded = false;
    if (!BuildFrame(frame, text, expanded, unknown, datePc)) {
        Owner->Transaction("Error unknown SubCommand : " + unknown, false);
        return;
    }
    if (expanded) Owner->Transaction("Send real command: " + text, true);
    Owner->Host()->SendText(frame);
}

void TScriptGetCommand::SaveToIniFile(TCustomIniFile& ini, const std::string& section) const
{
    TScriptCommand::SaveToIniFile(ini, section);
    ini.WriteInteger(section, "TimeOut", TimeOut);
    ini.WriteBool(section, "ETXETBTrame", ETXETBTrame);
    ini.WriteBool(section, "AnalyseChecksum", AnalyseChecksum);
    ini.WriteBool(section, "WaitEndOfTimeout", WaitEndOfTimeout);
}

void TScriptGetCommand::LoadFromIniFile(TCustomIniFile& ini, const std::string& section)
{
    TimeOut = ini.ReadInteger(section, "TimeOut", 10);
    ETXETBTrame = ini.ReadBool(section, "ETXETBTrame", true);
    AnalyseChecksum = ini.ReadBool(section, "AnalyseChecksum", true);
    WaitEndOfTimeout = ini.ReadBool(section, "WaitEndOfTimeout", false);
}

void TScriptGetCommand::Execute()
{
    // A time-out of 0 or less still ends the wait, after one tick.
    if (Owner)
        if (TComTask* task = Owner->Task()) task->SetTimeOut(TimeOut > 0 ? TimeOut : 1);
    ReplyBuffer.clear();
    ReplyState = ReplyWaiting;
}

int TScriptGetCommand::AddData(const char* data, int count)
{
    if (count <= 0 || !data) return ReplyState;
    ReplyBuffer.append(data, size_t(count));
    return Analyse();
}

int TScriptGetCommand::Analyse()
{
    if (WaitEndOfTimeout && !TimedOut) return ReplyState = ReplyWaiting;
    size_t stx = std::string::npos, etb = std::string::npos;
    if (ETXETBTrame) {
        stx = ReplyBuffer.find(STX);
        if (stx != std::string::npos) etb = ReplyBuffer.find(ETB, stx + 1);
    }
    const bool frame = etb != std::string::npos;
    bool badChecksum = false;
    Reply.clear();
    if (AnalyseChecksum && frame) {
        // The frame is judged once both checksum characters are there.
        if (ReplyBuffer.size() < etb + 3) {
            Reply = ReplyBuffer;  // what came so far, for a time-out to report
            return ReplyState = ReplyWaiting;
        }
        const std::string framed = ReplyBuffer.substr(stx, etb - stx + 1);
        badChecksum = linktext::XorHex(framed) != ReplyBuffer.substr(etb + 1, 2);
        Reply = ReplyBuffer.substr(stx + 1, etb - stx - 1);
    }
    if (Reply.empty()) Reply = ReplyBuffer;
    if (ETXETBTrame && !frame) return ReplyState = ReplyWaiting;
    if (AnalyseChecksum && badChecksum) return ReplyState = ReplyBad;
    return ReplyState = ReplyOk;
}

// ---- script ---------------------------------------------------------------------------------------------

TScript::~TScript()
{
    // A task still queued for this script must not call into it.
    if (!Tasks || TaskId == 0 || TasksAlive.expired()) return;
    for (int i = 0; i < Tasks->Count(); ++i) {
        TComTask* task = Tasks->Item(i);
        if (task->Id != TaskId) continue;
        task->OnData = nullptr;
        task->OnTimeOut = nullptr;
        task->OnStart = nullptr;
        if (task == Tasks->Current) Tasks->EndCurrent();
        break;
    }
}

void TScript::AddCommand(std::unique_ptr<TScriptCommand> command)
{
    command->Owner = this;
    Commands.push_back(std::move(command));
}

std::unique_ptr<TScriptCommand> TScript::Extract(int i)
{
    std::unique_ptr<TScriptCommand> command = std::move(Commands[size_t(i)]);
    Commands.erase(Commands.begin() + i);
    if (CurrentReceive == command.get()) CurrentReceive = nullptr;
    return command;
}

void TScript::SaveToIniFile(TCustomIniFile& ini, const std::string& section) const
{
    ini.WriteInteger(section, "Count", Count());
    ini.WriteString(section, "Name", Name);
    ini.WriteInteger(section, "ScriptActivation", ScriptActivation);
    ini.WriteString(section, "SaveTransactionFile", SaveTransactionFile);
    ini.WriteBool(section, "SaveTransaction", SaveTransaction);
    for (int j = 0; j < Count(); ++j) Commands[size_t(j)]->SaveToIniFile(ini, CommandSection(section, j));
}

// A count read from a file is never larger than the number of sections the file holds: a wrong or
// hostile "Count" must not make the program read millions of missing sections.
static int BoundedCount(TCustomIniFile& ini, const std::string& section, int sections)
{
    return std::clamp(ini.ReadInteger(section, "Count", 0), 0, sections);
}

void TScript::LoadFromIniFile(TCustomIniFile& ini, const std::string& section)
{
    LoadFromIniFile(ini, section, int(ini.ReadSections().size()));
}

void TScript::LoadFromIniFile(TCustomIniFile& ini, const std::string& section, int sections)
{
    const int count = BoundedCount(ini, section, sections);
    Name = ini.ReadString(section, "Name", "");
    ScriptActivation = ini.ReadInteger(section, "ScriptActivation", Active);
    SaveTransactionFile = ini.ReadString(section, "SaveTransactionFile", "ScriptResult.txt");
    SaveTransaction = ini.ReadBool(section, "SaveTransaction", false);
    for (int j = 0; j < count; ++j) {
        const std::string cmdSection = CommandSection(section, j);
        std::unique_ptr<TScriptCommand> command;
        switch (ini.ReadInteger(cmdSection, "TypeCmd", 0)) {
        case TScriptCommand::CmdSend: command = std::make_unique<TScriptSendCommand>(); break;
        case TScriptCommand::CmdReceive: command = std::make_unique<TScriptGetCommand>(); break;
        default: continue;  // unknown kinds are skipped
        }
        command->LoadFromIniFile(ini, cmdSection);
        AddCommand(std::move(command));
    }
}

TComTask* TScript::Task() const
{
    return Tasks && Tasks->IsCurrent(TaskId) ? Tasks->Current : nullptr;
}

std::string TScript::TransactionPath() const
{
    const std::filesystem::path name(SaveTransactionFile);
    if (name.is_absolute()) return name.string();
    return (UserDataDir() / name).string();
}

void TScript::Transaction(const std::string& line, bool stamped) const
{
    if (SaveTransaction) AppendToLogFile(TransactionPath(), line, stamped);
}

void TScript::Start(TLinkHost& host, TComTaskList& tasks)
{
    LinkHost = &host;
    Tasks = &tasks;
    TasksAlive = tasks.Token();
    CurrentReceive = nullptr;
    auto task = std::make_unique<TComTask>();
    task->OnData = [this](void*, const char* data, int count) { ReplyReceived(data, count); };
    task->OnTimeOut = [this](TComTask*) { ReplyTimedOut(); };
    task->OnStart = [this](TComTask*) { TaskStarted(); };
    task->EndWithPort = true;
    task->Name = Name;
    task->SetTimeOut(0);  // until a RECEIVE sets one
    TaskId = task->Id;
    tasks.Add(std::move(task));
    tasks.StartNext();
}

bool TScript::Run()
{
    if (NextIndex >= Count()) return false;
    TScriptGetCommand* receive = nullptr;
    while (NextIndex < Count() && !receive) {
        TScriptCommand* command = Commands[size_t(NextIndex)].get();
        const std::string description = command->GetDescription();
        if (LinkHost && LinkHost->IsExpert()) LinkHost->LogInfoToDialog(description);
        Transaction("Send command: " + description, true);
        command->Execute();
        ++NextIndex;
        if (command->TypeCmd == TScriptCommand::CmdReceive) receive = static_cast<TScriptGetCommand*>(command);
    }
    CurrentReceive = receive;
    if (receive) receive->TimedOut = false;
    return receive || NextIndex < Count();
}

void TScript::Continue()
{
    if (!Run() && Tasks && Tasks->IsCurrent(TaskId)) Tasks->EndCurrent();
}

void TScript::TaskStarted()
{
    NextIndex = 0;
    Continue();
}

void TScript::ReplyReceived(const char* data, int count)
{
    TScriptGetCommand* receive = CurrentReceive;
    if (!receive || receive->AddData(data, count) != TScriptGetCommand::ReplyOk) return;
    if (LinkHost && LinkHost->IsExpert()) LinkHost->LogInfoToDialog("Replied OK");
    Transaction("Reply: " + receive->Reply, true);
    Transaction("Reply analysed: OK", true);
    Continue();
}

void TScript::ReplyTimedOut()
{
    if (TScriptGetCommand* receive = CurrentReceive) {
        receive->TimedOut = true;
        if (receive->Analyse() == TScriptGetCommand::ReplyOk) {
            if (LinkHost && LinkHost->IsExpert()) LinkHost->LogInfoToDialog("Replied OK after timeout");
            Transaction("Force waiting timeout", true);
            Transaction("Reply: " + receive->Reply, true);
            Transaction("Reply analysed: OK", true);
        } else {
            Transaction("Reply: " + receive->Reply, true);
            Transaction("Reply analysed: TimeOut", true);
        }
    }
    Continue();
}

// ---- list -----------------------------------------------------------------------------------------------

TScriptsList::~TScriptsList() { SaveToFile(); }

TScript* TScriptsList::Add(std::unique_ptr<TScript> script)
{
    Scripts.push_back(std::move(script));
    return Scripts.back().get();
}

void TScriptsList::Delete(int i) { Scripts.erase(Scripts.begin() + i); }

std::string TScriptsList::Image() const
{
    if (Scripts.empty()) return std::string();
    TIniFile ini = TIniFile::FromBytes(std::string());
    ini.WriteInteger("General", "Count", Count());
    for (int i = 0; i < Count(); ++i) Scripts[size_t(i)]->SaveToIniFile(ini, "Scr" + std::to_string(i));
    return ini.Bytes();
}

void TScriptsList::LoadFromFile(const std::string& fileName)
{
    FileName = fileName;
    Scripts.clear();
    Loaded = false;
    if (!std::filesystem::exists(fileName)) {
        Loaded = true;
        SavedImage.clear();
        return;
    }
    // Read once and parsed in memory: thousands of lookups must not each ask the disk whether the
    // file changed.
    std::string bytes;
    if (!ReadFileBytes(fileName, bytes)) return;
    TIniFile ini = TIniFile::FromBytes(bytes);
    const int sections = int(ini.ReadSections().size());
    const int count = BoundedCount(ini, "General", sections);
    for (int i = 0; i < count; ++i) {
        auto script = std::make_unique<TScript>();
        script->LoadFromIniFile(ini, "Scr" + std::to_string(i), sections);
        Scripts.push_back(std::move(script));
    }
    Loaded = true;
    SavedImage = Image();
}

bool TScriptsList::SaveToFile()
{
    if (FileName.empty() || !Loaded) return false;
    const std::string image = Image();
    if (image == SavedImage) return true;
    if (image.empty()) {
        if (!DeleteFileIfExists(FileName)) return false;
    } else if (!WriteFileAtomically(FileName, image)) {
        return false;
    }
    SavedImage = image;
    return true;
}

int TScriptsList::StartScripts(TLinkHost& host, TComTaskList& tasks)
{
    int started = 0;
    for (const std::unique_ptr<TScript>& script : Scripts) {
        if (script->ScriptActivation != TScript::Active && script->ScriptActivation != TScript::Once) continue;
        if (script->ScriptActivation == TScript::Once) script->ScriptActivation = TScript::Inactive;
        script->Start(host, tasks);
        ++started;
    }
    return started;
}

static std::unique_ptr<TScriptsList>& GlobalScripts()
{
    static std::unique_ptr<TScriptsList> list;
    return list;
}

TScriptsList* ScriptsList() { return GlobalScripts().get(); }

void RegisterScriptsListHooks()
{
    TZELT::SetScriptsListHooks(
        [](const std::string& fileName) {
            GlobalScripts() = std::make_unique<TScriptsList>();
            GlobalScripts()->LoadFromFile(fileName);
        },
        [] { GlobalScripts().reset(); });
}
