#include "station/link/ComPort.h"
#include "station/link/Media.h"
#include "station/link/MediaSerial.h"
#include "station/link/tests/LinkTestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <termios.h>

using namespace linktest;

TEST(ModeText, SpeedsAndSerialPart)
{
    TComModeType m;
    EXPECT_TRUE(m.SetText("1200 8N1"));
    EXPECT_EQ(m.Speed, 1200);
    EXPECT_EQ(m.Speed2, 1200);
    EXPECT_EQ(m.SerialText, "8N1");
    EXPECT_EQ(m.GetText(), "1200 8N1");

    EXPECT_TRUE(m.SetText("1200/9600,7e2"));
    EXPECT_EQ(m.Speed, 1200);
    EXPECT_EQ(m.Speed2, 9600);
    EXPECT_EQ(m.SerialText, "7E2");
    EXPECT_EQ(m.GetText(), "1200/9600 7E2");

    EXPECT_TRUE(m.SetText("  12 8n1 "));  // separator at position 3
    EXPECT_EQ(m.Speed2, 12);
    EXPECT_TRUE(m.SetText("ABC 8N1"));
    EXPECT_EQ(m.Speed, -1);
    EXPECT_EQ(m.Speed2, -1);
}

TEST(ModeText, RejectedTextsChangeNothing)
{
    TComModeType m;
    ASSERT_TRUE(m.SetText("4800 7E1"));
    for (const char* bad : {"1200", "1200 9N1", "1200 8X1", "1200 8N3", "1 8N1", "1200 8N", "", "1200 4N1"}) {
        EXPECT_FALSE(m.SetText(bad)) << bad;
        EXPECT_EQ(m.Speed, 4800) << bad;
        EXPECT_EQ(m.Speed2, 4800) << bad;
        EXPECT_EQ(m.SerialText, "7E1") << bad;
    }
    TSerialSettings s;
    ASSERT_TRUE(m.ParseSerial("", s));  // empty: the stored text
    EXPECT_EQ(s.DataBits, 7);
    EXPECT_EQ(s.Parity, 'E');
    EXPECT_EQ(ParityCode(s.Parity), 2);
    EXPECT_EQ(ParityCode('I'), 1);
    EXPECT_EQ(ParityCode('S'), 4);
}

TEST(ModeText, DeviceSettingsNeedPositiveSpeed)
{
    TComModeType m;
    TSerialSettings s;
    int baud = 0;
    ASSERT_TRUE(m.SetText("ABC 8N1"));
    EXPECT_FALSE(m.DeviceSettings(s, baud));
    ASSERT_TRUE(m.SetText("00 8N1"));
    EXPECT_FALSE(m.DeviceSettings(s, baud));
    ASSERT_TRUE(m.SetText("1200/-5 8N1"));
    EXPECT_FALSE(m.DeviceSettings(s, baud));
    ASSERT_TRUE(m.SetText("99999999999 8N1"));  // out of range reads as not a number
    EXPECT_FALSE(m.DeviceSettings(s, baud));
    ASSERT_TRUE(m.SetText("1200/9600 8N2"));
    ASSERT_TRUE(m.DeviceSettings(s, baud));
    EXPECT_EQ(baud, 9600);
    EXPECT_EQ(s.StopBits, 2);

    TUSBModeType u;
    EXPECT_TRUE(u.SetText("garbage"));
    EXPECT_FALSE(u.Valid);
    EXPECT_TRUE(u.SetText("9600 8N1"));
    EXPECT_TRUE(u.Valid);
}

TEST(LineSignals, NamesAndBits)
{
    TComLineType l;
    EXPECT_EQ(l.GetLine("dtr"), 1);
    EXPECT_EQ(l.GetLine(" RTS "), 1);
    EXPECT_EQ(l.GetLine("BREAK"), 0);
    EXPECT_EQ(l.GetLine(""), 0);
    EXPECT_EQ(l.GetLine("CTS"), -1);
    EXPECT_FALSE(l.SetLine("CTS", true));
    EXPECT_EQ(l.Flags, 3);
    EXPECT_TRUE(l.SetLine("", false));
    EXPECT_EQ(l.Flags, 3);
    EXPECT_TRUE(l.SetLine("break", true));
    EXPECT_TRUE(l.SetLine("Dtr", false));
    EXPECT_EQ(l.Flags, 10);
    TMediaLineType base;
    EXPECT_EQ(base.GetLine("DTR"), -1);
    EXPECT_FALSE(base.SetLine("DTR", true));
}

TEST(MediaFactory, TypeNamesAndBaseResults)
{
    EnsureApp();
    std::unique_ptr<TMedia> com(CreateMedia("com", nullptr));
    ASSERT_TRUE(com);
    EXPECT_EQ(com->TypeName, "COM");
    EXPECT_EQ(com->Caption, "Port COM");
    EXPECT_EQ(com->GetLine("dtr"), 1);
    EXPECT_EQ(com->GetMode(), "0");
    std::unique_ptr<TMedia> usb(CreateMedia("Usb", nullptr));
    ASSERT_TRUE(usb);
    EXPECT_EQ(usb->Caption, "Port USB");
    EXPECT_EQ(CreateMedia("serial", nullptr), nullptr);

    // Other media join by name; the name is matched without case.
    struct TStub : TMedia {
        TStub() { TypeName = "Stub"; }
    };
    RegisterMediaType("Stub", [](QObject*) { return new TStub; });
    std::unique_ptr<TMedia> stub(CreateMedia("STUB", nullptr));
    ASSERT_TRUE(stub);
    EXPECT_EQ(stub->Write("x", 1), -1);
    EXPECT_FALSE(stub->Open());
    EXPECT_EQ(stub->GetLine("DTR"), -1);
    EXPECT_TRUE(stub->SetName("  host:23 "));
    EXPECT_EQ(stub->GetName(), "host:23");
}

TEST(SerialMedium, ResultsWithoutPort)
{
    EnsureApp();
    TMediaCOM m;
    EXPECT_EQ(m.Write("a", 1), -1);
    EXPECT_EQ(m.WriteText("a"), -1);
    EXPECT_FALSE(m.Purge());
    EXPECT_EQ(m.Configure(), -1);
    EXPECT_FALSE(m.IsOpen());
    TMediaUSB u;
    EXPECT_TRUE(u.Purge());
    EXPECT_EQ(u.Write("a", 1), -1);
    EXPECT_FALSE(u.Open());  // no mode yet
}

TEST(SerialMedium, OpensPtyByModeAndExchangesBytes)
{
    Pty pty;
    TMediaCOM m;
    int opened = 0, closed = 0;
    std::string received;
    m.OnOpened = [&](TMedia* s) { EXPECT_EQ(s, &m); ++opened; };
    m.OnClosed = [&](TMedia*) { ++closed; };
    m.OnData = [&](TMedia*, const char* d, int n) { received.append(d, size_t(n)); };
    ASSERT_TRUE(m.SetName(pty.SlaveName));
    EXPECT_TRUE(m.SetMode("1200/9600 8N2"));
    EXPECT_EQ(m.GetMode(), "1200/9600 8N2");
    ASSERT_TRUE(m.Open()) << m.LastError;
    EXPECT_TRUE(m.IsOpen());
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(pty.Speed(), 9600);
    EXPECT_EQ(pty.StopBits(), 2);

    // While open a new mode is only stored.
    EXPECT_TRUE(m.SetMode("2400 8N1"));
    EXPECT_EQ(m.Configure(), -3);
    EXPECT_EQ(pty.Speed(), 9600);

    EXPECT_EQ(m.WriteText("HELLO\r"), 6);
    EXPECT_EQ(pty.ReadBytes(6), "HELLO\r");
    const std::string binary("\x02\x00\xff\x17", 4);
    EXPECT_EQ(m.Write(binary.data(), 4), 4);
    EXPECT_EQ(pty.ReadBytes(4), binary);

    pty.Write(std::string("AB\0\xb7", 4));
    EXPECT_TRUE(WaitUntil([&] { return received.size() >= 4; }));
    EXPECT_EQ(received, std::string("AB\0\xb7", 4));

    // Line signals and break on a pty are not supported: ignored, the port stays usable.
    EXPECT_TRUE(m.SetLine("BREAK", true));
    EXPECT_TRUE(m.SetLine("BREAK", false));
    EXPECT_TRUE(m.SetLine("DTR", false));
    EXPECT_EQ(m.GetLine("DTR"), 0);
    EXPECT_TRUE(m.IsOpen());

    EXPECT_TRUE(m.Close());
    EXPECT_FALSE(m.IsOpen());
    EXPECT_EQ(closed, 1);
    EXPECT_EQ(m.Write("x", 1), -1);
}

TEST(SerialMedium, FarEndHangUpIsReportedClosedOnce)
{
    Pty pty;
    TMediaCOM m;
    int closed = 0;
    m.OnClosed = [&](TMedia*) { ++closed; };
    m.SetName(pty.SlaveName);
    m.SetMode("9600 8N1");
    ASSERT_TRUE(m.Open()) << m.LastError;
    pty.CloseSlave();
    pty.CloseMaster();
    EXPECT_TRUE(WaitUntil([&] { return closed > 0; }));
    LetTimePass(200);
    EXPECT_EQ(closed, 1);
    EXPECT_FALSE(m.IsOpen());
    EXPECT_EQ(m.Write("x", 1), -2);
    // The handler may drop the port while its close is being reported.
    m.Abort();
    EXPECT_EQ(m.Write("x", 1), -1);
}

TEST(SerialMedium, ClosedReportMayReleaseThePort)
{
    Pty pty;
    TMediaCOM m;
    m.OnClosed = [&](TMedia* s) { s->Abort(); };
    m.SetName(pty.SlaveName);
    m.SetMode("9600 8N1");
    ASSERT_TRUE(m.Open());
    pty.CloseSlave();
    pty.CloseMaster();
    EXPECT_TRUE(WaitUntil([&] { return m.Write("x", 1) == -1; }));
    LetTimePass(50);
}

TEST(SerialMedium, FailuresLeaveItClosed)
{
    EnsureApp();
    TMediaCOM m;
    m.SetName("/nonexistent/ttyNONE");
    m.SetMode("9600 8N1");
    EXPECT_FALSE(m.Open());
    EXPECT_TRUE(m.ErrorFlag);
    EXPECT_NE(m.LastError.find("ttyNONE"), std::string::npos);
    EXPECT_FALSE(m.IsOpen());

    // A speed that is not a positive number never reaches the device.
    Pty pty;
    TMediaCOM bad;
    bad.SetName(pty.SlaveName);
    ASSERT_TRUE(bad.SetMode("FAST 8N1"));
    EXPECT_FALSE(bad.Open());
    EXPECT_EQ(bad.Configure(), -4);
    EXPECT_FALSE(bad.IsOpen());
    ASSERT_TRUE(bad.SetMode("00 8N1"));
    EXPECT_EQ(bad.Configure(), -4);
}

TEST(SerialMedium, PortNamesKeptAsTyped)
{
    EnsureApp();
    EXPECT_EQ(TComPort::DevicePath("com3"), "/dev/ttyS2");
    EXPECT_EQ(TComPort::DevicePath("ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(TComPort::DevicePath("/dev/pts/7"), "/dev/pts/7");
    TMediaCOM m;
    m.SetMode("9600 8N1");
    m.SetName("com2");
    m.Open();  // creates the port (the device may not exist)
    ASSERT_NE(m.Port(), nullptr);
    EXPECT_EQ(m.Port()->PortValue(), "COM2");
    m.Abort();
    m.SetName("ttyAcm0");
    m.Open();
    ASSERT_NE(m.Port(), nullptr);
    EXPECT_EQ(m.Port()->PortValue(), "ttyAcm0");
}

// The parity check and its replacement character reach the line discipline (a pseudo-terminal keeps the
// input flags and doubles a data byte 0xFF as the marking asks); a pseudo-terminal never reports a
// parity error, so the replacement of marked bytes is checked on the decoder itself.
TEST(SerialMedium, ParityCheckIsAppliedToTheLine)
{
    EnsureApp();
    for (const char* mode : {"1200 8E1", "1200 8N1"}) {
        SCOPED_TRACE(mode);
        Pty pty;
        TMediaCOM m;
        std::string received;
        m.OnData = [&](TMedia*, const char* d, int n) { received.append(d, size_t(n)); };
        m.SetMode(mode);
        m.SetName(pty.SlaveName);
        ASSERT_TRUE(m.Open()) << m.LastError;
        termios tio{};
        ASSERT_EQ(tcgetattr(pty.Slave, &tio), 0);
        const bool parity = std::string(mode).find('E') != std::string::npos;
        // (The parity bit itself is not kept by a pseudo-terminal.)
        EXPECT_EQ((tio.c_iflag & INPCK) != 0, parity);
        EXPECT_EQ((tio.c_iflag & PARMRK) != 0, parity);
        if (parity) {
            EXPECT_EQ(tio.c_iflag & (IGNPAR | ISTRIP), 0u);
        }
        pty.Write(std::string("A\xFF" "B\x00", 4));
        EXPECT_TRUE(WaitUntil([&] { return received.size() >= 4; }));
        LetTimePass(50);
        EXPECT_EQ(received, std::string("A\xFF" "B\x00", 4));
    }
}

TEST(SerialMedium, MarkedBytesAreReplacedAndDoubledBytesUndone)
{
    TParityMarks marks;
    marks.Replace = true;
    marks.ReplaceChar = '?';
    auto decode = [&](const std::string& in) { return marks.Decode(in.data(), in.size()); };
    EXPECT_EQ(decode(std::string("A\xFF\x00X" "B", 5)), "A?B");
    EXPECT_EQ(decode("\xFF\xFF"), "\xFF");
    // A mark split between reads.
    EXPECT_EQ(decode("C\xFF"), "C");
    EXPECT_EQ(decode(std::string(1, '\0')), "");
    EXPECT_EQ(decode("YZ"), "?Z");
    EXPECT_EQ(decode("\xFF"), "");
    EXPECT_EQ(decode("\xFF"), "\xFF");
    marks.Replace = false;  // checked, the faulty byte kept as received
    EXPECT_EQ(decode(std::string("\xFF\x00Z", 3)), "Z");
}

TEST(SerialMedium, PortNamesThatDifferByCaseAreDifferentPorts)
{
    EnsureApp();
    Pty pty;
    const std::string dir = TempDir();
    ASSERT_EQ(symlink(pty.SlaveName.c_str(), (dir + "/ttyUSB0").c_str()), 0);
    TMediaCOM m;
    m.SetMode("9600 8N1");
    m.SetName(dir + "/ttyusb0");  // mistyped: no such device
    EXPECT_FALSE(m.Open());
    EXPECT_TRUE(m.SetName(dir + "/ttyUSB0"));  // corrected by case alone
    EXPECT_EQ(m.GetName(), dir + "/ttyUSB0");
    ASSERT_TRUE(m.Open()) << m.LastError;
    EXPECT_EQ(m.Port()->PortValue(), dir + "/ttyUSB0");
}

namespace {

void WriteFile(const std::string& path, const std::string& text)
{
    FILE* f = fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr) << path;
    fputs(text.c_str(), f);
    fclose(f);
}

// A sysfs tree with two adapters: ttyUSB0 "Q5 USB" serial A1, ttyUSB1 "Q5 USB" serial B2, and ttyUSB2 of
// another product.
struct FakeSysfs {
    std::string Root = TempDir();
    std::string Dev = TempDir();
    FakeSysfs()
    {
        AddAdapter("ttyUSB0", "1-1", "Q5 USB", "A1");
        AddAdapter("ttyUSB1", "1-2", "Q5 USB", "B2");
        AddAdapter("ttyUSB2", "1-3", "Other cable", "C3");
        TMediaUSB::Locator().SysRoot = Root;
        TMediaUSB::Locator().DevRoot = Dev;
    }
    ~FakeSysfs() { TMediaUSB::Locator() = TUsbLocator{}; }
    void AddAdapter(const std::string& tty, const std::string& usb, const std::string& product,
                    const std::string& serial)
    {
        const std::string dev = Root + "/devices/pci0000:00/usb1/" + usb;
        const std::string port = dev + "/" + usb + ":1.0/" + tty;
        ASSERT_EQ(system(("mkdir -p '" + port + "' '" + Root + "/class/tty/" + tty + "'").c_str()), 0);
        WriteFile(dev + "/product", product + "\n");
        WriteFile(dev + "/serial", serial + "\n");
        ASSERT_EQ(symlink(port.c_str(), (Root + "/class/tty/" + tty + "/device").c_str()), 0);
    }
};

}  // namespace

TEST(UsbMedium, LocatorMatchesProductAndSerial)
{
    FakeSysfs fs;
    const TUsbLocator& loc = TMediaUSB::Locator();
    EXPECT_EQ(loc.Find("Q5 USB", ""), fs.Dev + "/ttyUSB0");
    EXPECT_EQ(loc.Find("Q5 USB", "B2"), fs.Dev + "/ttyUSB1");
    EXPECT_EQ(loc.Find("Other cable", ""), fs.Dev + "/ttyUSB2");
    EXPECT_EQ(loc.Find("Q5 USB", "C3"), "");
    EXPECT_EQ(loc.Find("Q5", ""), "");
    TUsbLocator none{fs.Root + "/missing", fs.Dev};
    EXPECT_EQ(none.Find("Q5 USB", ""), "");
}

TEST(UsbMedium, RunsAsSerialPortOnTheMatchingDevice)
{
    FakeSysfs fs;
    Pty pty;
    ASSERT_EQ(symlink(pty.SlaveName.c_str(), (fs.Dev + "/ttyUSB1").c_str()), 0);
    TMediaUSB m;
    int opened = 0, closed = 0;
    std::string received;
    m.OnOpened = [&](TMedia*) { ++opened; };
    m.OnClosed = [&](TMedia*) { ++closed; };
    m.OnData = [&](TMedia*, const char* d, int n) { received.append(d, size_t(n)); };
    EXPECT_TRUE(m.SetNameAndDescription(" q5 usb ", "b2"));
    EXPECT_EQ(m.Name, "q5 usb");  // kept exactly: the adapter's strings are matched exactly
    EXPECT_TRUE(m.SetNameAndDescription(" Q5 USB ", "B2"));
    EXPECT_EQ(m.Name, "Q5 USB");
    EXPECT_TRUE(m.SetMode("4800 8N2"));
    ASSERT_TRUE(m.Open()) << m.LastError;
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(pty.Speed(), 4800);
    EXPECT_EQ(pty.StopBits(), 2);
    EXPECT_EQ(m.Write("Q\r", 2), 2);
    EXPECT_EQ(pty.ReadBytes(2), "Q\r");
    pty.Write("\x02OK\x17");
    EXPECT_TRUE(WaitUntil([&] { return received.size() >= 4; }));
    EXPECT_EQ(received, "\x02OK\x17");
    pty.CloseSlave();
    pty.CloseMaster();
    EXPECT_TRUE(WaitUntil([&] { return closed > 0; }));
    EXPECT_FALSE(m.IsOpen());
    EXPECT_EQ(m.Write("x", 1), -2);
}

TEST(UsbMedium, InvalidModeOpensWithDeviceDefaults)
{
    FakeSysfs fs;
    Pty pty;
    ASSERT_EQ(symlink(pty.SlaveName.c_str(), (fs.Dev + "/ttyUSB0").c_str()), 0);
    TMediaUSB m;
    m.SetName("Q5 USB");
    EXPECT_FALSE(m.SetMode("fast please"));
    EXPECT_EQ(m.GetMode(), "0 ");
    ASSERT_TRUE(m.Open()) << m.LastError;
    EXPECT_EQ(pty.Speed(), 9600);
    EXPECT_TRUE(m.Close());
    EXPECT_FALSE(m.IsOpen());

    // A mode that parsed but holds no usable speed is refused before the device.
    TMediaUSB slow;
    slow.SetName("Q5 USB");
    EXPECT_TRUE(slow.SetMode("FAST 8N1"));
    EXPECT_FALSE(slow.Open());
    EXPECT_EQ(slow.Configure(), -4);
    EXPECT_FALSE(slow.IsOpen());

    TMediaUSB missing;
    missing.SetName("No such adapter");
    missing.SetMode("9600 8N1");
    EXPECT_FALSE(missing.Open());
    EXPECT_NE(missing.LastError.find("No such adapter"), std::string::npos);
}
