#pragma once

#include <QWidget>

class Form1 final : public QWidget
{
    Q_OBJECT

public:
    explicit Form1(const QString &programDirectory, QWidget *parent = nullptr);

private:
    QString m_programDirectory;
};
