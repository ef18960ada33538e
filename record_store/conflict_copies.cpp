// SPDX-License-Identifier: GPL-3.0-or-later

// The copies of the database file that sync tools leave beside it when two
// machines changed it at once: found by their names (file_names.cpp) through
// the open program folder, and each merged into the window's text. The write
// that takes a copy in keeps its content as a version, and the session then
// removes the copy.
#include "record_store/conflict_copies.h"

#include <algorithm>

#include <QDir>

#include "record_store/database_file.h"
#include "record_store/decoding.h"
#include "record_store/file_names.h"

namespace RecordStore {

QStringList ListConflictCopies(const QString &programDirectory)
{
    if (programDirectory.isEmpty() || !QDir::isAbsolutePath(programDirectory))
        return {};
    const FileResult<FileSystem::Folder> program = FileSystem::openProgramFolder(programDirectory);
    return program.ok() ? Internal::conflictCopiesIn(program.value) : QStringList();
}

namespace Internal {

QStringList conflictCopiesIn(const FileSystem::Folder &programFolder)
{
    // Every entry but a folder: a copy that is no plain file is named too,
    // and its merge says why it is left.
    const FileResult<QStringList> names =
        FileSystem::listFolder(programFolder, FileSystem::Listing::AllButFolders);
    return names.ok() ? conflictCopiesAmong(names.value) : QStringList();
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

// The lines of `text` that `other` holds too, as often as both hold them:
// an ancestor made of them takes no line for removed that a side holds
// (every line of both, as a merge without an ancestor keeps, would).
QString sharedLines(const QString &text, const QString &other)
{
    QHash<QStringView, int> count;
    forEachLine(other, [&count](QStringView line) { ++count[line]; });
    QString shared;
    forEachLine(text, [&](QStringView line) {
        if (int &left = count[line]; left > 0) {
            --left;
            shared += line;
            shared += kCrLf;
        }
    });
    return shared;
}

} // namespace

std::optional<QString> ancestorText(const History &history, const QList<ContentId> &madeFrom,
                                    const ContentId &other, bool *older, int depth)
{
    const QList<std::pair<ContentId, QByteArray>> bases =
        history.mergeBases(madeFrom, other, older);
    if (bases.isEmpty())
        return std::nullopt;
    QString text = databaseTextOf(bases.first().second);
    QList<ContentId> merged{bases.first().first};
    for (qsizetype k = 1; k < bases.size(); ++k) {
        const QString next = databaseTextOf(bases[k].second);
        // Two levels of ancestors merged are enough; past them, or without
        // an ancestor of their own, the lines both hold.
        const std::optional<QString> under =
            depth < 2 ? ancestorText(history, merged, bases[k].first, older, depth + 1)
                      : std::nullopt;
        std::optional<MergedText> both = under ? mergeTexts(*under, text, next) : std::nullopt;
        text = both ? std::move(both->text) : sharedLines(text, next);
        merged.append(bases[k].first);
    }
    return text;
}

CopyMerge mergeConflictCopy(const FileSystem::Folder &programFolder, const History *history,
                            const QString &name, QString &text, const QList<ContentId> &textBases)
{
    CopyMerge result;
    result.report.name = name;
    const FileResult<QByteArray> copy =
        FileSystem::readFileIn(programFolder, name, kLargestDatabaseFile);
    if (!copy.ok()) {
        result.report.read = {FileStatus::Failed,
                              copy.noFile() ? Texts::tr("it is no longer there") : copy.reason};
        return result;
    }
    // Judged as text: a UTF-16 copy holds NUL bytes, and no NUL character.
    const QString decoded = decodeDatabaseBytes(copy.value);
    if (!holdsDatabaseText(decoded)) {
        result.report.read = {
            FileStatus::Failed,
            Texts::tr("it holds bytes that no database text holds, so it is no database")};
        return result;
    }
    const QString copyText = finishedText(decoded, result.report.unfinishedLine);
    result.id = contentIdOf(copy.value);
    result.bytes = copy.value;
    bool older = false;
    const std::optional<QString> base =
        history ? ancestorText(*history, textBases, result.id, &older) : std::nullopt;
    MergeReport &report = result.report.merge;
    if (!base) {
        MergedText kept = mergeWithoutAncestor(text, copyText);
        text = std::move(kept.text);
        report = std::move(kept.report);
        return result;
    }
    std::optional<MergedText> merged = mergeTexts(*base, text, copyText);
    if (!merged) {
        result.report.read = {FileStatus::Failed, Texts::tr("the copy could not be merged")};
        return result;
    }
    text = std::move(merged->text);
    report = std::move(merged->report);
    report.merged = true;
    report.olderAncestor = older;
    return result;
}

QList<CopyReport> PendingCopies::mergeInto(const FileSystem::Folder &programFolder,
                                           const QStringList &names, const History *history,
                                           QString &text, QList<ContentId> textBases)
{
    QList<CopyReport> reports;
    // Each copy merged is one more content the text was made from.
    textBases += ids();
    for (const QString &name : names) {
        if (std::any_of(m_copies.cbegin(), m_copies.cend(),
                        [&name](const Copy &copy) { return copy.name == name; }))
            continue;
        CopyMerge merged = mergeConflictCopy(programFolder, history, name, text, textBases);
        if (merged.report.read.ok()) {
            m_copies.append({name, merged.id, merged.bytes});
            textBases.append(merged.id);
        }
        reports.append(merged.report);
    }
    return reports;
}

QList<ContentId> PendingCopies::ids() const
{
    QList<ContentId> ids;
    for (const Copy &copy : m_copies)
        ids.append(copy.id);
    return ids;
}

QList<std::pair<ContentId, QByteArray>> PendingCopies::versions() const
{
    QList<std::pair<ContentId, QByteArray>> contents;
    for (const Copy &copy : m_copies)
        contents.append({copy.id, copy.bytes});
    return contents;
}

void PendingCopies::removeWritten(const FileSystem::Folder &programFolder)
{
    for (const Copy &copy : std::as_const(m_copies)) {
        const FileResult<QByteArray> now =
            FileSystem::readFileIn(programFolder, copy.name, kLargestDatabaseFile);
        // One that cannot be removed is merged again, to the same text.
        if (now.ok() && contentIdOf(now.value) == copy.id)
            static_cast<void>(FileSystem::removeFileIn(programFolder, copy.name));
    }
    m_copies.clear();
}

} // namespace Internal

} // namespace RecordStore
