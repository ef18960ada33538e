#include "main_window/main_window.h"

Form1::Form1(const QString &programDirectory, QWidget *parent)
    : QWidget(parent), m_programDirectory(programDirectory)
{
    setObjectName(QStringLiteral("Form1"));
}
