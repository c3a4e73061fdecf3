#include "station/windows/TransHistoFrm.h"

#include "common/DateTime.h"
#include "common/tests/support/Q5Images.h"
#include "station/link/Transmission.h"
#include "station/windows/tests/TestApp.h"

#include <QLabel>
#include <QTreeWidget>
#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <random>

namespace {

class TransHistoTest : public ::testing::Test {
protected:
    void SetUp() override { TestApplication(); }
    TTransmission* Add(int hour, int errors, uint8_t end, int bytes, int seconds)
    {
        auto t = std::make_unique<TTransmission>();
        TryEncodeDateTime(2025, 6, 1, hour, 0, 0, 0, t->StartTime);
        t->EndTime = t->StartTime + seconds / 86400.0;
        t->Errors = errors;
        t->EndStatus = end;
        t->Bytes = bytes;
        return list.Add(std::move(t));
    }
    TTransmissionList list;
    q5test::TempDir temp;
};

TEST_F(TransHistoTest, EmptyHistoryShowsZeroAndSavingLeavesNoFile)
{
    TTransHistoFrm f(list, nullptr);
    EXPECT_EQ(f.NbTransLbl->text(), "0");
    EXPECT_EQ(f.TransListView->topLevelItemCount(), 0);
    std::string file = temp.File("history.txt");
    q5test::WriteText(file, "old");
    EXPECT_TRUE(f.SaveTo(file));
    EXPECT_FALSE(std::filesystem::exists(file));
}

TEST_F(TransHistoTest, ColumnClicksSortOneWayThenTheOther)
{
    Add(8, 1, TTransmission::EndTimeout, 100, 10);
    Add(9, 5, TTransmission::EndOk, 300, 10);
    Add(10, 0, TTransmission::EndBad, 200, 10);
    Add(11, 2, TTransmission::EndCanceled, 50, 10);
    TTransHistoFrm f(list, nullptr);
    EXPECT_EQ(f.TransListView->topLevelItem(1)->text(3), "Ok");
    f.TransListViewColumnClick(2);  // Errors: most first
    EXPECT_EQ(f.RowOrder(), (std::vector<int>{1, 3, 0, 2}));
    f.TransListViewColumnClick(2);
    EXPECT_EQ(f.RowOrder(), (std::vector<int>{2, 0, 3, 1}));
    f.TransListViewColumnClick(3);  // End status: A to Z
    std::vector<QString> ends;
    for (int r = 0; r < 4; ++r) ends.push_back(f.TransListView->topLevelItem(r)->text(3));
    EXPECT_EQ(ends, (std::vector<QString>{"Bad", "Canceled", "Ok", "Timeout"}));
    f.TransListViewColumnClick(0);  // newest first
    EXPECT_EQ(f.RowOrder(), (std::vector<int>{3, 2, 1, 0}));

    std::string file = temp.File("history.txt");
    EXPECT_TRUE(f.SaveTo(file));
    std::string text = q5test::ReadText(file);
    EXPECT_LT(text.find("Errors:1"), text.find("Errors:5"));  // list order, not view order
}

TEST_F(TransHistoTest, SpeedOrderIsAStrictWeakOrder)
{
    // Speeds 0.4 apart: neighbours within one character per second of each other must not make the
    // order intransitive.
    for (int i = 0; i < 40; ++i) Add(i % 24, 0, 0, 4 * i + 10, 10);
    std::vector<const TTransmission*> items;
    for (int i = 0; i < list.Count(); ++i) items.push_back(list.Item(i));
    for (int state : {1, 2})
        for (const auto* a : items)
            for (const auto* b : items) {
                EXPECT_FALSE(TransmissionLess(*a, *a, 6, state));
                if (TransmissionLess(*a, *b, 6, state)) {
                    EXPECT_FALSE(TransmissionLess(*b, *a, 6, state));
                }
                for (const auto* c : items)
                    if (TransmissionLess(*a, *b, 6, state) && TransmissionLess(*b, *c, 6, state)) {
                        EXPECT_TRUE(TransmissionLess(*a, *c, 6, state));
                    }
            }
    TTransHistoFrm f(list, nullptr);
    f.TransListViewColumnClick(6);
    auto order = f.RowOrder();
    for (size_t r = 1; r < order.size(); ++r)
        EXPECT_GE(std::trunc(list.Item(order[r - 1])->GetSpeed()), std::trunc(list.Item(order[r])->GetSpeed()));
}

}  // namespace
