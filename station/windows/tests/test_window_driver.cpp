// The window test driver that every window test answers its dialogs with: a file dialog is answered
// however its focus and file type stand, and a window that never comes or never closes fails the test
// at once instead of leaving it waiting.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <QDialog>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QTimer>

#include "common/tests/PlatformTestEnv.h"
#include "common/tests/support/WindowTestDriver.h"
#include "station/windows/tests/TestApp.h"

namespace {

using window_test::AnswerFileDialog;
using window_test::WhenShown;

class WindowDriver : public ::testing::Test {
protected:
    void SetUp() override { TestApplication(); }
    ScopedTestHome home;
};

// An open dialog as the plug-ins make one: two file types, the first of which hides the file, and the
// name box with the focus when the test gets to it.
TEST_F(WindowDriver, FileDialogIsAnsweredWhateverHasTheFocusAndWhateverTypeIsShown)
{
    const auto file = home.Root() / "SITE0601.ta2";
    ScopedTestHome::Write(file, "result\n");
    ScopedTestHome::Write(home.Root() / "SITE0601.tao", "result\n");
    QFileDialog dialog(nullptr, "Open", QString::fromStdString(home.Root().string()), "*.tao (*.tao);;*.ta2 (*.ta2)");
    dialog.setObjectName("OpenDialog1");
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFile);
    WhenShown("OpenDialog1", [&](QWidget& w) {
        auto* nameBox = w.findChild<QLineEdit*>("fileNameEdit");
        ASSERT_NE(nameBox, nullptr);
        w.activateWindow();
        nameBox->setFocus();
        AnswerFileDialog(w, file.string());
    });
    ASSERT_EQ(dialog.exec(), QDialog::Accepted);
    EXPECT_EQ(dialog.selectedFiles().value(0).toStdString(), file.string());
}

// A save dialog keeps the name it proposes when the test gives none.
TEST_F(WindowDriver, SaveDialogTakesTheProposedName)
{
    const auto proposed = home.Root() / "export.txt";
    QFileDialog dialog(nullptr, "ASCII Export", QString::fromStdString(proposed.string()), "*.txt (*.txt)");
    dialog.setObjectName("SaveDialog1");
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    WhenShown("SaveDialog1", [](QWidget& w) { AnswerFileDialog(w); });
    ASSERT_EQ(dialog.exec(), QDialog::Accepted);
    EXPECT_EQ(dialog.selectedFiles().value(0).toStdString(), proposed.string());
}

// A window that never comes fails the test with its name, and the window open in its place is
// closed so that the test goes on.
TEST_F(WindowDriver, WindowThatNeverComesFailsAndClosesTheOneInItsPlace)
{
    QDialog other;
    other.setObjectName("SomethingElse");
    QElapsedTimer took;
    took.start();
    int result = -1;
    EXPECT_NONFATAL_FAILURE(
        {
            WhenShown("ExpectedDialog", [](QWidget&) {}, 250);
            result = other.exec();
        },
        "window 'ExpectedDialog' not shown within 0.25 s ('SomethingElse' is open instead: closed)");
    EXPECT_EQ(result, QDialog::Rejected);
    EXPECT_LT(took.elapsed(), kTestDeadlineMs);  // by its own deadline, not by the modal watchdog
}

// A dialog the test answered that stays open fails the test and is cancelled.
TEST_F(WindowDriver, DialogThatStaysOpenAfterItsAnswerFailsAndIsClosed)
{
    QDialog stubborn;
    stubborn.setObjectName("Stubborn");
    int result = -1;
    EXPECT_NONFATAL_FAILURE(
        {
            WhenShown("Stubborn", [](QWidget&) { /* answered, but nothing closes it */ }, window_test::kShowDeadlineMs, 250);
            result = stubborn.exec();
        },
        "window 'Stubborn' still open 0.25 s after the test answered it");
    EXPECT_EQ(result, QDialog::Rejected);
}

// A watch whose window never came before the test ended fails the test: the checks in it did not run.
TEST_F(WindowDriver, WatchWhoseWindowNeverCameFailsItsTest)
{
    bool ran = false;
    EXPECT_NONFATAL_FAILURE(
        {
            WhenShown("NeverShown", [&](QWidget&) { ran = true; });
            window_test::ExpectWindowWatchesRan();
        },
        "window 'NeverShown' was never shown before the test ended: the checks of its watch did not run");
    EXPECT_FALSE(ran);
}

// A watch that ran, and one its caller dropped, end their test quietly.
TEST_F(WindowDriver, WatchThatRanOrWasDroppedEndsQuietly)
{
    QDialog shown;
    shown.setObjectName("ShownDialog");
    bool ran = false;
    WhenShown("ShownDialog", [&](QWidget& w) {
        ran = true;
        static_cast<QDialog&>(w).accept();
    });
    EXPECT_EQ(shown.exec(), QDialog::Accepted);
    EXPECT_TRUE(ran);
    delete WhenShown("NotDue", [](QWidget&) { ADD_FAILURE() << "not due"; }).data();
    EXPECT_NO_FATAL_FAILURE(window_test::ExpectWindowWatchesRan());
    EXPECT_FALSE(HasNonfatalFailure());
}

}  // namespace
