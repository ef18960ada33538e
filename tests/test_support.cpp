#include "tests/test_support.h"

#include <grp.h>
#include <unistd.h>

#include <QFile>
#include <QtTest>

namespace TestSupport {

void dropRootPrivileges()
{
    if (::geteuid() != 0)
        return;
    const gid_t nobodyGroup = 65534;
    const uid_t nobodyUser = 65534;
    if (::setgroups(0, nullptr) != 0 || ::setgid(nobodyGroup) != 0 || ::setuid(nobodyUser) != 0)
        qFatal("cannot drop root privileges for the tests");
}

ProgramDirectory::ProgramDirectory()
{
    QVERIFY2(m_dir.isValid(), qPrintable(m_dir.errorString()));
}

QString ProgramDirectory::path() const
{
    return m_dir.path();
}

QString ProgramDirectory::databasePath() const
{
    return m_dir.path() + QStringLiteral("/stockbook.txt");
}

void ProgramDirectory::writeDatabase(const QByteArray &bytes) const
{
    QFile file(databasePath());
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

QByteArray ProgramDirectory::readDatabase() const
{
    QFile file(databasePath());
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

} // namespace TestSupport
