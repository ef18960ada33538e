// SPDX-License-Identifier: GPL-3.0-or-later

// The copies of the database file that sync tools leave beside it when two
// machines changed it at once, found by their names, and their move into the
// versions folder once they have been taken in.
#include "record_store/conflict_copies.h"

#include <algorithm>

#include <QDir>
#include <QHash>
#include <QRegularExpression>

#include "record_store/database_file.h"
#include "record_store/decoding.h"
#include "record_store/file_system.h"
#include "record_store/merge.h"

namespace RecordStore {

namespace {

// One pattern for each way a sync tool names its copy of a file whose name,
// before ".txt", `stem` matches (captured as "stem"). Each captures the date
// (named "date": YYYYMMDD or YYYY-MM-DD) and, where the name holds it, the
// time ("time": HHMMSS) and the number that a second copy of the same moment
// gets ("number").
QList<QRegularExpression> copyPatterns(const QString &stem)
{
    const QString file = QStringLiteral("^(?<stem>") + stem + u')';
    return {
        // Syncthing: the date and time the copy was made and the short id
        // (seven characters of base 32) of the device that made the change.
        // A conflict of such a copy adds a second such part to its name.
        QRegularExpression(
            file + QStringLiteral(R"(\.sync-conflict-(?<date>\d{8})-(?<time>\d{6})-[A-Z2-7]{7})"
                                  R"((?:\.sync-conflict-\d{8}-\d{6}-[A-Z2-7]{7})*\.txt$)")),
        // Nextcloud, and ownCloud from its version 2.5: the file's time, the
        // user's name (without parentheses) when the server keeps the copies.
        QRegularExpression(
            file + QStringLiteral(R"( \(conflicted copy (?:[^()]+ )?(?<date>\d{4}-\d{2}-\d{2}) )"
                                  R"((?<time>\d{6})\)(?: \((?<number>\d+)\))?\.txt$)")),
        // ownCloud before 2.5, with or without a user's name.
        QRegularExpression(file + QStringLiteral(R"(_conflict(?:[-_][^/]+)?-(?<date>\d{8})-)"
                                                 R"((?<time>\d{6})\.txt$)")),
        // Dropbox: the name of the person or computer, the day, and a number
        // for a further copy of that day, inside or after the parentheses.
        QRegularExpression(
            file + QStringLiteral(R"( \((?:.+['’]s )?conflicted copy (?<date>\d{4}-\d{2}-\d{2}))"
                                  R"((?: \((?<number>\d+)\))?\)(?: \((?<number2>\d+)\))?\.txt$)")),
    };
}

// The copies of the database, and of the logs in the versions folder (see
// history.cpp), whose machine's name is hexadecimal.
const QList<QRegularExpression> &conflictCopyPatterns()
{
    static const QList<QRegularExpression> patterns = copyPatterns(QStringLiteral("stockbook"));
    return patterns;
}

const QList<QRegularExpression> &logCopyPatterns()
{
    static const QList<QRegularExpression> patterns =
        copyPatterns(QStringLiteral("history-[0-9a-f]+"));
    return patterns;
}

// What a copy is sorted by: the moment its name gives (a day alone counts
// from its midnight), then its number, each as fixed-width digits; empty for
// a name that is no conflict copy.
QString sortKeyOf(const QString &name)
{
    for (const QRegularExpression &pattern : conflictCopyPatterns()) {
        const QRegularExpressionMatch match = pattern.match(name);
        if (!match.hasMatch())
            continue;
        QString date = match.captured(u"date");
        date.remove(u'-');
        const QString time = match.captured(u"time");
        const QString number = match.captured(u"number") + match.captured(u"number2");
        return date + (time.isEmpty() ? QStringLiteral("000000") : time) +
               number.rightJustified(9, u'0');
    }
    return QString();
}

} // namespace

QStringList ListConflictCopies(const QString &programDirectory)
{
    if (programDirectory.isEmpty() || !QDir::isAbsolutePath(programDirectory))
        return {};
    QList<std::pair<QString, QString>> found; // sort key, name
    const QStringList names =
        QDir(programDirectory).entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString &name : names) {
        if (const QString key = sortKeyOf(name); !key.isEmpty())
            found.append({key, name});
    }
    std::sort(found.begin(), found.end());
    QStringList copies;
    for (const auto &[key, name] : found)
        copies.append(name);
    return copies;
}

FileResult<QString> MoveConflictCopy(const QString &programDirectory, const QString &copyName)
{
    using Internal::failure;
    if (programDirectory.isEmpty() || !QDir::isAbsolutePath(programDirectory))
        return failure<QString>(
            Texts::tr("Stockbook does not know the folder it was started from"));
    if (sortKeyOf(copyName).isEmpty())
        return failure<QString>(
            Texts::tr("%1 is no sync tool's copy of the database").arg(copyName));
    const FileResult<FileSystem::Folder> program = FileSystem::openProgramFolder(programDirectory);
    if (!program.ok())
        return failure<QString>(program.reason);
    const FileResult<FileSystem::Folder> versions =
        FileSystem::openFolderIn(program.value, QStringLiteral("stockbook-versions"), true);
    if (!versions.ok())
        return failure<QString>(versions.reason);
    // A name that is taken gets "-2", "-3", ... before its ".txt".
    const QString stem = copyName.chopped(4); // every copy's name ends in ".txt"
    for (int n = 1; n < 1000; ++n) {
        const QString name =
            n == 1 ? copyName : stem + u'-' + QString::number(n) + QStringLiteral(".txt");
        const std::optional<QString> reason =
            FileSystem::moveFileBetween(program.value, copyName, versions.value, name);
        if (!reason)
            return {FileStatus::Ok, QString(),
                    DatabaseVersionsPath(programDirectory) + u'/' + name};
        if (FileSystem::readFileIn(program.value, copyName, 0).noFile())
            return failure<QString>(Texts::tr("%1 is no longer there").arg(copyName));
        if (FileSystem::readFileIn(versions.value, name, 0).noFile())
            return failure<QString>(*reason); // not for a name that is taken
    }
    return failure<QString>(Texts::tr("Too many copies named %1 in %2")
                                .arg(copyName, DatabaseVersionsPath(programDirectory)));
}

namespace Internal {

QString logOfConflictCopy(const QString &name)
{
    for (const QRegularExpression &pattern : logCopyPatterns()) {
        const QRegularExpressionMatch match = pattern.match(name);
        if (match.hasMatch())
            return match.captured(u"stem") + QStringLiteral(".txt");
    }
    return QString();
}

namespace {

// Whether `text`, decoded from a copy's bytes, can be a database text: a
// line of a database never holds a control character but the tab.
bool holdsDatabaseText(QStringView text)
{
    return std::none_of(text.begin(), text.end(), [](QChar c) {
        const char16_t u = c.unicode();
        return (u < 0x20 && u != u'\t' && u != u'\r' && u != u'\n') || (u >= 0x7f && u < 0xa0);
    });
}

// The database text of a copy's decoded text, without its last line when
// that has no line end (the copy was cut short), which goes to `unfinished`.
QString finishedText(QStringView decoded, QString &unfinished)
{
    qsizetype end = decoded.size();
    while (end > 0 && !isLineEnd(decoded[end - 1]))
        --end;
    unfinished = decoded.sliced(end).toString();
    QString lines;
    lines.reserve(end + end / 16);
    forEachLine(decoded.first(end), [&lines](QStringView line) {
        lines.append(line);
        lines.append(kCrLf);
    });
    return CollapseBlankLines(lines);
}

} // namespace

CopyMerge mergeConflictCopy(const FileSystem::Folder &programFolder, const History *history,
                            const QString &name, QString &text, const ContentId &textBase)
{
    CopyMerge result;
    result.report.name = name;
    const FileResult<QByteArray> copy =
        FileSystem::readFileIn(programFolder, name, kLargestDatabaseFile);
    if (!copy.ok()) {
        result.report.unreadable = copy.noFile() ? Texts::tr("it is no longer there") : copy.reason;
        return result;
    }
    // Judged as text: a UTF-16 copy holds NUL bytes, and no NUL character.
    const QString decoded = decodeDatabaseBytes(copy.value);
    if (!holdsDatabaseText(decoded)) {
        result.report.unreadable =
            Texts::tr("it holds bytes that no database text holds, so it is no database");
        return result;
    }
    const QString copyText = finishedText(decoded, result.report.unfinishedLine);
    result.id = contentIdOf(copy.value);
    result.bytes = copy.value;
    const std::optional<QByteArray> base =
        history ? history->mergeBase(textBase, result.id) : std::nullopt;
    MergeReport &report = result.report.merge;
    if (!base) {
        MergedText kept = mergeWithoutAncestor(text, copyText);
        text = std::move(kept.text);
        report = std::move(kept.report);
        return result;
    }
    std::optional<MergedText> merged = mergeTexts(databaseTextOf(*base), text, copyText);
    if (!merged) {
        result.report.unreadable = Texts::tr("the copy could not be merged");
        return result;
    }
    text = std::move(merged->text);
    report = std::move(merged->report);
    report.merged = true;
    return result;
}

} // namespace Internal

} // namespace RecordStore
