// merrow.so loaded and run by the station program's plug-in host, as the "Processing" menu does.
#include "station/plugins/PlugInsList.h"

#include "common/DecimalSep.h"
#include "common/Prompt.h"
#include "common/ScnType.h"
#include "common/analysis/tests/support/PlugInTestHost.h"
#include "plugins/merrow/tests/MerrowTestSupport.h"
#include "station/windows/tests/TestApp.h"

#include <QAction>
#include <QCheckBox>
#include <QLibrary>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QWidget>

#include <cstdlib>
#include <gtest/gtest.h>

namespace {

// The viewer asks no station parameters: the shared host without a data file.
using Host = plugin_test::TestHost;

std::string PlugInFolder()
{
    const char* bin = std::getenv("ZELT_BIN_DIR");
    return std::string(bin ? bin : ".") + "/PlugIns";
}

class MerrowPlugInTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        MerrowTestApplication();
        ASSERT_TRUE(dir.isValid());
        setenv("XDG_CONFIG_HOME", dir.filePath("config").toLocal8Bit().constData(), 1);
        setenv("XDG_DATA_HOME", dir.filePath("data").toLocal8Bit().constData(), 1);
        host = std::make_unique<Host>();
        list = std::make_unique<TPlugInsList>(*host, PlugInFolder());
        for (auto& p : list->Items())
            if (p->Caption == "Q5x Viewer") merrow = p.get();
        ASSERT_NE(merrow, nullptr);
        list->FillContext(false, nullptr, &dataFile, &scnList, nullptr, true);
    }
    void TearDown() override { SetDecimalSeparator('.'); }

    void* ExportedWindow(const char* name)
    {
        auto** slot = reinterpret_cast<void**>(merrow->Library->resolve(name));
        return slot ? *slot : reinterpret_cast<void*>(1);
    }

    QTemporaryDir dir;
    TListScn scnList;
    void* dataFile = nullptr;
    std::unique_ptr<Host> host;
    std::unique_ptr<TPlugInsList> list;
    TPlugIns* merrow = nullptr;
    ScopedPromptScript prompts;
};

}  // namespace

TEST_F(MerrowPlugInTest, RunsFromTheProcessingMenuOnASampleFile)
{
    QStringList entries;
    for (QAction* a : host->processing.actions()) entries << a->text();
    EXPECT_TRUE(entries.contains("Q5x Viewer"));
    EXPECT_NE(merrow->FileName.find("PlugIns/merrow.so"), std::string::npos);

    // The host's separators: a decimal comma and ";" between the exported cells.
    scnList.SepDec = ",";
    scnList.SepList = ";";
    const std::string out = dir.filePath("cold-night.txt").toStdString();
    TModalDriver driver;
    driver.ChooseFile(SampleFile("cold-night.q5x"));
    bool seen = false;
    driver.OnWindow("MerrowFrm", [&](QWidget* window) {
        seen = true;
        EXPECT_EQ(window->windowTitle(), "Q5x Viewer");
        EXPECT_EQ(window->findChild<QListWidget*>("CLBFiltre")->count(), 2);
        EXPECT_EQ(window->findChild<QListWidget*>("CLBPosition")->count(), 1);
        window->findChild<QPushButton*>("Button1")->click();   // export, through the next steps
    });
    driver.ChooseFile(out);
    const int result = list->RunPlugIn(*merrow);
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(seen);
    EXPECT_TRUE(driver.Done());
    EXPECT_EQ(host->reloads, 1);   // the viewer returns 0
    const std::string text = ReadBytes(out);
    // With "," as the decimal separator every count keeps its filter.
    EXPECT_EQ(text.substr(0, text.find('\r')),
              "Date/Hour;Pos.;Black;Head;Humidity;10800 nm IR;10800 nm MIR;12000 nm IR;12000 nm MIR;");
    EXPECT_NE(text.find("20/01/2025 20:00:00;0;-11,000;-12,500;92,000;22601,6;29978;21795,2;30000;\r\n"),
              std::string::npos)
        << text.substr(0, 300);
    EXPECT_EQ(prompts.Texts().back(), "Export finished");
    // Everything of the run is freed.
    EXPECT_EQ(ExportedWindow("_MerrowFrm"), nullptr);
    EXPECT_EQ(ExportedWindow("_ErreurFrm"), nullptr);
}

TEST_F(MerrowPlugInTest, NoFileChosenShowsNoWindow)
{
    TModalDriver driver;
    driver.CancelFileDialog();
    EXPECT_EQ(list->RunByName("MERROW"), 1);
    EXPECT_TRUE(driver.Done());
    EXPECT_EQ(prompts.Texts(), std::vector<std::string>{"No data in memory. You must load a file before use plugin."});

    // A second run in the same process starts afresh.
    TModalDriver again;
    again.ChooseFile(SampleFile("zenith-day.q5x"));
    again.OnWindow("MerrowFrm", [](QWidget* window) {
        EXPECT_EQ(window->findChild<QListWidget*>("CLBFiltre")->count(), 3);
    });
    EXPECT_EQ(list->RunPlugIn(*merrow), 1);
    EXPECT_TRUE(again.Done());
}
