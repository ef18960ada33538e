// SPDX-License-Identifier: GPL-3.0-or-later

// Faults of the database file: unreadable, in a read-only directory, shadowed
// by a directory, on a full disk, written by a process that is killed, behind a
// symbolic link and with its own permissions. In each, the old content stays
// intact, and where the user acts the window says what went wrong.
#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLineEdit>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QtTest>

#include "main_window/main_window.h"
#include "record_store/history.h"
#include "record_store/record_store.h"
#include "tests/test_support.h"
#include "tests/window_driver.h"

using namespace RecordStore;
using namespace TestSupport;

// While set, renaming a save's temporary file over the database fails, as on
// a disk that fails at the last step of a save. Flushes of a folder are
// counted from the last rename on, and flushes of a version until a rename.
// (Defined here, these stand in for the C library's functions that the store
// and the toolkit call.)
static bool g_failRename = false;
static int g_folderFlushesSinceRename = 0;
static int g_versionFlushes = 0;
static int g_versionFlushesBeforeRename = 0;
// Another program that rewrites the database g_otherWrites more times, each
// just after a save flushed its new content (after the merge, before the
// rename), adding a line "other <n>" to g_otherText.
static QString g_otherDatabase;
static QByteArray g_otherText;
static int g_otherWrites = 0;
// While set, the database is replaced by a symbolic link to this path just
// before the store opens it to read it: after the check, before the open.
static QByteArray g_linkBeforeOpen;
extern "C" int renameat(int fromFolder, const char *from, int toFolder, const char *to)
{
    using Rename = int (*)(int, const char *, int, const char *);
    static const auto realRename = reinterpret_cast<Rename>(::dlsym(RTLD_NEXT, "renameat"));
    if (g_failRename) {
        errno = EIO;
        return -1;
    }
    g_folderFlushesSinceRename = 0;
    g_versionFlushesBeforeRename = std::exchange(g_versionFlushes, 0);
    return realRename(fromFolder, from, toFolder, to);
}

extern "C" int rename(const char *from, const char *to)
{
    return renameat(AT_FDCWD, from, AT_FDCWD, to);
}

extern "C" int fsync(int fd)
{
    static const auto realFsync = reinterpret_cast<int (*)(int)>(::dlsym(RTLD_NEXT, "fsync"));
    struct stat status = {};
    g_folderFlushesSinceRename += int(::fstat(fd, &status) == 0 && S_ISDIR(status.st_mode));
    if (S_ISREG(status.st_mode)) {
        const QFileInfo file(QStringLiteral("/proc/self/fd/%1").arg(fd));
        const bool version = file.symLinkTarget().contains("/stockbook-versions/");
        g_versionFlushes += int(version);
        if (!version && g_otherWrites > 0) {
            g_otherText += "other " + QByteArray::number(g_otherWrites--) + "\r\n";
            QFile other(g_otherDatabase);
            if (other.open(QIODevice::WriteOnly))
                other.write(g_otherText + "\r\n");
        }
    }
    return realFsync(fd);
}

extern "C" int openat(int folder, const char *name, int flags, ...)
{
    using Open = int (*)(int, const char *, int, ...);
    static const auto realOpen = reinterpret_cast<Open>(::dlsym(RTLD_NEXT, "openat"));
    va_list rest;
    va_start(rest, flags);
    const bool creates = (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE;
    const mode_t mode = creates ? va_arg(rest, mode_t) : 0;
    va_end(rest);
    if (!g_linkBeforeOpen.isEmpty() && qstrcmp(name, "stockbook.txt") == 0 &&
        (flags & (O_PATH | O_ACCMODE)) == O_RDONLY) {
        ::unlinkat(folder, name, 0);
        ::symlinkat(std::exchange(g_linkBeforeOpen, {}).constData(), folder, name);
    }
    return realOpen(folder, name, flags, mode);
}

namespace {

const QString r1 = ComposeRecordLine("A1", "10k", "25", "Resistor");
const QString r2 = ComposeRecordLine("B2", "BC547", "4", "Transistor");
const QString r3 = ComposeRecordLine("C3", "NE555", "7", "IC");

QString reason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// `count` record lines whose items carry `tag`, so that two databases made
// with different tags share no line.
QString database(int count, const char *tag)
{
    QString text;
    for (int k = 0; k < count; ++k)
        text += ComposeRecordLine(QStringLiteral("Box %1").arg(k % 97),
                                  QStringLiteral("%1 part %2").arg(QLatin1String(tag)).arg(k),
                                  QString::number(k % 1000), QStringLiteral("Resistor"));
    return text;
}

mode_t modeOf(const QString &path)
{
    struct stat status = {};
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0)
        return 0;
    return status.st_mode & 07777;
}

void setMode(const QString &path, mode_t mode)
{
    QVERIFY(::chmod(QFile::encodeName(path).constData(), mode) == 0);
}

// Everything in the program directory besides the database itself (temporary
// files that a save left behind).
QStringList strayEntries(const QString &directory)
{
    QStringList entries = QDir(directory).entryList(QDir::AllEntries | QDir::NoDotAndDotDot |
                                                    QDir::Hidden | QDir::System);
    entries.removeAll(QStringLiteral("stockbook.txt"));
    entries.removeAll(QStringLiteral("stockbook-versions"));
    return entries;
}

// Adds a record and clicks Save, which must be refused: the catcher's message
// number `k` is a warning that names the database, not the message of a save
// that worked.
void saveIsRefused(const WindowDriver &w, const MessageCatcher &messages, const QString &path,
                   const QStringList &record, int k)
{
    w.add(record[0], record[1]);
    w.click(Save);
    QCOMPARE(messages.texts().size(), k + 1);
    const QString message = messages.texts()[k];
    QVERIFY2(message.contains(path) && !message.startsWith("Database saved"), qPrintable(message));
}

int environmentCount(const char *name, int fallback)
{
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok && value > 0 ? value : fallback;
}

// Saves of two contents over each other, killed at random moments, and what
// the kills left. The contents differ in size and in every line, so a mix or a
// truncation of either is neither.
struct KilledSaves
{
    explicit KilledSaves(quint32 givenSeed) : seed(givenSeed) {}

    // Writes the old content; then times the longest of a few rounds of two
    // saves, once the versions folder is full and every save prunes it, as it
    // is where the kills fall.
    void prepare()
    {
        QVERIFY(WriteDatabaseFile(dir.path(), oldText).ok());
        oldBytes = dir.readDatabase();
        for (int k = 0; k < kVersionsKept / 2; ++k)
            QVERIFY(WriteDatabaseFile(dir.path(), newText + QString::number(k)).ok() &&
                    WriteDatabaseFile(dir.path(), oldText).ok());
        for (int k = 0; k < 3; ++k) {
            QElapsedTimer round;
            round.start();
            QVERIFY(WriteDatabaseFile(dir.path(), newText).ok());
            QVERIFY(WriteDatabaseFile(dir.path(), oldText).ok());
            roundMicroseconds = qMax<qint64>(round.nsecsElapsed() / 1000, roundMicroseconds);
        }
    }

    // A child first writes the content the file does not hold, so a kill
    // before its first rename keeps the file and one after replaces it.
    void killOne(int trial, qint64 delayMicroseconds)
    {
        const bool holdsOld = dir.readDatabase() == oldBytes;
        RecordStore::Internal::History::finishRemovals();
        const pid_t child = ::fork();
        if (child == 0) {
            for (;;) {
                static_cast<void>(WriteDatabaseFile(dir.path(), holdsOld ? newText : oldText));
                static_cast<void>(WriteDatabaseFile(dir.path(), holdsOld ? oldText : newText));
            }
        }
        QVERIFY(child > 0);
        ::usleep(useconds_t(delayMicroseconds));
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        const QByteArray bytes = dir.readDatabase();
        QVERIFY2(bytes == oldBytes || bytes == newBytes,
                 qPrintable(QStringLiteral("trial %1 (STOCKBOOK_KILL_SEED=%2): the file holds "
                                           "%3 bytes, neither the old %4 nor the new %5")
                                .arg(trial)
                                .arg(seed)
                                .arg(bytes.size())
                                .arg(oldBytes.size())
                                .arg(newBytes.size())));
        ((bytes == oldBytes) == holdsOld ? kept : replaced) += 1;
        // A killed save leaves its unfinished temporary file; it is not the
        // database and does not disturb the next save.
        for (const QString &stray : strayEntries(dir.path())) {
            ++leftBehind;
            QFile::remove(dir.path() + "/" + stray);
        }
    }

    const quint32 seed;
    ProgramDirectory dir;
    const QString oldText = database(15000, "old");
    const QString newText = database(25000, "new");
    QByteArray oldBytes;
    const QByteArray newBytes = (newText + "\r\n").toUtf8();
    qint64 roundMicroseconds = 1000;
    int kept = 0;
    int replaced = 0;
    int leftBehind = 0;
};

// Writes `text` in a child process whose files may grow to `limit` bytes, as
// on a disk with that much room left; returns what WriteDatabaseFile said.
FileResult<ContentDigest> writeWithSizeLimit(const QString &directory, const QString &text,
                                             rlim_t limit)
{
    int channel[2];
    if (::pipe(channel) != 0)
        return {FileStatus::Failed, QStringLiteral("pipe failed")};
    // The child has no thread but this one: none may be removing versions.
    RecordStore::Internal::History::finishRemovals();
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(channel[0]);
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit size = {};
        ::getrlimit(RLIMIT_FSIZE, &size);
        size.rlim_cur = limit;
        ::setrlimit(RLIMIT_FSIZE, &size);
        const auto written = WriteDatabaseFile(directory, text);
        const QByteArray report = (written.ok() ? "1" : "0") + written.reason.toUtf8();
        [[maybe_unused]] const ssize_t sent = ::write(channel[1], report.data(), report.size());
        RecordStore::Internal::History::finishRemovals();
        ::_exit(0);
    }
    ::close(channel[1]);
    QByteArray report;
    char buffer[512];
    for (ssize_t got; (got = ::read(channel[0], buffer, sizeof buffer)) > 0;)
        report.append(buffer, got);
    ::close(channel[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || report.isEmpty())
        return {FileStatus::Failed, QStringLiteral("the writing process died")};
    return {report.startsWith('1') ? FileStatus::Ok : FileStatus::Failed,
            QString::fromUtf8(report.mid(1))};
}

// What another user swaps in: `name` in the program folder, with `link`, a
// link of theirs to `target` in the folder's parent.
struct Swap
{
    const char *name;
    const char *link;
    const char *target;
};

// Run as another user, a member of the group of the program folder `path`:
// swaps each of `swaps` over and over (a link made anew when the program
// replaced or moved it, a name that the program moved away made anew as a
// file of theirs), until a file "stop" appears, which it removes, or ten
// seconds passed.
void swapUntilStopped(const QByteArray &path, std::initializer_list<Swap> swaps)
{
    const int folder = ::open(path.constData(), O_RDONLY | O_DIRECTORY);
    const QByteArray parent = path.left(path.lastIndexOf('/')) + '/';
    struct stat entry;
    const auto isLink = [&](const char *name) {
        return ::fstatat(folder, name, &entry, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(entry.st_mode);
    };
    for (const time_t end = ::time(nullptr) + 10;
         ::unlinkat(folder, "stop", 0) != 0 && ::time(nullptr) < end;) {
        for (const Swap &swap : swaps) {
            if (!isLink(swap.link) && !isLink(swap.name)) {
                ::unlinkat(folder, swap.link, 0);
                ::symlinkat(QByteArray(parent + swap.target).constData(), folder, swap.link);
            }
            if (::fstatat(folder, swap.name, &entry, AT_SYMLINK_NOFOLLOW) != 0) {
                const int file = ::openat(folder, swap.name, O_WRONLY | O_CREAT | O_EXCL, 0644);
                [[maybe_unused]] const ssize_t written = ::write(file, "[Box]: THEIRS\r\n", 15);
                ::close(file);
            }
            ::renameat2(folder, swap.link, folder, swap.name, RENAME_EXCHANGE);
        }
    }
}

// The database, with a link to the parent's stockbook.txt.
void swapInLinks(const QByteArray &path)
{
    swapUntilStopped(path, {{"stockbook.txt", "link", "stockbook.txt"}});
}

// The versions folder, with a link to the parent's folder "private", and a
// conflict copy of theirs, with a link to the parent's stockbook.txt.
void swapInLinksBeside(const QByteArray &path)
{
    swapUntilStopped(path, {{"stockbook-versions", "versions-link", "private"},
                            {"stockbook.sync-conflict-20261208-100000-ABCDEFG.txt", "copy-link",
                             "stockbook.txt"}});
}

} // namespace

class FaultsTest final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void unreadableAtStartUp_data();
    void unreadableAtStartUp();
    void unreadableDuringSearchAndUpdate();
    void readOnlyDirectory();
    void directoryNamedLikeTheDatabase();
    void fullDisk_data();
    void fullDisk();
    void fullDiskInTheWindow();
    void largestFileIsRead();
    void otherWriterBeforeTheRename_data();
    void otherWriterBeforeTheRename();
    void versionNotWrittenThroughALink_data();
    void versionNotWrittenThroughALink();
    void linkSwappedInBeforeTheOpen();
    void outOfMemory();
    void killedWhileSaving();
    void symbolicLinkKeptAcrossSaves();
    void linkInSharedFolder_data();
    void linkInSharedFolder();
    void linkSwappedInWhileSavingAndSearching();
    void permissionsKeptAcrossSaves_data();
    void permissionsKeptAcrossSaves();
    void readOnlyFileIsNotReplaced();
    void copiesThatAreNoFilesAreLeft();
};

void FaultsTest::initTestCase()
{
    QLocale::setDefault(QLocale::c());
    QVERIFY2(::geteuid() != 0, "the tests must not run as root, or no permission ever fails");
}

void FaultsTest::unreadableAtStartUp_data()
{
    QTest::addColumn<qint64>("size"); // of a file of zeros, or 0 for one that cannot be read
    QTest::addColumn<QString>("why");
    QTest::newRow("no permission to read") << qint64(0) << reason(EACCES);
    QTest::newRow("one byte larger than 256 MiB")
        << (qint64(256) << 20) + 1
        << "268435457 bytes (256 MiB), more than the 268435456 bytes (256 MiB)";
}

void FaultsTest::unreadableAtStartUp()
{
    QFETCH(qint64, size);
    QFETCH(QString, why);
    const QByteArray old = (r1 + r2 + "\r\n").toUtf8();
    ProgramDirectory dir(old);
    if (size > 0)
        QVERIFY(QFile::resize(dir.databasePath(), size)); // sparse: takes no room
    else
        setMode(dir.databasePath(), 0);

    MessageCatcher messages;
    WindowDriver w(dir.path());
    QTRY_COMPARE(messages.texts().size(), 1);
    QVERIFY2(messages.texts()[0].contains(dir.databasePath()), qPrintable(messages.texts()[0]));
    QVERIFY2(messages.texts()[0].contains(why), qPrintable(messages.texts()[0]));
    QCOMPARE(w.viewText(), QString());

    // A record added to the empty view is not saved over the unread file.
    saveIsRefused(w, messages, dir.databasePath(), {"Z9", "spare"}, 1);
    if (QTest::currentTestFailed())
        return;

    // Nor is an Update of it.
    w.clickLine(0, 3);
    QCOMPARE(w.entry()[0], QString("Z9"));
    w.typeInto(Count, "5");
    w.click(Update);
    QCOMPARE(messages.texts().size(), 3);
    QVERIFY(!messages.texts()[2].startsWith("Database saved"));
    // A search says why it finds nothing.
    w.typeSearch("Z");
    QCOMPARE(messages.texts().size(), 4);
    QVERIFY2(messages.texts()[3].contains(why), qPrintable(messages.texts()[3]));

    setMode(dir.databasePath(), 0600);
    QCOMPARE(QFileInfo(dir.databasePath()).size(), size > 0 ? size : old.size());
    QVERIFY(size > 0 || dir.readDatabase() == old);
    QCOMPARE(strayEntries(dir.path()), QStringList());
}

void FaultsTest::unreadableDuringSearchAndUpdate()
{
    const QByteArray old = (r1 + r2 + r3 + "\r\n").toUtf8();
    ProgramDirectory dir(old);
    MessageCatcher messages;
    WindowDriver w(dir.path());
    QCOMPARE(w.viewText(), r1 + r2 + r3);

    // Two key strokes, two failed searches, one warning.
    setMode(dir.databasePath(), 0);
    w.typeSearch("B2");
    QCOMPARE(messages.texts().size(), 1);
    QVERIFY2(messages.texts()[0].contains(dir.databasePath()), qPrintable(messages.texts()[0]));
    QVERIFY2(messages.texts()[0].contains(reason(EACCES)), qPrintable(messages.texts()[0]));
    QCOMPARE(w.viewText(), QString());
    w.click(Save);
    QCOMPARE(messages.texts().size(), 1);

    // Readable again: the search works, and a pick of the filtered view...
    setMode(dir.databasePath(), 0600);
    w.typeSearch("B2");
    QCOMPARE(w.viewText(), r2);
    w.clickLine(0, 5);
    QCOMPARE(w.entry(), (QStringList{"B2", "BC547", "4", "Transistor"}));
    w.click(Plus);

    // ...cannot be updated while the file cannot be read: nothing changes.
    setMode(dir.databasePath(), 0);
    w.click(Update);
    QCOMPARE(messages.texts().size(), 2);
    QVERIFY2(messages.texts()[1].contains(reason(EACCES)), qPrintable(messages.texts()[1]));
    QCOMPARE(w.viewText(), r2);
    QCOMPARE(w.entry(), (QStringList{"B2", "BC547", "5", "Transistor"}));
    setMode(dir.databasePath(), 0600);
    QCOMPARE(dir.readDatabase(), old);

    // Once it can, the same Update keeps the records the filter hides.
    w.click(Update);
    QCOMPARE(messages.texts().size(), 2);
    const QString changed = ComposeRecordLine("B2", "BC547", "5", "Transistor");
    QCOMPARE(w.viewText(), changed);
    QCOMPARE(dir.readDatabase(), (r1 + changed + r3 + "\r\n").toUtf8());
}

void FaultsTest::readOnlyDirectory()
{
    const QByteArray old = (r1 + r2 + "\r\n").toUtf8();
    ProgramDirectory dir(old);
    MessageCatcher messages;
    WindowDriver w(dir.path());
    setMode(dir.path(), 0555);

    w.typeInto(Box, "C3");
    w.typeInto(Item, "NE555");
    w.typeInto(Count, "7");
    w.typeInto(Type, "IC");
    w.click(Add);
    w.click(Save);
    // Both say which folder to make writable.
    const QString notWritable = "the folder " + dir.path() + " is not writable";
    QCOMPARE(messages.texts().size(), 1);
    QVERIFY2(messages.texts()[0].contains(notWritable), qPrintable(messages.texts()[0]));
    QCOMPARE(w.viewText(), r1 + r2 + r3);

    w.clickLine(1, 4);
    w.click(Minus);
    w.click(Update);
    QCOMPARE(messages.texts().size(), 2);
    QVERIFY2(messages.texts()[1].contains(notWritable), qPrintable(messages.texts()[1]));
    // The view keeps its text and the fields their edit, so nothing is lost.
    QCOMPARE(w.viewText(), r1 + r2 + r3);
    QCOMPARE(w.entry(), (QStringList{"B2", "BC547", "3", "Transistor"}));

    setMode(dir.path(), 0755);
    QCOMPARE(dir.readDatabase(), old);
    QCOMPARE(strayEntries(dir.path()), QStringList());

    // Moved away while the window is open: Save says that it is gone.
    QVERIFY(QDir().rename(dir.path(), dir.path() + "-moved"));
    w.click(Save);
    QVERIFY(QDir().rename(dir.path() + "-moved", dir.path()));
    QCOMPARE(messages.texts().size(), 3);
    QVERIFY2(messages.texts()[2].contains("the folder " + dir.path() + " no longer exists"),
             qPrintable(messages.texts()[2]));

    // A version of the file that cannot be kept stops the save.
    QVERIFY(QDir(dir.path()).mkdir("stockbook-versions"));
    setMode(dir.path() + "/stockbook-versions", 0555);
    w.click(Save);
    QCOMPARE(messages.texts().size(), 4);
    QVERIFY2(messages.texts()[3].contains("could not be kept in " + dir.path() + "/stockbook-"),
             qPrintable(messages.texts()[3]));
    QCOMPARE(dir.readDatabase(), old);
}

void FaultsTest::directoryNamedLikeTheDatabase()
{
    ProgramDirectory dir;
    QVERIFY(QDir(dir.path()).mkdir("stockbook.txt"));
    MessageCatcher messages;
    WindowDriver w(dir.path());
    QTest::qWait(20);
    QCOMPARE(messages.texts(), QStringList());
    QCOMPARE(w.viewText(), QString());

    saveIsRefused(w, messages, dir.databasePath(), {"A1", "10k"}, 0);
    QVERIFY(QFileInfo(dir.databasePath()).isDir());

    // A search finds no database file and says nothing; the record added
    // and not saved is still shown.
    w.typeSearch("A");
    QCOMPARE(w.viewText(), QString("[Box]: A1 [Item]: 10k [Nr]: 0 [Type]: ...\r\n"));
    QCOMPARE(messages.texts().size(), 1);
    QVERIFY(QFileInfo(dir.databasePath()).isDir());
    QCOMPARE(strayEntries(dir.path()), QStringList());

    // A file in the place of the versions folder is named as such.
    QVERIFY(QDir(dir.path()).rmdir("stockbook.txt"));
    QVERIFY(QFile(dir.path() + "/stockbook-versions").open(QIODevice::WriteOnly));
    saveIsRefused(w, messages, dir.databasePath(), {"A2", "x"}, 1);
    QVERIFY2(messages.texts()[1].contains("a file named stockbook-versions is in the way"),
             qPrintable(messages.texts()[1]));
#if !defined(STOCKBOOK_PORTABLE) // which tells a folder only by its path
    // A folder that took the program folder's place (a removed disk whose
    // mount point stayed) is not written to.
    const QString away = dir.path() + ".away";
    QVERIFY(QDir().rename(dir.path(), away) && QDir().mkdir(dir.path()));
    const auto removeAway = qScopeGuard([&] { QDir(away).removeRecursively(); });
    saveIsRefused(w, messages, dir.databasePath(), {"A3", "x"}, 2);
    QVERIFY2(messages.texts()[2].contains("no longer the one Stockbook started from"),
             qPrintable(messages.texts()[2]));
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
#endif
}

void FaultsTest::fullDisk_data()
{
    QTest::addColumn<int>("room");
    const QString text = database(3000, "new");
    const int size = int((text + "\r\n").toUtf8().size());
    QTest::newRow("no room at all") << 0;
    QTest::newRow("room for a block") << 4096;
    QTest::newRow("room for half") << size / 2;
    QTest::newRow("one byte short of the final line end") << size - 1;
}

void FaultsTest::fullDisk()
{
    QFETCH(int, room);
    const QByteArray old = (database(500, "old") + "\r\n").toUtf8();
    ProgramDirectory dir(old);
    const auto written = writeWithSizeLimit(dir.path(), database(3000, "new"), rlim_t(room));
    QVERIFY(!written.ok());
    QVERIFY2(written.reason.contains(reason(EFBIG)), qPrintable(written.reason));
    QCOMPARE(dir.readDatabase(), old);
    QCOMPARE(strayEntries(dir.path()), QStringList());

    // With exactly enough room the same write succeeds.
    const QString text = database(3000, "new");
    const auto fits = writeWithSizeLimit(dir.path(), text, rlim_t((text + "\r\n").toUtf8().size()));
    QVERIFY2(fits.ok(), qPrintable(fits.reason));
    QCOMPARE(dir.readDatabase(), (text + "\r\n").toUtf8());

    // Room for the new content, not for the version of the larger one it
    // replaces: nothing is written, and the system's reason is said.
    const QByteArray large = (database(4000, "large") + "\r\n").toUtf8();
    dir.writeDatabase(large);
    const auto notKept = writeWithSizeLimit(dir.path(), "small", 4096);
    QVERIFY2(notKept.reason.contains("could not be kept") && notKept.reason.contains(reason(EFBIG)),
             qPrintable(notKept.reason));
    QCOMPARE(dir.readDatabase(), large);
    // Nor is a version cut short left under its name: only old's and new's.
    QCOMPARE(QDir(dir.path() + "/stockbook-versions").entryList({"stockbook-*"}).size(), 2);
}

void FaultsTest::fullDiskInTheWindow()
{
    const QByteArray old = (r1 + r2 + "\r\n").toUtf8();
    ProgramDirectory dir(old);
    MessageCatcher messages;
    WindowDriver w(dir.path());
    w.add("D4", QString(1200, 'x'));

    rlimit size = {};
    QVERIFY(::getrlimit(RLIMIT_FSIZE, &size) == 0);
    const rlimit unlimited = size;
    size.rlim_cur = 1000;
    const auto previousHandler = ::signal(SIGXFSZ, SIG_IGN);
    QVERIFY(::setrlimit(RLIMIT_FSIZE, &size) == 0);
    w.click(Save);
    QVERIFY(::setrlimit(RLIMIT_FSIZE, &unlimited) == 0);
    ::signal(SIGXFSZ, previousHandler);

    QCOMPARE(messages.texts().size(), 1);
    QVERIFY2(messages.texts()[0].contains(reason(EFBIG)), qPrintable(messages.texts()[0]));
    QCOMPARE(dir.readDatabase(), old);
    QCOMPARE(strayEntries(dir.path()), QStringList());

    // Written whole, but the last step, the rename over the old file, fails.
    g_failRename = true;
    w.click(Save);
    g_failRename = false;
    QCOMPARE(messages.texts().size(), 2);
    QVERIFY2(messages.texts()[1].contains(reason(EIO)), qPrintable(messages.texts()[1]));
    QCOMPARE(dir.readDatabase(), old);
    QCOMPARE(strayEntries(dir.path()), QStringList());

    // Room again: the same view saves, and the folder is flushed after the
    // rename (where the system can flush a folder).
    w.click(Save);
    QCOMPARE(messages.texts().size(), 3);
    QVERIFY(messages.texts()[2].startsWith("Database saved in "));
#if defined(STOCKBOOK_PORTABLE)
    QCOMPARE(g_folderFlushesSinceRename, 0);
#else
    QCOMPARE(g_folderFlushesSinceRename, 1);
#endif
    QCOMPARE(dir.readDatabase(), (w.viewText() + "\r\n").toUtf8());
}

void FaultsTest::largestFileIsRead()
{
    ProgramDirectory dir(QByteArray{});
    QVERIFY(QFile::resize(dir.databasePath(), qint64(256) << 20)); // sparse: takes no room
    const auto found = FilterDatabaseLines(dir.path(), "x");
    QVERIFY2(found.ok(), qPrintable(found.reason));
}

void FaultsTest::otherWriterBeforeTheRename_data()
{
    QTest::addColumn<int>("writes");
    QTest::addColumn<QByteArray>("file");
    QTest::newRow("once: merged again") << 1 << QByteArray("a\r\nother 1\r\nmine\r\n\r\n");
    QTest::newRow("twice: merged a third time")
        << 2 << QByteArray("a\r\nother 2\r\nother 1\r\nmine\r\n\r\n");
    QTest::newRow("at every attempt: refused, theirs kept") << 100 << QByteArray();
}

void FaultsTest::otherWriterBeforeTheRename()
{
#if defined(STOCKBOOK_PORTABLE)
    QSKIP("the portable file calls flush only as they rename");
#endif
    QFETCH(int, writes);
    QFETCH(QByteArray, file);
    ProgramDirectory dir("a\r\n");
    DatabaseSession session(dir.path());
    QVERIFY(session.load().ok());
    g_otherDatabase = dir.databasePath();
    g_otherText = "a\r\n";
    g_otherWrites = writes;
    g_versionFlushes = g_versionFlushesBeforeRename = 0;
    const auto written = session.save("a\r\nmine\r\n");
    g_otherWrites = 0;
    QCOMPARE(written.ok(), !file.isEmpty());
    if (file.isEmpty()) {
        QVERIFY2(written.reason.contains("kept changing"), qPrintable(written.reason));
        file = g_otherText + "\r\n";
    }
    QCOMPARE(dir.readDatabase(), file);
    // The version of what the file held is on the disk before the file is replaced.
    QCOMPARE(g_versionFlushesBeforeRename > 0, written.ok());
}

void FaultsTest::versionNotWrittenThroughALink_data()
{
    // A link at the name of the version of what the file holds, of what is
    // written (their content's hashes), or of this machine's log.
    QTest::addColumn<QString>("name");
    QTest::newRow("the file's version") << "stockbook-8e4621379786ef42a4fec155cd525c29.txt";
    QTest::newRow("the version written") << "stockbook-679e273f78fc8f8ba114db23c2dce80c.txt";
    QTest::newRow("the log") << "history-a1.txt";
}

void FaultsTest::versionNotWrittenThroughALink()
{
    QFETCH(QString, name);
    ProgramDirectory dir("a\r\n");
    QVERIFY(QDir(dir.path()).mkdir("stockbook-versions"));
    QVERIFY(QFile::link(dir.path() + "/aim", dir.path() + "/stockbook-versions/" + name));
    qputenv("STOCKBOOK_MACHINE_NAME", "a1");
    const auto unset = qScopeGuard([] { qunsetenv("STOCKBOOK_MACHINE_NAME"); });
    QVERIFY(!WriteDatabaseFile(dir.path(), "b").ok());
    QVERIFY(!QFileInfo::exists(dir.path() + "/aim"));
    QCOMPARE(dir.readDatabase(), QByteArray("a\r\n"));
}

void FaultsTest::linkSwappedInBeforeTheOpen()
{
#if defined(STOCKBOOK_PORTABLE)
    QSKIP("the portable file calls look the path up again at each step");
#endif
    // The identity check alone would refuse the target too, but only after
    // opening it: a device or a FIFO of the victim's is opened no more.
    ProgramDirectory dir("[Box]: SECRET\r\n");
    QVERIFY(QFile::rename(dir.databasePath(), dir.path() + "/aim"));
    dir.writeDatabase("a\r\n");
    const int opens = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    QVERIFY(::inotify_add_watch(opens, QFile::encodeName(dir.path() + "/aim"), IN_OPEN) >= 0);
    g_linkBeforeOpen = QFile::encodeName(dir.path() + "/aim");
    const auto loaded = LoadDatabaseFile(dir.path());
    QVERIFY(g_linkBeforeOpen.isEmpty());
    inotify_event event;
    const ssize_t opened = ::read(opens, &event, sizeof event);
    ::close(opens);
    QVERIFY2(!loaded.ok() && loaded.reason.contains("was replaced"), qPrintable(loaded.reason));
    QCOMPARE(opened, ssize_t(-1)); // the link's target was not even opened
}

void FaultsTest::outOfMemory()
{
#if defined(__SANITIZE_ADDRESS__)
    QSKIP("AddressSanitizer ends the program where memory runs out");
#endif
    // A file of 64 MiB, and a text that needs as much again to be saved, with
    // 16 MiB more memory than is in use.
    const qint64 size = qint64(64) << 20;
    ProgramDirectory dir(QByteArray{});
    QVERIFY(QFile::resize(dir.databasePath(), size));
    const QString text(size / 2, u'x');
    QFile inUse("/proc/self/statm");
    QVERIFY(inUse.open(QIODevice::ReadOnly));
    rlimit memory = {};
    QVERIFY(::getrlimit(RLIMIT_AS, &memory) == 0);
    const rlimit unlimited = memory;
    memory.rlim_cur = rlim_t(inUse.readAll().split(' ')[0].toLongLong() * ::sysconf(_SC_PAGESIZE));
    memory.rlim_cur += 16 << 20;
    QVERIFY(::setrlimit(RLIMIT_AS, &memory) == 0);
    const QString reasons[] = {LoadDatabaseFile(dir.path()).reason,
                               FilterDatabaseLines(dir.path(), "x").reason,
                               WriteDatabaseFile(dir.path(), text).reason};
    QVERIFY(::setrlimit(RLIMIT_AS, &unlimited) == 0);
    for (const QString &reason : reasons)
        QVERIFY2(reason.contains("not enough memory"), qPrintable(reason));
    QCOMPARE(QFileInfo(dir.databasePath()).size(), size);
    QCOMPARE(strayEntries(dir.path()), QStringList());
}

void FaultsTest::killedWhileSaving()
{
    const int trials = environmentCount("STOCKBOOK_KILL_TRIALS", 60);
    KilledSaves saves(quint32(environmentCount("STOCKBOOK_KILL_SEED",
                                               int(QRandomGenerator::global()->bounded(1 << 30)))));
    QRandomGenerator random(saves.seed);
    saves.prepare();
    if (QTest::currentTestFailed())
        return;

    // Where the kills all fall on one side of the first rename, they are
    // spread wider.
    for (int spread = 3; spread <= 24 && (saves.kept == 0 || saves.replaced == 0); spread *= 2) {
        for (int trial = 0; trial < trials; ++trial) {
            saves.killOne(trial, random.bounded(spread * saves.roundMicroseconds));
            if (QTest::currentTestFailed())
                return;
        }
    }
    qInfo("kills (seed %u, a round of two saves takes %lld us): file kept %d times, replaced %d "
          "times, %d unfinished temporary files left behind",
          saves.seed, saves.roundMicroseconds, saves.kept, saves.replaced, saves.leftBehind);
    // The kills did land at different moments of the saves.
    if (trials >= 20)
        QVERIFY(saves.kept > 0 && saves.replaced > 0);
}

void FaultsTest::symbolicLinkKeptAcrossSaves()
{
    ProgramDirectory dir;
    QVERIFY(QDir(dir.path()).mkdir("data"));
    const QString target = dir.path() + "/data/inventory.txt";
    {
        QFile file(target);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write((r1 + "\r\n").toUtf8());
    }
    QVERIFY(::symlink("data/inventory.txt", QFile::encodeName(dir.databasePath()).constData()) ==
            0);

    MessageCatcher messages;
    WindowDriver w(dir.path());
    QCOMPARE(w.viewText(), r1);
    w.add("B2", "BC547");
    w.click(Save);
    QCOMPARE(messages.texts().size(), 1);
    QVERIFY(messages.texts()[0].startsWith("Database saved in "));

    w.clickLine(0, 2);
    w.click(Plus);
    w.click(Update);
    QCOMPARE(messages.texts().size(), 1);

    const QString expected = ComposeRecordLine("A1", "10k", "26", "Resistor") +
                             ComposeRecordLine("B2", "BC547", "0", "...") + "\r\n";
    QVERIFY(QFileInfo(dir.databasePath()).isSymLink());
    char link[256] = {};
    QVERIFY(::readlink(QFile::encodeName(dir.databasePath()).constData(), link, sizeof link - 1) >
            0);
    QCOMPARE(QByteArray(link), QByteArray("data/inventory.txt"));
    QFile file(target);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), expected.toUtf8());
    QCOMPARE(strayEntries(dir.path()), QStringList{"data"});
}

void FaultsTest::linkInSharedFolder_data()
{
    QTest::addColumn<int>("folderMode");
    QTest::addColumn<bool>("link"); // else stockbook.txt is the file itself
    QTest::addColumn<bool>("anotherUsers");
    QTest::addColumn<bool>("followed");
    QTest::newRow("folder others may write, another user's link") << 0777 << true << true << false;
    QTest::newRow("folder its group may write, another user's link")
        << 0770 << true << true << false;
    QTest::newRow("folder others may write, own link") << 0775 << true << false << true;
    QTest::newRow("own folder, link given to another user") << 0755 << true << true << true;
    QTest::newRow("folder others may write, another user's file, no link")
        << 0777 << false << true << true;
}

void FaultsTest::linkInSharedFolder()
{
    QFETCH(int, folderMode);
    QFETCH(bool, link);
    QFETCH(bool, anotherUsers);
    QFETCH(bool, followed);
    ProgramDirectory dir;
    const QByteArray theirs = "[Box]: A1 [Item]: 10k [Nr]: 25 [Type]: Resistor\r\n";
    QFile target(link ? dir.path() + "/bashrc" : dir.databasePath());
    QVERIFY(target.open(QIODevice::WriteOnly) && target.write(theirs) == theirs.size());
    target.close();
    setMode(target.fileName(), 0666);
    QVERIFY(!link || QFile::link("bashrc", dir.databasePath()));
    if (anotherUsers && !TestSupport::giveToAnotherUser(dir.databasePath()))
        QSKIP("only root can give the link to another user");
#if defined(STOCKBOOK_PORTABLE)
    // Qt alone cannot tell who owns a link: none is followed where others may write.
    followed = followed && (!link || (folderMode & 022) == 0);
#endif
    setMode(dir.path(), mode_t(folderMode));
    MessageCatcher messages;
    WindowDriver w(dir.path());
    w.click(Save);
    QTRY_COMPARE(messages.texts().size(), followed ? 1 : 2);
    setMode(dir.path(), 0700);
    QVERIFY(target.open(QIODevice::ReadOnly));
    QCOMPARE(target.readAll(), followed ? theirs + "\r\n" : theirs);
    if (!followed) {
        QVERIFY2(messages.texts()[0].contains("symbolic link"), qPrintable(messages.texts()[0]));
        QCOMPARE(w.viewText(), QString());
    }
}

void FaultsTest::linkSwappedInWhileSavingAndSearching()
{
#if defined(STOCKBOOK_PORTABLE)
    QSKIP("the portable file calls look the path up again at each step");
#endif
    // The victim's private file is the database of `home`, and its private
    // folder holds as many files named like versions as a versions folder
    // keeps; the program folder in `home` is shared with the group, of which
    // the attacker is a member.
    const QByteArray secret = "[Box]: SECRET [Item]: of the victim\r\n";
    ProgramDirectory home(secret);
    const QString shared = home.path() + "/shared";
    const QDir privateFolder(home.path() + "/private");
    QVERIFY(QDir(home.path()).mkdir("shared") && QDir(home.path()).mkdir("private"));
    for (int k = 10; k < 60; ++k)
        QVERIFY(QFile(privateFolder.filePath(QString("stockbook-20200101-0000%1.txt").arg(k)))
                    .open(QIODevice::WriteOnly));
    const auto entries = QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System | QDir::Hidden;
    const QStringList privateFiles = privateFolder.entryList(entries);
    setMode(home.databasePath(), 0600);
    setMode(privateFolder.path(), 0700);
    setMode(home.path(), 0710);
    setMode(shared, 0770);
    // Saves alternate two texts, so that each keeps a version.
    const QString texts[] = {database(20, "mine"), database(21, "mine")};
    QVERIFY(WriteDatabaseFile(shared, texts[1]).ok() && WriteDatabaseFile(shared, texts[0]).ok());
    const auto stopSwapping = [&] {
        QVERIFY(QFile(shared + "/stop").open(QIODevice::WriteOnly));
        QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(shared + "/stop"), 15000);
    };

    // The database swapped while the victim saves, searches and loads.
    if (!TestSupport::startAsAnotherUser(swapInLinks, QFile::encodeName(shared)))
        QSKIP("only root can start a process of another user");
    int rounds = 0;
    int refused = 0;
    int readsOfTarget = 0;
    QElapsedTimer time;
    for (time.start(); rounds < 3000 && time.elapsed() < 3000; ++rounds) {
        const auto found = FilterDatabaseLines(shared, "");
        const auto loaded = LoadDatabaseFile(shared);
        refused += int(!WriteDatabaseFile(shared, texts[0]).ok()) + !found.okOrNoFile() +
                   !loaded.okOrNoFile();
        readsOfTarget += found.value.contains("SECRET") || loaded.value.text.contains("SECRET");
    }
    stopSwapping();
    qInfo("%d rounds of save, search and load in %lld ms: %d refused the link, %d read the target",
          rounds, time.elapsed(), refused, readsOfTarget);

    // The versions folder and a conflict copy swapped while the victim saves
    // (the database put back first, if the link was left in its place).
    if (QFileInfo(shared + "/stockbook.txt").isSymLink())
        QVERIFY(QFile::remove(shared + "/stockbook.txt"));
    QVERIFY(WriteDatabaseFile(shared, texts[1]).ok());
    DatabaseSession session(shared);
    QVERIFY(session.load().ok());
    QVERIFY(TestSupport::startAsAnotherUser(swapInLinksBeside, QFile::encodeName(shared)));
    int saves = 0;
    int copies = 0;
    for (time.start(); saves < 3000 && time.elapsed() < 3000; ++saves) {
        const auto saved = session.save(texts[saves % 2]);
        copies += int(saved.value.copies.size());
        readsOfTarget += saved.value.text.contains("SECRET");
    }
    stopSwapping();
    const QStringList privateNow = privateFolder.entryList(entries);
    const auto notIn = [](const QStringList &names, const QStringList &others) {
        return int(std::count_if(names.cbegin(), names.cend(),
                                 [&](const QString &name) { return !others.contains(name); }));
    };
    const int created = notIn(privateNow, privateFiles);
    const int removed = notIn(privateFiles, privateNow);
    qInfo("%d saves in %lld ms, %d copies merged or refused: %d read the target, %d files "
          "created and %d removed in the private folder",
          saves, time.elapsed(), copies, readsOfTarget, created, removed);
    QCOMPARE(readsOfTarget, 0);
    QCOMPARE(created, 0);
    QCOMPARE(removed, 0);
    QCOMPARE(home.readDatabase(), secret);
    if (refused == 0)
        QSKIP("the link was never in place: this file system cannot swap two names");
}

void FaultsTest::permissionsKeptAcrossSaves_data()
{
    QTest::addColumn<int>("mode");
    QTest::newRow("0600") << 0600;
    QTest::newRow("0640") << 0640;
    QTest::newRow("0644") << 0644;
    QTest::newRow("0660") << 0660;
    QTest::newRow("0604") << 0604;
}

void FaultsTest::permissionsKeptAcrossSaves()
{
    QFETCH(int, mode);
    ProgramDirectory dir((r1 + r2 + "\r\n").toUtf8());
    setMode(dir.databasePath(), mode_t(mode));
    MessageCatcher messages;
    WindowDriver w(dir.path());
    w.click(Save);
    QCOMPARE(modeOf(dir.databasePath()), mode_t(mode));
    w.clickLine(1, 0);
    w.click(Plus);
    w.click(Update);
    QCOMPARE(modeOf(dir.databasePath()), mode_t(mode));
    QCOMPARE(messages.texts().size(), 1);
    QCOMPARE(dir.readDatabase(),
             (r1 + ComposeRecordLine("B2", "BC547", "5", "Transistor") + "\r\n").toUtf8());
}

void FaultsTest::readOnlyFileIsNotReplaced()
{
    const QByteArray old = (r1 + "\r\n").toUtf8();
    ProgramDirectory dir(old);
    setMode(dir.databasePath(), 0444);
    MessageCatcher messages;
    WindowDriver w(dir.path());
    saveIsRefused(w, messages, dir.databasePath(), {"B2", "BC547"}, 0);
    QCOMPARE(dir.readDatabase(), old);
    QCOMPARE(modeOf(dir.databasePath()), mode_t(0444));
    QCOMPARE(strayEntries(dir.path()), QStringList());
}

void FaultsTest::copiesThatAreNoFilesAreLeft()
{
    // A FIFO named like a copy would block a plain open for good; a copy
    // larger than the database's limit would fill the memory.
    const QByteArray file = (r1 + "\r\n").toUtf8();
    ProgramDirectory dir(file);
    const QString fifo = dir.path() + "/stockbook.sync-conflict-20261208-100000-ABCDEFG.txt";
    const QString huge = dir.path() + "/stockbook (conflicted copy 2026-12-08 094300).txt";
    QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
    QVERIFY(QFile(huge).open(QIODevice::WriteOnly) && QFile::resize(huge, qint64(300) << 20));
    MessageCatcher messages;
    WindowDriver w(dir.path());
    QTRY_COMPARE(messages.texts().size(), 2);
    QVERIFY2(messages.texts()[0].contains("(300 MiB), more than") &&
                 messages.texts()[1].contains("it is not a plain file"),
             qPrintable(messages.texts().join('|')));
    QCOMPARE(w.viewText(), r1);
    w.click(Save);
    QCOMPARE(messages.texts().size(), 3);
    QCOMPARE(dir.readDatabase(), file);
    QVERIFY(QFileInfo::exists(fifo) && QFileInfo(huge).size() == qint64(300) << 20);
}

STOCKBOOK_TEST_MAIN(FaultsTest, QApplication)
#include "tst_faults.moc"
