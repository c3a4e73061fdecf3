// The one QApplication of a window test program, made on first use.
#pragma once

#include <QApplication>

inline QApplication& TestApplication()
{
    static int argc = 1;
    static char name[] = "zelt-window-test";
    static char* argv[] = {name, nullptr};
    static QApplication app(argc, argv);
    return app;
}
