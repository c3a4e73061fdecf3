#pragma once
// Drives windows in tests the way a user answers them, with a deadline on every wait: a window that
// never comes, a dialog that does not close once answered, or a modal window left open fails the test
// with the window's name and is closed, so that a test never waits for ever.
#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include "common/tests/support/TestWait.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace window_test {

// How long a test waits for a window it expects and for a dialog it answered to close, and how long any
// modal window may stay open (a test may wait inside it for other things).
constexpr int kShowDeadlineMs = kTestDeadlineMs;
constexpr int kCloseDeadlineMs = kTestDeadlineMs;
constexpr int kModalDeadlineMs = 3 * kTestDeadlineMs;

// A window as a failure message names it: object name, else title, else class.
inline std::string WindowName(const QWidget& w) {
  if (!w.objectName().isEmpty()) return w.objectName().toStdString();
  if (!w.windowTitle().isEmpty()) return w.windowTitle().toStdString();
  return w.metaObject()->className();
}

// Closes a window as its Cancel or close box would.
inline void CloseWindow(QWidget& w) {
  if (auto* dialog = qobject_cast<QDialog*>(&w))
    dialog->reject();
  else
    w.close();
}

// Fails the test and closes every modal window that stays open longer than kModalDeadlineMs; started
// once with the test program's application.
inline void StartModalWatchdog() {
  static QTimer* watchdog = nullptr;
  if (watchdog) return;
  watchdog = new QTimer(qApp);
  watchdog->setInterval(200);
  struct State {
    QPointer<QWidget> modal;
    QElapsedTimer since;
  };
  auto state = std::make_shared<State>();
  QObject::connect(watchdog, &QTimer::timeout, [state] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal != state->modal) {
      state->modal = modal;
      state->since.start();
      return;
    }
    if (!modal || state->since.elapsed() < kModalDeadlineMs) return;
    ADD_FAILURE() << "window '" << WindowName(*modal) << "' still open after " << kModalDeadlineMs / 1000
                  << " s: closed by the test";
    state->modal = nullptr;
    CloseWindow(*modal);
  });
  watchdog->start();
}

// The test program's one application, made on first use, with the modal watchdog running.
inline QApplication& TestApplication(const char* program) {
  static int argc = 1;
  static std::string name = program;
  static char* argv[] = {name.data(), nullptr};
  static QApplication* app = new QApplication(argc, argv);
  StartModalWatchdog();
  return *app;
}

// A modal dialog the test has answered must close within `deadlineMs` (its work may end it a little
// later, as a progress window does); one that stays fails the test and is cancelled.
inline void ExpectClosedSoon(QDialog* answered, int deadlineMs = kCloseDeadlineMs) {
  if (!answered || !answered->isVisible() || !answered->isModal()) return;
  QPointer<QDialog> dialog(answered);
  const std::string name = WindowName(*dialog);
  const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
  auto* poll = new QTimer;
  auto waited = std::make_shared<QElapsedTimer>();
  waited->start();
  QObject::connect(poll, &QTimer::timeout, [poll, dialog, name, test, waited, deadlineMs] {
    const bool sameTest = ::testing::UnitTest::GetInstance()->current_test_info() == test;
    if (sameTest && dialog && dialog->isVisible() && waited->elapsed() < deadlineMs) return;
    poll->stop();
    poll->deleteLater();
    if (!sameTest || !dialog || !dialog->isVisible()) return;
    ADD_FAILURE() << "window '" << name << "' still open " << deadlineMs / 1000.0 << " s after the test answered it";
    dialog->reject();
  });
  poll->start(50);
}

// The window watches of the running test that have not run their action yet. A watch's action holds
// checks; a watch that never ran leaves them unchecked, so it fails its test when the test ends (or at
// ExpectWindowWatchesRan), unless its window was not due to come (a deadline that passed has said so
// already) or its caller dropped it.
struct WindowWatch {
  QString name;
  const ::testing::TestInfo* test = nullptr;
  bool ran = false;      // its action ran
  bool settled = false;  // its deadline passed (said), or its caller dropped it
};

inline std::vector<std::shared_ptr<WindowWatch>>& PendingWindowWatches() {
  static std::vector<std::shared_ptr<WindowWatch>> watches;
  return watches;
}

// Fails the running test for each of its window watches whose window never came, and forgets them.
inline void ExpectWindowWatchesRan() {
  auto& watches = PendingWindowWatches();
  const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
  for (const auto& watch : watches)
    if (watch->test == test && !watch->ran && !watch->settled)
      ADD_FAILURE() << "window '" << watch->name.toStdString()
                    << "' was never shown before the test ended: the checks of its watch did not run";
  watches.clear();
}

// Calls ExpectWindowWatchesRan as each test ends, so that no test has to remember to.
class WindowWatchCheck : public ::testing::EmptyTestEventListener {
  void OnTestEnd(const ::testing::TestInfo&) override { ExpectWindowWatchesRan(); }
};

inline void CheckWindowWatchesAtEachTestEnd() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  // Appended after the result printer, it is told of a test's end before the printer is.
  ::testing::UnitTest::GetInstance()->listeners().Append(new WindowWatchCheck);
}

// Runs `action` once a top-level widget named `name` is visible: polled from the event loop, so also
// from inside a modal window's nested loop. A window that is not shown within `deadlineMs` fails the
// test (and the modal window open instead, if any, is closed); a dialog still open after `action`
// fails it too (after `closeDeadlineMs`) and is closed. A watch whose window has not come when its test
// ends fails the test: the checks in `action` did not run. The watch deletes itself once done; deleting
// the timer returned drops a watch whose window need not come.
inline QPointer<QTimer> WhenShown(const QString& name, const std::function<void(QWidget&)>& action,
                                  int deadlineMs = kShowDeadlineMs, int closeDeadlineMs = kCloseDeadlineMs) {
  auto* timer = new QTimer;
  timer->setInterval(20);
  const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
  auto watch = std::make_shared<WindowWatch>();
  watch->name = name;
  watch->test = test;
  if (test) {
    CheckWindowWatchesAtEachTestEnd();
    PendingWindowWatches().push_back(watch);
  }
  QObject::connect(timer, &QObject::destroyed, [watch] {
    if (!watch->ran) watch->settled = true;  // dropped by its caller, or its test is over
  });
  auto waited = std::make_shared<QElapsedTimer>();
  waited->start();
  QObject::connect(timer, &QTimer::timeout, [timer, watch, action, waited, deadlineMs, closeDeadlineMs] {
    auto done = [timer] {
      timer->stop();
      timer->deleteLater();
    };
    if (::testing::UnitTest::GetInstance()->current_test_info() != watch->test) return done();
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w->objectName() == watch->name && w->isVisible()) {
        done();
        watch->ran = true;
        QPointer<QWidget> shown(w);
        action(*w);
        ExpectClosedSoon(qobject_cast<QDialog*>(shown.data()), closeDeadlineMs);
        return;
      }
    if (waited->elapsed() < deadlineMs) return;
    done();
    watch->settled = true;
    QWidget* instead = QApplication::activeModalWidget();
    ADD_FAILURE() << "window '" << watch->name.toStdString() << "' not shown within " << deadlineMs / 1000.0 << " s"
                  << (instead ? " ('" + WindowName(*instead) + "' is open instead: closed)" : std::string());
    if (instead) CloseWindow(*instead);
  });
  timer->start();
  return timer;
}

// Selects the first file type of `dialog` whose patterns match the name of `path`, unless the one
// selected already does: the dialog lists only the files of the type on show.
inline void SelectNameFilterShowing(QFileDialog& dialog, const QString& path) {
  const QString fileName = path.section('/', -1);
  auto shows = [&fileName](const QString& filter) {
    const QString patterns = filter.contains('(') ? filter.section('(', 1).section(')', 0, 0) : filter;
    for (const QString& pattern : patterns.split(' ', Qt::SkipEmptyParts))
      if (QRegularExpression::fromWildcard(pattern, Qt::CaseSensitive).match(fileName).hasMatch()) return true;
    return false;
  };
  if (shows(dialog.selectedNameFilter())) return;
  for (const QString& filter : dialog.nameFilters())
    if (shows(filter)) return dialog.selectNameFilter(filter);
}

// Answers an open or save dialog as a user does: picks the file type that shows the file, types `path`
// into the name box (an empty path keeps the name the dialog proposes), waits for the accept button to
// come on (the folder is listed in the background) and presses it. A dialog that stays open fails the
// test and is cancelled. (QFileDialog::selectFile() leaves the name box alone while it has the focus,
// and accept() called directly skips the checks of the button: both pass or hang by timing.)
inline void AnswerFileDialog(QWidget& w, const std::string& path = {}) {
  auto* dialog = qobject_cast<QFileDialog*>(&w);
  if (!dialog) {
    ADD_FAILURE() << "window '" << WindowName(w) << "' is not a file dialog";
    CloseWindow(w);
    return;
  }
  const QString name = QString::fromStdString(path);
  if (!name.isEmpty()) {
    SelectNameFilterShowing(*dialog, name);
    // The dialog weighs a typed name against its folder listing, which is read in the background:
    // an existing file is typed once the listing shows it, as a user sees it before typing.
    auto* listing = dialog->findChild<QFileSystemModel*>();
    if (dialog->acceptMode() == QFileDialog::AcceptOpen && listing && QFileInfo::exists(name) &&
        !WaitUntil([&] { return listing->index(name).isValid(); }, kShowDeadlineMs)) {
      ADD_FAILURE() << "file dialog '" << WindowName(w) << "' does not list '" << path << "'";
      dialog->reject();
      return;
    }
    auto* nameBox = dialog->findChild<QLineEdit*>("fileNameEdit");
    if (!nameBox) {
      ADD_FAILURE() << "file dialog '" << WindowName(w) << "' has no name box";
      dialog->reject();
      return;
    }
    nameBox->setText(name);
  }
  auto* buttons = dialog->findChild<QDialogButtonBox*>("buttonBox");
  QPointer<QPushButton> accept =
      buttons ? buttons->button(dialog->acceptMode() == QFileDialog::AcceptOpen ? QDialogButtonBox::Open
                                                                               : QDialogButtonBox::Save)
              : nullptr;
  if (!accept) {
    ADD_FAILURE() << "file dialog '" << WindowName(w) << "' has no accept button";
    dialog->reject();
    return;
  }
  QPointer<QFileDialog> alive(dialog);
  if (!WaitUntil([&] { return !alive || !accept || accept->isEnabled(); }, kShowDeadlineMs) || !alive ||
      !accept) {
    ADD_FAILURE() << "file dialog '" << WindowName(w) << "': its accept button stays off for '" << path << "'";
    if (alive) dialog->reject();
    return;
  }
  accept->click();
  if (alive && dialog->isVisible()) {
    ADD_FAILURE() << "file dialog '" << WindowName(w) << "' still open after answering '" << path << "'";
    dialog->reject();
  }
}

// Answers the file dialog named `name` with `path` once it is shown.
inline QPointer<QTimer> WhenFileDialogShown(const QString& name, const std::string& path = {}) {
  return WhenShown(name, [path](QWidget& w) { AnswerFileDialog(w, path); });
}

}  // namespace window_test
