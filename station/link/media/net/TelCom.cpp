#include "station/link/media/net/TelCom.h"

using namespace Telnet;
using namespace ComPortOption;

void TTelComClient::QueueNegotiation()
{
    SendOptionCommand(DO, COM_PORT, false);
    TTelnetClient::QueueNegotiation();
}

bool TTelComClient::Connect()
{
    FSettingsSent = false;
    return TTelnetClient::Connect();
}

void TTelComClient::SessionConnected(uint16_t error)
{
    TTelnetClient::SessionConnected(error);
}

void TTelComClient::OptionReceived(unsigned char command, unsigned char option)
{
    if (option == COM_PORT && (command == WILL || command == DO)) {
        const bool newlyOurs = command == DO && !OurEnabled[COM_PORT];
        AcceptOption(command, option);
        // A server ignores settings that came before it had the option: they go again once it has.
        if (newlyOurs && FSettingsSent && SocketConnected())
            SendComPortSettings(true);
    } else
        TTelnetClient::OptionReceived(command, option);
}

void TTelComClient::DataSent(uint16_t error)
{
    if (State == tsNegotiating)
        SendComPortSettings(true);
    TTelnetClient::DataSent(error);
}

bool TTelComClient::SendByte(unsigned char command, unsigned char value, bool immediate)
{
    const std::string body = {static_cast<char>(command), static_cast<char>(value)};
    return SendSubOption(COM_PORT, body, immediate) > 0;
}

bool TTelComClient::SendBaudRate(bool immediate)
{
    const uint32_t v = static_cast<uint32_t>(BaudRate);
    const std::string body = {static_cast<char>(SET_BAUDRATE), static_cast<char>(v >> 24),
                              static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
    return SendSubOption(COM_PORT, body, immediate) > 0;
}

bool TTelComClient::SendSignal(int bit, bool on, bool immediate)
{
    unsigned char value = 0;
    switch (bit) {
    case SignalBREAK: value = on ? 5 : 6; break;
    case SignalDTR: value = on ? 8 : 9; break;
    case SignalRTS: value = on ? 11 : 12; break;
    default: return false;
    }
    return SendByte(SET_CONTROL, value, immediate);
}

int32_t TTelComClient::SetBaudRate(int32_t v, bool immediate)
{
    BaudRate = v;
    if (Connected())
        SendBaudRate(immediate);
    return BaudRate;
}

int32_t TTelComClient::SetDataBits(int32_t v, bool immediate)
{
    DataBits = v < 5 ? 5 : v > 8 ? 8 : v;
    if (Connected())
        SendByte(SET_DATASIZE, static_cast<unsigned char>(DataBits), immediate);
    return DataBits;
}

namespace {
// Our parity codes (none, even, odd, mark, space) to the option's values (none 1, odd 2, even 3, mark 4,
// space 5).
unsigned char WireParity(uint8_t p)
{
    switch (p) {
    case TTelComClient::ParityEven: return 3;
    case TTelComClient::ParityOdd: return 2;
    case TTelComClient::ParityMark: return 4;
    case TTelComClient::ParitySpace: return 5;
    default: return 1;
    }
}
unsigned char WireFlow(uint8_t f)
{
    return f == TTelComClient::FlowXonXoff ? 2 : f == TTelComClient::FlowHardware ? 3 : 1;
}
} // namespace

uint8_t TTelComClient::SetParity(uint8_t v, bool immediate)
{
    Parity = v;
    if (Connected())
        SendByte(SET_PARITY, WireParity(Parity), immediate);
    return Parity;
}

int32_t TTelComClient::SetStopBits(int32_t v, bool immediate)
{
    StopBits = v < 1 ? 1 : v > 3 ? 3 : v;
    if (Connected())
        SendByte(SET_STOPSIZE, static_cast<unsigned char>(StopBits), immediate);
    return StopBits;
}

uint8_t TTelComClient::SetFlowControl(uint8_t v, bool immediate)
{
    FlowControl = v;
    if (Connected())
        SendByte(SET_CONTROL, WireFlow(FlowControl), immediate);
    return FlowControl;
}

int32_t TTelComClient::SetLineSignals(int32_t mask, bool immediate)
{
    const int32_t before = LineSignals;
    LineSignals |= mask;
    if (Connected()) {
        bool sent = false;
        for (int bit : {SignalDTR, SignalRTS, SignalBREAK})
            if ((mask & bit) && !(before & bit)) {
                SendSignal(bit, true, false);
                sent = true;
            }
        if (sent)
            SendRaw(nullptr, 0, immediate);
    }
    return LineSignals;
}

int32_t TTelComClient::ClearLineSignals(int32_t mask, bool immediate)
{
    const int32_t before = LineSignals;
    LineSignals &= ~mask;
    if (Connected()) {
        bool sent = false;
        for (int bit : {SignalDTR, SignalRTS, SignalBREAK})
            if ((mask & bit) && (before & bit)) {
                SendSignal(bit, false, false);
                sent = true;
            }
        if (sent)
            SendRaw(nullptr, 0, immediate);
    }
    return LineSignals;
}

bool TTelComClient::SendComPortSettings(bool immediate)
{
    FSettingsSent = true;
    bool ok = SendBaudRate(false);
    ok = SendByte(SET_DATASIZE, static_cast<unsigned char>(DataBits), false) && ok;
    ok = SendByte(SET_PARITY, WireParity(Parity), false) && ok;
    ok = SendByte(SET_STOPSIZE, static_cast<unsigned char>(StopBits), false) && ok;
    ok = SendByte(SET_CONTROL, WireFlow(FlowControl), false) && ok;
    ok = SendSignal(SignalDTR, (LineSignals & SignalDTR) != 0, false) && ok;
    ok = SendSignal(SignalRTS, (LineSignals & SignalRTS) != 0, false) && ok;
    ok = SendSignal(SignalBREAK, (LineSignals & SignalBREAK) != 0, immediate) && ok;
    return ok;
}

// ---------------------------------------------------------------------------------------------------------

TMediaTelCom::TMediaTelCom(QObject* owner) : TMediaTelnet(owner)
{
    TypeName = "TelCom";
    Caption = "Port TelCom";
    Owner = owner;
    SetLine("", true);
}

TMediaTelCom::~TMediaTelCom()
{
    DestroyClient(false);
}

int TMediaTelCom::CreateClient()
{
    DestroyClient(false);
    Device = std::make_unique<TTelComClient>();
    return 0;
}

int TMediaTelCom::DestroyClient(bool graceful)
{
    if (Device)
        TelCom()->ClearLineSignals(TTelComClient::SignalDTR | TTelComClient::SignalRTS);
    return TMediaTelnet::DestroyClient(graceful);
}

bool TMediaTelCom::IsOpen()
{
    return Device && Device->Connected();
}

bool TMediaTelCom::IsOpening()
{
    return Device && Device->Connecting();
}

bool TMediaTelCom::SetMode(const std::string& text)
{
    if (!Mode)
        Mode = std::make_unique<TComModeType>();
    const bool ok = Mode->SetText(text);
    if (Device)
        Configure();
    return ok;
}

bool TMediaTelCom::SetLine(const std::string& name, bool on)
{
    const bool ok = StoreLine(name, on);
    if (Device)
        ApplyLines();
    return ok;
}

bool TMediaTelCom::Open()
{
    const bool opened = TMediaTelnet::Open();
    const int configured = Configure();
    const int lines = ApplyLines();
    return opened && configured == 0 && lines == 0;
}

int TMediaTelCom::Configure()
{
    if (!Device)
        return -1;
    TComModeType* mode = ComMode();
    if (!mode)
        return -2;
    try {
        TSerialSettings s;
        mode->ParseSerial(std::string(), s);
        TTelComClient* c = TelCom();
        c->SetStopBits(s.StopBits);
        uint8_t parity = TTelComClient::ParityNone;
        switch (s.Parity) {
        case 'E': case 'P': parity = TTelComClient::ParityEven; break;
        case 'I': case 'O': parity = TTelComClient::ParityOdd; break;
        case 'M': parity = TTelComClient::ParityMark; break;
        case 'S': parity = TTelComClient::ParitySpace; break;
        default: break;
        }
        c->SetParity(parity);
        c->SetDataBits(s.DataBits);
        c->SetBaudRate(mode->Speed2);
    } catch (...) {
        return -1;
    }
    return 0;
}

int TMediaTelCom::ApplyLines()
{
    if (!Device)
        return -1;
    TComLineType* lines = ComLines();
    if (!lines)
        return -2;
    try {
        TTelComClient* c = TelCom();
        c->SetFlowControl(TTelComClient::FlowNone);
        int on = 0;
        int off = 0;
        (lines->Has(TComLineType::LineDTR) ? on : off) |= TTelComClient::SignalDTR;
        (lines->Has(TComLineType::LineRTS) ? on : off) |= TTelComClient::SignalRTS;
        (lines->Has(TComLineType::LineBREAK) ? on : off) |= TTelComClient::SignalBREAK;
        c->SetLineSignals(on, off == 0);
        c->ClearLineSignals(off, true);
    } catch (...) {
        return -1;
    }
    return 0;
}
