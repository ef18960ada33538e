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
    if (::setgroups(0, nullptr) != 0 || ::setresgid(nobodyGroup, nobodyGroup, 0) != 0 ||
        ::setresuid(nobodyUser, nobodyUser, 0) != 0)
        qFatal("cannot drop root privileges for the tests");
}

bool giveToAnotherUser(const QString &path)
{
    uid_t real, effective, saved;
    if (::getresuid(&real, &effective, &saved) != 0 || saved != 0 || ::seteuid(0) != 0)
        return false;
    const uid_t daemonUser = 1;
    const bool given = ::lchown(QFile::encodeName(path).constData(), daemonUser, gid_t(-1)) == 0;
    return ::seteuid(effective) == 0 && given;
}

ProgramDirectory::ProgramDirectory()
{
    QVERIFY2(m_dir.isValid(), qPrintable(m_dir.errorString()));
}

ProgramDirectory::ProgramDirectory(const QByteArray &database) : ProgramDirectory()
{
    writeDatabase(database);
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
