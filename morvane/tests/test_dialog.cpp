// The dialog "Cálculo de AOD", offscreen.

#include "MorvaneFixture.h"

#include "morvane/app/MorvaneDialog.h"
#include "common/tests/support/WindowTestDriver.h"
#include "morvane/core/Physics.h"

#include <gtest/gtest.h>

#include <tuple>

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include <cmath>

using namespace morvane;
using namespace morvane::test;

namespace {

QApplication &App() {
  return window_test::TestApplication("morvane_dialog_test");
}

struct Shown {
  QMessageBox::Icon icon;
  QString title, text;
};

class DialogTest : public ::testing::Test {
protected:
  void SetUp() override {
    App();
    WriteSyntheticTables(dir.path());
    // Code 1 of this table: four channels, no water vapour.
    WriteFile(dir.file("instruments.dat"), "test\nfour\nchannels\n1\n4\n1020 870 670 440\n10 10 10 10\n0\n0\n");
    dialog = std::make_unique<MorvaneDialog>(false);
    dialog->messageHook = [this](QMessageBox::Icon icon, const QString &title, const QString &text) {
      shown.push_back({icon, title, text});
    };
  }
  template <class T> T *C(int id) {
    T *w = dialog->control<T>(id);
    EXPECT_NE(w, nullptr) << id;
    return w;
  }
  TempDir dir;
  ChangeDir cd{dir.path()};
  std::unique_ptr<MorvaneDialog> dialog;
  std::vector<Shown> shown;
};

TEST_F(DialogTest, StartsInManualModeWithItsDefaults) {
  EXPECT_EQ(dialog->windowTitle(), QString::fromUtf8("Cálculo de AOD"));
  EXPECT_EQ(C<QLineEdit>(1022)->text(), "37.18");
  EXPECT_EQ(C<QLineEdit>(1023)->text(), "-3.6");
  EXPECT_EQ(C<QLineEdit>(1024)->text(), "680.0");
  EXPECT_EQ(C<QLineEdit>(1030)->text(), "300");
  EXPECT_EQ(C<QLineEdit>(1036)->text(), "0");
  EXPECT_TRUE(C<QRadioButton>(1008)->isChecked());
  EXPECT_FALSE(C<QLineEdit>(1010)->isEnabled());
  EXPECT_EQ(C<QRadioButton>(1013)->text(), "four");
  EXPECT_EQ(C<QPushButton>(30002)->text(), "Calcular");
  EXPECT_TRUE(C<QPushButton>(30002)->isDefault());
  // The first model's four wavelengths are on, the others off.
  EXPECT_TRUE(C<QCheckBox>(1069)->isChecked());
  EXPECT_FALSE(C<QCheckBox>(1070)->isEnabled());
  EXPECT_FALSE(C<QCheckBox>(1096)->isChecked());
  for (int id : {1007, 1012, 1017, 1026, 1031, 1038, 1025, 1039, 1061, 1055, 1063, 1092, 1064, 30001, 1011, 1016, 1029,
                 1035, 1052, 1049, 1060, 1058, 1059, 1051, 1056, 1050, 1015, 1018, 1034})
    EXPECT_NE(dialog->findChild<QWidget *>(QStringLiteral("id%1").arg(id)), nullptr) << id;
}

TEST_F(DialogTest, ModeAndGroupChoicesEnableTheirControls) {
  C<QRadioButton>(1009)->click();
  EXPECT_EQ(dialog->mode(), 2);
  EXPECT_TRUE(C<QLineEdit>(1010)->isEnabled());
  EXPECT_FALSE(C<QLineEdit>(1022)->isEnabled());
  C<QRadioButton>(1008)->click();
  EXPECT_EQ(dialog->mode(), 1);
  EXPECT_TRUE(C<QLineEdit>(1022)->isEnabled());
  C<QRadioButton>(1028)->click();
  EXPECT_FALSE(C<QLineEdit>(1030)->isEnabled());
  EXPECT_TRUE(C<QLineEdit>(1018)->isEnabled());
  C<QRadioButton>(1037)->click();
  EXPECT_FALSE(C<QLineEdit>(1036)->isEnabled());
  EXPECT_FALSE(C<QLineEdit>(1034)->isEnabled());
  C<QRadioButton>(1033)->click();
  EXPECT_TRUE(C<QLineEdit>(1034)->isEnabled());
  C<QRadioButton>(1014)->click(); // second model (not in this table: ten wavelengths, all unchecked)
  EXPECT_TRUE(C<QCheckBox>(1096)->isEnabled());
  EXPECT_FALSE(C<QCheckBox>(1066)->isChecked());
}

TEST_F(DialogTest, AlphaCombinationsAreLimitedAndNeedTwoWavelengths) {
  dialog->InsertAlpha({2});
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, QString::fromUtf8("Combinación de longitudes de onda no aceptadas"));
  for (int i = 0; i < 9; ++i)
    dialog->InsertAlpha({1, 2, 3});
  EXPECT_EQ(C<QListWidget>(1051)->count(), 9);
  EXPECT_EQ(C<QListWidget>(1051)->item(0)->text(), " 1 2 3");
  dialog->InsertAlpha({1, 2});
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[1].text, QString::fromUtf8("Cálculo no incluido. Solo se admiten 9 cálculos de alfa"));
  C<QPushButton>(1060)->click();
  EXPECT_EQ(C<QListWidget>(1051)->count(), 0);
}

TEST_F(DialogTest, AlphaDialogInsertsTheCheckedWavelengths) {
  QTimer::singleShot(0, [] {
    QWidget *alpha = QApplication::activeModalWidget();
    ASSERT_NE(alpha, nullptr);
    EXPECT_EQ(alpha->windowTitle(), QString::fromUtf8("Cálculo de Alfa"));
    alpha->findChild<QCheckBox *>("id1076")->setChecked(true);
    alpha->findChild<QCheckBox *>("id1078")->setChecked(true);
    EXPECT_FALSE(alpha->findChild<QCheckBox *>("id1079")->isEnabled());
    alpha->findChild<QPushButton *>("id1084")->click();
    alpha->findChild<QPushButton *>("id1085")->click();
  });
  C<QPushButton>(1049)->click();
  ASSERT_EQ(C<QListWidget>(1051)->count(), 1);
  EXPECT_EQ(C<QListWidget>(1051)->item(0)->text(), " 2 4");
}

TEST_F(DialogTest, CalcularRefusesBadFields) {
  C<QLineEdit>(1022)->setText("norte");
  C<QPushButton>(30002)->click();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].icon, QMessageBox::Critical);
  EXPECT_EQ(shown[0].text, "ERROR: Latitud erronea ");
  C<QLineEdit>(1022)->setText("37.18");
  // Numbers outside the site's range are as wrong as no number.
  for (const auto &[id, text, message] :
       {std::tuple{1022, "90.5", "ERROR: Latitud erronea "}, std::tuple{1023, "-180.5", "ERROR: Longitud erronea "},
        std::tuple{1024, "2e12", "ERROR: Altura erronea "}, std::tuple{1024, "1e300", "ERROR: Altura erronea "}}) {
    const QString old = C<QLineEdit>(id)->text();
    C<QLineEdit>(id)->setText(text);
    C<QPushButton>(30002)->click();
    EXPECT_EQ(shown.back().text, message) << text;
    C<QLineEdit>(id)->setText(old);
  }
  C<QLineEdit>(1036)->setText("");
  C<QPushButton>(30002)->click();
  EXPECT_EQ(shown.back().text, "ERROR: Contenido de NO2 erroneo ");
  C<QLineEdit>(1036)->setText("0");
  for (int id : {1066, 1067, 1068, 1069})
    C<QCheckBox>(id)->setChecked(false);
  C<QPushButton>(30002)->click();
  EXPECT_EQ(shown.back().text, "ERROR: No se ha marcado ninguna longitud de onda para calcular ");
  C<QRadioButton>(1009)->click();
  C<QPushButton>(30002)->click();
  EXPECT_EQ(shown.back().text, "Nombre de Fichero incorrecto");
  EXPECT_EQ(shown.back().title, "");
}

TEST_F(DialogTest, ManualRunComputesWithPressureFromAltitude) {
  const std::vector<double> four = {1020, 870, 670, 440};
  const double p = PressureFromAltitude(37.18, 680) / 1013.25;
  std::vector<double> rayleigh;
  for (double l : four)
    rayleigh.push_back(p / RayleighQ(l));
  std::string data;
  for (int h = 8; h <= 16; ++h)
    data += SunLine({2020, 6, 15, h, 0, 0}, four, 1.3, 0.08, 1e6, 37.18, -3.6, 1, nullptr, rayleigh);
  WriteFile("day.sun", data);
  WriteFile("cal.cal", "2020 1 1 1e6 1e6 1e6 1e6\n");
  dialog->openFileHook = [] { return QString("day.sun"); };
  C<QPushButton>(1058)->click();
  C<QLineEdit>(1015)->setText("cal.cal");
  C<QLineEdit>(1050)->setText("res.");
  C<QCheckBox>(1064)->setChecked(true);
  dialog->InsertAlpha({1, 2, 3, 4});
  C<QPushButton>(30002)->click();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, "Terminated ") << shown[0].text.toStdString();
  EXPECT_EQ(shown[0].title, " ");
  EXPECT_EQ(dialog->params().outputFile, "res.tao");
  const auto rows = ReadLines("res.tao");
  ASSERT_EQ(rows.size(), 10u);
  EXPECT_NEAR(std::stod(rows[5].substr(64 + 15 * 3, 15)), 0.08 * std::pow(0.44, -1.3), 3e-4);
  EXPECT_EQ(ReadLines("res.ta2").size(), 10u);
}

TEST_F(DialogTest, AtMostThirtyOneDataFiles) {
  dialog->openFileHook = [] { return QString("f.sun"); };
  for (int i = 0; i < 31; ++i)
    C<QPushButton>(1058)->click();
  EXPECT_TRUE(shown.empty());
  C<QPushButton>(1058)->click();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, QString::fromUtf8("Sólo se admiten 31 ficheros"));
  C<QListWidget>(1056)->setCurrentRow(3);
  C<QPushButton>(1059)->click();
  EXPECT_EQ(C<QListWidget>(1056)->count(), 30);
}

} // namespace
