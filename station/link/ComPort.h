#pragma once
// Serial port component on QSerialPort: settings applied together between BeginUpdate and EndUpdate,
// events as closures on the UI thread. Every write is flushed at once; a read or resource error means
// the device is gone: the port closes and reports it (no retry loop). Line-signal and break requests
// that the device does not support (a pseudo-terminal) are ignored and never fail an open.
#include <QObject>

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

class QSerialPort;

class EComPort : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class TParityBits { None = 0, Odd = 1, Even = 2, Mark = 3, Space = 4 };

struct TComParity {
    TParityBits Bits = TParityBits::None;
    bool Check = false;
    bool Replace = false;
    char ReplaceChar = 0;
};

// Received bytes as the line discipline marks them when parity is checked (PARMRK): a byte received
// with a parity or framing error comes as 0xFF 0x00 byte, a data byte 0xFF as 0xFF 0xFF. Decode gives
// the data with each faulty byte replaced (or kept as received when replacement is off); a mark split
// between two reads is completed by the next one.
class TParityMarks {
public:
    bool Replace = false;
    char ReplaceChar = 0;
    std::string Decode(const char* data, size_t count);
    void Reset() { Pending.clear(); }

private:
    std::string Pending;
};

struct TComFlowControl {
    bool ControlDTR = true;  // DTR raised while open
    bool ControlRTS = true;  // RTS raised while open
    bool DSRSensitivity = false;
    bool OutCTSFlow = false;
    bool XonXoffIn = false;
    bool XonXoffOut = false;
};

class TComPort : public QObject {
public:
    explicit TComPort(QObject* owner = nullptr);
    ~TComPort() override;

    // Settings; with the port open they reach the device at EndUpdate.
    void BeginUpdate() { ++UpdateDepth; }
    void EndUpdate();
    void SetPortValue(const std::string& name) { Port = name; }
    std::string PortValue() const { return Port; }
    int BaudRate = 9600;
    int DataBits = 8;
    int StopBits = 1;
    TComParity Parity;
    TComFlowControl FlowControl;
    bool TriggerRxChar = true;  // raise OnRxChar for received bytes (when OnRxBuf is not assigned)

    // Opens the named port with the settings; raises EComPort with a readable message on failure.
    // OnAfterOpen follows.
    void Open();
    // After an Open that failed: the running process that holds the port's lock, 0 for none.
    int64_t HeldBy = 0;
    // Closes the port; OnAfterClose follows when it was open.
    void Close();
    bool Connected() const;
    int Write(const char* data, int count);
    int WriteStr(const std::string& text) { return Write(text.data(), int(text.size())); }
    int Read(char* data, int count);
    void ClearBuffer(bool input, bool output);
    void AbortAllAsync();
    void SetBreak(bool on);
    void SetDTR(bool on);
    void SetRTS(bool on);

    std::function<void(const char* data, int count)> OnRxBuf;
    std::function<void(int count)> OnRxChar;
    std::function<void()> OnAfterOpen;
    std::function<void()> OnAfterClose;

    // Device path for a port name: "COMn" is /dev/ttyS(n-1); a bare name lies in /dev; a path is kept.
    static std::string DevicePath(const std::string& portName);
    // The device itself behind a port name, its links followed ("/dev/serial/by-id/..." is the
    // "/dev/ttyUSB0" it names): one line has one lock, whatever name each program was given.
    static std::string ResolvedDevicePath(const std::string& portName);
    // Frees a port, later when one of its own events is running (the handler may end the link).
    static void Destroy(TComPort* port);

private:
    // Opens the device itself and locks it (flock) for this process; raises EComPort when another
    // program holds it or it cannot be opened.
    void ClaimLine(const std::string& device);
    void ReleaseLine();
    // Why the device could not be opened, with the running program that holds its lock (kept in
    // HeldBy) when there is one; `busy`: the system said the device is busy.
    std::string RefusalText(const std::string& device, const std::string& reason, bool busy);
    void ApplySettings();
    // Parity check and replacement: what QSerialPort has no setting for goes to the descriptor.
    void ApplyParityCheck();
    // Received bytes as the user of the port gets them.
    std::string Input(const char* data, size_t count);
    void DataArrived();
    void DeviceError(int error);

    QSerialPort* Serial;
    int Claim = -1;  // this process's own descriptor of the open line, which holds the line's lock
    std::string Port;
    int UpdateDepth = 0;
    int EventDepth = 0;
    bool Dead = false;  // released while one of its events ran
    bool Marking = false;  // the line discipline marks faulty bytes
    TParityMarks Marks;
};

// Names of the serial ports of the machine, sorted.
void EnumComPorts(std::vector<std::string>& list);
