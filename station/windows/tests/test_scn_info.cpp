#include "station/windows/ScnInfoFrm.h"

#include "common/Evenement.h"
#include "common/Q5File.h"
#include "common/ScnType.h"
#include "common/Zelt.h"
#include "common/tests/PlatformTestEnv.h"
#include "common/tests/support/Q5Images.h"
#include "station/windows/tests/TestApp.h"

#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTreeWidget>
#include <gtest/gtest.h>

using namespace q5test;

namespace {

class ScnInfoTest : public ::testing::Test {
protected:
    void SetUp() override { TestApplication(); }
    // An event of the data folder's instrument from its record bytes.
    std::unique_ptr<TEvenement> Event(const Bytes& record)
    {
        auto event = std::make_unique<TEvenement>(&file);
        event->SetEvt(Frame(record));
        return event;
    }
    void LoadLists()
    {
        zelt = std::make_unique<TZELT>(std::vector<std::string>{}, home.Root());
        Bytes image = MakeImage(MakeParamBlock(0x0A, "SP0A0000"), {});
        file.LoadFromBytes(image.data(), image.size());
    }
    Bytes SunRecord() { return MakeRecord(0x10, {}, Bytes(20, 0x11)); }
    ScopedTestHome home;
    std::unique_ptr<TZELT> zelt;
    TQ5File file;
};

TEST_F(ScnInfoTest, DecodedEventShowsItsValuesAndTheTypeNumberOnlyInExpertMode)
{
    LoadLists();
    auto event = Event(SunRecord());
    ASSERT_NE(event->ScnType, nullptr);
    TScnInfoFrm normal(false);
    normal.SetEvt(event.get());
    EXPECT_TRUE(normal.ErrorPanel->isHidden());
    EXPECT_TRUE(normal.DebugPanel->isHidden());
    ASSERT_EQ(normal.MesListView->count(), event->Count());
    EXPECT_TRUE(normal.MesListView->item(0)->text().startsWith("Date: "));
    EXPECT_EQ(normal.windowTitle().toStdString(), event->DescString());

    TScnInfoFrm expert(true);
    expert.SetEvt(event.get());
    EXPECT_FALSE(expert.DebugPanel->isHidden());
    EXPECT_EQ(expert.HexaMemo->toPlainText().toStdString(), Hex(SunRecord()));
    ASSERT_EQ(expert.MesListView->count(), event->Count() + 1);
    EXPECT_EQ(expert.MesListView->item(0)->text(), "Scn: 1");
}

TEST_F(ScnInfoTest, UndecodableEventsSayWhy)
{
    LoadLists();
    TScnInfoFrm info(false);
    auto unknown = Event(MakeRecord(0x7E, {}, {1, 2, 3, 4}));
    info.SetEvt(unknown.get());
    EXPECT_FALSE(info.ErrorPanel->isHidden());
    EXPECT_TRUE(info.MesListView->isHidden());
    EXPECT_TRUE(info.ProblemInfoLbl->text().startsWith("This scenario isn't recognized"));
    EXPECT_EQ(info.MesListView->count(), 0);

    Bytes shortRecord = SunRecord();
    shortRecord[1] = 0x30;  // says more bytes than it has
    auto badSize = Event(shortRecord);
    info.SetEvt(badSize.get());
    EXPECT_TRUE(info.ProblemInfoLbl->text().startsWith("This scenario is invalid because it's size is incorrect."));

    auto empty = Event(Bytes(8, 0xFF));
    info.SetEvt(empty.get());
    EXPECT_EQ(info.ProblemInfoLbl->text(), "This scenario is empty and doesn't countain any data.");

    auto good = Event(SunRecord());
    info.SetEvt(good.get());
    EXPECT_TRUE(info.ErrorPanel->isHidden());
    EXPECT_FALSE(info.MesListView->isHidden());
}

TEST_F(ScnInfoTest, TypeListShowsEveryTypeWithItsItems)
{
    TListDecodedScnFrm none(nullptr);
    EXPECT_EQ(none.NbScnLbl->text(), "0");
    EXPECT_EQ(none.ListScnView->topLevelItemCount(), 0);

    LoadLists();
    ASSERT_NE(gListScn, nullptr);
    TListDecodedScnFrm all(gListScn);
    EXPECT_EQ(all.NbScnLbl->text(), QString::number(gListScn->Count()));
    ASSERT_EQ(all.ListScnView->topLevelItemCount(), gListScn->Count());
    EXPECT_EQ(all.ListScnView->topLevelItem(0)->text(0), "Direct sun");
    EXPECT_EQ(all.ListScnView->topLevelItem(0)->childCount(), (*gListScn)[0]->Count());
}

}  // namespace
