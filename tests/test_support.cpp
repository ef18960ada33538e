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

const uid_t kDaemonUser = 1;
const gid_t kNobodyGroup = 65534;

// Runs as root: for each request read from `requests` (one a line), gives a
// path to the user "daemon" ('c' and the path) or starts a function as that
// user ('r', the function's address, a blank and its argument), and answers
// '1' or '0', until the tests end.
[[noreturn]] void serveOwnerChanges(int requests, int answers)
{
    ::signal(SIGCHLD, SIG_IGN); // no zombies from the processes started
    QByteArray request;
    char c;
    while (::read(requests, &c, 1) == 1) {
        if (c != '\n') {
            request.append(c);
            continue;
        }
        const QByteArray rest = request.mid(1);
        bool done = false;
        if (request.startsWith('c')) {
            done = ::lchown(rest.constData(), kDaemonUser, gid_t(-1)) == 0;
        } else if (request.startsWith('r')) {
            const qsizetype blank = rest.indexOf(' ');
            const auto work = reinterpret_cast<void (*)(const QByteArray &)>(
                rest.left(blank).toULongLong(nullptr, 16));
            const pid_t worker = ::fork();
            if (worker == 0) {
                if (::setgroups(1, &kNobodyGroup) != 0 || ::setgid(kDaemonUser) != 0 ||
                    ::setuid(kDaemonUser) != 0)
                    ::_exit(1);
                work(rest.mid(blank + 1));
                ::_exit(0);
            }
            done = worker > 0;
        }
        const char answer = done ? '1' : '0';
        if (::write(answers, &answer, 1) != 1)
            break;
        request.clear();
    }
    ::_exit(0);
}

bool askRoot(const QByteArray &request)
{
    char answer = '0';
    return g_toRoot >= 0 &&
           ::write(g_toRoot, request.constData(), size_t(request.size())) ==
               ssize_t(request.size()) &&
           ::read(g_fromRoot, &answer, 1) == 1 && answer == '1';
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
    const uid_t nobodyUser = 65534;
    if (::setgroups(0, nullptr) != 0 || ::setgid(kNobodyGroup) != 0 || ::setuid(nobodyUser) != 0)
        qFatal("cannot drop root privileges for the tests");
}

bool giveToAnotherUser(const QString &path)
{
    return askRoot('c' + QFile::encodeName(path) + '\n');
}

bool startAsAnotherUser(void (*work)(const QByteArray &argument), const QByteArray &argument)
{
    return askRoot('r' + QByteArray::number(quintptr(work), 16) + ' ' + argument + '\n');
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
