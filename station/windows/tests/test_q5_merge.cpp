#include "station/windows/Q5Merge.h"

#include "common/DateTime.h"
#include "common/Prompt.h"
#include "common/Q5File.h"
#include "common/tests/support/Q5Images.h"

#include <filesystem>
#include <gtest/gtest.h>

using namespace q5test;
namespace fs = std::filesystem;

namespace {

Bytes Record(int day, int hour, uint8_t value = 1) { return MakeRecord(0x21, {2025, 6, day, hour, 0, 0}, {value, 2, 3}); }

class Q5MergeTest : public ::testing::Test {
protected:
    std::string Write(const std::string& name, const std::string& id, const std::vector<Bytes>& records,
                      uint8_t type = 0x0A)
    {
        std::string path = (fs::path(folder) / name).string();
        WriteFile(path, MakeImage(MakeParamBlock(type, id), records, 300));
        return path;
    }
    std::vector<double> Dates(const std::string& path)
    {
        TQ5File file(path);
        std::vector<double> dates;
        for (const TEvenement* e : file.Events) dates.push_back(e->Date);
        return dates;
    }
    static double At(int day, int hour)
    {
        double value = 0;
        TryEncodeDateTime(2025, 6, day, hour, 0, 0, 0, value);
        return value;
    }
    TempDir temp;
    std::string folder = (fs::path(temp.Path()) / "q5").string();
    std::string result = (fs::path(temp.Path()) / "out" / "merged.Q5").string();
    void SetUp() override { fs::create_directories(folder); }
};

TEST_F(Q5MergeTest, SameEventsInTwoFilesAppearOnce)
{
    Write("a.Q5", "SP000001", {Record(1, 8), Record(1, 9)});
    Write("b.Q5", "SP000001", {Record(1, 9), Record(1, 10)});
    ScopedPromptScript prompts;
    std::vector<int> progress;
    TQ5Merge merge;
    merge.OnProgress = [&](int p) { progress.push_back(p); };
    EXPECT_EQ(merge.Run(folder, result), TQ5Merge::Saved);
    EXPECT_EQ(Dates(result), (std::vector<double>{At(1, 8), At(1, 9), At(1, 10)}));
    EXPECT_TRUE(prompts.Asked().empty());
    EXPECT_EQ(progress.back(), 100);
}

TEST_F(Q5MergeTest, SingleFileIsCopiedAndFilteredByTheDayRange)
{
    Write("only.q5", "SP000001", {Record(1, 23), Record(2, 0), Record(2, 23), Record(3, 0)});
    TQ5Merge merge;
    EXPECT_EQ(merge.Run(folder, result), TQ5Merge::Saved);
    EXPECT_EQ(Dates(result).size(), 4u);
    EXPECT_EQ(merge.Run(folder, result, true, At(2, 15), At(2, 6)), TQ5Merge::Saved);
    EXPECT_EQ(Dates(result), (std::vector<double>{At(2, 0), At(2, 23)}));
}

TEST_F(Q5MergeTest, YesToTheInstrumentQuestionSuppressesBothQuestions)
{
    Write("1.Q5", "SP000001", {Record(1, 8)});
    Write("2.Q5", "SPB00001", {Record(1, 9)});
    Write("3.Q5", "SPC00001", {Record(1, 10)}, 0x0B);
    ScopedPromptScript prompts({PromptYes});
    EXPECT_EQ(TQ5Merge().Run(folder, result), TQ5Merge::Saved);
    EXPECT_EQ(prompts.Texts(), (std::vector<std::string>{"Q5 files come from different instruments, do you want to continue ?"}));
    EXPECT_EQ(Dates(result).size(), 3u);
}

TEST_F(Q5MergeTest, NoToAQuestionCancelsWithoutSaving)
{
    Write("1.Q5", "SP000001", {Record(1, 8)});
    Write("2.Q5", "SP000001", {Record(1, 9)}, 0x0B);  // same instrument, other parameters
    ScopedPromptScript prompts({PromptNo});
    EXPECT_EQ(TQ5Merge().Run(folder, result), TQ5Merge::Cancelled);
    EXPECT_EQ(prompts.Texts(), (std::vector<std::string>{"Q5 files don't have same parameters, do you want to continue ?",
                                                         "Merge cancelled"}));
    EXPECT_FALSE(fs::exists(result));
}

TEST_F(Q5MergeTest, FolderWithoutDataFileWarnsAndStops)
{
    WriteText((fs::path(folder) / "notes.txt").string(), "nothing");
    ScopedPromptScript prompts;
    EXPECT_EQ(TQ5Merge().Run(folder, result), TQ5Merge::NoDataFile);
    EXPECT_EQ(prompts.Asked().size(), 1u);
    EXPECT_FALSE(fs::exists(result));

    // A folder name as the file system has it (UTF-8) is shown intact.
    const std::string accented = (fs::path(temp.Path()) / "Données").string();
    fs::create_directories(accented);
    ScopedPromptScript again;
    EXPECT_EQ(TQ5Merge().Run(accented, result), TQ5Merge::NoDataFile);
    ASSERT_EQ(again.Asked().size(), 1u);
    EXPECT_EQ(again.Asked()[0].shown, "There is no Q5 file in the directory " + accented + ".");
}

TEST_F(Q5MergeTest, ResultThatCannotBeWrittenIsReported)
{
    Write("1.Q5", "SP000001", {Record(1, 8)});
    std::string blocked = (fs::path(temp.Path()) / "file").string();
    WriteText(blocked, "a file where a folder should be");
    ScopedPromptScript prompts;
    EXPECT_EQ(TQ5Merge().Run(folder, blocked + "/merged.Q5"), TQ5Merge::SaveFailed);
    ASSERT_EQ(prompts.Asked().size(), 1u);
    EXPECT_EQ(prompts.Asked()[0].kind, PromptKind::Warning);
}

}  // namespace
