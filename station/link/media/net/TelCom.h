#pragma once
// Remote serial port over telnet: the telnet client that also negotiates the COM-PORT option (44) and
// sends the serial settings and line signals to the serial server.
#include "station/link/media/net/Telnet.h"

namespace ComPortOption {
constexpr unsigned char COM_PORT = 44;
constexpr unsigned char SET_BAUDRATE = 1, SET_DATASIZE = 2, SET_PARITY = 3, SET_STOPSIZE = 4, SET_CONTROL = 5;
} // namespace ComPortOption

class TTelComClient : public TTelnetClient {
public:
    enum : int { SignalDTR = 1, SignalRTS = 2, SignalBREAK = 4 };
    enum : uint8_t { ParityNone, ParityEven, ParityOdd, ParityMark, ParitySpace };
    enum : uint8_t { FlowNone, FlowXonXoff, FlowHardware };

    int32_t BaudRate = 1200;
    int32_t DataBits = 8;
    uint8_t Parity = ParityNone;
    int32_t StopBits = 1;  // 1 one, 2 two, 3 one and a half
    uint8_t FlowControl = FlowNone;
    int32_t LineSignals = 8;  // none of DTR, RTS, BREAK

    std::string GetDefaultPort() override { return "1470"; }
    void SessionConnected(uint16_t error) override;
    bool Connect() override;
    void OptionReceived(unsigned char command, unsigned char option) override;
    void DataSent(uint16_t error) override;
    void SubOptionReceived(unsigned char) override {}
    void CommandBRK() override {}
    void CommandIP() override {}

    int32_t SetBaudRate(int32_t v, bool immediate = true);
    int32_t SetDataBits(int32_t v, bool immediate = true);
    uint8_t SetParity(uint8_t v, bool immediate = true);
    int32_t SetStopBits(int32_t v, bool immediate = true);
    uint8_t SetFlowControl(uint8_t v, bool immediate = true);
    int32_t SetLineSignals(int32_t mask, bool immediate = true);
    int32_t ClearLineSignals(int32_t mask, bool immediate = true);
    bool SendComPortSettings(bool immediate);

protected:
    void QueueNegotiation() override;
    bool SendBaudRate(bool immediate);
    bool SendByte(unsigned char command, unsigned char value, bool immediate);
    bool SendSignal(int bit, bool on, bool immediate);

    bool FSettingsSent = false;
};

class TMediaTelCom : public TMediaTelnet {
public:
    explicit TMediaTelCom(QObject* owner = nullptr);
    ~TMediaTelCom() override;

    int CreateClient() override;
    int DestroyClient(bool graceful) override;
    bool IsOpen() override;
    bool IsOpening() override;
    bool SetMode(const std::string& text) override;
    std::string GetMode() override { return ModeText(); }
    bool SetLine(const std::string& name, bool on) override;
    int GetLine(const std::string& name) override { return LineValue(name); }
    bool Open() override;

    int Configure();
    int ApplyLines();
    TTelComClient* TelCom() const { return static_cast<TTelComClient*>(Device.get()); }
};
