// SPDX-License-Identifier: GPL-3.0-or-later

// The database session: what the window last read from or wrote to the
// database file, and what Save and Update write, merged with the changes
// another program (a second window, a sync tool, an editor) made meanwhile.
#include <QScopeGuard>

#include "record_store/internal.h"

namespace RecordStore {

namespace Internal {

Lines linesOf(QStringView text)
{
    Lines lines;
    lines.reserve(text.size() / 48 + 1);
    forEachLine(text, [&lines](QStringView line) { lines.append(line); });
    return lines;
}

QString textOf(const Lines &lines)
{
    qsizetype size = 0;
    for (const QStringView line : lines)
        size += line.size() + 2;
    QString text;
    text.reserve(size);
    for (const QStringView line : lines) {
        text.append(line);
        text.append(kCrLf);
    }
    return text;
}

} // namespace Internal

using namespace Internal;

namespace {

// A write whose file keeps changing between the merge and the rename is
// merged again, this many times at most.
constexpr int kWriteAttempts = 8;

} // namespace

DatabaseSession::DatabaseSession(const QString &programDirectory)
    : m_programDirectory(programDirectory)
{
}

FileResult<QString> DatabaseSession::load()
{
    const FileResult<DatabaseText> loaded = LoadDatabaseFile(m_programDirectory);
    if (!loaded.okOrNoFile())
        m_unreadableReason = loaded.reason;
    m_ancestor = loaded.value.text;
    m_written.reset();
    m_known = loaded.value.digest;
    return loaded.with(loaded.value.text);
}

std::optional<QString> DatabaseSession::unreadableReason() const
{
    return m_unreadableReason;
}

bool DatabaseSession::viewHoldsWholeDatabase() const
{
    return m_viewHoldsWholeDatabase;
}

void DatabaseSession::searchStarted()
{
    m_viewHoldsWholeDatabase = false;
}

bool DatabaseSession::holdsNothingOfItsOwn(const QString &view) const
{
    return m_viewHoldsWholeDatabase && view == ancestor();
}

std::optional<QString> DatabaseSession::followFile(const QString &view)
{
    // The file is compared first: after the session's own writes it is
    // unchanged, and the view's text need not be compared at all.
    const FileResult<FileBytes> now = readDatabaseBytes(m_programDirectory);
    const ContentDigest nowDigest = digestOf(now);
    if (now.status != FileStatus::Ok || nowDigest == m_known || !holdsNothingOfItsOwn(view))
        return std::nullopt;
    m_known = nowDigest;
    const QString text = databaseTextOf(now.value.bytes);
    if (text == ancestor())
        return std::nullopt;
    m_ancestor = text;
    return text;
}

FileResult<WrittenDatabase> DatabaseSession::save(const QString &view)
{
    return writeMerged(view);
}

FileResult<WrittenDatabase> DatabaseSession::update(const QString &view, const QString &before,
                                                    const QString &after)
{
    if (m_viewHoldsWholeDatabase) {
        if (!view.contains(before))
            return {FileStatus::Ok, QString(), {view, {}, {}, false}};
        return writeMerged(QString(view).replace(before, after));
    }
    if (m_unreadableReason)
        return failure<WrittenDatabase>(*m_unreadableReason);
    // A searched view holds only some records: the change goes into the
    // file's text as it is now, so that the hidden records stay.
    return writeComposed([&](const FileResult<FileBytes> &now) {
        QString text = now.status == FileStatus::Ok ? databaseTextOf(now.value.bytes) : QString();
        if (!text.contains(before))
            return now.with(WrittenDatabase{text, {}, {}, false});
        text.replace(before, after);
        return FileResult<WrittenDatabase>{FileStatus::Ok, QString(), {text, {}, {}, true}};
    });
}

FileResult<WrittenDatabase> DatabaseSession::writeComposed(const Compose &compose)
{
    for (int attempt = 0; attempt < kWriteAttempts; ++attempt) {
        const FileResult<FileBytes> now = readDatabaseBytes(m_programDirectory);
        if (!now.okOrNoFile())
            return failure<WrittenDatabase>(now.reason);
        const FileResult<WrittenDatabase> composed = compose(now);
        if (!composed.okOrNoFile() || !composed.value.recordFound)
            return composed;
        const FileResult<ContentDigest> written =
            WriteDatabaseFile(m_programDirectory, composed.value.text, digestOf(now));
        if (written.status == FileStatus::Changed)
            continue;
        if (!written.ok())
            return failure<WrittenDatabase>(written.reason);
        remember(composed.value.text, written.value);
        return composed;
    }
    return failure<WrittenDatabase>(
        Texts::tr("another program kept changing the file while it was being written"));
}

QList<CopyReport> DatabaseSession::mergeConflictCopies(QString &text)
{
    QList<CopyReport> reports;
    for (const QString &name : ListConflictCopies(m_programDirectory)) {
        if (m_mergedCopies.contains(name))
            continue;
        const FileResult<CopyReport> merged = mergeConflictCopy(m_programDirectory, name, text);
        if (merged.ok())
            m_mergedCopies.append(name);
        reports.append(merged.value);
    }
    return reports;
}

void DatabaseSession::moveMergedCopies()
{
    // A copy that cannot be moved stays, and is merged again next time,
    // which changes nothing more.
    for (const QString &name : std::as_const(m_mergedCopies))
        static_cast<void>(MoveConflictCopy(m_programDirectory, name));
    m_mergedCopies.clear();
}

FileResult<WrittenDatabase> DatabaseSession::writeMerged(const QString &view)
{
    if (m_unreadableReason)
        return failure<WrittenDatabase>(*m_unreadableReason);
    // The copies merged here are merged again after a failed write.
    const QStringList mergedBefore = m_mergedCopies;
    auto forgetCopies = qScopeGuard([&] { m_mergedCopies = mergedBefore; });
    QString text = view;
    const QList<CopyReport> copies = mergeConflictCopies(text);
    const FileResult<WrittenDatabase> written =
        writeComposed([&](const FileResult<FileBytes> &now) -> FileResult<WrittenDatabase> {
            WrittenDatabase out{text, {}, copies, true};
            // A file that is gone is written anew; one that only changed its
            // encoding or line ends holds no change of another program.
            if (now.status != FileStatus::Ok || digestOf(now) == m_known)
                return {FileStatus::Ok, QString(), out};
            const QString fileText = databaseTextOf(now.value.bytes);
            if (fileText == ancestor())
                return {FileStatus::Ok, QString(), out};
            std::optional<MergedText> merged = mergeTexts(ancestor(), text, fileText);
            if (!merged)
                return failure<WrittenDatabase>(
                    Texts::tr("another program's changes to the file could not be merged"));
            out.text = std::move(merged->text);
            out.merge = std::move(merged->report);
            out.merge.merged = true;
            return {FileStatus::Ok, QString(), out};
        });
    if (written.ok()) {
        forgetCopies.dismiss();
        moveMergedCopies();
    }
    return written;
}

void DatabaseSession::remember(const QString &written, const ContentDigest &digest)
{
    m_ancestor.clear();
    m_written = written;
    m_known = digest;
}

const QString &DatabaseSession::ancestor() const
{
    // What a load of the written file gives, worked out when first needed.
    if (m_written) {
        m_ancestor = databaseTextOf((*m_written + QStringLiteral("\r\n")).toUtf8());
        m_written.reset();
    }
    return m_ancestor;
}

} // namespace RecordStore
