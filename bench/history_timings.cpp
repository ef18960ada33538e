// SPDX-License-Identifier: GPL-3.0-or-later

// The history's cost. A Save at 100,000 records with this machine's log
// empty and with a log of 100,000 lines, as years of use leave one: the first
// Save compacts it, and the Saves after it are timed in turns with those of
// another folder whose log was never long. Then a year: three machines share one program folder
// (each with its own log, as if the sync tool carried every write at once), 50 Saves a day each on
// a 1,000-record database, each changing one record; the Saves of the first and the last day are
// timed, and the versions folder measured at the end.
#include "bench/history_timings.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include "record_store/database_session.h"

using namespace RecordStore;

namespace Bench {

namespace {

constexpr int kSavesADay = 50;

void useMachine(const QByteArray &name)
{
    qputenv("STOCKBOOK_MACHINE_NAME", name);
}

// `lines` log lines of a machine that read and wrote one content after the
// other, as the program writes them.
QByteArray longLog(int lines)
{
    QByteArray log;
    const QByteArray time = QDateTime::currentDateTime().toString(Qt::ISODate).toLatin1();
    QByteArray previous;
    for (int k = 0; k < lines; ++k) {
        const QByteArray id = QByteArray::number(k, 16).rightJustified(32, '0');
        log += id + (previous.isEmpty() ? QByteArray() : ' ' + previous) + " # " + time + '\n';
        previous = id;
    }
    return log;
}

// The database `text` with the count of its record `k` changed to `count`.
QString changed(const QString &text, int k, int count)
{
    QStringList lines = text.split(QStringLiteral("\r\n"));
    const int at = k % (lines.size() - 1);
    lines[at] = lines[at].left(lines[at].lastIndexOf(' ', lines[at].size() - 4)) +
                QStringLiteral(" %1 ").arg(count % 1000) + lines[at].right(2);
    return lines.join(QStringLiteral("\r\n"));
}

struct Machine
{
    QByteArray name;
    DatabaseSession session;
    QString view;
};

// One Save of `machine`: it follows the others' writes, changes one record
// and saves; the time of the Save.
double saveOnce(Machine &machine, int k)
{
    useMachine(machine.name);
    if (const std::optional<QString> followed = machine.session.followFile(machine.view))
        machine.view = *followed;
    machine.view = changed(machine.view, k * 7919, k);
    QElapsedTimer timer;
    timer.start();
    const FileResult<WrittenDatabase> written = machine.session.save(machine.view);
    const double ms = timer.nsecsElapsed() / 1e6;
    check(written.ok(), "a Save failed: " + written.reason);
    machine.view = written.value.text;
    return ms;
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void measureLongLog(Figures &f, int reps)
{
    // Two program folders alike, saved in turns, so that both hold as many
    // versions and meet the disk alike: one whose log stays as its Saves
    // leave it, one whose log is made 100,000 lines long after its first.
    QTemporaryDir emptyLog;
    QTemporaryDir longLogged;
    useMachine("a1");
    QList<Machine> machines;
    for (const QTemporaryDir *folder : {&emptyLog, &longLogged}) {
        check(WriteDatabaseFile(folder->path(), generateDatabase(100000)).ok(), "cannot write");
        machines.append({"a1", DatabaseSession(folder->path()), QString()});
        machines.last().view = machines.last().session.load().value;
        saveOnce(machines.last(), 0);
    }
    QFile log(longLogged.path() + "/stockbook-versions/history-a1.txt");
    check(log.open(QIODevice::WriteOnly | QIODevice::Truncate) && log.write(longLog(100000)) > 0,
          "cannot write the log");
    log.close();
    saveOnce(machines[0], 1);
    f["first_save_long_log"] = saveOnce(machines[1], 1);
    QList<double> empty;
    QList<double> long_;
    for (int k = 2; k < reps + 2; ++k) {
        empty << saveOnce(machines[0], k);
        long_ << saveOnce(machines[1], k);
    }
    f["save_empty_log"] = median(empty);
    f["save_long_log"] = median(long_);
}

// The Saves of three machines sharing each of `directories`, `days` days of
// them, a Save in each folder in turn; the times of those of the last day, by
// folder.
QList<QList<double>> liveDays(const QStringList &directories, int days)
{
    QList<QList<Machine>> folders;
    for (const QString &directory : directories) {
        folders.append(QList<Machine>());
        for (const char *name : {"b1", "b2", "b3"}) {
            folders.last().append({name, DatabaseSession(directory), QString()});
            useMachine(name);
            folders.last().last().view = folders.last().last().session.load().value;
        }
    }
    QList<QList<double>> last(directories.size());
    int k = 0;
    for (int day = 1; day <= days; ++day, k += 3 * kSavesADay)
        for (int save = 0; save < 3 * kSavesADay; ++save)
            for (qsizetype f = 0; f < folders.size(); ++f)
                if (const double ms = saveOnce(folders[f][save % 3], k + save); day == days)
                    last[f] << ms;
    return last;
}

// A copy of the folder `from` (the database and the versions folder) in
// `to`.
void copyFolder(const QString &from, const QString &to)
{
    QDir().mkpath(to + "/stockbook-versions");
    for (QDirIterator it(from, QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
        const QString path = it.next();
        check(QFile::copy(path, to + path.mid(from.size())), "cannot copy " + path);
    }
}

void measureYear(Figures &f, int days)
{
    // The year is lived in memory where the system has a folder there:
    // 54,750 Saves, each flushed to disk three times, would take hours on a
    // disk. Its first and last day are timed there, and on the disk: one day
    // from a new database and one from a copy of the year's folder, a Save
    // in each in turn.
    QTemporaryDir memory(QDir("/dev/shm").exists() ? "/dev/shm/stockbook-year-XXXXXX" : QString());
    QTemporaryDir disk;
    const QString database = generateDatabase(1000);
    check(WriteDatabaseFile(memory.path(), database).ok(), "cannot write");
    f["day_1_save_memory"] = median(liveDays({memory.path()}, 1).first());
    f["day_last_save_memory"] = median(liveDays({memory.path()}, days - 1).first());
    check(QDir().mkpath(disk.path() + "/new") &&
              WriteDatabaseFile(disk.path() + "/new", database).ok(),
          "cannot write");
    copyFolder(memory.path(), disk.path() + "/year");
    const QList<QList<double>> onDisk = liveDays({disk.path() + "/new", disk.path() + "/year"}, 1);
    f["day_1_save"] = median(onDisk[0]);
    f["day_last_save"] = median(onDisk[1]);
    qint64 bytes = 0;
    int files = 0;
    for (QDirIterator it(memory.path() + "/stockbook-versions", QDir::Files); it.hasNext(); ++files)
        bytes += QFileInfo(it.next()).size();
    f["versions_mib"] = bytes / 1048576.0;
    f["versions_files"] = files;
    QFile log(memory.path() + "/stockbook-versions/history-b1.txt");
    check(log.open(QIODevice::ReadOnly), "no log");
    f["log_lines"] = log.readAll().count('\n');
}

} // namespace

Figures measureHistory(int reps, int days)
{
    Figures f;
    const QByteArray given = qgetenv("STOCKBOOK_MACHINE_NAME");
    measureLongLog(f, reps);
    measureYear(f, days);
    qputenv("STOCKBOOK_MACHINE_NAME", given);
    return f;
}

} // namespace Bench
