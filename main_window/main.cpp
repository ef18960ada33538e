// SPDX-License-Identifier: GPL-3.0-or-later

#include <csignal>

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include "main_window/main_window.h"
#include "record_store/record_store.h"

int main(int argc, char *argv[])
{
#if defined(SIGXFSZ)
    // A save beyond a file size limit then fails with "File too large", as on
    // a full disk, and the window says so, instead of the program being killed
    // with the unsaved work.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    RecordStore::keepFreedMemoryForReuse();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Stockbook"));
    // Lets the desktop match the window to the installed stockbook.desktop
    // entry, and so to its name and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("stockbook"));
    // A translation of the texts, stockbook_<language>.qm, is taken from Qt's
    // translations folder, which only the system's administrator can write
    // to, never from the program folder, which a shared install may let
    // others write to. Without one the texts stay English.
    QTranslator translation;
    if (translation.load(QLocale(), QStringLiteral("stockbook"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(&translation);
    // The database lies beside the program, whatever the working directory.
    // (Empty when the folder's name cannot be read as text: the window then
    // reads and writes nothing.)
    Form1 window(QCoreApplication::applicationDirPath());
    window.show();
    return app.exec();
}
