// SPDX-License-Identifier: GPL-3.0-or-later

// The parent's measurements: the record store's operations and their floors on
// each generated database, the window's figures for that database from the
// child processes (--window, --memory, --memory-floor), and the start-up on one
// long record line (--long-line).
#include "bench/store_timings.h"

#include <cstdio>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "record_store/database_session.h"

using namespace RecordStore;

namespace Bench {

namespace {

void writeDatabase(const QString &directory, const QString &text)
{
    check(WriteDatabaseFile(directory, text).ok(), "cannot write the database");
}

// Writes `bytes` into a new file as plainly as the platform allows, and flushes
// it to disk, as WriteDatabaseFile does.
void writeFileSynced(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(bytes) != bytes.size() || !file.flush() || ::fsync(file.handle()) != 0)
        fail("cannot write " + path);
}

double grepMs(int reps, const QStringList &fragments, const QString &path)
{
    return medianMs(reps, [&] {
        for (const QString &fragment : fragments) {
            QProcess grep;
            grep.start("grep", {"-F", "-c", "-e", fragment, path});
            if (!grep.waitForFinished(-1) || grep.exitStatus() != QProcess::NormalExit)
                fail("grep did not run");
        }
    });
}

// Reading and the searches; gives the text loaded.
QString timeReads(SizeRun &run, const QString &directory, const QString &generated)
{
    Figures &f = run.figures;
    const int reps = run.reps;
    const QString path = DatabaseFilePath(directory);
    f["read"] =
        medianMs(reps, [&] { check(readFile(path).size() == run.fileBytes, "short read"); });
    QString loaded;
    f["load"] = medianMs(reps, [&] { loaded = LoadDatabaseFile(directory).value.text; });
    check(loaded == generated, "the load does not give back what was written");

    QString selective;
    f["filter_selective"] =
        medianMs(reps, [&] { selective = FilterDatabaseLines(directory, kSelective).value; });
    run.matchingLines = lineCount(selective);
    f["filter_nothing"] = medianMs(reps, [&] {
        // The first pass and the upper-case retry, as a key stroke makes them.
        const QString first = FilterDatabaseLines(directory, kNothing).value;
        const QString second = FilterDatabaseLines(directory, kNothing.toUpper()).value;
        check(first.isEmpty() && second.isEmpty(), "the fragment that matches nothing matched");
    });
    f["filter_all"] = medianMs(reps, [&] {
        check(FilterDatabaseLines(directory, QString()).value.size() == loaded.size(),
              "lines lost");
    });
    return loaded;
}

// Save through the session, one record changed in the window: plain, and with
// another record changed in the file by another program meanwhile.
void timeSaves(Figures &f, const QString &directory, const QString &loaded, int reps)
{
    const qsizetype secondLine = loaded.indexOf(QLatin1String("\r\n")) + 2;
    const QString mine = QString(loaded).insert(secondLine - 2, QLatin1String("0"));
    const QString theirs = QString(loaded).insert(loaded.indexOf(u'\r', secondLine), u'1');
    DatabaseSession session(directory);
    const auto startSession = [&](bool otherWriter) {
        return [&, otherWriter] {
            writeDatabase(directory, loaded);
            session = DatabaseSession(directory);
            check(session.load().ok(), "load");
            if (otherWriter)
                writeDatabase(directory, theirs);
        };
    };
    // A searched view with one record added, saved into the whole file.
    const QString found = FilterDatabaseLines(directory, kSelective).value;
    const QString added = ComposeRecordLine("NEW", "part", "1", "IC");
    // The three in turns, so that each meets the versions folder and the
    // disk as the others do.
    const QList<double> saves = mediansInTurnsMs(
        reps, {[&] {
                   return timeOnceMs(startSession(false),
                                     [&] { check(session.save(mine).ok(), "save"); });
               },
               [&] {
                   return timeOnceMs(startSession(true), [&] {
                       const FileResult<WrittenDatabase> saved = session.save(mine);
                       check(saved.ok() && saved.value.merge.fromFile == 1, "merge");
                   });
               },
               [&] {
                   return timeOnceMs(
                       [&] {
                           startSession(false)();
                           session.searchShown(found);
                       },
                       [&] { check(session.save(found + added).ok(), "searched save"); });
               }});
    f["save"] = saves[0];
    f["save_merge"] = saves[1];
    f["save_searched"] = saves[2];
    // The versions folder after a day of 50 Saves, each of one changed record.
    writeDatabase(directory, loaded);
    QDir(directory + "/stockbook-versions").removeRecursively();
    session = DatabaseSession(directory);
    check(session.load().ok(), "load");
    for (int k = 0; k < 50; ++k)
        check(session.save(QString(loaded).insert(secondLine - 2, QString::number(k))).ok(),
              "save");
    qint64 bytes = 0;
    for (const QFileInfo &file : QDir(directory + "/stockbook-versions").entryInfoList(QDir::Files))
        bytes += file.size();
    f["versions_mb_50_saves"] = double(bytes) / 1e6;
}

// The pick, the writes and their floor.
void timePickAndWrites(Figures &f, const QString &directory, const QString &loaded, int reps)
{
    // The caret three characters into the last line.
    const qsizetype caret = loaded.lastIndexOf(QLatin1String("\r\n"), loaded.size() - 3) + 2 + 3;
    f["pick"] = medianMs(
        reps, [&] { check(PickRecordFields(loaded, caret).isComplete(), "no pick"); }, 1000);

    f["write"] = medianMs(reps, [&] { check(WriteDatabaseFile(directory, loaded).ok(), "write"); });
    timeSaves(f, directory, loaded, reps);
    const QByteArray written = (loaded + "\r\n").toUtf8();
    const QString floorPath = directory + "/floor.txt";
    f["write_floor"] = medianMs(reps, [&] { writeFileSynced(floorPath, written); });
    QFile::remove(floorPath);
}

} // namespace

SizeRun measureSize(int records, int reps)
{
    SizeRun run;
    run.records = records;
    run.reps = reps;
    Figures &f = run.figures;

    QTemporaryDir temporary;
    check(temporary.isValid(), "no temporary directory");
    const QString directory = temporary.path();
    const QString path = DatabaseFilePath(directory);
    const QString generated = generateDatabase(records);
    writeDatabase(directory, generated);
    run.fileBytes = readFile(path).size();

    std::fprintf(stderr, "%d records (%.1f MB): record store...\n", records, run.fileBytes / 1e6);
    const QString loaded = timeReads(run, directory, generated);
    timePickAndWrites(f, directory, loaded, reps);
    f["grep_selective"] = grepMs(reps, {kSelective}, path);
    f["grep_nothing"] = grepMs(reps, {kNothing, kNothing.toUpper()}, path);
    f["grep_all"] = grepMs(reps, {QString()}, path);

    std::fprintf(stderr, "%d records: window...\n", records);
    const Figures window = runChild({"--window", directory, QString::number(reps)});
    f.insert(window.begin(), window.end());
    std::fprintf(stderr, "%d records: memory...\n", records);
    f["peak"] = runChild({"--memory", directory}).at("peak_kib");
    f["peak_floor"] = runChild({"--memory-floor", directory}).at("peak_kib");
    return run;
}

std::pair<double, double> measureLongLine()
{
    QList<double> shown;
    for (const char *item : {"abcdefghij", "abcdefghi "}) {
        QTemporaryDir temporary;
        writeDatabase(temporary.path(),
                      ComposeRecordLine("A1", QString(item).repeated(100000), "1", "IC"));
        shown << runChild({"--long-line", temporary.path()}).at("shown");
    }
    return {shown[0], shown[1]};
}

} // namespace Bench
