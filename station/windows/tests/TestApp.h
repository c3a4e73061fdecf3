// The one QApplication of a window test program, made on first use, with the modal watchdog of the
// window test driver running.
#pragma once

#include <QApplication>

#include "common/tests/support/WindowTestDriver.h"

inline QApplication& TestApplication() { return window_test::TestApplication("zelt-window-test"); }
