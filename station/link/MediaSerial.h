#pragma once
// Local serial media: a serial port, and the instrument's USB adapter, found by its USB product string
// (and serial number) through sysfs and then driven as a serial port.
#include "station/link/Media.h"

#include <memory>
#include <string>

class TComPort;

// What the local serial media share: mode and line read-back, and close/abort through one release.
class TLocalMedia : public TMedia {
public:
    using TMedia::TMedia;
    std::string GetMode() override { return ModeText(); }
    int GetLine(const std::string& name) override { return LineValue(name); }
    bool Close() override;
    bool Abort() override;

protected:
    // Frees the device, gracefully (lines down, close reported) or at once; guarded by Closing.
    virtual void Release(bool graceful) = 0;
};

class TMediaCOM : public TLocalMedia {
public:
    explicit TMediaCOM(QObject* owner = nullptr);
    ~TMediaCOM() override;

    int ApplyPort() override;
    bool IsOpen() override;
    bool SetMode(const std::string& text) override;
    bool SetLine(const std::string& name, bool on) override;
    bool Open() override;
    int Write(const char* data, int count) override;
    int WriteText(const std::string& text) override;
    bool Purge() override;

    // Applies the mode to a closed port: 0, -1 no port, -2 no mode, -3 open, -4 invalid mode.
    int Configure();
    int ApplyLines();
    TComPort* Port() const { return Device; }

private:
    void Release(bool graceful) override;
    TComPort* Device = nullptr;
};

// Where the USB adapters are looked up: the sysfs root and the device folder (parameters for tests).
struct TUsbLocator {
    std::string SysRoot = "/sys";
    std::string DevRoot = "/dev";
    // Device path of the ttyUSB whose USB product string equals product (and whose serial number equals
    // serial when serial is not empty); empty when none is plugged in.
    std::string Find(const std::string& product, const std::string& serial) const;
};

class TUsbSerial;

class TMediaUSB : public TLocalMedia {
public:
    explicit TMediaUSB(QObject* owner = nullptr);
    ~TMediaUSB() override;

    int ApplyPort() override;
    bool IsOpen() override;
    bool SetMode(const std::string& text) override;
    bool SetLine(const std::string& name, bool on) override;
    bool Open() override;
    int Write(const char* data, int count) override;
    bool Purge() override;
    bool SetNameAndDescription(const std::string& name, const std::string& description);

    int Configure();
    int ApplyLines();

    // Lookup of the adapter; tests point it at a fake tree.
    static TUsbLocator& Locator();

private:
    void Release(bool graceful) override;
    std::unique_ptr<TUsbSerial> Device;
};
