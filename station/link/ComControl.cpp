#include "station/link/ComControl.h"

#include "station/link/ComPort.h"
#include "station/link/LinkText.h"


namespace {
const char STX = 0x02;
const char ETX = 0x03;
}  // namespace

TComControl::TComControl(TComPort* port) : Port(port)
{
    Timer.setInterval(100);
    Timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&Timer, &QTimer::timeout, [this] { TimerTick(); });
    Timer.start();
}

TComControl::~TComControl() { Timer.stop(); }

std::string TComControl::ChecksumText(const std::string& bytes) { return linktext::XorHex(bytes); }

void TComControl::SetCommand(const std::string& text)
{
    Command = text;
    TimeOutTicks = 13;
    Resends = 1;
}

bool TComControl::SendCommand()
{
    if (!Port || !Port->Connected()) return false;
    Waiting = true;
    InFrame = true;
    InChecksum = false;
    Data.clear();
    Checksum.clear();
    Countdown = TimeOutTicks;
    std::string frame = STX + Command + ETX;
    frame += ChecksumText(frame);
    Port->WriteStr(frame);
    return true;
}

void TComControl::Result(int code)
{
    // The reply state is reset before the owner is called, so that a command it sends from inside
    // the call starts clean; Data stays readable during the call.
    Waiting = false;
    InFrame = false;
    InChecksum = false;
    Checksum.clear();
    if (OnResult) OnResult(code);
    if (!Waiting) Data.clear();
}

void TComControl::DataReceived(const char* data, int count)
{
    for (int i = 0; i < count && Waiting; ++i) {
        const char c = data[i];
        if (c == STX) {
            InFrame = true;
            InChecksum = false;
            Data.clear();
        } else if (c == ETX && InFrame) {
            InChecksum = true;
            Checksum.clear();
        } else if (InChecksum) {
            Checksum += c;
            if (Checksum.size() == 2) {
                const bool good = Checksum == ChecksumText(STX + Data + ETX);
                Result(good ? 0 : -1);
                // The rest of this chunk came before any next command went out: it is no reply to it.
                return;
            }
        } else {
            Data += c;
        }
    }
}

void TComControl::TimerTick()
{
    if (!Waiting || Countdown <= 0) return;
    if (--Countdown > 0) return;
    if (Resends - 1 >= 0) {
        --Resends;
        // A port that closed meanwhile cannot resend: that is no reply either.
        if (SendCommand()) return;
    }
    Result(-2);
}
