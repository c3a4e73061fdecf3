#include "common/StatusStore.h"
#include "common/tests/PlatformTestEnv.h"

#include <QApplication>
#include <QHeaderView>
#include <QTableWidget>
#include <QTreeWidget>
#include <gtest/gtest.h>

namespace {

const char* const kKey = "SOFTWARE\\DORAX Quenlith\\ZELT Win";

QApplication& App()
{
  static int argc = 1;
  static char name[] = "test";
  static char* argv[] = {name, nullptr};
  static QApplication app(argc, argv);
  return app;
}

}  // namespace

TEST(StatusStore, StringsIntegersAndTheMissingMarker)
{
  ScopedTestHome home;
  TStatusConfig status(kKey);
  std::string out = "untouched";
  EXPECT_FALSE(status.ReadString("LastTransScnStr", out));
  EXPECT_EQ(out, "untouched");
  status.WriteString("Marker", ":-(");
  EXPECT_FALSE(status.ReadString("Marker", out));
  status.WriteString("LastTransScnStr", "0A1B");
  EXPECT_TRUE(status.ReadString("LastTransScnStr", out));
  EXPECT_EQ(out, "0A1B");
  status.WriteInteger("Split", 250);
  status.WriteBool("SeeViewCoord", true);
  EXPECT_TRUE(status.LastSaveOk());

  // Saved at once, in the "Status" section of the store, while the settings reader stays apart.
  TIniFile raw(SettingsStoreFile(kKey));
  EXPECT_EQ(raw.ReadInteger("Status", "Split", 0), 250);
  EXPECT_TRUE(raw.ReadBool("Status", "SeeViewCoord", false));
  EXPECT_FALSE(raw.ValueExists("General", "Split"));
  TStatusConfig other(kKey);
  EXPECT_EQ(other.ReadInteger("Split", 0), 250);
  EXPECT_EQ(other.ReadInteger("Nothing", 7), 7);
}

TEST(StatusStore, ListColumnWidths)
{
  App();
  ScopedTestHome home;
  TStatusConfig status(kKey);
  QTreeWidget tree;
  tree.setColumnCount(3);
  tree.header()->resizeSection(0, 50);
  tree.header()->resizeSection(1, 60);
  tree.header()->resizeSection(2, 70);
  // First run: nothing stored, nothing changed.
  EXPECT_FALSE(status.LoadListViewColumns(&tree, "DataList"));
  EXPECT_EQ(tree.header()->sectionSize(0), 50);

  status.WriteString("DataList", "120,80");
  EXPECT_TRUE(status.LoadListViewColumns(&tree, "DataList"));
  EXPECT_EQ(tree.header()->sectionSize(0), 120);
  EXPECT_EQ(tree.header()->sectionSize(1), 80);
  EXPECT_EQ(tree.header()->sectionSize(2), 70);

  status.WriteString("DataList", "x,90,100,110");
  EXPECT_TRUE(status.LoadListViewColumns(&tree, "DataList"));
  EXPECT_EQ(tree.header()->sectionSize(0), 120);
  EXPECT_EQ(tree.header()->sectionSize(1), 90);
  EXPECT_EQ(tree.header()->sectionSize(2), 100);

  status.SaveListViewColumns(&tree, "Saved");
  std::string text;
  EXPECT_TRUE(status.ReadString("Saved", text));
  EXPECT_EQ(text, "120,90,100");

  QTableWidget table(0, 2);
  status.WriteString("Table", "33,44");
  EXPECT_TRUE(status.LoadListViewColumns(&table, "Table"));
  EXPECT_EQ(table.horizontalHeader()->sectionSize(1), 44);
  status.WriteString("Empty", "");
  EXPECT_FALSE(status.LoadListViewColumns(&table, "Empty"));
}

TEST(StatusStore, PlacementSurvivesAMaximizedSave)
{
  App();
  ScopedTestHome home;
  TStatusConfig status(kKey);
  QWidget form;
  EXPECT_FALSE(status.LoadControlPlacement(&form, "ZELTFrm"));

  form.setGeometry(100, 120, 400, 300);
  status.SaveFormPlacement(&form, "ZELTFrm");
  EXPECT_EQ(status.ReadInteger("ZELTFrm_Width", 0), 400);
  EXPECT_EQ(status.ReadInteger("ZELTFrm_Height", 0), 300);
  EXPECT_EQ(status.ReadInteger("ZELTFrm_WindowState", -1), wsNormal);
  const int left = status.ReadInteger("ZELTFrm_Left", -1);
  const int top = status.ReadInteger("ZELTFrm_Top", -1);

  form.resize(900, 700);
  form.setWindowState(Qt::WindowMaximized);
  status.SaveFormPlacement(&form, "ZELTFrm");
  EXPECT_EQ(status.ReadInteger("ZELTFrm_WindowState", -1), wsMaximized);
  EXPECT_EQ(status.ReadInteger("ZELTFrm_Width", 0), 400);

  QWidget other;
  other.resize(10, 10);
  EXPECT_TRUE(status.LoadControlPlacement(&other, "ZELTFrm"));
  EXPECT_EQ(other.x(), left);
  EXPECT_EQ(other.y(), top);
  EXPECT_EQ(other.width(), 400);
  EXPECT_EQ(other.height(), 300);

  // Left alone: the size is kept.
  status.WriteInteger("Panel_Left", 5);
  QWidget panel;
  panel.resize(77, 66);
  EXPECT_TRUE(status.LoadControlPlacement(&panel, "Panel"));
  EXPECT_EQ(panel.x(), 5);
  EXPECT_EQ(panel.width(), 77);
  EXPECT_EQ(panel.height(), 66);
}
