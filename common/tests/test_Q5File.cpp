// Q5 data files on disk: loading, damaged and erased records, rebuilding, saving, merging, duplicates.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <random>

#include "common/DataPaths.h"
#include "common/Prompt.h"
#include "common/Q5File.h"
#include "common/tests/DescTestEnv.h"
#include "common/tests/support/Q5Images.h"

using namespace q5test;

namespace {

Bytes Rec(int day, int hour, int minute, uint8_t value = 1, uint8_t code = 0x12)
{
    return MakeRecord(code, {2025, 6, day, hour, minute, 0}, {0x00, value, 0x02, 0x03});
}

double When(int y, int mo, int d, int h, int mi, int s)
{
    double v = 0;
    TryEncodeDateTime(y, mo, d, h, mi, s, 0, v);
    return v;
}

std::vector<std::string> Hexes(const TQ5File& f)
{
    std::vector<std::string> out;
    for (const TEvenement* e : f.Events)
        out.push_back(e->Evt());
    return out;
}

struct Q5FileTest : ::testing::Test {
    TempDir dir;
    const Bytes param = MakeParamBlock(0x0A, "SP012345", {2025, 6, 1, 12, 0, 30}, {2025, 6, 1, 12, 0, 45});
    std::string Put(const std::string& name, const Bytes& image)
    {
        const std::string path = dir.File(name);
        WriteFile(path, image);
        return path;
    }
};

}   // namespace

TEST_F(Q5FileTest, LoadsRecordsHeaderAndIdentifier)
{
    const std::string path = Put("a.q5", MakeImage(param, {Rec(1, 8, 0), Rec(1, 9, 0), Rec(2, 8, 0)}, 600));
    TQ5File f(path);
    EXPECT_EQ(f.FileName, path);
    EXPECT_FALSE(f.TooShort);
    ASSERT_EQ(f.Events.Count(), 3);   // the erased tail gives no event
    EXPECT_EQ(f.NbEvt(), 3);
    EXPECT_EQ(f.InstrumentType, 0x0A);
    EXPECT_EQ(f.InstrumentId, "SP012345");
    EXPECT_EQ(f.ParamBloc().size(), 512u);
    EXPECT_EQ(f.ParamBloc().substr(0, 2), "0A");
    EXPECT_EQ(f.InstrumentClock, When(2025, 6, 1, 12, 0, 30));
    EXPECT_TRUE(f.SecondsKnown);
    EXPECT_EQ(f.PcUtc, When(2025, 6, 1, 12, 0, 45));
    EXPECT_EQ(f.DataSize(), static_cast<int>(3 * Rec(1, 8, 0).size() * 2));
    EXPECT_EQ(f.Events[1]->Date, When(2025, 6, 1, 9, 0, 0));
    EXPECT_EQ(f.Events[0]->Q5File, &f);
    EXPECT_EQ(f.ImageLength, static_cast<int>(256 + 3 * Rec(1, 8, 0).size() + 600));
}

TEST_F(Q5FileTest, TooShortAndMissingFiles)
{
    TQ5File shortFile(Put("short.q5", Bytes(255, 0x00)));
    EXPECT_TRUE(shortFile.TooShort);
    EXPECT_EQ(shortFile.Events.Count(), 0);
    EXPECT_TRUE(shortFile.ParamBloc().empty());
    EXPECT_FALSE(shortFile.Rebuild());

    TQ5File missing(dir.File("none.q5"));
    EXPECT_EQ(missing.ImageLength, 0);
    EXPECT_FALSE(missing.Image);
    EXPECT_FALSE(missing.SaveToFile(dir.File("out.q5")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("out.q5")));

    TQ5File blockOnly(Put("block.q5", param));
    EXPECT_FALSE(blockOnly.TooShort);
    EXPECT_EQ(blockOnly.Events.Count(), 0);
    EXPECT_EQ(blockOnly.InstrumentId, "SP012345");
}

TEST_F(Q5FileTest, UnreadableFileWarns)
{
    // A file too large to be a data file cannot be read into memory (a sparse file: no disk used).
    // Permission bits would not stop root, and a descriptor limit would also starve the sanitizers.
    const std::string path = Put("huge.q5", MakeImage(param, {Rec(1, 8, 0)}));
    std::filesystem::resize_file(path, (std::uintmax_t(1) << 31) + 256);
    ScopedPromptScript script;
    TQ5File f(path);
    EXPECT_EQ(f.Events.Count(), 0);
    EXPECT_FALSE(f.Image);
    EXPECT_EQ(f.ImageLength, 0);
    ASSERT_EQ(script.Texts().size(), 1u);
    EXPECT_EQ(script.Texts()[0], "Unable to open the file! This file is probably used by another application.");
}

TEST_F(Q5FileTest, DamagedFraming)
{
    // (code 0x05: the byte after the zero length, read as a length, leads to no record end)
    Bytes bad = Rec(1, 9, 0, 1, 0x05);
    bad[bad.size() - 2] = 0x00;   // end marker lost: kept, invalid
    Bytes zero = {0x12, 0x00};      // a zero length is stepped over byte by byte
    TQ5File f(Put("d.q5", MakeImage(param, {Rec(1, 8, 0), zero, bad, Rec(1, 10, 0)})));
    ASSERT_EQ(f.Events.Count(), 3);
    EXPECT_TRUE(f.Events[0]->Valid);
    EXPECT_FALSE(f.Events[1]->Valid);
    EXPECT_EQ(f.Events[1]->DescString(), "End of data corrupted event.");
    EXPECT_TRUE(f.Events[2]->Valid);
    EXPECT_EQ(f.NbEvt(), 2);

    // A length running past the end stops the parse with what was read.
    Bytes cut = Rec(1, 11, 0);
    cut.resize(cut.size() - 3);
    TQ5File g(Put("cut.q5", MakeImage(param, {Rec(1, 8, 0), Rec(1, 9, 0), cut})));
    EXPECT_EQ(g.Events.Count(), 2);

    // A length byte not repeated at its end: skipped one byte at a time, later records still found.
    Bytes noRepeat = Rec(1, 9, 0);
    noRepeat.back() = 0x33;
    TQ5File h(Put("norepeat.q5", MakeImage(param, {noRepeat, Rec(1, 10, 0)}, 300)));
    ASSERT_GE(h.Events.Count(), 1);
    EXPECT_EQ(h.Events[h.Events.Count() - 1]->Date, When(2025, 6, 1, 10, 0, 0));
}

TEST_F(Q5FileTest, WhereTheRecordsStopShortOfTheEnd)
{
    const Bytes whole = MakeImage(param, {Rec(1, 8, 0), Rec(1, 9, 0)});
    TQ5File f(Put("whole.q5", whole));
    EXPECT_EQ(f.UnfinishedRecordAt, -1);
    TQ5File erased(Put("erased.q5", MakeImage(param, {Rec(1, 8, 0), Rec(1, 9, 0)}, 300)));
    EXPECT_EQ(erased.UnfinishedRecordAt, -1);
    EXPECT_EQ(Hexes(erased), Hexes(f));

    // Cut inside its third record: the two before it are read as from the whole file.
    Bytes cut = MakeImage(param, {Rec(1, 8, 0), Rec(1, 9, 0), Rec(1, 10, 0)});
    cut.resize(cut.size() - 3);
    TQ5File g(Put("cut.q5", cut));
    EXPECT_EQ(g.UnfinishedRecordAt, static_cast<int32_t>(whole.size()));
    EXPECT_EQ(Hexes(g), Hexes(f));
    // Cut after the code of the third record: no length to read.
    Bytes code = whole;
    code.push_back(0x12);
    TQ5File h(Put("code.q5", code));
    EXPECT_EQ(h.UnfinishedRecordAt, static_cast<int32_t>(whole.size()));

    // The image rebuilt from the events, or another one parsed, is whole.
    ASSERT_TRUE(g.Rebuild());
    EXPECT_EQ(g.UnfinishedRecordAt, -1);
    h.LoadFromBytes(whole.data(), whole.size());
    EXPECT_EQ(h.UnfinishedRecordAt, -1);
}

TEST_F(Q5FileTest, ErasedMemoryInTheMiddle)
{
    Bytes erased(255, 0xFF);
    TQ5File f(Put("e.q5", MakeImage(param, {Rec(1, 8, 0), erased, erased, Rec(1, 9, 0)}, 100)));
    EXPECT_EQ(f.Events.Count(), 2);
}

TEST_F(Q5FileTest, ParamBlocSetter)
{
    TQ5File f;
    f.SetParamBloc("0A");
    EXPECT_EQ(f.InstrumentType, 0x0A);
    EXPECT_EQ(f.InstrumentId, "SP0A0000");
    f.SetParamBloc("1");   // too short: type and identifier stay
    EXPECT_EQ(f.InstrumentId, "SP0A0000");
    // The instrument's reply prefix of 11 characters is removed.
    f.SetParamBloc("S0123456789" + Hex(MakeParamBlock(0x0B, "SP0B0042")));
    EXPECT_EQ(f.ParamBloc().size(), 512u);
    EXPECT_EQ(f.InstrumentType, 0x0B);
    EXPECT_EQ(f.InstrumentId, "SP0B0042");
    // Bytes 128-135 that do not begin with SP are not an identifier; a NUL ends one.
    f.SetParamBloc(Hex(MakeParamBlock(0x0C, "XX123456")));
    EXPECT_EQ(f.InstrumentId, "SP0C0000");
    f.SetParamBloc(Hex(MakeParamBlock(0x0C, "SP12")));
    EXPECT_EQ(f.InstrumentId, "SP12");
}

TEST_F(Q5FileTest, HeaderDatesEdgeCases)
{
    Bytes p = MakeParamBlock(0x0A, "", {2025, 4, 31, 12, 0, 0}, {2025, 13, 1, 0, 0, 0});
    TQ5File a(Put("a.q5", p));
    EXPECT_EQ(a.InstrumentClock, 0.0);   // 31 April
    EXPECT_EQ(a.PcUtc, 0.0);             // month 13
    p = MakeParamBlock(0x0A, "", {2025, 6, 1, 12, 5, 0xFF}, {});
    TQ5File b(Put("b.q5", p));
    EXPECT_FALSE(b.SecondsKnown);
    EXPECT_EQ(b.InstrumentClock, When(2025, 6, 1, 12, 5, 0));
    // Rebuild writes unknown seconds as 0xFF, which reads back as unknown.
    ASSERT_TRUE(b.Rebuild());
    EXPECT_EQ(b.Image[149], 0xFF);
    EXPECT_EQ(b.Image[151], 0);   // PC UTC absent: left zero
    TQ5File c;
    ASSERT_TRUE(c.LoadFromBytes(b.Image.get(), static_cast<size_t>(b.ImageLength)));
    EXPECT_FALSE(c.SecondsKnown);
    EXPECT_EQ(c.InstrumentClock, b.InstrumentClock);
}

TEST_F(Q5FileTest, RebuildParseRoundTrip)
{
    const Bytes image = MakeImage(param, {Rec(1, 8, 0), Rec(1, 9, 0, 7), Rec(2, 8, 0, 9)});
    TQ5File f(Put("r.q5", image));
    ASSERT_TRUE(f.Rebuild());
    EXPECT_EQ(Bytes(f.Image.get(), f.Image.get() + f.ImageLength), image);
    TQ5File g;
    ASSERT_TRUE(g.LoadFromBytes(f.Image.get(), static_cast<size_t>(f.ImageLength)));
    EXPECT_EQ(Hexes(g), Hexes(f));
    // Parsing again does not double the events.
    ASSERT_TRUE(g.Parse());
    EXPECT_EQ(g.Events.Count(), 3);
}

TEST_F(Q5FileTest, SaveCreatesFoldersAndReplacesAtomically)
{
    TQ5File f(Put("s.q5", MakeImage(param, {Rec(1, 8, 0)})));
    ASSERT_TRUE(f.Rebuild());
    const std::string target = dir.File("x/y/z/saved.q5");
    ASSERT_TRUE(f.SaveToFile(target));
    EXPECT_EQ(f.FileName, target);
    EXPECT_EQ(ReadFile(target), Bytes(f.Image.get(), f.Image.get() + f.ImageLength));

    // Replacing an existing file: the old one is whole until the new one is complete; no leftovers.
    WriteText(dir.File("x/y/z/other.q5"), "old content");
    ASSERT_TRUE(f.SaveToFile(dir.File("x/y/z/other.q5")));
    EXPECT_EQ(ReadFile(dir.File("x/y/z/other.q5")).size(), static_cast<size_t>(f.ImageLength));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.File("x/y/z")), {}), 2);

    // A folder that cannot be made (a file stands in its way): false, nothing written.
    WriteText(dir.File("blocker"), "file");
    EXPECT_FALSE(f.SaveToFile(dir.File("blocker/sub/f.q5")));
    // The target is a folder: false, the folder stays.
    std::filesystem::create_directory(dir.File("isdir.q5"));
    EXPECT_FALSE(f.SaveToFile(dir.File("isdir.q5")));
    EXPECT_TRUE(std::filesystem::is_directory(dir.File("isdir.q5")));
}

TEST_F(Q5FileTest, AssignCopiesTheOther)
{
    TQ5File a(Put("a.q5", MakeImage(param, {Rec(1, 8, 0), Rec(1, 9, 0)})));
    a.Events.Delete(0);   // changed in memory: Assign rebuilds it first
    TQ5File b;
    b.Assign(&a);
    EXPECT_EQ(b.Events.Count(), 1);
    EXPECT_EQ(Hexes(b), Hexes(a));
    EXPECT_EQ(b.FileName, a.FileName);
    EXPECT_EQ(b.InstrumentId, "SP012345");
    EXPECT_EQ(b.InstrumentClock, a.InstrumentClock);
    EXPECT_EQ(b.Events[0]->Q5File, &b);
    EXPECT_EQ(a.Events.Count(), 1);
    b.Assign(nullptr);
    EXPECT_EQ(b.Events.Count(), 0);
}

TEST_F(Q5FileTest, RemoveDuplicate)
{
    const Bytes A = Rec(1, 8, 0), B = Rec(1, 9, 0);
    TQ5File wrapped;
    wrapped.LoadFromBytes(MakeImage(param, {A, B, A}).data(), 256 + 3 * A.size());
    EXPECT_TRUE(wrapped.RemoveDuplicate());
    EXPECT_EQ(Hexes(wrapped), (std::vector<std::string>{Hex(A), Hex(B)}));
    EXPECT_FALSE(wrapped.RemoveDuplicate());

    TQ5File adjacent;
    adjacent.LoadFromBytes(MakeImage(param, {A, A, B}).data(), 256 + 3 * A.size());
    EXPECT_FALSE(adjacent.RemoveDuplicate());
    EXPECT_EQ(Hexes(adjacent), (std::vector<std::string>{Hex(A), Hex(B)}));

    // The first event that has a twin decides, not the first twin found.
    TQ5File order;
    order.LoadFromBytes(MakeImage(param, {A, B, B, A}).data(), 256 + 4 * A.size());
    EXPECT_TRUE(order.RemoveDuplicate());
    EXPECT_EQ(Hexes(order), (std::vector<std::string>{Hex(A), Hex(B), Hex(B)}));
}

TEST_F(Q5FileTest, RemoveInvalidEvents)
{
    Bytes bad = Rec(1, 9, 0);
    bad[bad.size() - 2] = 0x00;
    TQ5File f(Put("i.q5", MakeImage(param, {Rec(1, 8, 0), bad, Rec(1, 10, 0)})));
    ASSERT_EQ(f.Events.Count(), 3);
    f.RemoveInvalidEvents();
    EXPECT_EQ(f.Events.Count(), 2);
    EXPECT_EQ(f.NbEvt(), 2);
}

TEST_F(Q5FileTest, MergeAllMovesNewEvents)
{
    TQ5File mine(Put("m.q5", MakeImage(param, {Rec(1, 8, 0), Rec(1, 9, 0)})));
    Bytes bad = Rec(1, 11, 0);
    bad[bad.size() - 2] = 0x00;
    TQ5File other(Put("o.q5", MakeImage(param, {Rec(1, 9, 0, 5), Rec(1, 10, 0), bad, Rec(1, 10, 0, 6)})));
    EXPECT_TRUE(mine.HasEventAt(other.Events[0]));
    EXPECT_FALSE(mine.HasEventAt(other.Events[1]));
    EXPECT_FALSE(mine.HasEventAt(other.Events[2]));   // not valid
    TEvenement* moved = other.Events[1];
    EXPECT_TRUE(mine.MergeAll(&other));
    // 09:00 is held already, 10:00 moves, the invalid one and the second 10:00 stay behind.
    ASSERT_EQ(mine.Events.Count(), 3);
    EXPECT_EQ(mine.Events[2], moved);
    EXPECT_EQ(moved->Q5File, &mine);
    EXPECT_EQ(other.Events.Count(), 3);
    ASSERT_TRUE(mine.Rebuild());
    ASSERT_TRUE(mine.SaveToFile(dir.File("merged.q5")));
    TQ5File back(dir.File("merged.q5"));
    EXPECT_EQ(Hexes(back), Hexes(mine));
}

TEST_F(Q5FileTest, MergeRangeTakesWholeDays)
{
    TQ5File mine;
    mine.SetParamBloc(Hex(param));
    TQ5File other(Put("o.q5", MakeImage(param, {MakeRecord(0x12, {2025, 5, 31, 23, 59, 59}, {}),
                                                MakeRecord(0x12, {2025, 6, 1, 0, 0, 0}, {}),
                                                MakeRecord(0x12, {2025, 6, 1, 23, 59, 59}, {}),
                                                MakeRecord(0x12, {2025, 6, 2, 0, 0, 0}, {})})));
    const double day = When(2025, 6, 1, 0, 0, 0);
    EXPECT_TRUE(mine.MergeRange(&other, day, day));
    ASSERT_EQ(mine.Events.Count(), 2);
    EXPECT_EQ(mine.Events[0]->Date, day);
    EXPECT_EQ(mine.Events[1]->Date, When(2025, 6, 1, 23, 59, 59));
    EXPECT_EQ(other.Events.Count(), 2);
}

TEST_F(Q5FileTest, ParameterTemplate)
{
    TQ5File f(Put("t.q5", MakeImage(param, {Rec(1, 8, 0)})));
    const std::string before = f.ParamBloc();
    std::string templ(512, 'X');
    for (size_t i = 0; i < templ.size(); ++i)
        templ[i] = "0123456789ABCDEF"[i % 16];
    templ[99] = 'X';   // position 100 is kept
    f.ApplyParameterTemplate(templ);
    const std::string after = f.ParamBloc();
    for (size_t pos = 1; pos <= 512; ++pos) {
        const bool kept = pos <= 2 || (pos >= 81 && pos <= 84) || pos == 100 || pos == 512;
        EXPECT_EQ(after[pos - 1], kept ? before[pos - 1] : templ[pos - 1]) << "position " << pos;
    }
    // The image follows the block.
    EXPECT_EQ(BytesToHex(f.Image.get(), 144), after.substr(0, 288));
}

TEST_F(Q5FileTest, DownloadTimes)
{
    TQ5File f;
    f.SetParamBloc(Hex(param));
    const double clock = When(2025, 6, 1, 12, 0, 0);
    const double before = NowUTC();
    f.SetDownloadTimes(false, clock);
    EXPECT_GE(f.PcUtc, before);
    EXPECT_EQ(f.InstrumentClock, clock);
    EXPECT_FALSE(f.SecondsKnown);
    // Events added by a download are saved with their header.
    auto* ev = new TEvenement(&f);
    ev->SetEvt(Frame(Rec(1, 8, 0)));
    f.Events.Add(ev);
    ASSERT_TRUE(f.Rebuild());
    ASSERT_TRUE(f.SaveToFile(dir.File("dl.q5")));
    TQ5File back(dir.File("dl.q5"));
    EXPECT_EQ(back.Events.Count(), 1);
    EXPECT_EQ(back.InstrumentClock, clock);
    EXPECT_NEAR(back.PcUtc, f.PcUtc, 1.0 / 86400);
}

TEST_F(Q5FileTest, AnyBytesParseSafely)
{
    std::mt19937 rng(99);
    for (int round = 0; round < 400; ++round) {
        Bytes image = param;
        const size_t n = rng() % 2000;
        for (size_t i = 0; i < n; ++i) {
            // Mostly plausible lengths and markers, so the parser goes deep.
            const uint32_t r = rng();
            image.push_back(r % 5 == 0 ? 0xFE : r % 7 == 0 ? 0xFF : static_cast<uint8_t>(r >> 8));
        }
        if (round % 4 == 0)
            image.resize(rng() % 300);
        TQ5File f;
        f.LoadFromBytes(image.data(), image.size());
        for (const TEvenement* e : f.Events) {
            EXPECT_FALSE(e->DescString().empty());
            EXPECT_FALSE(e->Empty);
        }
        if (f.Rebuild()) {
            TQ5File g;
            g.LoadFromBytes(f.Image.get(), static_cast<size_t>(f.ImageLength));
            EXPECT_EQ(g.NbEvt(), f.NbEvt());
        }
    }
}

TEST_F(Q5FileTest, RecordsAreCheckedAndTypedFromTheirBytesAsTheirEventsAre)
{
    // The station's types, and records of their codes and lengths, whole or damaged.
    ScopedDescLists lists;
    lists.LoadFolder(InstalledDataDir());
    ASSERT_GT(lists.Scn().Count(), 5);
    std::mt19937 rng(7);
    Bytes image = MakeParamBlock(0x0A, "SP0A0123", {2025, 6, 1, 12, 0, 30}, {2025, 6, 1, 12, 0, 45});
    for (int r = 0; r < 3000; ++r) {
        const TScnType* type = lists.Scn()[static_cast<int>(rng() % static_cast<uint32_t>(lists.Scn().Count()))];
        size_t length = type->Length > 0 && rng() % 4 != 0 ? static_cast<size_t>(type->Length) : 3 + rng() % 60;
        Bytes record(length);
        for (uint8_t& b : record) b = static_cast<uint8_t>(rng());
        record[0] = rng() % 10 == 0 ? static_cast<uint8_t>(rng()) : type->Code;
        record[1] = static_cast<uint8_t>(length);
        record[length - 2] = rng() % 8 == 0 ? 0x00 : 0xFE;
        record[length - 1] = static_cast<uint8_t>(length);
        image.insert(image.end(), record.begin(), record.end());
    }
    TQ5File f;
    f.LoadFromBytes(image.data(), image.size());
    ASSERT_GT(f.Events.Count(), 2500);
    int typed = 0;
    for (int i = 0; i < f.Events.Count(); ++i) {
        std::string hex;
        TEvenement event(&f);
        event.SetRecordHex(f.Events.RecordHex(i, hex));
        EXPECT_EQ(f.Events.Valid(i), event.Valid != 0) << hex;
        EXPECT_EQ(f.Events.ErrorKind(i), event.ErrorKind) << hex;
        EXPECT_EQ(f.Events.ScnType(i), event.ScnType) << hex;
        typed += event.ScnType != nullptr;
    }
    EXPECT_GT(typed, 1000);
}
