#include "station/windows/EditStaParamsFrm.h"

#include "common/DataPaths.h"
#include "common/Prompt.h"
#include "common/Q5File.h"
#include "common/StaParametre.h"
#include "common/tests/support/Q5Images.h"
#include "station/windows/ParameterTemplate.h"
#include "station/windows/tests/TestApp.h"

#include <QApplication>
#include <QLineEdit>
#include <QPdfWriter>
#include <QTimer>
#include <QTreeWidget>
#include <gtest/gtest.h>

using namespace q5test;

namespace {

class EditStaParamsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestApplication();
        Bytes block = MakeParamBlock(0x0A, "SP0A0000");
        block[10] = 0x52;  // 5 sun triplets, 2 almucantars
        block[11] = 0x80;  // automatic mode on
        path = temp.File("station.Q5");
        WriteFile(path, MakeImage(block, {MakeRecord(0x21, {}, {1, 2, 3})}));
        file = std::make_unique<TQ5File>(path);
        params.reset(decoder.Decode(file->ParamBloc(), file->InstrumentId, InstalledDataDir().string()));
        ASSERT_NE(params, nullptr) << decoder.ErrorString();
    }
    int Row(const std::string& code)
    {
        for (int i = 0; i < params->Count(); ++i)
            if ((*params)[i]->Code == code) return i;
        return -1;
    }
    TempDir temp;
    std::string path;
    std::unique_ptr<TQ5File> file;
    TDecodDorax decoder;
    std::unique_ptr<TParamsList> params;
};

TEST_F(EditStaParamsTest, TemplateCarriesEveryParameterAndSharedBytesCombine)
{
    TEditStaParamsFrm editor(*params, file->ParamBloc(), false);
    EXPECT_TRUE(editor.DebugPanel->isHidden());
    std::string templ = editor.Template();
    ASSERT_EQ(templ.size(), 512u);
    EXPECT_EQ(templ.substr(20, 2), "52");  // two 4-bit parameters in one byte
    EXPECT_EQ(templ.substr(0, 2), "0A");
    EXPECT_EQ(templ.back(), 'X');
    // Applying the unchanged template changes nothing.
    std::string before = file->ParamBloc();
    file->ApplyParameterTemplate(templ);
    EXPECT_EQ(file->ParamBloc(), before);
}

TEST_F(EditStaParamsTest, YesNoTogglesAndValuesOutOfRangeAreRefused)
{
    TEditStaParamsFrm editor(*params, file->ParamBloc(), true);
    int autoRow = Row("AUTO");
    ASSERT_GE(autoRow, 0);
    QString before = editor.ParListView->topLevelItem(autoRow)->text(1);
    editor.EditParameter(autoRow);
    EXPECT_NE(editor.ParListView->topLevelItem(autoRow)->text(1), before);
    EXPECT_EQ(editor.Template().substr(22, 2), "00");
    editor.EditParameter(autoRow);
    EXPECT_EQ(editor.ParListView->topLevelItem(autoRow)->text(1), before);

    TStaParametre& sun = *(*params)[Row("NSUN")];
    TEditOneParamFrm one(sun);
    one.ParamValEdit->setText("99");
    {
        ScopedPromptScript prompts;
        one.accept();
        EXPECT_EQ(prompts.Texts(), (std::vector<std::string>{"Value to hight"}));
        one.ParamValEdit->setText("abc");
        one.accept();
        EXPECT_EQ(prompts.Texts().back(), "Invalid value");
        EXPECT_NE(one.result(), QDialog::Accepted);
    }
    one.ParamValEdit->setText("7");
    one.accept();
    EXPECT_EQ(one.result(), QDialog::Accepted);
    EXPECT_EQ(editor.Template().substr(20, 2), "72");
}

TEST_F(EditStaParamsTest, TheInstrumentTypeCannotBeEdited)
{
    TEditStaParamsFrm editor(*params, file->ParamBloc(), false);
    int typeRow = Row("TYPE");
    ASSERT_GE(typeRow, 0);
    EXPECT_TRUE(editor.ParListView->topLevelItem(typeRow)->isDisabled());
    bool opened = false;
    editor.EditOne = [&](TStaParametre&) { return opened = true; };
    ScopedPromptScript prompts;
    editor.EditParameter(typeRow);
    EXPECT_FALSE(opened);
    EXPECT_EQ(prompts.Asked().size(), 1u);
}

TEST_F(EditStaParamsTest, CancelLeavesTheFileAndOkAppliesTheTemplate)
{
    std::string before = file->ParamBloc();
    QTimer::singleShot(0, [] {
        auto* editor = qobject_cast<TEditStaParamsFrm*>(QApplication::activeModalWidget());
        ASSERT_NE(editor, nullptr);
        for (int row = 0; row < editor->ParListView->topLevelItemCount(); ++row)
            if (editor->ParListView->topLevelItem(row)->text(0) == "Wet_sensor") editor->EditParameter(row);
        editor->reject();
    });
    EXPECT_FALSE(EditStationParameters(file.get(), InstalledDataDir().string(), false, nullptr));
    EXPECT_EQ(file->ParamBloc(), before);

    QTimer::singleShot(0, [] {
        auto* editor = qobject_cast<TEditStaParamsFrm*>(QApplication::activeModalWidget());
        ASSERT_NE(editor, nullptr);
        for (int row = 0; row < editor->ParListView->topLevelItemCount(); ++row)
            if (editor->ParListView->topLevelItem(row)->text(0) == "Automatic_mode") editor->EditParameter(row);
        editor->accept();
    });
    EXPECT_TRUE(EditStationParameters(file.get(), InstalledDataDir().string(), false, nullptr));
    EXPECT_EQ(file->ParamBloc().substr(22, 2), "00");
    EXPECT_EQ(file->ParamBloc().substr(0, 22), before.substr(0, 22));

    ScopedPromptScript prompts;
    EXPECT_FALSE(EditStationParameters(nullptr, InstalledDataDir().string(), false, nullptr));
    EXPECT_EQ(prompts.Texts(), (std::vector<std::string>{"No data in memory"}));
}

TEST_F(EditStaParamsTest, SaveAndPrintTheList)
{
    TEditStaParamsFrm editor(*params, file->ParamBloc(), false);
    std::string text = temp.File("params.txt");
    ASSERT_TRUE(editor.SaveToText(text));
    std::string saved = ReadText(text);
    EXPECT_NE(saved.find("Sun_triplets = 5\r\n"), std::string::npos);
    QPdfWriter pdf(QString::fromStdString(temp.File("params.pdf")));
    editor.PrintTo(pdf);
    EXPECT_GT(std::filesystem::file_size(temp.File("params.pdf")), 500u);
}

}  // namespace
