#include "station/link/MediaSerial.h"

#include "station/link/ComPort.h"
#include "station/link/LinkText.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <vector>

using namespace linktext;

// ---- serial port ----------------------------------------------------------------------------------------

TMediaCOM::TMediaCOM(QObject* owner) : TLocalMedia(owner)
{
    TypeName = "COM";
    Caption = "Port COM";
    StoreLine(std::string(), true);
}

TMediaCOM::~TMediaCOM() { Release(false); }

// Port names are kept as typed; only the "COMn" form is upper-cased.
static std::string PortName(const std::string& name)
{
    const std::string upper = Upper(name);
    if (upper.size() > 3 && upper.compare(0, 3, "COM") == 0 && ToIntDef(upper.substr(3), 0) > 0) return upper;
    return name;
}

int TMediaCOM::ApplyPort()
{
    if (Device && !Device->Connected()) Device->SetPortValue(PortName(Name));
    return 0;
}

bool TMediaCOM::IsOpen() { return Device && Device->Connected(); }

bool TMediaCOM::SetMode(const std::string& text)
{
    if (!Mode) Mode = std::make_unique<TComModeType>();
    const bool ok = Mode->SetText(text);
    if (Device) Configure();
    return ok;
}

bool TMediaCOM::SetLine(const std::string& name, bool on)
{
    const bool ok = StoreLine(name, on);
    if (Device) ApplyLines();
    return ok;
}

int TMediaCOM::Configure()
{
    if (!Device) return -1;
    TComModeType* mode = ComMode();
    if (!mode) return -2;
    if (Device->Connected()) return -3;
    TSerialSettings serial;
    int baud = 0;
    // A speed that is not a positive number never reaches the device.
    if (!mode->DeviceSettings(serial, baud)) return -4;
    try {
        Device->BeginUpdate();
        Device->TriggerRxChar = false;
        Device->OnRxBuf = [this](const char* data, int count) { FireData(data, count); };
        Device->OnAfterOpen = [this] {
            ApplyLines();
            FireOpened();
        };
        Device->OnAfterClose = [this] { FireClosed(); };
        Device->FlowControl.DSRSensitivity = false;
        Device->FlowControl.OutCTSFlow = false;
        Device->FlowControl.XonXoffIn = false;
        Device->FlowControl.XonXoffOut = false;
        Device->StopBits = serial.StopBits == 2 ? 2 : 1;
        Device->Parity.Bits = TParityBits(ParityCode(serial.Parity));
        Device->Parity.Check = true;
        Device->Parity.Replace = true;
        Device->Parity.ReplaceChar = '?';
        Device->DataBits = serial.DataBits >= 5 && serial.DataBits <= 7 ? serial.DataBits : 8;
        Device->BaudRate = baud;
        Device->EndUpdate();
    } catch (const std::exception&) {
        Device->EndUpdate();
        return -1;
    }
    return 0;
}

int TMediaCOM::ApplyLines()
{
    if (!Device) return -1;
    TComLineType* lines = ComLines();
    if (!lines) return -2;
    try {
        Device->BeginUpdate();
        Device->FlowControl.ControlRTS = lines->Has(TComLineType::LineRTS);
        Device->FlowControl.ControlDTR = lines->Has(TComLineType::LineDTR);
        Device->EndUpdate();
        if (Device->Connected()) Device->SetBreak(lines->Has(TComLineType::LineBREAK));
    } catch (const std::exception&) {
        return -1;
    }
    return 0;
}

bool TMediaCOM::Open()
{
    if (Closing) return false;
    if (!Device) Device = new TComPort(Owner);
    if (!Device->Connected()) {
        if (ApplyPort() < 0 || Configure() < 0) return false;
    }
    ApplyLines();
    HeldBy = 0;
    try {
        Device->Open();
    } catch (const std::exception& e) {
        LastError = e.what();
        ErrorFlag = true;
        HeldBy = Device->HeldBy;
        return false;
    }
    return true;
}

void TMediaCOM::Release(bool graceful)
{
    if (Closing || !Device) return;
    Closing = true;
    if (graceful) {
        try {
            Device->SetRTS(false);
            Device->SetDTR(false);
        } catch (...) {
        }
        try {
            Device->Close();
        } catch (...) {
        }
    }
    // Close may have reported the end to a handler that released the port already.
    if (Device) {
        TComPort* port = Device;
        Device = nullptr;
        port->ClearBuffer(true, true);
        port->AbortAllAsync();
        TComPort::Destroy(port);
    }
}

bool TLocalMedia::Close()
{
    Release(true);
    Closing = false;
    return true;
}

bool TLocalMedia::Abort()
{
    Release(false);
    Closing = false;
    return true;
}

int TMediaCOM::Write(const char* data, int count)
{
    if (!Device) return -1;
    if (!Device->Connected()) return -2;
    return Device->Write(data, count);
}

int TMediaCOM::WriteText(const std::string& text)
{
    if (!Device) return -1;
    if (!Device->Connected()) return -2;
    return Device->WriteStr(text);
}

bool TMediaCOM::Purge()
{
    if (!Device) return false;
    Device->ClearBuffer(true, true);
    return true;
}

// ---- USB adapter ----------------------------------------------------------------------------------------

static std::string ReadSysText(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return std::string();
    return Trim(f.read(4096).toStdString());
}

std::string TUsbLocator::Find(const std::string& product, const std::string& serial) const
{
    const QString ttyClass = QString::fromStdString(SysRoot) + "/class/tty";
    QStringList ttys = QDir(ttyClass).entryList({"ttyUSB*"}, QDir::Dirs | QDir::System | QDir::NoDotAndDotDot);
    // ttyUSB10 after ttyUSB9: the first adapter plugged in wins.
    std::sort(ttys.begin(), ttys.end(), [](const QString& a, const QString& b) {
        return a.size() != b.size() ? a.size() < b.size() : a < b;
    });
    for (const QString& tty : ttys) {
        // class/tty/ttyUSBn/device is the usb-serial port; the USB device that holds "product" is
        // its interface's parent.
        QString dir = QFileInfo(ttyClass + "/" + tty + "/device").canonicalFilePath();
        for (int level = 0; level < 4 && !dir.isEmpty(); ++level) {
            if (QFileInfo::exists(dir + "/product")) {
                if (ReadSysText(dir + "/product") == product &&
                    (serial.empty() || ReadSysText(dir + "/serial") == serial))
                    return DevRoot + "/" + tty.toStdString();
                break;
            }
            dir = QFileInfo(dir).path();
        }
    }
    return std::string();
}

// The adapter: a serial port found by its USB strings.
class TUsbSerial {
public:
    explicit TUsbSerial(QObject* owner) : Port(new TComPort(owner)) {}
    ~TUsbSerial() { TComPort::Destroy(Port); }

    std::string DeviceDescription;
    std::string SerialNumber;
    std::function<void(int count)> OnReceive;
    std::function<void()> OnClose;

    bool GetConnected() const { return Port->Connected(); }
    void ChangeRSParameters(int speed, int dataBits, int stopBits, int parity)
    {
        Port->BeginUpdate();
        Port->BaudRate = speed;
        Port->DataBits = dataBits;
        Port->StopBits = stopBits;
        Port->Parity.Bits = TParityBits(parity);
        Port->FlowControl = TComFlowControl{};
        Port->EndUpdate();
    }
    void ChangeOutLine(bool dtr, bool rts)
    {
        Port->SetDTR(dtr);
        Port->SetRTS(rts);
    }
    void SetBreak(bool on) { Port->SetBreak(on); }
    bool Open(int speed, int dataBits, int stopBits, int parity)
    {
        ChangeRSParameters(speed, dataBits, stopBits, parity);
        return Open();
    }
    // Opens with the settings it has (9600 8N1 until told otherwise).
    bool Open()
    {
        Port->HeldBy = 0;
        const std::string path = TMediaUSB::Locator().Find(DeviceDescription, SerialNumber);
        if (path.empty()) {
            LastError = "USB device not found: " + DeviceDescription;
            return false;
        }
        Port->SetPortValue(path);
        Port->TriggerRxChar = true;
        Port->OnRxChar = [this](int count) { if (OnReceive) OnReceive(count); };
        Port->OnAfterClose = [this] { if (OnClose) OnClose(); };
        try {
            Port->Open();
        } catch (const std::exception& e) {
            LastError = e.what();
            return false;
        }
        return true;
    }
    void Close() { Port->Close(); }
    void Purge() { Port->ClearBuffer(true, true); }
    int Write(const char* data, int count) { return Port->Write(data, count); }
    int Read(char* data, int count) { return Port->Read(data, count); }

    std::string LastError;
    TComPort* Port;
};

TUsbLocator& TMediaUSB::Locator()
{
    static TUsbLocator locator;
    return locator;
}

TMediaUSB::TMediaUSB(QObject* owner) : TLocalMedia(owner)
{
    TypeName = "USB";
    Caption = "Port USB";
    StoreLine(std::string(), true);
}

TMediaUSB::~TMediaUSB() { Release(false); }

int TMediaUSB::ApplyPort()
{
    if (Device) {
        Device->DeviceDescription = Name;
        if (!Description.empty()) Device->SerialNumber = Description;
    }
    return 0;
}

bool TMediaUSB::IsOpen() { return Device && Device->GetConnected(); }

bool TMediaUSB::SetMode(const std::string& text)
{
    if (!Mode) Mode = std::make_unique<TUSBModeType>();
    Mode->SetText(text);
    if (Device) Configure();
    auto* usb = dynamic_cast<TUSBModeType*>(Mode.get());
    return usb && usb->Valid;
}

bool TMediaUSB::SetLine(const std::string& name, bool on)
{
    const bool ok = StoreLine(name, on);
    if (Device) ApplyLines();
    return ok;
}

int TMediaUSB::Configure()
{
    TComModeType* mode = ComMode();
    if (!mode) return -2;
    if (!Device) return -1;
    Device->OnReceive = [this](int count) {
        if (count <= 0 || !Device) return;
        std::vector<char> buffer(static_cast<size_t>(count));
        const int n = Device->Read(buffer.data(), count);
        if (n > 0) FireData(buffer.data(), n);
    };
    Device->OnClose = [this] { FireClosed(); };
    TSerialSettings serial;
    int baud = 0;
    // A mode text that did not parse keeps the adapter's own settings; one that parsed with a speed
    // that is not a positive number never reaches the device.
    auto* usb = dynamic_cast<TUSBModeType*>(mode);
    if (usb && !usb->Valid) return 0;
    if (!mode->DeviceSettings(serial, baud)) return -4;
    try {
        Device->ChangeRSParameters(baud, serial.DataBits, serial.StopBits, ParityCode(serial.Parity));
        Device->ChangeOutLine(true, true);
    } catch (const std::exception&) {
        return -1;
    }
    return 0;
}

int TMediaUSB::ApplyLines()
{
    if (!Device) return -1;
    // The adapter always gets both lines on, whatever the line object says.
    Device->ChangeOutLine(true, true);
    TComLineType* lines = ComLines();
    Device->SetBreak(lines && lines->Has(TComLineType::LineBREAK));
    return 0;
}

bool TMediaUSB::Open()
{
    if (Closing) return false;
    if (!Device) Device = std::make_unique<TUsbSerial>(Owner);
    auto* mode = dynamic_cast<TUSBModeType*>(Mode.get());
    if (!mode || Configure() < 0 || ApplyPort() < 0) return false;
    bool opened = false;
    TSerialSettings serial;
    int baud = 0;
    if (mode->Valid && mode->DeviceSettings(serial, baud)) {
        opened = Device->Open(baud, serial.DataBits, serial.StopBits, ParityCode(serial.Parity));
        if (opened) ApplyLines();
    } else {
        opened = Device->Open();
    }
    if (!opened) {
        LastError = Device->LastError;
        ErrorFlag = true;
        HeldBy = Device->Port->HeldBy;
        return false;
    }
    // The adapter has no after-open event of its own.
    FireOpened();
    return true;
}

void TMediaUSB::Release(bool graceful)
{
    if (Closing || !Device) return;
    Closing = true;
    std::unique_ptr<TUsbSerial> device = std::move(Device);
    try {
        device->ChangeOutLine(false, false);
        if (graceful)
            device->Close();
        else
            device->Purge();
    } catch (...) {
    }
}


int TMediaUSB::Write(const char* data, int count)
{
    if (!Device) return -1;
    if (!Device->GetConnected()) return -2;
    return Device->Write(data, count);
}

bool TMediaUSB::Purge()
{
    if (Device) Device->Purge();
    return true;
}

bool TMediaUSB::SetNameAndDescription(const std::string& name, const std::string& description)
{
    const std::string n = Trim(name), d = Trim(description);
    bool changed = false;
    if (n != Name) {
        Name = n;
        changed = true;
    }
    if (d != Description) {
        Description = d;
        changed = true;
    }
    return changed ? ApplyPort() >= 0 : true;
}
