#include "station/windows/ConversionASCIIFrm.h"
#include "station/windows/FusionQ5Frm.h"

#include "common/Prompt.h"
#include "common/tests/DescTestEnv.h"
#include "common/tests/support/Q5Images.h"

#include "station/windows/tests/TestApp.h"

#include <QApplication>
#include <QButtonGroup>
#include <QDateEdit>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <filesystem>
#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

class ConversionDialogsTest : public ::testing::Test {
protected:
    void SetUp() override { TestApplication(); }
    q5test::TempDir temp;
};

TEST_F(ConversionDialogsTest, ConversionChecksItsInputsBeforeConverting)
{
    std::string out = temp.File("ascii/new");
    TConversionASCIIFrm dialog(out, 5, "", false);
    EXPECT_EQ(dialog.ASCIIPeriodRadioGrp->checkedId(), 5);
    {
        ScopedPromptScript prompts;
        dialog.Q5ListView->clearSelection();
        QMetaObject::invokeMethod(&dialog, "RemoveBtnClick");
        EXPECT_EQ(prompts.Texts(), (std::vector<std::string>{"Select first the files you want to remove from the list."}));
    }
    {
        // The missing folder is created on Yes; an infinite period needs a base name.
        ScopedPromptScript prompts({PromptYes});
        dialog.accept();
        EXPECT_TRUE(fs::is_directory(out));
        EXPECT_EQ(dialog.OutPutDirEdt->text().toStdString(), out + "/");
        ASSERT_EQ(prompts.Texts().size(), 2u);
        EXPECT_EQ(prompts.Texts()[1], "You must give a base name if you choose to build files with an infinite period");
        EXPECT_NE(dialog.result(), QDialog::Accepted);
    }
    {
        ScopedPromptScript prompts({PromptNo});
        dialog.OutPutDirEdt->setText(QString::fromStdString(temp.File("other")));
        EXPECT_FALSE(dialog.CheckOutputFolder());
        EXPECT_FALSE(fs::exists(temp.File("other")));
    }
    {
        ScopedPromptScript prompts({PromptYes});
        q5test::WriteText(temp.File("blocker"), "x");
        dialog.OutPutDirEdt->setText(QString::fromStdString(temp.File("blocker/sub")));
        EXPECT_FALSE(dialog.CheckOutputFolder());
        EXPECT_EQ(prompts.Texts().back(), "Unable to create the directory");
    }
}

TEST_F(ConversionDialogsTest, MergeRefusesAnEndBeforeTheStartAndStopsWhenNoFileIsChosen)
{
    TFusionQ5Frm dialog(temp.Path());
    EXPECT_FALSE(dialog.StartDate->isEnabled());
    dialog.FuzBornedBtn->setChecked(true);
    EXPECT_TRUE(dialog.StartDate->isEnabled());
    dialog.EndDate->setDate(dialog.StartDate->date().addDays(-1));
    int asked = 0;
    dialog.AskResultFile = [&] { ++asked; return std::string(); };
    {
        ScopedPromptScript prompts;
        dialog.accept();
        EXPECT_EQ(prompts.Texts(), (std::vector<std::string>{"The beginning date is bigger than the ending date"}));
        EXPECT_EQ(asked, 0);
    }
    dialog.EndDate->setDate(dialog.StartDate->date());
    ScopedPromptScript prompts;
    dialog.accept();
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(prompts.Asked().empty());
    EXPECT_NE(dialog.result(), QDialog::Accepted);
}

TEST_F(ConversionDialogsTest, FileAndFolderNamesWithAccentsAreFound)
{
    ScopedDescLists lists;
    lists.El().LoadFromText("Date,1,\"Date\",1,\"Date\"\nTime,2,\"Time\",2,\"Time\"\n");
    lists.Scn().LoadFromText("S 1,0x12,NSU,\"Sun\",0\nE VAL_DATE,4,Date\nE VAL_TIME,7,Time\n");
    // Names as the file system has them (UTF-8), shown in the dialogs as text.
    const fs::path in = fs::path(temp.Path()) / "Donn\xC3\xA9" "es";
    const fs::path out = fs::path(temp.Path()) / "R\xC3\xA9sultats";
    fs::create_directories(in);
    const std::string data = (in / "\xC3\xA9t\xC3\xA9.Q5").string();
    q5test::WriteFile(data, q5test::MakeImage(q5test::MakeParamBlock(0x0A, "SP0A0001"),
                                              {q5test::MakeRecord(0x12, {2025, 6, 1, 8, 0, 0}, {1, 2})}, 300));

    // Conversion: the listed file is found and written under the base name, in the new folder.
    TConversionASCIIFrm conversion(out.string(), 5, "\xC3\xA9t\xC3\xA9", false);
    EXPECT_EQ(conversion.OutPutDirEdt->text(), QString::fromUtf8(out.string()));
    conversion.AddFiles({QString::fromUtf8(data)});
    {
        ScopedPromptScript prompts({PromptYes});  // create the folder
        conversion.accept();
        EXPECT_EQ(conversion.result(), QDialog::Accepted) << (prompts.Texts().empty() ? "" : prompts.Texts().back());
    }
    EXPECT_EQ(q5test::ReadText((out / "\xC3\xA9t\xC3\xA9.NSU").string()), "1/6/2025,8:0:0\r\n");

    // Merge: the folder is found and the result written under the chosen name.
    TFusionQ5Frm merge(in.string());
    EXPECT_EQ(merge.EdtQ5SrcDirectory->text(), QString::fromUtf8(in.string()));
    const std::string result = (out / "fusionn\xC3\xA9.Q5").string();
    merge.AskResultFile = [&] { return result; };
    {
        ScopedPromptScript prompts;
        merge.accept();
        EXPECT_TRUE(prompts.Asked().empty()) << prompts.Texts().front();
    }
    EXPECT_TRUE(fs::exists(result));
}

}  // namespace
