// SPDX-License-Identifier: GPL-3.0-or-later

#include <csignal>

#include <QApplication>

#include "main_window/main_window.h"

int main(int argc, char *argv[])
{
#if defined(SIGXFSZ)
    // A save beyond a file size limit then fails with "File too large", as on
    // a full disk, and the window says so, instead of the program being killed
    // with the unsaved work.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Stockbook"));
    // Lets the desktop match the window to the installed stockbook.desktop
    // entry, and so to its name and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("stockbook"));
    // The database lies beside the program, whatever the working directory.
    // (Empty when the folder's name cannot be read as text: the window then
    // reads and writes nothing.)
    Form1 window(QCoreApplication::applicationDirPath());
    window.show();
    return app.exec();
}
