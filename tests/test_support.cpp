// SPDX-License-Identifier: GPL-3.0-or-later

#include "tests/test_support.h"

#include <grp.h>
#include <signal.h>
#include <unistd.h>

#include <QFile>
#include <QtTest>

namespace TestSupport {

namespace {

// The one end of the pipes to a process that stayed root, or -1.
int g_toRoot = -1;
int g_fromRoot = -1;

// Runs as root: gives each path read from `requests` (one a line) to the user
// "daemon", or for a line that starts with '*', starts the function at the
// address that follows, with the argument after a blank, as that user and
// member of the tests' group; answers '1' or '0', until the tests end.
[[noreturn]] void serveOwnerChanges(int requests, int answers)
{
    ::signal(SIGCHLD, SIG_IGN); // no zombies from the functions started
    QByteArray path;
    char c;
    while (::read(requests, &c, 1) == 1) {
        if (c != '\n') {
            path.append(c);
            continue;
        }
        const uid_t daemonUser = 1;
        const gid_t nobodyGroup = 65534;
        const bool start = path.startsWith('*');
        char given = !start && ::lchown(path.constData(), daemonUser, gid_t(-1)) == 0 ? '1' : '0';
        if (start) {
            const qsizetype blank = path.indexOf(' ');
            const pid_t worker = ::fork();
            if (worker == 0 && ::setgroups(1, &nobodyGroup) == 0 && ::setgid(daemonUser) == 0 &&
                ::setuid(daemonUser) == 0)
                reinterpret_cast<void (*)(const QByteArray &)>(
                    path.mid(1, blank - 1).toULongLong(nullptr, 16))(path.mid(blank + 1));
            if (worker == 0)
                ::_exit(0);
            given = worker > 0 ? '1' : '0';
        }
        if (::write(answers, &given, 1) != 1)
            break;
        path.clear();
    }
    ::_exit(0);
}

} // namespace

void dropRootPrivileges()
{
    if (::geteuid() != 0)
        return;
    // Only root can give a file to another user; a process of its own keeps
    // root for that, so that the tests themselves drop it for good.
    int requests[2];
    int answers[2];
    if (::pipe(requests) == 0 && ::pipe(answers) == 0) {
        const pid_t helper = ::fork();
        if (helper == 0) {
            // Holding the test's output open would keep a test runner waiting.
            for (int fd : {STDOUT_FILENO, STDERR_FILENO, requests[1], answers[0]})
                ::close(fd);
            serveOwnerChanges(requests[0], answers[1]);
        }
        ::close(requests[0]);
        ::close(answers[1]);
        if (helper > 0) {
            g_toRoot = requests[1];
            g_fromRoot = answers[0];
        }
    }
    const gid_t nobodyGroup = 65534;
    const uid_t nobodyUser = 65534;
    if (::setgroups(0, nullptr) != 0 || ::setgid(nobodyGroup) != 0 || ::setuid(nobodyUser) != 0)
        qFatal("cannot drop root privileges for the tests");
}

bool giveToAnotherUser(const QString &path)
{
    const QByteArray request = QFile::encodeName(path) + '\n';
    char given = '0';
    return g_toRoot >= 0 &&
           ::write(g_toRoot, request.constData(), size_t(request.size())) ==
               ssize_t(request.size()) &&
           ::read(g_fromRoot, &given, 1) == 1 && given == '1';
}

bool startAsAnotherUser(void (*work)(const QByteArray &argument), const QByteArray &argument)
{
    return giveToAnotherUser('*' + QString::number(quintptr(work), 16) + ' ' +
                             QFile::decodeName(argument));
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
