#include "station/link/ComControl.h"
#include "station/link/ComPort.h"
#include "station/link/tests/LinkTestSupport.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>

using namespace linktest;

namespace {

// The handheld's side on a pty; the station's port feeds every chunk to the link.
struct FramedRig {
    Pty Far;
    TComPort Port;
    TComControl Link{&Port};
    std::vector<std::pair<int, std::string>> Results;

    FramedRig()
    {
        Port.SetPortValue(Far.SlaveName);
        Port.OnRxBuf = [this](const char* d, int n) { Link.DataReceived(d, n); };
        Port.Open();
        Link.OnResult = [this](int code) { Results.emplace_back(code, Link.Data); };
    }
    static std::string Frame(const std::string& text)
    {
        const std::string f = "\x02" + text + "\x03";
        return f + TComControl::ChecksumText(f);
    }
};

}  // namespace

TEST(FramedLink, CommandFrameAndGoodReply)
{
    FramedRig rig;
    rig.Link.SetCommand("RC");
    ASSERT_TRUE(rig.Link.SendCommand());
    EXPECT_EQ(rig.Far.ReadBytes(6), std::string("\x02RC\x03") + "10");
    // Noise before the STX is dropped; the reply may come in pieces.
    rig.Far.Write("zz\x02" "12");
    LetTimePass(30);
    rig.Far.Write("34\x03");
    rig.Far.Write(FramedRig::Frame("1234").substr(6));
    ASSERT_TRUE(WaitUntil([&] { return !rig.Results.empty(); }));
    EXPECT_EQ(rig.Results[0], (std::pair<int, std::string>{0, "1234"}));
    EXPECT_FALSE(rig.Link.Waiting);
    EXPECT_EQ(rig.Link.Data, "");  // only valid during the call
}

TEST(FramedLink, BadChecksumsAndRepliesWithoutStx)
{
    FramedRig rig;
    rig.Link.SetCommand("GR");
    ASSERT_TRUE(rig.Link.SendCommand());
    rig.Far.Write(std::string("\x02" "AB\x03") + "00");
    ASSERT_TRUE(WaitUntil([&] { return !rig.Results.empty(); }));
    EXPECT_EQ(rig.Results[0].first, -1);

    // Upper case only: 02^'J'^03 = 0x4B; "4b" fails.
    rig.Results.clear();
    rig.Link.SetCommand("GR");
    ASSERT_TRUE(rig.Link.SendCommand());
    rig.Far.Write("\x02J\x03" "4b");
    ASSERT_TRUE(WaitUntil([&] { return !rig.Results.empty(); }));
    EXPECT_EQ(rig.Results[0].first, -1);

    // No STX: the send opened the frame already.
    rig.Results.clear();
    ASSERT_TRUE(rig.Link.SendCommand());
    rig.Far.Write("J\x03" "4B");
    ASSERT_TRUE(WaitUntil([&] { return !rig.Results.empty(); }));
    EXPECT_EQ(rig.Results[0], (std::pair<int, std::string>{0, "J"}));
}

TEST(FramedLink, OwnerSendsTheNextCommandFromItsCallback)
{
    FramedRig rig;
    std::vector<std::string> replies;
    rig.Link.OnResult = [&](int code) {
        ASSERT_EQ(code, 0);
        replies.push_back(rig.Link.Data);
        if (replies.size() < 3) {
            rig.Link.SetCommand("GR" + std::to_string(replies.size()));
            rig.Link.SendCommand();
        }
    };
    rig.Link.SetCommand("RC");
    ASSERT_TRUE(rig.Link.SendCommand());
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(rig.Far.ReadBytes(i == 0 ? 6 : 7).substr(0, 1), "\x02");
        // Later replies come without STX: the frame opened by the send must still hold.
        rig.Far.Write(FramedRig::Frame("R" + std::to_string(i)).substr(i == 0 ? 0 : 1));
        ASSERT_TRUE(WaitUntil([&] { return replies.size() == size_t(i + 1); }));
    }
    EXPECT_EQ(replies, (std::vector<std::string>{"R0", "R1", "R2"}));
}

TEST(FramedLink, BytesAfterAReplyNeverCountForTheNextCommand)
{
    FramedRig rig;
    std::vector<std::pair<int, std::string>> results;
    rig.Link.OnResult = [&](int code) {
        results.emplace_back(code, rig.Link.Data);
        if (results.size() == 1) {
            rig.Link.SetCommand("GR");
            rig.Link.SendCommand();
        }
    };
    rig.Link.SetCommand("RC");
    ASSERT_TRUE(rig.Link.SendCommand());
    ASSERT_EQ(rig.Far.ReadBytes(6), std::string("\x02RC\x03") + "10");
    // The reply and, in the same chunk, what reads as a whole framed reply: it came before the
    // next command was sent, so it is no reply to it.
    rig.Far.Write(FramedRig::Frame("R0") + "J\x03" "4B");
    ASSERT_TRUE(WaitUntil([&] { return results.size() == 1; }));
    ASSERT_EQ(rig.Far.ReadBytes(6), std::string("\x02GR\x03") + "14");
    LetTimePass(100);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_TRUE(rig.Link.Waiting);
    rig.Far.Write(FramedRig::Frame("R1").substr(1));
    ASSERT_TRUE(WaitUntil([&] { return results.size() == 2; }));
    EXPECT_EQ(results, (std::vector<std::pair<int, std::string>>{{0, "R0"}, {0, "R1"}}));
}

TEST(FramedLink, ResendsOnceThenGivesUp)
{
    FramedRig rig;
    rig.Link.SetCommand("RC");
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(rig.Link.SendCommand());
    EXPECT_EQ(rig.Far.ReadBytes(6).size(), 6u);
    EXPECT_EQ(rig.Far.ReadBytes(6), std::string("\x02RC\x03") + "10");  // the resend
    const qint64 resentAfter = clock.elapsed();
    EXPECT_GE(resentAfter, 1200);
    ASSERT_TRUE(WaitUntil([&] { return !rig.Results.empty(); }));
    EXPECT_EQ(rig.Results[0].first, -2);
    EXPECT_GE(clock.elapsed(), 2500);  // two attempts of 1.3 s
    EXPECT_FALSE(rig.Link.Waiting);

    // A closed port sends nothing and arms nothing.
    rig.Port.Close();
    EXPECT_FALSE(rig.Link.SendCommand());
    EXPECT_FALSE(rig.Link.Waiting);
}
