// The wait cursor for the time a page talks to the server on the GUI
// thread; restored however the scope ends.
#pragma once

#include <QApplication>

class wait_cursor {
public:
    wait_cursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~wait_cursor() { QApplication::restoreOverrideCursor(); }
    wait_cursor(const wait_cursor&) = delete;
    wait_cursor& operator=(const wait_cursor&) = delete;
};
