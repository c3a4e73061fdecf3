#include "station/plugins/PlugInsList.h"

#include "common/Prompt.h"

#include <QAction>
#include "station/windows/tests/TestApp.h"

#include <QApplication>
#include <QMenu>
#include <QTemporaryDir>
#include <QToolButton>
#include <QWidget>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace fs = std::filesystem;

namespace {

// A main window stand-in: a form with a tool button, a "&Processing" menu and its button.
class FakeHost : public TPlugInHostWindow {
public:
    FakeHost()
    {
        form.setObjectName("TestForm");
        auto* panel = new QWidget(&form);
        tools = new QToolButton(panel);
        tools->setObjectName("ToolsButton");
        tools->setVisible(false);
        auto* menu = new QMenu(tools);
        QAction* first = menu->addAction("First");
        first->setObjectName("FirstAction");
        tools->setMenu(menu);
        processing.setTitle("&Processing");
        processing.menuAction()->setVisible(false);
        button.setVisible(false);
    }
    QWidget* HostForm() override { return &form; }
    QMenu* ProcessingMenu() override { return &processing; }
    QAction* ProcessingButton() override { return &button; }
    bool TransferInProgress() override { return transferring; }
    void* DecodeStationParams() override { return withDataFile ? &params : nullptr; }
    void FreeStationParams(void* p) override { freed.push_back(p); }
    void ReloadCurrentDataFile() override { ++reloads; }

    QWidget form;
    QToolButton* tools = nullptr;
    QMenu processing;
    QAction button;
    bool transferring = false;
    bool withDataFile = true;
    int params = 0;
    std::vector<void*> freed;
    int reloads = 0;
};

QStringList MenuTexts(QMenu* menu)
{
    QStringList texts;
    for (QAction* a : menu->actions()) texts << a->text();
    return texts;
}

class PlugInHostTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        report = dir.filePath("report.txt").toStdString();
        setenv("ZELT_TEST_PLUGIN_REPORT", report.c_str(), 1);
        unsetenv("ZELT_TEST_EXECUTE_RESULT");
        unsetenv("ZELT_TEST_MENU_COUNT");
        unsetenv("ZELT_TEST_CLOSE");
    }
    std::vector<std::string> ReportLines()
    {
        std::vector<std::string> lines;
        std::ifstream in(report);
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        fs::remove(report);
        return lines;
    }
    TPlugIns& ByCaption(TPlugInsList& list, const std::string& caption)
    {
        for (auto& p : list.Items())
            if (p->Caption == caption) return *p;
        throw std::runtime_error("no plug-in " + caption);
    }
    struct AppFirst {
        AppFirst() { TestApplication(); }
    } appFirst;  // widgets need the application before they are built
    QTemporaryDir dir;
    std::string report;
    FakeHost host;
};

TEST_F(PlugInHostTest, FindsSharedObjectsInSubFoldersSortedAndSkipsOtherFiles)
{
    fs::path root = dir.filePath("PlugIns").toStdString();
    fs::create_directories(root / "sub");
    fs::copy_file(fs::path(ZELT_TEST_PLUGIN_DIR) / "plain.so", root / "b.so");
    fs::copy_file(fs::path(ZELT_TEST_PLUGIN_DIR) / "plain.so", root / "sub" / "A.SO");
    fs::copy_file(fs::path(ZELT_TEST_PLUGIN_DIR) / "plain.so", root / "Aa.so");
    std::ofstream(root / "c.txt") << "not a plug-in";
    EXPECT_EQ(TPlugInsList::FindPlugInFiles(root.string()),
              (std::vector<std::string>{"Aa.so", "b.so", "sub/A.SO"}));
    EXPECT_TRUE(TPlugInsList::FindPlugInFiles((root / "missing").string()).empty());
    EXPECT_TRUE(TPlugInsList::FindPlugInFiles("").empty());
}

TEST_F(PlugInHostTest, LoadsPlugInsAndFillsTheProcessingMenu)
{
    TPlugInsList list(host, ZELT_TEST_PLUGIN_DIR);
    std::vector<std::string> captions;
    for (auto& p : list.Items()) captions.push_back(p->Caption);
    // The library without the caption export is not a plug-in.
    EXPECT_EQ(captions, (std::vector<std::string>{"Test plain", "Test refusing", "Test throwing", "Test extended"}));
    EXPECT_EQ(MenuTexts(&host.processing), (QStringList{"Test plain", "Test refusing", "Test throwing"}));
    EXPECT_TRUE(host.processing.menuAction()->isVisible());
    EXPECT_TRUE(host.button.isVisible());
    EXPECT_EQ(ReportLines(), (std::vector<std::string>{"extended info zeroed"}));
}

TEST_F(PlugInHostTest, ExtendedPlugInAddsEntriesToNamedToolButtonsAndRemovesThemAtTheEnd)
{
    {
        TPlugInsList list(host, ZELT_TEST_PLUGIN_DIR);
        EXPECT_EQ(ByCaption(list, "Test extended").Menus.size(), 4u);
        list.AddFormMenus(&host.form);
        EXPECT_FALSE(host.tools->isHidden());
        // Skipped entries and entries whose InsertBefore names no entry are not added.
        EXPECT_EQ(MenuTexts(host.tools->menu()), (QStringList{"Inserted entry", "First", "Appended entry"}));
    }
    EXPECT_EQ(MenuTexts(host.tools->menu()), (QStringList{"First"}));
    EXPECT_TRUE(host.processing.actions().isEmpty());
    EXPECT_FALSE(host.processing.menuAction()->isVisible());
    EXPECT_FALSE(host.button.isVisible());
}

TEST_F(PlugInHostTest, MenuCountOfAnExtendedPlugInIsBounded)
{
    setenv("ZELT_TEST_MENU_COUNT", "1000000", 1);
    TPlugInsList list(host, ZELT_TEST_PLUGIN_DIR);
    EXPECT_EQ(ByCaption(list, "Test extended").Menus.size(), size_t(TPlugInsList::MaxMenuCount));
    setenv("ZELT_TEST_MENU_COUNT", "-5", 1);
    TPlugInsList again(host, ZELT_TEST_PLUGIN_DIR);
    EXPECT_TRUE(ByCaption(again, "Test extended").Menus.empty());
}

TEST_F(PlugInHostTest, RunHandsTheContextOverAndReloadsOnResultZero)
{
    TPlugInsList list(host, ZELT_TEST_PLUGIN_DIR);
    int slot = 0;
    list.FillContext(true, nullptr, &slot, nullptr, nullptr, false);
    ReportLines();
    TPlugIns& plain = ByCaption(list, "Test plain");
    EXPECT_EQ(list.RunPlugIn(plain), 1);
    auto lines = ReportLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "plain init version=2 expert=1 confirm=0 abi=ok reserved=zero file=" + plain.FileName +
                            " app=set params=set slot=set");
    EXPECT_EQ(lines[1], "plain execute 0");
    EXPECT_EQ(host.reloads, 1);
    ASSERT_EQ(host.freed.size(), 1u);
    EXPECT_EQ(host.freed[0], &host.params);
    EXPECT_EQ(list.Context().StationParams, nullptr);
    EXPECT_TRUE(host.form.isVisible());

    // Another result keeps the data file; without a data file no parameters are passed.
    setenv("ZELT_TEST_EXECUTE_RESULT", "3", 1);
    host.withDataFile = false;
    list.RunPlugIn(plain);
    EXPECT_EQ(host.reloads, 1);
    EXPECT_NE(ReportLines()[0].find("params=null"), std::string::npos);
}

TEST_F(PlugInHostTest, RefusingOrThrowingPlugInsLeaveTheHostRunning)
{
    TPlugInsList list(host, ZELT_TEST_PLUGIN_DIR);
    ReportLines();
    EXPECT_EQ(list.RunPlugIn(ByCaption(list, "Test refusing")), 1);
    auto lines = ReportLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("refusing init", 0), 0u);
    EXPECT_EQ(host.freed.size(), 1u);
    EXPECT_EQ(host.reloads, 0);

    ScopedPromptScript prompts;
    EXPECT_EQ(list.RunPlugIn(ByCaption(list, "Test throwing")), 1);
    EXPECT_EQ(host.reloads, 0);
    EXPECT_EQ(host.freed.size(), 2u);
    ASSERT_EQ(prompts.Texts().size(), 1u);
    EXPECT_NE(prompts.Texts()[0].find("the test plug-in failed"), std::string::npos);
    EXPECT_TRUE(host.form.isVisible());
}

TEST_F(PlugInHostTest, NoRunDuringATransfer)
{
    TPlugInsList list(host, ZELT_TEST_PLUGIN_DIR);
    ReportLines();
    host.transferring = true;
    ScopedPromptScript prompts;
    EXPECT_EQ(list.RunByName("plain"), 0);
    EXPECT_TRUE(ReportLines().empty());
    EXPECT_EQ(prompts.Texts().size(), 1u);
    EXPECT_TRUE(host.freed.empty());
}

TEST_F(PlugInHostTest, RunByNameMatchesTheFileNameInAnyCase)
{
    TPlugInsList list(host, ZELT_TEST_PLUGIN_DIR);
    ReportLines();
    EXPECT_EQ(list.RunByName("PLAIN"), 1);
    EXPECT_EQ(list.RunByName("extended"), 1);  // found in a sub-folder
    EXPECT_EQ(list.RunByName("Plain.So"), 1);
    EXPECT_EQ(list.RunByName("plain.dll"), 0);
    EXPECT_EQ(list.RunByName("missing"), 0);
    auto lines = ReportLines();
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[2].rfind("extended init", 0), 0u);
}

TEST(PlugInCaption, LengthPrefixedBuffer)
{
    unsigned char buffer[256] = {3, 'a', 'b', 'c', 'd'};
    EXPECT_EQ(ShortStringToString(buffer), "abc");
    buffer[0] = 255;
    EXPECT_EQ(ShortStringToString(buffer).size(), 255u);
}

}  // namespace
