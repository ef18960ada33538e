// SPDX-License-Identifier: GPL-3.0-or-later

// The three-way merge of database texts, line by line: merge.cpp.
#pragma once

#include <optional>

#include <QList>
#include <QString>
#include <QStringView>

#include "record_store/database_session.h"

namespace RecordStore::Internal {

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
};
std::optional<MergedText> mergeTexts(QStringView ancestor, QStringView window, QStringView file);
// The merge of a window that showed `part`, some of the lines of `whole` in
// their order (a search's result), into `whole`: as mergeTexts(part, window,
// whole) gives it, without diffing the whole, while every line of the part
// still stands in the whole in that order.
std::optional<MergedText> mergeIntoWhole(QStringView part, QStringView window, QStringView whole);
// The merge where no ancestor is known: every line of both kept, the lines
// one side lacks named.
MergedText mergeWithoutAncestor(QStringView window, QStringView other);

} // namespace RecordStore::Internal
