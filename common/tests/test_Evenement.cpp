// Event frames: the frame check, the record checks, the date and the texts of an event.
#include <gtest/gtest.h>

#include <random>

#include "common/Evenement.h"
#include "common/tests/support/Q5Images.h"

using namespace q5test;

namespace {
const Bytes kRecord = MakeRecord(0x12, {2025, 6, 1, 8, 30, 15}, {0x01, 0xF4, 0x00, 0x7D});

std::string Decoded(const std::string& frame, TEvenement& ev)
{
    ev.SetEvt(frame);
    return ev.DescString();
}
}   // namespace

TEST(EventFrame, ValidRecordDecodes)
{
    TEvenement ev(nullptr);
    ev.SetEvt(Frame(kRecord));
    EXPECT_TRUE(ev.Finished);
    EXPECT_TRUE(ev.Valid);
    EXPECT_FALSE(ev.Empty);
    EXPECT_EQ(ev.ErrorKind, EVT_NO_ERROR);
    EXPECT_EQ(ev.Evt(), Hex(kRecord));
    EXPECT_EQ(ev.Code, 0x12);
    EXPECT_EQ(ev.Length, static_cast<int>(kRecord.size()));
    double expected = 0;
    ASSERT_TRUE(TryEncodeDateTime(2025, 6, 1, 8, 30, 15, 0, expected));
    EXPECT_EQ(ev.Date, expected);
    // No measurement type matches without descriptions.
    EXPECT_EQ(ev.DescString(), "01/06/2025 08:30:15 : Unknow event.");
    EXPECT_EQ(ev.SymbolString(), "???");
    EXPECT_EQ(ev.AsciiString(), Hex(kRecord));
    EXPECT_EQ(ev.AsciiHeader(), "");
}

TEST(EventFrame, GarbageBeforeStxIsIgnored)
{
    TEvenement clean(nullptr), noisy(nullptr);
    clean.SetEvt(Frame(kRecord));
    noisy.SetEvt("ATZ\r\nOK\x17\x01" + Frame(kRecord) + "trailing");
    EXPECT_TRUE(noisy.Valid);
    EXPECT_EQ(noisy.Evt(), clean.Evt());
    EXPECT_EQ(noisy.Date, clean.Date);
}

TEST(EventFrame, ChecksumAndUnfinishedFrames)
{
    const std::string good = Frame(kRecord);
    TEvenement b(nullptr), c(nullptr), d(nullptr), e(nullptr);
    std::string wrong = good;
    wrong[wrong.size() - 1] = wrong.back() == '0' ? '1' : '0';
    EXPECT_EQ(Decoded(wrong, b), "Bad checksum event.");
    EXPECT_EQ(b.ErrorKind, EVT_BAD_CHECKSUM);
    EXPECT_TRUE(b.BadChecksum);
    EXPECT_TRUE(b.Empty);
    EXPECT_EQ(b.SymbolString(), "-");
    EXPECT_EQ(Decoded(good.substr(0, good.size() - 2), c), "Not finished event.");
    EXPECT_EQ(Decoded(good.substr(0, good.size() - 1), d), "Not finished event.");
    EXPECT_FALSE(d.Finished);
    EXPECT_TRUE(d.Empty);
    EXPECT_EQ(Decoded("no frame here", e), "Not finished event.");
    EXPECT_EQ(e.SymbolString(), "-");
}

TEST(EventFrame, LowerCaseCheckDigitsAreRefused)
{
    // A record whose check has letters, so that lower case differs.
    for (uint8_t v = 0; v < 255; ++v) {
        const std::string frame = Frame(MakeRecord(0x12, {}, {v}));
        const std::string check = frame.substr(frame.size() - 2);
        if (check.find_first_of("ABCDEF") == std::string::npos)
            continue;
        std::string lower = frame;
        for (size_t i = lower.size() - 2; i < lower.size(); ++i)
            lower[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(lower[i])));
        TEvenement ev(nullptr);
        EXPECT_EQ(Decoded(lower, ev), "Bad checksum event.");
        return;
    }
    FAIL() << "no check digit with a letter";
}

TEST(EventRecord, StructureFaults)
{
    TEvenement tooShort(nullptr), empty(nullptr), size(nullptr), sizeCheck(nullptr), end(nullptr);
    EXPECT_EQ(Decoded(Frame("12050"), tooShort), "Too short event.");
    EXPECT_TRUE(tooShort.Empty);   // too short records are dropped by a data file

    EXPECT_EQ(Decoded(Frame("FF0AFFFFFFFF"), empty), "Empty event (0xFF).");
    EXPECT_TRUE(empty.Valid);
    EXPECT_TRUE(empty.Empty);
    EXPECT_EQ(empty.Code, -1);
    EXPECT_EQ(empty.SymbolString(), "INI");

    // Length byte 0x20 while 0x1E bytes arrived.
    Bytes r = MakeRecord(0x12, {}, Bytes(18, 0x01));
    ASSERT_EQ(r.size(), 0x1Eu);
    r[1] = 0x20;
    EXPECT_EQ(Decoded(Frame(r), size), "Event has an incorrect size.");
    EXPECT_FALSE(size.Valid);
    EXPECT_FALSE(size.Empty);
    EXPECT_EQ(size.SymbolString(), "-");

    r = kRecord;
    r.back() = 0x01;
    EXPECT_EQ(Decoded(Frame(r), sizeCheck), "Bad size check event.");
    r = kRecord;
    r[r.size() - 2] = 0xFD;
    EXPECT_EQ(Decoded(Frame(r), end), "End of data corrupted event.");
    EXPECT_EQ(end.ErrorKind, EVT_END_CORRUPTED);
}

TEST(EventRecord, Dates)
{
    struct Case {
        Bytes date;
        const char* desc;
    };
    const Case cases[] = {
        {{0x80, 0x02, 0x03, 0x00, 0x00, 0x00}, "Event is not dated."},   // 2080, past 2049
        {{0x99, 0x02, 0x03, 0x04, 0x05, 0x06}, "03/02/1999 04:05:06 : Unknow event."},
        {{0x49, 0x12, 0x31, 0x23, 0x59, 0x59}, "31/12/2049 23:59:59 : Unknow event."},
        {{0x1A, 0x02, 0x03, 0x00, 0x00, 0x00}, "Event is not dated."},   // not decimal
        {{0x25, 0x04, 0x31, 0x00, 0x00, 0x00}, "Event is not dated."},   // 31 April
        {{0x25, 0x02, 0x29, 0x00, 0x00, 0x00}, "Event is not dated."},
        {{0x24, 0x02, 0x29, 0x00, 0x00, 0x00}, "29/02/2024 00:00:00 : Unknow event."},
        {{0x25, 0x06, 0x01, 0x24, 0x00, 0x00}, "Event is not dated."},
        {{0x25, 0x06, 0x01, 0x00, 0x60, 0x00}, "Event is not dated."},
    };
    for (const Case& c : cases) {
        TEvenement ev(nullptr);
        EXPECT_EQ(Decoded(Frame(MakeRecordRawDate(0x12, c.date, {})), ev), c.desc) << Hex(c.date);
        EXPECT_TRUE(ev.Valid);
    }
    // A valid record too short to hold a date is valid and not dated.
    TEvenement small(nullptr);
    EXPECT_EQ(Decoded(Frame("1204FE04"), small), "Event is not dated.");
    EXPECT_TRUE(small.Valid);
}

TEST(EventFrame, ChecksumText)
{
    EXPECT_EQ(TEvenement::FrameChecksum(""), "00");
    EXPECT_EQ(TEvenement::FrameChecksum(std::string("\x02" "1" "AB" "\x17")), "27");
    const std::string frame = Frame("ABCD");
    EXPECT_EQ(frame, std::string("\x02" "1ABCD\x17") + TEvenement::FrameChecksum(frame.substr(0, frame.size() - 2)));
}

TEST(EventFrame, AnyBytesAreSafe)
{
    std::mt19937 rng(1234);
    const std::string alphabet = std::string("0123456789ABCDEFfe\x02\x17", 20);
    for (int round = 0; round < 3000; ++round) {
        std::string text;
        const int n = static_cast<int>(rng() % 40);
        for (int i = 0; i < n; ++i)
            text += round % 2 ? static_cast<char>(rng() & 0xFF) : alphabet[rng() % alphabet.size()];
        if (round % 3 == 0)
            text = Frame(text.substr(0, text.size() & ~size_t(1)));
        TEvenement ev(nullptr);
        ev.SetEvt(text);
        EXPECT_FALSE(ev.DescString().empty());
        EXPECT_FALSE(ev.SymbolString().empty());
        (void)ev.AsciiString();
    }
}

// ---- events with measurement types and an instrument ----------------------------------------------

#include "common/Q5File.h"
#include "common/tests/DescTestEnv.h"

namespace {
const char* kElValues = "Date,1,\"Date\",1,\"Date\"\n"
                        "Time,2,\"Time\",2,\"Time\"\n"
                        "Sun,3,\"Sun count\",3,\"Sun\"\n"
                        "Temp,4,\"Temperature\",5,\"Temp\"\n";
const char* kElTypes = "S 1,0x12,NSU,\"Direct sun\",0\n"
                       "I SP0A0000-SP0AFFFF\n"
                       "E VAL_DATE,4,Date\n"
                       "E VAL_TIME,7,Time\n"
                       "E VAL_CN,10,Sun,F=1,T=SUN\n"
                       "E VAL_TEMP,12,Temp,D=1\n";
const char* kInstruments = "T SP0A0001\nN \"Test photometer\"\nF 1,440,SUN,1\n";

struct TypedEventTest : ::testing::Test {
    ScopedDescLists lists;
    void SetUp() override
    {
        lists.Ins().LoadFromText(kInstruments);
        lists.El().LoadFromText(kElValues);
        lists.Scn().LoadFromText(kElTypes);
    }
};
const Bytes kSun = MakeRecord(0x12, {2025, 6, 1, 8, 30, 15}, {0x01, 0x2C, 0x01, 0xF4});
}   // namespace

TEST_F(TypedEventTest, TypeTextsAndLazyElements)
{
    TEvenement ev(nullptr);   // no file: identifier empty, outside the type's range
    ev.SetEvt(Frame(kSun));
    EXPECT_EQ(ev.ScnType, nullptr);

    TQ5File file;
    file.SetParamBloc(Hex(MakeParamBlock(0x0A, "SP0A0002")));
    TEvenement typed(&file);
    typed.SetEvt(Frame(kSun));
    ASSERT_NE(typed.ScnType, nullptr);
    EXPECT_EQ(typed.DescString(), "01/06/2025 08:30:15 : Direct sun");
    EXPECT_EQ(typed.SymbolString(), "NSU");
    EXPECT_FALSE(typed.ElementsBuilt());
    EXPECT_EQ(typed.Count(), 4);
    EXPECT_TRUE(typed.ElementsBuilt());
    EXPECT_EQ(typed.AsciiString(), "1/6/2025,8:30:15,300,10.0");
    EXPECT_EQ(typed.AsciiHeader(), "Date,Time,Sun Filter SUN n\xB0" "1,Temp");
    lists.Scn().SepList = "\t";
    EXPECT_EQ(typed.AsciiString(), "1/6/2025\t8:30:15\t300\t10.0");
    typed.ReleaseElements();
    EXPECT_FALSE(typed.ElementsBuilt());
    EXPECT_EQ(typed.AsciiHeader(), "Date\tTime\tSun Filter SUN n\xB0" "1\tTemp");
    // Undated events get their elements too.
    TEvenement undated(&file);
    undated.SetEvt(Frame(MakeRecordRawDate(0x12, {0x1A, 1, 1, 0, 0, 0}, {0x00, 0x05, 0x01, 0xF4})));
    EXPECT_EQ(undated.DescString(), "Event is not dated.");
    EXPECT_EQ(undated.Count(), 4);
    EXPECT_EQ(undated.Items(2)->GetASCIIString(), "5");
}

TEST_F(TypedEventTest, FiltersResolveAgainstTheFilesInstrument)
{
    TempDir dir;
    const std::string path = dir.File("a.q5");
    WriteFile(path, MakeImage(MakeParamBlock(0x0A, "SP0A0001"), {kSun, kSun}));
    TQ5File file(path);
    ASSERT_NE(file.Instrument, nullptr);
    EXPECT_EQ(file.InstruName(), "Test photometer");
    ASSERT_EQ(file.Events.Count(), 2);
    // Built after the instrument was attached, or before it and resolved by AttachInstrument.
    EXPECT_EQ(file.Events[0]->AsciiHeader(), "Date,Time,SUN 440 nm,Temp");
    TQ5File other;
    other.LoadFromBytes(file.Image.get(), static_cast<size_t>(file.ImageLength));
    EXPECT_EQ(other.Instrument, nullptr);
    EXPECT_EQ(other.Events[0]->AsciiHeader(), "Date,Time,Sun Filter SUN n\xB0" "1,Temp");
    EXPECT_FALSE(other.AttachInstrument(nullptr));
    EXPECT_TRUE(other.AttachInstrument(file.Instrument));
    EXPECT_EQ(other.Events[0]->AsciiHeader(), "Date,Time,SUN 440 nm,Temp");
    EXPECT_EQ(other.Events[1]->AsciiHeader(), "Date,Time,SUN 440 nm,Temp");

    TQ5File unknown;
    unknown.SetParamBloc(Hex(MakeParamBlock(0x0A, "SP990000")));
    EXPECT_EQ(unknown.InstruName(), "Inconnu (SP990000)");
}

TEST_F(TypedEventTest, FilterPositionFromASiblingValueAnywhereInTheRecord)
{
    // Each measurement takes its filter position from another value of the record: listed after it,
    // before it, shown with decimals, as a label, as a marker.
    lists.El().LoadFromText("Pos,4,\"Position\",5,\"Pos\"\n");
    lists.Scn().LoadFromText("S 2,0x13,NSK,\"Sky\",0\n"
                             "I SP0A0000-SP0AFFFF\n"
                             "E VAL_CN,10,Sun,F=Pos,T=SUN\n"
                             "E VAL_BYTECN,12,Pos\n"
                             "E VAL_CN,13,Sun,F=Pos,T=SUN\n"
                             "S 3,0x14,NSX,\"Odd positions\",0\n"
                             "I SP0A0000-SP0AFFFF\n"
                             "E VAL_CN,10,Sun,F=Pos,T=SUN\n"
                             "E VAL_HUM,12,Pos,D=1\n"
                             "S 4,0x15,NSY,\"Labelled positions\",0\n"
                             "I SP0A0000-SP0AFFFF\n"
                             "E VAL_CN,10,Sun,F=Pos,T=SUN\n"
                             "E VAL_BYTECN,12,Pos,SIG_1=\"One\",SIG_3=\"3\"\n");
    lists.Ins().LoadFromText("T SP0A0002\nN \"Two filters\"\nF 1,440,SUN,1\nF 3,870,SUN,3\nF 9,1020,SUN,2\n");
    TempDir dir;
    const std::string path = dir.File("sky.q5");
    WriteFile(path, MakeImage(MakeParamBlock(0x0A, "SP0A0002"),
                              {MakeRecord(0x13, {2025, 6, 1, 8, 0, 0}, {0x01, 0x00, 0x03, 0x00, 0x07}),
                               MakeRecord(0x13, {2025, 6, 1, 8, 2, 0}, {0x01, 0x00, 0xFF, 0x00, 0x07}),
                               MakeRecord(0x14, {2025, 6, 1, 8, 4, 0}, {0x01, 0x00, 0x02}),
                               MakeRecord(0x14, {2025, 6, 1, 8, 6, 0}, {0x01, 0x00, 0x05}),
                               MakeRecord(0x15, {2025, 6, 1, 8, 8, 0}, {0x01, 0x00, 0x01}),
                               MakeRecord(0x15, {2025, 6, 1, 8, 10, 0}, {0x01, 0x00, 0x03})}));
    TQ5File file(path);
    ASSERT_NE(file.Instrument, nullptr);
    ASSERT_EQ(file.Events.Count(), 6);
    EXPECT_EQ(file.Events[0]->AsciiHeader(), "SUN 870 nm,Pos,SUN 870 nm");
    EXPECT_EQ(file.Events[0]->AsciiString(), "256,3,7");
    EXPECT_EQ(file.Events[1]->AsciiHeader(), "Sun,Pos,Sun");   // 255 is no filter of this instrument
    // Half a unit per count: 1 reads 1.0, a text with decimals is no position.
    EXPECT_EQ(file.Events[2]->AsciiHeader(), "Sun,Pos");
    EXPECT_EQ(file.Events[3]->AsciiString(), "256,2.5");
    EXPECT_EQ(file.Events[3]->AsciiHeader(), "Sun,Pos");
    // A label word is no position; a label that reads as a number is one.
    EXPECT_EQ(file.Events[4]->AsciiString(), "256,One");
    EXPECT_EQ(file.Events[4]->AsciiHeader(), "Sun,Pos");
    EXPECT_EQ(file.Events[5]->AsciiHeader(), "SUN 870 nm,Pos");
    lists.Scn().ForceDisplayDecimalValue = 1;   // the numbers themselves: 1 is the 440 nm filter
    TQ5File forced(path);
    EXPECT_EQ(forced.Events[4]->AsciiHeader(), "SUN 440 nm,Pos");
}
