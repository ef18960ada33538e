// SPDX-License-Identifier: GPL-3.0-or-later

// The three-way merge of database texts, line by line: merge.cpp; and the
// reports of what a merge took in, which the window shows.
#pragma once

#include <algorithm>
#include <optional>

#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

#include "record_store/record_store.h"

namespace RecordStore {

// What a write took in from another program's changes to the file, when it
// merged them with the window's text (see DatabaseSession).
struct MergeReport
{
    bool merged = false;
    // Lines the file's side added or changed that the result holds.
    int fromFile = 0;
    // Lines the file's side removed.
    int removedInFile = 0;
    // Lines changed differently on both sides, both versions kept: the
    // window's, then the file's, pair after pair.
    QStringList inTwoVersions;
    // Lines changed on one side and removed on the other, kept.
    QStringList changedAndRemoved;
    // Whether no content that both sides are known to descend from was
    // found, so that every line of both was kept; then the lines one side
    // lacked.
    bool withoutAncestor = false;
    QStringList onOneSideOnly;
    // Whether the nearest content both descend from is no longer kept, so
    // that an older one served: a line changed or removed on one side since
    // then may be back.
    bool olderAncestor = false;
};

// What a sync tool's conflict copy (see ListConflictCopies) brought into the
// window's text: its name and the merge, or, in `read` failed, why it was
// not merged (it could not be read, or holds no database text).
struct CopyReport
{
    QString name;
    MergeReport merge;
    QString unfinishedLine;
    FileResult<void> read;
};

// What a write of the session put into the file: the database text (the
// view's text after a write of the whole view), and what it merged from the
// file and from conflict copies.
struct WrittenDatabase
{
    QString text;
    MergeReport merge;
    QList<CopyReport> copies;
    // The text the write was handed, and where `text` differs from it, where
    // its merge told that without comparing the two (see changeFrom).
    QString handed = QString();
    std::optional<TextChange> changeFromHanded = std::nullopt;

    // Where `text` differs from `view`, where the write was handed `view`
    // itself and its merge told where.
    std::optional<TextChange> changeFrom(const QString &view) const
    {
        return view.isSharedWith(handed) ? changeFromHanded : std::nullopt;
    }

    // Whether the text holds more than the window's own changes.
    bool tookInOtherChanges() const
    {
        return merge.merged || std::any_of(copies.cbegin(), copies.cend(),
                                           [](const CopyReport &c) { return c.merge.merged; });
    }
};

namespace Internal {

// Adds what a further merge took in to `into`.
void addMergeReport(MergeReport &into, const MergeReport &from);

// The lines of a database text, as views into it, and the text of lines,
// each followed by CR LF.
using Lines = QList<QStringView>;
Lines linesOf(QStringView text);
QString textOf(const Lines &lines);

// The three-way merge of lines (see DatabaseSession); nothing when libgit2
// could not diff them. The merged lines are views into the three inputs.
struct MergedLines
{
    Lines lines;
    MergeReport report;
};
std::optional<MergedLines> mergeLines(const Lines &ancestor, const Lines &window,
                                      const Lines &file);
// The same on database texts, whose lines end in CR LF: what all three share
// at the start and the end is not split into lines at all.
struct MergedText
{
    QString text;
    MergeReport report;
    // Where the text differs from the window's, where the merge knows it.
    std::optional<TextChange> fromWindow = std::nullopt;
};
std::optional<MergedText> mergeTexts(QStringView ancestor, QStringView window, QStringView file);
// The same, with the file's text the merge's own: where the two sides'
// changes lie apart, the merged text is made in its place, which holds all
// but the window's change already, and no other text of its size is made.
// `windowChange`, where given, tells where the window's text may differ from
// the ancestor's (the rest of both is the same): the merge then compares them
// only there.
std::optional<MergedText> mergeIntoFileText(QStringView ancestor, QStringView window, QString file,
                                            std::optional<TextChange> windowChange = std::nullopt);
// The merge of a window that showed `part`, some of the lines of `whole` in
// their order (a search's result), into `whole`: as mergeTexts(part, window,
// whole) gives it, without diffing the whole, while every line of the part
// still stands in the whole in that order.
std::optional<MergedText> mergeIntoWhole(QStringView part, QStringView window, QStringView whole);
// The merge where no ancestor is known: every line of both kept, the lines
// one side lacks named.
MergedText mergeWithoutAncestor(QStringView window, QStringView other);

} // namespace Internal

} // namespace RecordStore
