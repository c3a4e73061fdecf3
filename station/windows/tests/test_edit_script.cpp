#include "station/windows/EditScriptFrm.h"

#include "common/Prompt.h"
#include "common/tests/support/Q5Images.h"
#include "station/link/Scripts.h"

#include "station/windows/tests/TestApp.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QTreeWidget>
#include <filesystem>
#include <gtest/gtest.h>

namespace {

class EditScriptTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestApplication();
        listFile = temp.File("Scripts.lst");
        list.LoadFromFile(listFile);
        for (const char* name : {"Morning", "Noon", "Evening"}) {
            auto script = std::make_unique<TScript>();
            script->Name = name;
            auto receive = std::make_unique<TScriptGetCommand>();
            script->AddCommand(std::make_unique<TScriptSendCommand>());
            script->AddCommand(std::move(receive));
            list.Add(std::move(script));
        }
        ASSERT_TRUE(list.SaveToFile());
        saved = q5test::ReadText(listFile);
    }
    QTreeWidgetItem* Node(TEditScriptFrm& f, int script, int command = -1)
    {
        QTreeWidgetItem* node = f.ScriptsTreeView->topLevelItem(0)->child(script);
        return command < 0 ? node : node->child(command);
    }
    q5test::TempDir temp;
    std::string listFile;
    std::string saved;
    TScriptsList list;
};

TEST_F(EditScriptTest, TreeShowsScriptsAndCommandsAndNewScriptIsNumbered)
{
    TEditScriptFrm f(list);
    QTreeWidgetItem* root = f.ScriptsTreeView->topLevelItem(0);
    EXPECT_EQ(root->text(0), "Scripts list");
    ASSERT_EQ(root->childCount(), 3);
    EXPECT_EQ(Node(f, 1)->text(0), "Noon");
    EXPECT_EQ(Node(f, 1, 0)->text(0), "Send <empty>");
    EXPECT_EQ(Node(f, 1, 1)->text(0), "Reception");
    f.NewScriptMnuClick();
    EXPECT_EQ(root->childCount(), 4);
    EXPECT_EQ(Node(f, 3)->text(0), "Script 4");
    EXPECT_FALSE(f.ScriptPropertyPanel->isHidden());
}

TEST_F(EditScriptTest, EditsReachTheSelectedObjects)
{
    TEditScriptFrm f(list);
    f.ScriptsTreeView->setCurrentItem(Node(f, 0, 0));
    EXPECT_FALSE(f.ScriptSendCommandPropertyPanel->isHidden());
    EXPECT_TRUE(f.ScriptGetCommandPropertyPanel->isHidden());
    f.SndCmdEdit->setText("GR0001");
    EXPECT_EQ(Node(f, 0, 0)->text(0), "Send GR0001");

    f.ScriptsTreeView->setCurrentItem(Node(f, 0, 1));
    auto* receive = static_cast<TScriptGetCommand*>(f.Working()[0]->Item(1));
    f.SndTimeOutEdit->setText("25");
    EXPECT_EQ(receive->TimeOut, 25);
    f.SndTimeOutEdit->setText("abc");
    EXPECT_EQ(receive->TimeOut, 10);
    ASSERT_TRUE(receive->AnalyseChecksum);
    f.ETXETBTrameChkBx->setChecked(false);
    EXPECT_FALSE(receive->ETXETBTrame);
    EXPECT_FALSE(receive->AnalyseChecksum);
    EXPECT_FALSE(f.AnalyseChecksumChkBx->isEnabled());

    f.ScriptsTreeView->setCurrentItem(Node(f, 2));
    f.ScriptNameEdit->setText("Night");
    EXPECT_EQ(Node(f, 2)->text(0), "Night");
    f.SupprScriptMnuClick();
    EXPECT_EQ(f.Working().size(), 2u);
}

TEST_F(EditScriptTest, CancelDiscardsAndOkSavesTheEdits)
{
    {
        TEditScriptFrm f(list);
        f.ScriptsTreeView->setCurrentItem(Node(f, 0));
        f.ScriptNameEdit->setText("Changed");
        f.NewScriptMnuClick();
        f.reject();
    }
    EXPECT_EQ(list.Count(), 3);
    EXPECT_EQ(list.Item(0)->Name, "Morning");
    EXPECT_EQ(q5test::ReadText(listFile), saved);
    {
        TEditScriptFrm f(list);
        f.ScriptsTreeView->setCurrentItem(Node(f, 1, 1));
        f.SupprScriptCommandMnuClick();
        f.ScriptsTreeView->setCurrentItem(Node(f, 0));
        f.ScriptNameEdit->setText("Changed");
        f.accept();
    }
    ASSERT_EQ(list.Count(), 3);
    EXPECT_EQ(list.Item(0)->Name, "Changed");
    EXPECT_EQ(list.Item(1)->Count(), 1);
    TScriptsList reread;
    reread.LoadFromFile(listFile);
    EXPECT_EQ(reread.Image(), list.Image());
}

TEST_F(EditScriptTest, ExportAndImportSingleScripts)
{
    TEditScriptFrm f(list);
    f.ScriptsTreeView->setCurrentItem(Node(f, 1));
    std::string sca = temp.File("noon.sca");
    q5test::WriteText(sca, "[Old]\r\nx=1\r\n");
    ASSERT_TRUE(f.ExportScript(sca));
    EXPECT_EQ(q5test::ReadText(sca).find("[Old]"), std::string::npos);  // replaced, not merged
    ASSERT_TRUE(f.ImportScript(sca));
    ASSERT_EQ(f.Working().size(), 4u);
    EXPECT_EQ(f.Working()[3]->Name, "Noon");
    EXPECT_EQ(f.Working()[3]->Count(), 2);

    std::string empty = temp.File("empty.sca");
    q5test::WriteText(empty, "[Other]\r\nName=x\r\n");
    ASSERT_TRUE(f.ImportScript(empty));
    EXPECT_EQ(f.Working()[4]->Name, "");
    EXPECT_EQ(f.Working()[4]->Count(), 0);
    EXPECT_FALSE(f.ImportScript(temp.File("missing.sca")));
}

}  // namespace
