#pragma once
// Transmission media: every link to the instrument (serial port, USB adapter, TCP, telnet, remote serial
// port) is one TMedia behind the same virtual operations. The main window creates it by type name,
// gives it the port text and the mode string, hooks OnData/OnOpened/OnClosed and then only calls these.
//
// Results of the integer operations: 0 success, -1 no device, -2 device not open (writing) or no mode
// object (configuring), -3 device already open, -4 invalid mode text.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QObject;
class TMedia;

// Received chunk (sender, bytes, byte count), opened and closed notifications; called only when assigned.
using TMediaDataEvent = std::function<void(TMedia* sender, const char* data, int count)>;
using TMediaNotifyEvent = std::function<void(TMedia* sender)>;

// ---- mode objects -------------------------------------------------------------------------------------

class TMediaModeType {
public:
    virtual ~TMediaModeType() = default;
    virtual std::string GetText() const { return std::string(); }
    virtual bool SetText(const std::string&) { return true; }
};

// Data bits, parity letter and stop bits read back from a serial text such as "8N1".
struct TSerialSettings {
    int DataBits = 8;
    char Parity = 'N';
    int StopBits = 1;
};

// Device parity code of a parity letter: N none 0, O/I odd 1, E/P even 2, M mark 3, S space 4.
int ParityCode(char letter);

// "<speed>[/<speed2>]<sep><data><parity><stop>", for example "1200 8N1" or "1200/9600,7E2".
class TComModeType : public TMediaModeType {
public:
    int Speed2 = 0;
    int Speed = 0;
    std::string SerialText;

    std::string GetText() const override;
    bool SetText(const std::string& text) override;

    // Parses a serial text ("8N1"); an empty text means the stored SerialText. True when valid.
    bool ParseSerial(const std::string& text, TSerialSettings& out) const;
    // What a device is configured with: the stored serial text and Speed2 as baud rate.
    // False when the serial text does not parse or the baud rate is not a positive number.
    bool DeviceSettings(TSerialSettings& out, int& baudRate) const;
};

class TUSBModeType : public TComModeType {
public:
    bool Valid = false;  // result of the last parse
    bool SetText(const std::string& text) override;  // always true; the text is stored as far as it parsed
};

// ---- line signals -------------------------------------------------------------------------------------

class TMediaLineType {
public:
    virtual ~TMediaLineType() = default;
    virtual int GetLine(const std::string&) const { return -1; }
    virtual bool SetLine(const std::string&, bool) { return false; }
};

class TComLineType : public TMediaLineType {
public:
    enum { LineDTR = 1, LineRTS = 2, LineBREAK = 8 };
    int Flags = LineDTR | LineRTS;

    int GetLine(const std::string& name) const override;
    bool SetLine(const std::string& name, bool on) override;
    bool Has(int bit) const { return (Flags & bit) != 0; }
};

// ---- media --------------------------------------------------------------------------------------------

class TMediaType {
public:
    virtual ~TMediaType() = default;
    virtual std::string GetName() const { return Name; }
    virtual bool SetName(const std::string& text);
    virtual std::string GetDescription() const { return Description; }
    virtual bool SetDescription(const std::string& text);

    std::string Name;         // "COM1", "host:port" or the USB product string
    std::string Description;  // second identifier of the port (USB serial number)
    std::string Caption;      // "Port COM", "Port Tcp", "Port Telnet", "Port TelCom", "Port USB"
    std::string TypeName;     // "COM", "IP", "Telnet", "TelCom", "USB"
};

class TMedia : public TMediaType {
public:
    explicit TMedia(QObject* owner = nullptr) : Owner(owner) {}
    ~TMedia() override = default;
    TMedia(const TMedia&) = delete;
    TMedia& operator=(const TMedia&) = delete;

    std::string GetName() const override { return Name; }
    bool SetName(const std::string& text) override;
    std::string GetDescription() const override { return Description; }
    bool SetDescription(const std::string& text) override;
    virtual int ApplyPort() { return 0; }
    virtual bool IsOpen() { return false; }
    virtual bool IsOpening() { return false; }
    // True when the mode text was accepted; a device that exists is reconfigured.
    virtual bool SetMode(const std::string&) { return false; }
    virtual std::string GetMode() { return std::string(); }
    // True when the line name was known; a device that exists gets all signals again.
    virtual bool SetLine(const std::string&, bool) { return false; }
    virtual int GetLine(const std::string&) { return -1; }
    virtual bool Open() { return false; }
    virtual bool Close() { return false; }  // graceful
    virtual bool Abort() { return false; }  // at once
    virtual int Write(const char*, int) { return -1; }
    virtual int WriteText(const std::string& text) { return Write(text.data(), int(text.size())); }
    virtual bool Purge() { return false; }

    std::unique_ptr<TMediaModeType> Mode;   // created by the first SetMode
    std::unique_ptr<TMediaLineType> Lines;  // created by the first SetLine
    QObject* Owner = nullptr;               // owner of the device component (the main window)
    std::string LastError;                  // message of the device's failure while opening
    bool ErrorFlag = false;                 // set with LastError
    int64_t HeldBy = 0;                     // after an open that failed: the running process holding the device
    TMediaDataEvent OnData;
    TMediaNotifyEvent OnOpened;
    TMediaNotifyEvent OnClosed;
    bool Closing = false;                   // the device is being released

protected:
    // For media with a mode object: its text, or "0" while there is none.
    std::string ModeText() const { return Mode ? Mode->GetText() : std::string("0"); }
    // For media with line support: the line object's answer, or 0 while there is none.
    int LineValue(const std::string& name) const { return Lines ? Lines->GetLine(name) : 0; }
    // Creates a TComLineType on first use and sets one signal; false for an unknown name.
    bool StoreLine(const std::string& name, bool on);
    TComLineType* ComLines() const { return dynamic_cast<TComLineType*>(Lines.get()); }
    TComModeType* ComMode() const { return dynamic_cast<TComModeType*>(Mode.get()); }
    void FireData(const char* data, int count) { if (OnData) OnData(this, data, count); }
    void FireOpened() { if (OnOpened) OnOpened(this); }
    void FireClosed() { if (OnClosed) OnClosed(this); }
};

// ---- creation by type name ----------------------------------------------------------------------------

using TMediaFactory = std::function<TMedia*(QObject* owner)>;

// Adds (or replaces) a medium kind. The serial media "COM" and "USB" are built in; the network media
// ("IP", "Telnet", "TelCom") join through RegisterNetMedia when they are built into the library.
void RegisterMediaType(const std::string& typeName, TMediaFactory factory);
// Type names known, in the order they are tried.
std::vector<std::string> MediaTypeNames();
// New medium for the type name (compared without case), or null for an unknown name. Caller owns it.
TMedia* CreateMedia(const std::string& typeName, QObject* owner);
