// SPDX-License-Identifier: GPL-3.0-or-later

// Helpers shared by the tests: a database directory of its own for each test,
// and the privileges of an ordinary user, since permission failures cannot be
// provoked as root.
#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

namespace TestSupport {

// When the tests run as root, switch the process to the unprivileged user
// "nobody" so that unreadable files and read-only directories behave as they
// do for a real user. Call before the application object exists. A helper
// process keeps root, for giveToAnotherUser alone.
void dropRootPrivileges();

// Makes `path` itself (a link is not followed) belong to another user than
// the one running the tests; false when the tests were not started as root.
bool giveToAnotherUser(const QString &path);

// Starts `work(argument)` in a process of that other user, who is also a
// member of the tests' group; false when the tests were not started as root.
// The argument is one line; the process ends when `work` returns.
bool startAsAnotherUser(void (*work)(const QByteArray &argument), const QByteArray &argument);

// A fresh, empty program directory, removed when the object goes.
class ProgramDirectory final
{
public:
    ProgramDirectory();
    // One whose database file holds `database`.
    explicit ProgramDirectory(const QByteArray &database);
    QString path() const;
    QString databasePath() const;
    void writeDatabase(const QByteArray &bytes) const;
    QByteArray readDatabase() const;

private:
    QTemporaryDir m_dir;
};

// What `read` gives for a fresh program directory whose database holds `bytes`.
template <typename Read> auto readWritten(const QByteArray &bytes, Read read)
{
    return read(ProgramDirectory(bytes).path());
}

} // namespace TestSupport

#define STOCKBOOK_TEST_MAIN(TestClass, AppClass)                                                   \
    int main(int argc, char *argv[])                                                               \
    {                                                                                              \
        TestSupport::dropRootPrivileges();                                                         \
        AppClass app(argc, argv);                                                                  \
        TestClass test;                                                                            \
        return QTest::qExec(&test, argc, argv);                                                    \
    }
