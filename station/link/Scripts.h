#pragma once
// Send/receive scripts played against the instrument once it is identified: each script is a named
// list of SEND commands (text, framed STX..ETB and checksummed on request) and RECEIVE commands (wait
// for a reply with a time-out, check its frame and checksum). The list lives in the ini file
// "Scripts.lst"; a single script can be exported to and imported from a ".sca" file (section "Def").
// A started script runs as one communication task.
#include "station/link/ComTask.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class TCustomIniFile;
class TScript;

class TScriptCommand {
public:
    enum { CmdSend = 1, CmdReceive = 2 };
    explicit TScriptCommand(int typeCmd) : TypeCmd(typeCmd) {}
    virtual ~TScriptCommand() = default;

    TScript* Owner = nullptr;
    int TypeCmd;

    virtual std::string GetDescription() const { return std::string(); }
    virtual void SaveToIniFile(TCustomIniFile& ini, const std::string& section) const;
    virtual void LoadFromIniFile(TCustomIniFile&, const std::string&) {}
    virtual void Execute() {}
};

class TScriptSendCommand : public TScriptCommand {
public:
    TScriptSendCommand() : TScriptCommand(CmdSend) {}
    bool IsCheckSum = true;
    bool IsSTXETB = true;
    std::string Cmd;

    std::string GetDescription() const override;
    void SaveToIniFile(TCustomIniFile& ini, const std::string& section) const override;
    void LoadFromIniFile(TCustomIniFile& ini, const std::string& section) override;
    void Execute() override;
    // The bytes Execute sends, or false when nothing is sent (an unknown % code with the transaction
    // file on). expanded tells whether a % code was met; datePc replaces %DATEPC ("yymmddhhnnss").
    // text receives the expanded command before framing.
    bool BuildFrame(std::string& frame, std::string& text, bool& expanded, std::string& unknownCode,
                    const std::string& datePc) const;
};

class TScriptGetCommand : public TScriptCommand {
public:
    enum { ReplyBad = 0, ReplyOk = 1, ReplyWaiting = 2 };
    TScriptGetCommand() : TScriptCommand(CmdReceive) {}
    int ReplyLength() const { return int(ReplyBuffer.size()); }
    std::string ReplyBuffer;
    int TimeOut = 10;  // tenths of a second
    bool ETXETBTrame = true;
    bool AnalyseChecksum = true;
    bool WaitEndOfTimeout = false;
    bool TimedOut = false;
    std::string Reply;
    int ReplyState = ReplyWaiting;

    std::string GetDescription() const override { return "Reception"; }
    void SaveToIniFile(TCustomIniFile& ini, const std::string& section) const override;
    void LoadFromIniFile(TCustomIniFile& ini, const std::string& section) override;
    void Execute() override;
    int AddData(const char* data, int count);
    int Analyse();
};

class TScript {
public:
    enum { Active = 0, Once = 1, Inactive = 2 };
    TScript() = default;
    ~TScript();
    TScript(const TScript&) = delete;
    TScript& operator=(const TScript&) = delete;

    TScriptGetCommand* CurrentReceive = nullptr;
    std::string Name;
    int ScriptActivation = Active;
    bool SaveTransaction = false;
    std::string SaveTransactionFile = "ScriptResult.txt";
    int NextIndex = 0;

    int Count() const { return int(Commands.size()); }
    TScriptCommand* Item(int i) const { return Commands[size_t(i)].get(); }
    void AddCommand(std::unique_ptr<TScriptCommand> command);
    std::unique_ptr<TScriptCommand> Extract(int i);
    void Clear() { Commands.clear(); }

    void SaveToIniFile(TCustomIniFile& ini, const std::string& section) const;
    void LoadFromIniFile(TCustomIniFile& ini, const std::string& section);
    // The same, for a file of `sections` sections: no more commands are read than it can hold.
    void LoadFromIniFile(TCustomIniFile& ini, const std::string& section, int sections);

    // Queues the script as a task of the list; it talks through the host.
    void Start(TLinkHost& host, TComTaskList& tasks);
    // Runs commands from NextIndex up to and including the next RECEIVE; true while something is left.
    bool Run();

    // ---- used by the commands while the script runs ------------------------------------------------
    TLinkHost* Host() const { return LinkHost; }
    TComTask* Task() const;
    // One line of the transaction file (when SaveTransaction), with the time prefix when stamped.
    void Transaction(const std::string& line, bool stamped) const;
    // Where the transaction file lies: a relative name is taken in the per-user data folder.
    std::string TransactionPath() const;

private:
    void TaskStarted();
    void ReplyReceived(const char* data, int count);
    void ReplyTimedOut();
    void Continue();

    std::vector<std::unique_ptr<TScriptCommand>> Commands;
    TLinkHost* LinkHost = nullptr;
    TComTaskList* Tasks = nullptr;
    std::weak_ptr<void> TasksAlive;
    std::uint64_t TaskId = 0;
};

class TScriptsList {
public:
    TScriptsList() = default;
    // Saves the list (when it changed), then frees the scripts.
    ~TScriptsList();
    TScriptsList(const TScriptsList&) = delete;
    TScriptsList& operator=(const TScriptsList&) = delete;

    std::string FileName;

    int Count() const { return int(Scripts.size()); }
    TScript* Item(int i) const { return Scripts[size_t(i)].get(); }
    TScript* Add(std::unique_ptr<TScript> script);
    void Delete(int i);
    void Clear() { Scripts.clear(); }

    // Remembers the name and reads the file when it exists.
    void LoadFromFile(const std::string& fileName);
    // Writes the list to the remembered file when it differs from what was loaded or last saved:
    // atomically, or by deleting the file when the list is empty. A file that could not be read is
    // never overwritten nor deleted. False when the file could not be written.
    bool SaveToFile();
    // The ini text of the list ("" for an empty list).
    std::string Image() const;
    // Starts every Active and Once script in list order (a Once script becomes Inactive); their count.
    int StartScripts(TLinkHost& host, TComTaskList& tasks);

private:
    std::vector<std::unique_ptr<TScript>> Scripts;
    bool Loaded = false;     // the remembered file was read (or did not exist)
    std::string SavedImage;  // the list as the file holds it
};

// The program's one script list, loaded from "Scripts.lst" by the settings object and saved and freed
// with it; null until then.
TScriptsList* ScriptsList();
// Tells the settings object how to create and free that list (call before creating it).
void RegisterScriptsListHooks();
