#include <QApplication>

#include "main_window/main_window.h"

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    Form1 window(QCoreApplication::applicationDirPath());
    window.show();
    return app.exec();
}
