#include <QApplication>

#include "main_window/main_window.h"

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Stockbook"));
    // Lets the desktop match the window to the installed stockbook.desktop
    // entry, and so to its name and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("stockbook"));
    // The database lies beside the program, whatever the working directory.
    Form1 window(QCoreApplication::applicationDirPath());
    window.show();
    return app.exec();
}
