// SPDX-License-Identifier: GPL-3.0-or-later

// The three-way merge of database texts, line by line: what the window holds,
// what the file holds now, and what both held when the window last read or
// wrote the file (their common ancestor). Records are independent lines, so
// the merge decides line by line; the line diffs come from libgit2.
//
// Each side's diff against the ancestor says, for every ancestor line,
// whether that side kept it, removed it or changed it into another line, and
// which lines it added between two ancestor lines. A hunk that removes k
// lines and adds m pairs them in order: the first min(k, m) are changes, the
// rest removals or additions. The rules, ancestor line by ancestor line:
// kept on both sides stays; a change on one side wins over a keep; a removal
// on one side wins over a keep; the same change on both sides is made once;
// two different changes keep both versions (the window's first); a change on
// one side and a removal on the other keep the changed line. Lines added at
// one place on both sides all stay, the file's first, and a line added there
// by both sides stands once.
#include "record_store/merge.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <functional>
#include <future>
#include <git2.h>

#include <QHash>
#include <QSet>

#include "record_store/internal.h"

namespace RecordStore {

namespace {

// A text of this many characters or more is compared on two cores, where
// one is free.
constexpr qsizetype kLeastCharactersApart = 1 << 20;

} // namespace

} // namespace RecordStore

namespace RecordStore::Internal {

namespace {

// libgit2 is set up once for the process and never torn down.
bool libgit2Ready()
{
    static const bool ready = git_libgit2_init() > 0;
    return ready;
}

// What one side did to the ancestor's lines.
struct SideEdits
{
    static constexpr int kKept = -1;
    static constexpr int kRemoved = -2;
    // For each ancestor line: kKept, kRemoved, or the index of the side's line
    // it was changed into.
    std::vector<int> change;
    // For each place before ancestor line g (g == size: at the end), the
    // range of the side's lines added there.
    std::vector<std::pair<int, int>> added;
};

// Each distinct line as a short token line ("17\n"), so that libgit2 diffs
// small buffers that hold neither line ends nor bytes of their own.
class Tokens
{
public:
    QByteArray tokenize(const Lines &lines)
    {
        QByteArray out;
        out.reserve(lines.size() * 7);
        for (const QStringView line : lines) {
            auto it = m_ids.constFind(line);
            if (it == m_ids.constEnd())
                it = m_ids.insert(line, int(m_ids.size()));
            out.append(QByteArray::number(*it));
            out.append('\n');
        }
        return out;
    }

private:
    QHash<QStringView, int> m_ids;
};

int onHunk(const git_diff_delta *, const git_diff_hunk *hunk, void *payload)
{
    auto &edits = *static_cast<SideEdits *>(payload);
    // Line numbers count from 1; a hunk that removes nothing names the
    // ancestor line after which its lines go.
    const int removedFrom = hunk->old_lines == 0 ? hunk->old_start : hunk->old_start - 1;
    const int addedFrom = hunk->new_start - 1;
    const int changed = qMin(hunk->old_lines, hunk->new_lines);
    for (int k = 0; k < hunk->old_lines; ++k)
        edits.change[removedFrom + k] = k < changed ? addedFrom + k : SideEdits::kRemoved;
    if (hunk->new_lines > changed)
        edits.added[removedFrom + hunk->old_lines] = {addedFrom + changed,
                                                      addedFrom + hunk->new_lines};
    return 0;
}

std::optional<SideEdits> diff(const QByteArray &ancestor, qsizetype ancestorLines,
                              const QByteArray &side)
{
    SideEdits edits;
    edits.change.assign(ancestorLines, SideEdits::kKept);
    edits.added.assign(ancestorLines + 1, {0, 0});
    git_diff_options options;
    git_diff_options_init(&options, GIT_DIFF_OPTIONS_VERSION);
    options.context_lines = 0;
    options.interhunk_lines = 0;
    options.flags = GIT_DIFF_FORCE_TEXT;
    if (git_diff_buffers(ancestor.constData(), ancestor.size(), nullptr, side.constData(),
                         side.size(), nullptr, &options, nullptr, nullptr, onHunk, nullptr,
                         &edits) != 0)
        return std::nullopt;
    return edits;
}

// The lines that one side and the ancestor share at the start and, of the
// rest, at the end.
std::pair<qsizetype, qsizetype> sharedLines(const Lines &ancestor, const Lines &side)
{
    const qsizetype shortest = qMin(ancestor.size(), side.size());
    qsizetype head = 0;
    while (head < shortest && ancestor[head] == side[head])
        ++head;
    qsizetype tail = 0;
    while (tail < shortest - head &&
           ancestor[ancestor.size() - 1 - tail] == side[side.size() - 1 - tail])
        ++tail;
    return {head, tail};
}

// Whether the `count` lines of `lines` from `from` on could stand one line
// earlier or later with the same lines around them.
bool runCanSlide(const Lines &lines, qsizetype from, qsizetype count)
{
    const qsizetype to = from + count;
    return (to < lines.size() && lines[to] == lines[from]) ||
           (from > 0 && lines[from - 1] == lines[to - 1]);
}

// One side's edits where the side and the ancestor differ in one run of
// lines between those they share at the start and the end: lines only
// added, only removed, or a few replaced by others that the ancestor's run
// does not hold, where neither run could slide. libgit2's diff finds the
// same lines shared and, with no line to match between the runs, makes them
// one hunk that it leaves in place. Nothing where the diff must decide.
std::optional<SideEdits> plainEdits(const Lines &ancestor, const Lines &side)
{
    constexpr qsizetype kMostReplaced = 32;
    const auto [head, tail] = sharedLines(ancestor, side);
    const qsizetype removed = ancestor.size() - head - tail;
    const qsizetype added = side.size() - head - tail;
    if (removed > 0 && added > 0) {
        if (removed > kMostReplaced || added > kMostReplaced ||
            runCanSlide(ancestor, head, removed) || runCanSlide(side, head, added))
            return std::nullopt;
        for (qsizetype k = head; k < head + removed; ++k) {
            if (side.mid(head, added).contains(ancestor[k]))
                return std::nullopt;
        }
    }
    SideEdits edits;
    edits.change.assign(ancestor.size(), SideEdits::kKept);
    edits.added.assign(ancestor.size() + 1, {0, 0});
    const qsizetype changed = qMin(removed, added);
    for (qsizetype k = 0; k < removed; ++k)
        edits.change[head + k] = k < changed ? int(head + k) : SideEdits::kRemoved;
    if (added > changed)
        edits.added[head + removed] = {int(head + changed), int(head + added)};
    return edits;
}

void appendFromFile(MergedLines &merged, QStringView line)
{
    merged.lines.append(line);
    ++merged.report.fromFile;
}

// The lines both sides added before one ancestor line: the file's first, then
// the window's that the file did not add too.
void appendAdded(MergedLines &merged, Lines fileAdded, const Lines &window, int windowFrom,
                 int windowTo)
{
    for (const QStringView line : fileAdded)
        appendFromFile(merged, line);
    for (int k = windowFrom; k < windowTo; ++k) {
        if (!fileAdded.removeOne(window[k]))
            merged.lines.append(window[k]);
        else
            --merged.report.fromFile;
    }
}

// What the merge keeps of one ancestor line, which the window made `a` and
// the file made `b` of: kept, removed, or the number of the line that
// replaced it on that side.
void appendCombined(MergedLines &merged, QStringView ancestorLine, const Lines &window, int a,
                    const Lines &file, int b)
{
    MergeReport &report = merged.report;
    if (a == SideEdits::kKept && b == SideEdits::kKept) {
        merged.lines.append(ancestorLine);
    } else if (a == SideEdits::kKept && b == SideEdits::kRemoved) {
        ++report.removedInFile;
    } else if (a >= 0 && b >= 0) {
        merged.lines.append(window[a]);
        if (file[b] != window[a]) {
            appendFromFile(merged, file[b]);
            report.inTwoVersions << window[a].toString() << file[b].toString();
        }
    } else if (a >= 0) {
        merged.lines.append(window[a]);
        if (b == SideEdits::kRemoved)
            report.changedAndRemoved << window[a].toString();
    } else if (b >= 0) {
        appendFromFile(merged, file[b]);
        if (a == SideEdits::kRemoved)
            report.changedAndRemoved << file[b].toString();
    }
}

// A line that both sides added, each at its own place (the same record that
// reached both through a third), stands as often as the side that holds it
// more often has it, not once for each side: the later ones go.
void keepSharedAdditionsOnce(Lines &merged, const Lines &ancestor, const Lines &window,
                             const Lines &file)
{
    QHash<QStringView, std::array<int, 4>> counts; // ancestor, window, file, merged
    const Lines *sides[] = {&ancestor, &window, &file, &merged};
    for (size_t side = 0; side < 4; ++side)
        for (const QStringView line : *sides[side])
            ++counts[line][side];
    QHash<QStringView, int> extra;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        const auto [inAncestor, inWindow, inFile, inMerged] = it.value();
        if (inWindow > inAncestor && inFile > inAncestor && inMerged > qMax(inWindow, inFile))
            extra[it.key()] = inMerged - qMax(inWindow, inFile);
    }
    for (qsizetype k = merged.size() - 1; k >= 0 && !extra.isEmpty(); --k) {
        const auto it = extra.find(merged[k]);
        if (it == extra.end())
            continue;
        merged.removeAt(k);
        if (--*it == 0)
            extra.erase(it);
    }
}

// The lines a side's edits put in: those lines were changed into and those
// added.
QSet<QStringView> linesPutIn(const SideEdits &edits, const Lines &side)
{
    QSet<QStringView> lines;
    for (const int change : edits.change) {
        if (change >= 0)
            lines.insert(side[change]);
    }
    for (const auto &[from, to] : edits.added) {
        for (int k = from; k < to; ++k)
            lines.insert(side[k]);
    }
    return lines;
}

// Whether a line that both sides hold more often than the ancestor can be
// there: each side must have put it in.
bool bothAddSomeLine(const SideEdits &mine, const Lines &window, const SideEdits &theirs,
                     const Lines &file)
{
    return linesPutIn(mine, window).intersects(linesPutIn(theirs, file));
}

// The ancestor's lines that a side took out: removed, or changed into
// another line.
QSet<QStringView> linesTakenOut(const SideEdits &edits, const Lines &ancestor, const Lines &side)
{
    QSet<QStringView> lines;
    for (size_t g = 0; g < edits.change.size(); ++g) {
        const int change = edits.change[g];
        if (change == SideEdits::kRemoved || (change >= 0 && side[change] != ancestor[g]))
            lines.insert(ancestor[g]);
    }
    return lines;
}

// A record that one side moved (took out at one place and put in at
// another) is one that side kept; where the other side removed it, it goes,
// as a removal wins over a keep: of a line that neither side holds more often
// than the ancestor, the merge holds as many as the side that holds fewer.
void dropMovedRemovals(MergedLines &merged, const QSet<QStringView> &moved, const Lines &ancestor,
                       const Lines &window, const Lines &file)
{
    QHash<QStringView, std::array<int, 4>> counts; // ancestor, window, file, merged
    const Lines *sides[] = {&ancestor, &window, &file, &merged.lines};
    for (size_t side = 0; side < 4; ++side)
        for (const QStringView line : *sides[side])
            if (moved.contains(line))
                ++counts[line][side];
    for (qsizetype k = merged.lines.size() - 1; k >= 0; --k) {
        const auto it = counts.find(merged.lines[k]);
        if (it == counts.end())
            continue;
        auto &[inAncestor, inWindow, inFile, inMerged] = *it;
        if (inWindow > inAncestor || inFile > inAncestor || inMerged <= qMin(inWindow, inFile))
            continue;
        inFile < inWindow ? ++merged.report.removedInFile : --merged.report.fromFile;
        merged.lines.removeAt(k);
        --inMerged;
    }
}

// Merges the lines between the lines that all three share at the start and
// at the end.
std::optional<MergedLines> mergeMiddle(const Lines &ancestor, const Lines &window,
                                       const Lines &file)
{
    std::optional<SideEdits> mine = plainEdits(ancestor, window);
    std::optional<SideEdits> theirs = plainEdits(ancestor, file);
    if (!mine || !theirs) {
        if (!libgit2Ready())
            return std::nullopt;
        Tokens tokens;
        const QByteArray ancestorTokens = tokens.tokenize(ancestor);
        if (!mine)
            mine = diff(ancestorTokens, ancestor.size(), tokens.tokenize(window));
        if (!theirs)
            theirs = diff(ancestorTokens, ancestor.size(), tokens.tokenize(file));
        if (!mine || !theirs)
            return std::nullopt;
    }

    MergedLines merged;
    merged.lines.reserve(qMax(window.size(), file.size()));
    for (qsizetype g = 0; g <= ancestor.size(); ++g) {
        const auto [fileFrom, fileTo] = theirs->added[g];
        const auto [windowFrom, windowTo] = mine->added[g];
        appendAdded(merged, file.mid(fileFrom, fileTo - fileFrom), window, windowFrom, windowTo);
        if (g < ancestor.size())
            appendCombined(merged, ancestor[g], window, mine->change[g], file, theirs->change[g]);
    }
    if (bothAddSomeLine(*mine, window, *theirs, file))
        keepSharedAdditionsOnce(merged.lines, ancestor, window, file);
    const QSet<QStringView> moved =
        (linesPutIn(*mine, window) & linesTakenOut(*theirs, ancestor, file)) +
        (linesPutIn(*theirs, file) & linesTakenOut(*mine, ancestor, window));
    if (!moved.isEmpty())
        dropMovedRemovals(merged, moved, ancestor, window, file);
    return merged;
}

} // namespace

std::optional<MergedLines> mergeLines(const Lines &ancestor, const Lines &window, const Lines &file)
{
    // The lines all three share at the start and at the end stay as they are;
    // only those between are diffed.
    const qsizetype shortest = qMin(ancestor.size(), qMin(window.size(), file.size()));
    qsizetype head = 0;
    while (head < shortest && ancestor[head] == window[head] && ancestor[head] == file[head])
        ++head;
    qsizetype tail = 0;
    while (tail < shortest - head &&
           ancestor[ancestor.size() - 1 - tail] == window[window.size() - 1 - tail] &&
           ancestor[ancestor.size() - 1 - tail] == file[file.size() - 1 - tail])
        ++tail;
    const auto middle = [&](const Lines &lines) {
        return lines.mid(head, lines.size() - head - tail);
    };
    std::optional<MergedLines> merged = mergeMiddle(middle(ancestor), middle(window), middle(file));
    if (!merged)
        return merged;
    Lines lines;
    lines.reserve(head + merged->lines.size() + tail);
    lines.append(ancestor.mid(0, head));
    lines.append(merged->lines);
    lines.append(ancestor.mid(ancestor.size() - tail));
    merged->lines = std::move(lines);
    return merged;
}

namespace {

// How many characters all three share at the end, outside the first `head`,
// taken forward to just behind a line feed, so that the shared part starts
// with a whole line.
qsizetype sharedTail(QStringView a, QStringView b, QStringView c, qsizetype head)
{
    const qsizetype longest = qMin(a.size(), qMin(b.size(), c.size())) - head;
    const qsizetype inB = sharedEndLength(a.last(longest), b.last(longest));
    const qsizetype shared = sharedEndLength(a.last(inB), c.last(inB));
    const qsizetype lineFeed = a.last(shared).indexOf(u'\n');
    return lineFeed < 0 ? 0 : shared - lineFeed - 1;
}

} // namespace

namespace {

// The run of lines in which a side differs from the ancestor, in characters:
// the ancestor's [from, ancestorTo) became the side's [from, sideTo). The
// lines around it are those sharedLines counts.
struct Run
{
    qsizetype from;
    qsizetype ancestorTo;
    qsizetype sideTo;

    bool isEmpty() const
    {
        return from == ancestorTo && from == sideTo;
    }
};

bool startsLine(QStringView text, qsizetype at)
{
    return at == 0 || text[at - 1] == u'\n';
}

// The run in which `side` differs from `ancestor`. Where `known` tells where
// it may differ, the texts are compared only from the edges of that change
// on: the same run.
Run changedRun(QStringView ancestor, QStringView side, const std::optional<TextChange> &known = {})
{
    const qsizetype from = known ? known->from : 0;
    const qsizetype start = from + sharedStartLength(ancestor.sliced(from), side.sliced(from));
    const qsizetype head = ancestor.first(start).lastIndexOf(u'\n') + 1;
    const qsizetype limit = qMin(ancestor.size(), side.size()) - head;
    const qsizetype end = known ? qMin(ancestor.size() - known->oldTo, limit) : 0;
    qsizetype shared =
        end + sharedEndLength(ancestor.first(ancestor.size() - end).last(limit - end),
                              side.first(side.size() - end).last(limit - end));
    // Only whole lines count: the shared end is taken forward to a line
    // start of both.
    if (!startsLine(ancestor, ancestor.size() - shared) ||
        !startsLine(side, side.size() - shared)) {
        const qsizetype lineFeed = ancestor.last(shared).indexOf(u'\n');
        shared = lineFeed < 0 ? 0 : shared - lineFeed - 1;
    }
    return {head, ancestor.size() - shared, side.size() - shared};
}

// The line that starts at `at`, or ends just before it (`after` false), if any.
std::optional<QStringView> lineAt(QStringView text, qsizetype at, bool after)
{
    if (after ? at >= text.size() : at == 0)
        return std::nullopt;
    const qsizetype lineFeed = text.indexOf(u'\n', at);
    const Lines lines =
        linesOf(after ? text.sliced(at, (lineFeed < 0 ? text.size() : lineFeed + 1) - at)
                      : text.first(at).sliced(text.first(at - 1).lastIndexOf(u'\n') + 1));
    return lines.value(0);
}

// Whether libgit2's diff of the side against the ancestor is the run alone,
// as plainEdits tells it (its lines put in `putIn`).
bool runIsPlain(QStringView ancestor, QStringView side, const Run &run, Lines &putIn)
{
    constexpr qsizetype kMostLinesInRun = 1000;
    const Lines removed = linesOf(ancestor.sliced(run.from, run.ancestorTo - run.from));
    putIn = linesOf(side.sliced(run.from, run.sideTo - run.from));
    const std::optional<QStringView> before = lineAt(ancestor, run.from, false);
    const auto slides = [&](const Lines &lines, QStringView text, qsizetype to) {
        const std::optional<QStringView> after = lineAt(text, to, true);
        return !lines.isEmpty() &&
               ((after && *after == lines.front()) || (before && *before == lines.back()));
    };
    if (slides(removed, ancestor, run.ancestorTo) || slides(putIn, side, run.sideTo))
        return false;
    if (removed.isEmpty() || putIn.isEmpty())
        return removed.size() + putIn.size() <= kMostLinesInRun;
    return removed.size() <= 32 && putIn.size() <= 32 &&
           std::none_of(removed.cbegin(), removed.cend(),
                        [&](QStringView line) { return putIn.contains(line); });
}

void addPartReport(MergeReport &into, const MergeReport &part)
{
    into.fromFile += part.fromFile;
    into.removedInFile += part.removedInFile;
    into.inTwoVersions += part.inTwoVersions;
    into.changedAndRemoved += part.changedAndRemoved;
}

// The merge of one side's run where the other side keeps every line around
// it, from the ancestor's [from, to): the run and the two lines behind it
// (fewer where the part ends at `partEnd`). The merge of the whole part sets
// aside what all three share at its start and end, the end taken forward to
// a line start no further than the line behind the run, so that it merges
// the same lines; the lines outside stand as the ancestor has them. The kept
// side's lines stand `keptShift` characters from the ancestor's.
struct MergedRun
{
    qsizetype from;
    qsizetype to;
    MergedText merged;
};

std::optional<MergedRun> mergeRun(QStringView ancestor, QStringView changed, QStringView kept,
                                  qsizetype keptShift, const Run &run, qsizetype partEnd,
                                  bool windowChanged)
{
    qsizetype to = run.ancestorTo;
    for (int line = 0; line < 2 && to < partEnd; ++line) {
        const qsizetype lineFeed = ancestor.first(partEnd).indexOf(u'\n', to);
        to = lineFeed < 0 ? partEnd : lineFeed + 1;
    }
    const qsizetype length = to - run.from;
    const QStringView a = ancestor.sliced(run.from, length);
    const QStringView c = changed.sliced(run.from, length + run.sideTo - run.ancestorTo);
    const QStringView k = kept.sliced(run.from + keptShift, length);
    std::optional<MergedText> merged = windowChanged ? mergeTexts(a, c, k) : mergeTexts(a, k, c);
    if (!merged)
        return std::nullopt;
    return MergedRun{run.from, to, std::move(*merged)};
}

// Whether each side changed one plain run of lines, neither putting in a
// line the other puts in, with at least two lines that every side keeps
// between the runs (`first` the earlier run).
bool runsApart(QStringView ancestor, QStringView window, QStringView file, const Run &mine,
               const Run &theirs, const Run &first, const Run &second)
{
    if (mine.isEmpty() || theirs.isEmpty() || first.ancestorTo > second.from)
        return false;
    // At least two line ends between the runs: found, not counted.
    const QStringView between = ancestor.sliced(first.ancestorTo, second.from - first.ancestorTo);
    const qsizetype lineEnd = between.indexOf(u'\n');
    if (lineEnd < 0 || between.indexOf(u'\n', lineEnd + 1) < 0)
        return false;
    Lines windowLines;
    Lines fileLines;
    return runIsPlain(ancestor, window, mine, windowLines) &&
           runIsPlain(ancestor, file, theirs, fileLines) &&
           std::none_of(windowLines.cbegin(), windowLines.cend(),
                        [&](QStringView line) { return fileLines.contains(line); });
}

// The merges of the two runs where they lie apart (see runsApart): the merge
// of the whole is the merge of the part before the start of the line just
// before the second run followed by that of the rest, each of which sees one
// side's change alone, so that of the lines between none is parted or
// compared. Nothing where the texts are not such.
struct MergedApart
{
    MergedRun before;
    MergedRun after;
    MergeReport report;
};

std::optional<MergedApart> mergeRunsApart(QStringView ancestor, QStringView window,
                                          QStringView file, const Run &mine, const Run &theirs)
{
    const bool windowFirst = mine.ancestorTo <= theirs.from;
    const Run &first = windowFirst ? mine : theirs;
    const Run &second = windowFirst ? theirs : mine;
    if (!runsApart(ancestor, window, file, mine, theirs, first, second))
        return std::nullopt;
    // Before that line the side whose run comes second holds the ancestor's
    // characters where the ancestor does; behind the first run the other
    // holds them shifted by what its run added.
    const qsizetype at = ancestor.first(second.from - 1).lastIndexOf(u'\n') + 1;
    const QStringView firstSide = windowFirst ? window : file;
    const QStringView secondSide = windowFirst ? file : window;
    const qsizetype shift = first.sideTo - first.ancestorTo;
    std::optional<MergedRun> before =
        mergeRun(ancestor, firstSide, secondSide, 0, first, at, windowFirst);
    std::optional<MergedRun> after =
        mergeRun(ancestor, secondSide, firstSide, shift, second, ancestor.size(), !windowFirst);
    if (!before || !after)
        return std::nullopt;
    MergeReport report = before->merged.report;
    addPartReport(report, after->merged.report);
    return MergedApart{std::move(*before), std::move(*after), std::move(report)};
}

// The whole merged text of runs merged apart, joined once from the
// ancestor's lines and the runs' merges.
MergedText joinApart(QStringView ancestor, MergedApart &&apart)
{
    const MergedRun &before = apart.before;
    const MergedRun &after = apart.after;
    MergedText merged{QString(), std::move(apart.report)};
    const QStringView between = ancestor.sliced(before.to, after.from - before.to);
    merged.text.reserve(before.from + before.merged.text.size() + between.size() +
                        after.merged.text.size() + ancestor.size() - after.to);
    merged.text.append(ancestor.first(before.from))
        .append(before.merged.text)
        .append(between)
        .append(after.merged.text)
        .append(ancestor.sliced(after.to));
    return merged;
}

// The merge where the sides' changes do not lie apart: what all three share
// at the start and the end stays as it stands, and the lines between are
// merged. All three share the start that each side shares with the ancestor.
struct MergedMiddle
{
    qsizetype head;  // characters all three share at the start
    qsizetype tail;  // and at the end
    QString between; // the merge of the lines between
    MergeReport report;
};

std::optional<MergedMiddle> mergeBetweenShared(QStringView ancestor, QStringView window,
                                               QStringView file, const Run &mine, const Run &theirs)
{
    const qsizetype head = qMin(mine.from, theirs.from);
    const qsizetype tail = sharedTail(ancestor, window, file, head);
    const auto middle = [&](QStringView text) {
        return linesOf(text.sliced(head, text.size() - head - tail));
    };
    std::optional<MergedLines> merged = mergeLines(middle(ancestor), middle(window), middle(file));
    if (!merged)
        return std::nullopt;
    return MergedMiddle{head, tail, textOf(merged->lines), std::move(merged->report)};
}

// A blank line of a searched view that the whole no longer holds.
constexpr qsizetype kNowhere = -1;

// A line of a whole text: where it starts, and where its line end ends.
struct WholeLine
{
    qsizetype from = kNowhere;
    qsizetype to = kNowhere;
};

// Where the lines of a searched view stand in the whole, and where the
// whole's first line that does not end in CR LF starts (its size if none).
struct Placement
{
    std::vector<WholeLine> lines;
    qsizetype firstOtherEnd = 0;
};

// Where each line of `part` stands in `whole`, in order; nothing when a line
// that is not blank is no longer there. A blank line stands at the first
// blank line of the whole before the part's next line, or nowhere: searches
// show no blank lines, so the part's were typed into the view, and a write
// of the whole keeps only what its load gives, whose collapse drops them.
std::optional<Placement> placesInWhole(const Lines &part, QStringView whole)
{
    Placement placed;
    placed.lines.reserve(size_t(part.size()));
    placed.firstOtherEnd = whole.size();
    qsizetype g = 0;
    qsizetype next = 0; // the part's next line that is not blank
    const auto take = [&](qsizetype from, qsizetype length, qsizetype end) {
        if (end != 2)
            placed.firstOtherEnd = std::min(placed.firstOtherEnd, from);
        const QStringView line(whole.data() + from, length);
        for (; g < part.size(); ++g) {
            if (part[g] == line) {
                placed.lines.push_back({from, from + length + end});
                ++g;
                return;
            }
            if (!part[g].isEmpty())
                return;
            next = std::max(next, g + 1);
            while (next < part.size() && part[next].isEmpty())
                ++next;
            if (next == part.size() || line != part[next])
                return;
            placed.lines.push_back({});
        }
    };
    // A long whole's second half, from a line feed on (which always ends a
    // line), is split into lines on another core meanwhile.
    const qsizetype lineFeed =
        whole.size() < kLeastCharactersApart ? -1 : whole.indexOf(u'\n', whole.size() / 2);
    const qsizetype split = lineFeed < 0 ? whole.size() : lineFeed + 1;
    std::future<Lines> rest;
    if (split < whole.size())
        rest = meanwhile([&] { return linesOf(whole.sliced(split)); });
    forEachLine(whole.data(), split, take);
    const Lines later = rest.valid() ? rest.get() : Lines();
    for (qsizetype k = 0; k < later.size(); ++k) {
        const qsizetype from = later[k].data() - whole.data();
        const qsizetype to =
            k + 1 < later.size() ? later[k + 1].data() - whole.data() : whole.size();
        take(from, later[k].size(), to - from - later[k].size());
    }
    for (; g < part.size(); ++g) {
        if (!part[g].isEmpty())
            return std::nullopt;
        placed.lines.push_back({});
    }
    return placed;
}

// A text put together from pieces: lines of a whole text, copied as they
// stand where they end in CR LF, and other lines, each followed by CR LF. The
// pieces are copied into place once the text's size is known, half of them on
// another core where the text is long.
class PiecedText
{
public:
    PiecedText(QStringView whole, qsizetype firstOtherEnd)
        : m_whole(whole), m_firstOtherEnd(firstOtherEnd)
    {
    }

    // The whole's lines from `from` to `to`, each followed by CR LF.
    void appendWhole(qsizetype from, qsizetype to)
    {
        if (from == to)
            return;
        if (to > m_firstOtherEnd) {
            m_made.append(textOf(linesOf(m_whole.sliced(from, to - from))));
            m_pieces.push_back(m_made.constLast());
            m_wholeTo = kNowhere;
            return;
        }
        if (from != m_wholeTo) {
            m_pieces.emplace_back();
            m_wholeFrom = from;
        }
        m_wholeTo = to;
        m_pieces.back() = m_whole.sliced(m_wholeFrom, to - m_wholeFrom);
    }

    void appendLine(QStringView line)
    {
        m_wholeTo = kNowhere;
        m_pieces.push_back(line);
        m_pieces.push_back(kCrLf);
    }

    QString text() const
    {
        qsizetype size = 0;
        for (const QStringView piece : m_pieces)
            size += piece.size();
        QString text(size, Qt::Uninitialized);
        QChar *out = text.data();
        const auto copy = [&](qsizetype from, qsizetype to) {
            qsizetype at = 0;
            for (const QStringView piece : m_pieces) {
                const qsizetype first = std::max(at, from);
                const qsizetype last = std::min(at + piece.size(), to);
                if (first < last)
                    std::memcpy(out + first, piece.data() + (first - at),
                                size_t(last - first) * sizeof(QChar));
                at += piece.size();
            }
        };
        const qsizetype half = size < kLeastCharactersApart ? size : size / 2;
        std::future<void> later;
        if (half < size)
            later = meanwhile([&] { copy(half, size); });
        copy(0, half);
        if (later.valid())
            later.get();
        return text;
    }

private:
    QStringView m_whole;
    qsizetype m_firstOtherEnd;
    std::vector<QStringView> m_pieces;
    // Where the last piece starts and ends in the whole, when it is the
    // whole's as it stands.
    qsizetype m_wholeFrom = kNowhere;
    qsizetype m_wholeTo = kNowhere;
    // The pieces normalized here, whose line ends were not all CR LF.
    QStringList m_made;
};

// The runs in which the window and the file differ from the ancestor. Each
// comparison may pass over the whole text: a long one compares the window on
// another core, where one is free, unless `windowChange` tells where the
// window may differ (see changedRun).
std::pair<Run, Run> changedRuns(QStringView ancestor, QStringView window, QStringView file,
                                const std::optional<TextChange> &windowChange = {})
{
    if (windowChange || ancestor.size() < kLeastCharactersApart)
        return {changedRun(ancestor, window, windowChange), changedRun(ancestor, file)};
    std::future<Run> mine = meanwhile([&] { return changedRun(ancestor, window); });
    const Run theirs = changedRun(ancestor, file);
    return {mine.get(), theirs};
}

} // namespace

std::optional<MergedText> mergeTexts(QStringView ancestor, QStringView window, QStringView file)
{
    const auto [mine, theirs] = changedRuns(ancestor, window, file);
    if (std::optional<MergedApart> apart = mergeRunsApart(ancestor, window, file, mine, theirs))
        return joinApart(ancestor, std::move(*apart));
    std::optional<MergedMiddle> middle = mergeBetweenShared(ancestor, window, file, mine, theirs);
    if (!middle)
        return std::nullopt;
    MergedText merged{QString(), std::move(middle->report)};
    merged.text.reserve(middle->head + middle->between.size() + middle->tail);
    merged.text.append(ancestor.first(middle->head))
        .append(middle->between)
        .append(ancestor.last(middle->tail));
    return merged;
}

std::optional<MergedText> mergeIntoFileText(QStringView ancestor, QStringView window, QString file,
                                            std::optional<TextChange> windowChange)
{
    // A change that does not fit the texts tells nothing.
    if (windowChange &&
        !(0 <= windowChange->from && windowChange->from <= windowChange->oldTo &&
          windowChange->oldTo <= ancestor.size() && windowChange->from <= windowChange->newTo &&
          windowChange->newTo <= window.size() &&
          ancestor.size() - windowChange->oldTo == window.size() - windowChange->newTo))
        windowChange.reset();
    const auto [mine, theirs] = changedRuns(ancestor, window, file, windowChange);
    std::optional<MergedApart> apart = mergeRunsApart(ancestor, window, file, mine, theirs);
    if (!apart) {
        // The file holds what all three share, and the window too: only the
        // lines between change, in both.
        std::optional<MergedMiddle> middle =
            mergeBetweenShared(ancestor, window, file, mine, theirs);
        if (!middle)
            return std::nullopt;
        const qsizetype head = middle->head;
        const qsizetype between = middle->between.size();
        file.replace(head, file.size() - head - middle->tail, middle->between);
        return MergedText{std::move(file), std::move(middle->report),
                          TextChange{head, window.size() - middle->tail, head + between}};
    }
    // The file holds the ancestor's characters where the ancestor does up to
    // its run, and shifted by what its run added behind it. The later run's
    // lines are replaced first, so that the earlier ones stay where they are.
    const qsizetype shift = theirs.sideTo - theirs.ancestorTo;
    for (const MergedRun *part : {&apart->after, &apart->before}) {
        const qsizetype from = part->from <= theirs.from ? part->from : part->from + shift;
        const qsizetype to = part->to >= theirs.ancestorTo ? part->to + shift : part->to;
        file.replace(from, to - from, part->merged.text);
    }
    // The merged text is the window's but for the file's run, which stands
    // behind the window's run where that comes first.
    const qsizetype windowShift =
        theirs.from >= mine.ancestorTo ? mine.sideTo - mine.ancestorTo : 0;
    return MergedText{std::move(file), std::move(apart->report),
                      TextChange{theirs.from + windowShift, theirs.ancestorTo + windowShift,
                                 theirs.sideTo + windowShift}};
}

std::optional<MergedText> mergeIntoWhole(QStringView part, QStringView window, QStringView whole)
{
    // When a line of the part is no longer in the whole, the plain three-way
    // merge decides.
    const Lines ancestor = linesOf(part);
    const std::optional<Placement> at = placesInWhole(ancestor, whole);
    if (!at)
        return mergeTexts(part, window, whole);
    if (!libgit2Ready())
        return std::nullopt;
    const Lines mine = linesOf(window);
    Tokens tokens;
    const QByteArray ancestorTokens = tokens.tokenize(ancestor);
    const std::optional<SideEdits> edits =
        diff(ancestorTokens, ancestor.size(), tokens.tokenize(mine));
    if (!edits)
        return std::nullopt;
    // The whole's other lines stay; the window's edits of the part are made
    // where the part's lines stand, its additions after the other lines
    // before the next of them, as the three-way merge places them. A blank
    // line the whole lacks stays out of it unless the window changed it.
    PiecedText merged(whole, at->firstOtherEnd);
    qsizetype next = 0;
    for (qsizetype g = 0; g <= ancestor.size(); ++g) {
        const WholeLine place =
            g < ancestor.size() ? at->lines[size_t(g)] : WholeLine{whole.size(), whole.size()};
        const bool nowhere = place.from == kNowhere;
        const qsizetype stop = nowhere ? next : place.from;
        merged.appendWhole(next, stop);
        const auto [from, to] = edits->added[size_t(g)];
        for (qsizetype k = from; k < to; ++k)
            merged.appendLine(mine[k]);
        if (g == ancestor.size())
            break;
        const int change = edits->change[size_t(g)];
        if (change == SideEdits::kKept && !nowhere)
            merged.appendWhole(place.from, place.to);
        else if (change >= 0)
            merged.appendLine(mine[change]);
        next = nowhere ? stop : place.to;
    }
    return MergedText{merged.text(), {}};
}

namespace {

// The lines of `a` that `b` does not hold, as many times as `a` holds them
// more often.
QStringList linesMissingFrom(const Lines &a, const Lines &b)
{
    QHash<QStringView, int> counts;
    for (const QStringView line : b)
        ++counts[line];
    QStringList missing;
    for (const QStringView line : a)
        if (--counts[line] < 0)
            missing.append(line.toString());
    return missing;
}

} // namespace

MergedText mergeWithoutAncestor(QStringView window, QStringView other)
{
    // Without a content both are known to descend from, nothing can be told
    // removed: the window's lines stay as they stand, and the other side's
    // lines the window lacks follow them.
    const Lines mine = linesOf(window);
    const Lines theirs = linesOf(other);
    const QStringList fromOther = linesMissingFrom(theirs, mine);
    MergedText merged{window.toString(), {}};
    for (const QString &line : fromOther)
        merged.text += line + kCrLf;
    MergeReport &report = merged.report;
    report.merged = true;
    report.withoutAncestor = true;
    report.fromFile = int(fromOther.size());
    report.onOneSideOnly = linesMissingFrom(mine, theirs) + fromOther;
    return merged;
}

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
    for (const QStringView line : lines)
        text.append(line).append(kCrLf);
    return text;
}

void addMergeReport(MergeReport &into, const MergeReport &from)
{
    into.merged = true;
    into.fromFile += from.fromFile;
    into.removedInFile += from.removedInFile;
    into.inTwoVersions += from.inTwoVersions;
    into.changedAndRemoved += from.changedAndRemoved;
    into.withoutAncestor = into.withoutAncestor || from.withoutAncestor;
    into.onOneSideOnly += from.onOneSideOnly;
    into.olderAncestor = into.olderAncestor || from.olderAncestor;
}

} // namespace RecordStore::Internal

namespace RecordStore {

namespace {

// Compared this many characters at a time; from the end, first sixteen
// times as many, as memory read backwards in small blocks comes in slowly.
constexpr qsizetype kCompareBlock = 1024;
constexpr qsizetype kCompareBlockFromEnd = 16 * kCompareBlock;
// Long texts that share the first block of this many characters at the
// start (or the end) are compared in two halves.
constexpr qsizetype kFirstCompared = 1 << 16;

// How many of the `limit` characters from `a` and `b` onwards both share;
// `step` is 1 from the start, -1 from just before `a` and `b` backwards.
// Stops early, with a figure no larger than the shared length, once
// `stopped` is set.
qsizetype sharedRun(const QChar *a, const QChar *b, qsizetype limit, int step,
                    const std::atomic<bool> &stopped)
{
    const auto same = [&](qsizetype at, qsizetype block) {
        const qsizetype first = step > 0 ? at : -at - block;
        return std::memcmp(a + first, b + first, size_t(block) * sizeof(QChar)) == 0;
    };
    qsizetype at = 0;
    for (const qsizetype block : {step > 0 ? kCompareBlock : kCompareBlockFromEnd, kCompareBlock}) {
        while (at + block <= limit && same(at, block)) {
            at += block;
            if (stopped.load(std::memory_order_relaxed))
                return at;
        }
    }
    const qsizetype first = step > 0 ? 0 : -1;
    while (at < limit && a[first + step * at] == b[first + step * at])
        ++at;
    return at;
}

// sharedRun over all `limit` characters: with two cores, where many and the
// first ones are shared, the far half on the other while this one compares
// the near one.
qsizetype sharedLength(const QChar *a, const QChar *b, qsizetype limit, int step, Cores cores)
{
    std::atomic<bool> stopped{false};
    if (cores == Cores::One || limit < kLeastCharactersApart)
        return sharedRun(a, b, limit, step, stopped);
    const qsizetype head = kFirstCompared;
    const qsizetype near = sharedRun(a, b, head, step, stopped);
    if (near < head)
        return near;
    const qsizetype half = limit / 2;
    std::future<qsizetype> far = Internal::meanwhile(
        [&] { return sharedRun(a + step * half, b + step * half, limit - half, step, stopped); });
    const qsizetype nearHalf =
        head + sharedRun(a + step * head, b + step * head, half - head, step, stopped);
    // A difference in the near half ends the far one's comparison.
    stopped = nearHalf < half;
    const qsizetype farHalf = far.get();
    return nearHalf < half ? nearHalf : half + farHalf;
}

} // namespace

qsizetype sharedStartLength(QStringView a, QStringView b, Cores cores)
{
    return sharedLength(a.data(), b.data(), qMin(a.size(), b.size()), 1, cores);
}

qsizetype sharedEndLength(QStringView a, QStringView b, Cores cores)
{
    return sharedLength(a.data() + a.size(), b.data() + b.size(), qMin(a.size(), b.size()), -1,
                        cores);
}

} // namespace RecordStore
