#include "station/windows/ConversionASCIIFrm.h"
#include "station/windows/FusionQ5Frm.h"

#include "common/Prompt.h"
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

}  // namespace
