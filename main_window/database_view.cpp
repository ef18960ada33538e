// SPDX-License-Identifier: GPL-3.0-or-later

// The database view's text: reading and setting it with CR LF line ends,
// replacing and appending without rebuilding the whole view, the wrap for long
// words, the picked line's mark and the caret's line; and the view's frame.
#include "main_window/database_view.h"

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

#include <QPainter>
#include <QScrollBar>
#include <QStyleOptionFrame>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QTextFrame>

#include "record_store/record_store.h"

namespace {

// Wrapping at blanks, the toolkit measures each line out to the next blank
// before it breaks a word that does not fit, so a word of n characters costs
// time in proportion to n squared: a 1 MB word takes a minute, a word of this
// length a millisecond.
constexpr qsizetype kLongestWordWrappedAtBlanks = 1000;

// Whether the text holds a word longer than that. The toolkit's blanks (line
// ends among them) part words.
bool holdsLongWord(QStringView text)
{
    qsizetype word = 0;
    for (const QChar c : text) {
        word = c.isSpace() ? 0 : word + 1;
        if (word > kLongestWordWrappedAtBlanks)
            return true;
    }
    return false;
}

// The same for a text whose lines are mostly short: only a long line is read.
bool holdsLongLineWithLongWord(QStringView text)
{
    for (qsizetype from = 0; from < text.size();) {
        qsizetype end = text.indexOf(u'\n', from);
        if (end < 0)
            end = text.size();
        if (end - from > kLongestWordWrappedAtBlanks &&
            holdsLongWord(text.sliced(from, end - from)))
            return true;
        from = end + 1;
    }
    return false;
}

// How many LFs `text` holds: found one after another, which the toolkit's
// vector search makes faster than a count character by character (1.3
// against 3.0 ms over 100,000 records).
qsizetype lineFeedsIn(QStringView text)
{
    qsizetype count = 0;
    for (qsizetype at = text.indexOf(u'\n'); at >= 0; at = text.indexOf(u'\n', at + 1))
        ++count;
    return count;
}

// Where the occurrences of `before` in `text` start in the document that shows
// `text`. The occurrences are those QString::replace finds: from the start,
// each search resuming behind the previous occurrence.
QList<int> documentPositionsOf(const QString &before, const QString &text)
{
    QList<qsizetype> hits;
    for (qsizetype at = text.indexOf(before); at >= 0;
         at = text.indexOf(before, at + before.size()))
        hits << at;
    // In the text every line end is CR LF; in the document it is one block
    // separator. A position in the text therefore lies as many characters
    // further than in the document as CR LFs stand before it.
    QList<int> starts;
    qsizetype lineEndsBefore = 0;
    qsizetype countedTo = 0;
    for (qsizetype at : hits) {
        // Every LF of the text ends a line: no line holds one.
        lineEndsBefore += lineFeedsIn(QStringView(text).sliced(countedTo, at - countedTo));
        countedTo = at;
        starts << int(at - lineEndsBefore);
    }
    return starts;
}

// The lines of a text as the document parts them when the text is set: at
// CR LF, a lone CR or LF, a paragraph separator or a frame's marker.
QList<QStringView> documentLinesOfAnyEnds(QStringView text)
{
    QList<QStringView> lines;
    qsizetype from = 0;
    for (qsizetype k = 0; k < text.size(); ++k) {
        const char16_t c = text[k].unicode();
        if (c != u'\r' && c != u'\n' && c != 0x2029 && c != 0xfdd0 && c != 0xfdd1)
            continue;
        lines << text.sliced(from, k - from);
        if (c == u'\r' && k + 1 < text.size() && text[k + 1] == u'\n')
            ++k;
        from = k + 1;
    }
    lines << text.sliced(from);
    return lines;
}

// The same, found fast in a text with line feeds alone, or CR LF, as line ends.
QList<QStringView> documentLinesOf(QStringView text)
{
    if (text.contains(QChar::ParagraphSeparator) || text.contains(QChar(0xfdd0)) ||
        text.contains(QChar(0xfdd1)))
        return documentLinesOfAnyEnds(text);
    QList<QStringView> lines;
    for (qsizetype from = 0;;) {
        const qsizetype end = text.indexOf(u'\n', from);
        QStringView line = text.sliced(from, (end < 0 ? text.size() : end) - from);
        if (end >= 0 && line.endsWith(u'\r'))
            line.chop(1);
        if (line.contains(u'\r'))
            return documentLinesOfAnyEnds(text);
        lines << line;
        if (end < 0)
            return lines;
        from = end + 1;
    }
}

// A run of the shown lines that the new text replaces by a run of its own
// lines (either run may be empty), in line numbers.
struct LineEdit
{
    qsizetype shownFrom;
    qsizetype shownTo;
    qsizetype newFrom;
    qsizetype newTo;
};

// The fewest lines removed and inserted that turn the shown lines into the new
// ones between the lines both share at the start and at the end, found by
// Myers' greedy search over the grid of shown (x) and new (y) lines, where
// each round d reaches as far as d edits go on every diagonal k = x - y. It
// gives up beyond kMostLineEdits edits, or after a number of line comparisons
// in proportion to the lines, where one replacement of the lines between
// costs little more than searching on.
class LineDiff
{
public:
    // Lines shared at the end are compared as the others where `trimEnd` is
    // false, so that edits among repeated lines go as late as they can.
    LineDiff(const QList<QStringView> &shown, const QList<QStringView> &wanted,
             bool trimEnd = true);
    // The edits, from the first line on; one replacement of every line
    // between the shared start and end where the search gave up.
    QList<LineEdit> edits();

private:
    static constexpr int kMostLineEdits = 1000;
    static constexpr qsizetype kComparisonsPerLine = 64;

    // Round d on diagonal k: how far it reaches, and whether that is the
    // grid's end.
    void reach(int d, int k);
    QList<LineEdit> pathTo(int d) const;

    const QList<QStringView> &m_shown;
    const QList<QStringView> &m_wanted;
    qsizetype m_start = 0; // lines shared at the start
    qsizetype m_n = 0;     // shown lines between the shared start and end
    qsizetype m_m = 0;     // new lines between them
    qsizetype m_comparisonsLeft = 0;
    bool m_atEnd = false;
    // For each round d and each of its diagonals k = -d, -d + 2, ..., d: how
    // far x reached (-1: not at all), and whether the round's edit there was
    // an insertion (a step down the grid) rather than a removal.
    std::vector<std::vector<qsizetype>> m_reached;
    std::vector<std::vector<bool>> m_down;
};

LineDiff::LineDiff(const QList<QStringView> &shown, const QList<QStringView> &wanted, bool trimEnd)
    : m_shown(shown), m_wanted(wanted)
{
    const qsizetype shared = std::min(shown.size(), wanted.size());
    while (m_start < shared && shown[m_start] == wanted[m_start])
        ++m_start;
    qsizetype end = 0;
    while (trimEnd && end < shared - m_start &&
           shown[shown.size() - 1 - end] == wanted[wanted.size() - 1 - end])
        ++end;
    m_n = shown.size() - m_start - end;
    m_m = wanted.size() - m_start - end;
    m_comparisonsLeft = kComparisonsPerLine * (m_n + m_m);
}

QList<LineEdit> LineDiff::edits()
{
    const LineEdit between{m_start, m_start + m_n, m_start, m_start + m_m};
    if (m_n == 0 && m_m == 0)
        return {};
    if (m_n == 0 || m_m == 0)
        return {between};
    for (int d = 0; d <= kMostLineEdits; ++d) {
        m_reached.emplace_back(d + 1, -1);
        m_down.emplace_back(d + 1, false);
        for (int k = -d; k <= d; k += 2) {
            reach(d, k);
            if (m_atEnd)
                return pathTo(d);
            if (m_comparisonsLeft < 0)
                return {between};
        }
    }
    return {between};
}

void LineDiff::reach(int d, int k)
{
    // From diagonal k + 1 one line inserted, from k - 1 one removed; each
    // within the grid.
    qsizetype x = d == 0 ? 0 : -1;
    if (k < d) {
        const qsizetype above = m_reached[d - 1][(k + 1 + d - 1) / 2];
        if (above >= 0 && above - k <= m_m) {
            x = above;
            m_down[d][(k + d) / 2] = true;
        }
    }
    if (k > -d) {
        const qsizetype left = m_reached[d - 1][(k - 1 + d - 1) / 2];
        if (left >= 0 && left < m_n && left + 1 > x) {
            x = left + 1;
            m_down[d][(k + d) / 2] = false;
        }
    }
    if (x < 0)
        return;
    while (x < m_n && x - k < m_m && m_comparisonsLeft-- >= 0 &&
           m_shown[m_start + x] == m_wanted[m_start + x - k])
        ++x;
    m_reached[d][(k + d) / 2] = x;
    m_atEnd = x == m_n && x - k == m_m;
}

QList<LineEdit> LineDiff::pathTo(int d) const
{
    // Back from the grid's end, one edit a round; edits that follow one
    // another without a shared line between them make one run.
    QList<LineEdit> edits;
    for (int k = int(m_n - m_m); d > 0; --d) {
        const bool down = m_down[d][(k + d) / 2];
        k += down ? 1 : -1;
        const qsizetype before = m_reached[d - 1][(k + d - 1) / 2];
        const LineEdit edit{m_start + before, m_start + (down ? before : before + 1),
                            m_start + before - k, m_start + before - k + (down ? 1 : 0)};
        if (!edits.isEmpty() && edits.front().shownFrom == edit.shownTo &&
            edits.front().newFrom == edit.newTo) {
            edits.front().shownFrom = edit.shownFrom;
            edits.front().newFrom = edit.newFrom;
        } else {
            edits.prepend(edit);
        }
    }
    return edits;
}

// The line of the shown text, the document's, that starts at `offset` in it:
// the line whose start in the document, plus one character for each CR LF
// before it, is there (counting the line feeds would read every character
// before it).
qsizetype lineStartingAt(const QTextDocument *document, qsizetype offset)
{
    int low = 0;
    for (int high = document->blockCount() - 1; low < high;) {
        const int middle = high - (high - low) / 2;
        const bool before = document->findBlockByNumber(middle).position() + middle <= offset;
        low = before ? middle : low;
        high = before ? high : middle - 1;
    }
    return low;
}

// The first `count` lines of a text that a line end follows (fewer where it
// holds fewer), parted as documentLinesOf parts them.
QList<QStringView> firstLines(QStringView text, qsizetype count)
{
    qsizetype end = 0;
    for (qsizetype k = 0; k < count; ++k) {
        const qsizetype lineFeed = text.indexOf(u'\n', end);
        if (lineFeed < 0)
            break;
        end = lineFeed + 1;
    }
    QList<QStringView> lines = documentLinesOf(text.first(end));
    lines.removeLast();
    return lines;
}

// Where line `count` of a text starts; -1 where it holds fewer lines.
qsizetype lineStartAfter(QStringView text, qsizetype count)
{
    qsizetype lineFeed = -1;
    for (qsizetype k = 0; k < count; ++k) {
        lineFeed = text.indexOf(u'\n', lineFeed + 1);
        if (lineFeed < 0)
            return -1;
    }
    return lineFeed + 1;
}

// Where two texts whose first lines differ are cut behind their first
// change: the shown text's first `shownHead` characters and the new text's
// first `wantedHead` hold it and a few lines that both hold behind it, and
// `shared` characters of further whole lines that both hold follow in each.
struct Cut
{
    qsizetype shownHead;
    qsizetype wantedHead;
    qsizetype shared;
};

// The cut where a line among either text's first kLinesSought starts at least
// kLinesApart lines that both share, for the fewest lines before them in both
// (the fewest edits the change could take); none where there is no such line.
// The lines shared are compared a block of characters at a time, not parted.
// The part before the cut keeps kLinesKept of them, so that its comparison,
// which does not set its shared end lines aside, places edits among repeated
// lines as a comparison of the whole would: as late as they can go.
std::optional<Cut> cutBehindFirstChange(QStringView shown, QStringView wanted)
{
    constexpr qsizetype kLinesSought = 64;
    constexpr qsizetype kLinesApart = 64;
    constexpr qsizetype kLinesKept = 8;
    const QList<QStringView> shownLines = firstLines(shown, kLinesSought);
    const QList<QStringView> wantedLines = firstLines(wanted, kLinesSought);
    const qsizetype shownCount = std::min(shownLines.size(), kLinesSought);
    const qsizetype wantedCount = std::min(wantedLines.size(), kLinesSought);
    for (qsizetype before = 0; before < shownCount + wantedCount - 1; ++before) {
        for (qsizetype s = std::max<qsizetype>(0, before - wantedCount + 1);
             s < shownCount && s <= before; ++s) {
            if (shownLines[s] != wantedLines[before - s])
                continue;
            const qsizetype shownHead = shownLines[s].data() - shown.data();
            const qsizetype wantedHead = wantedLines[before - s].data() - wanted.data();
            const QStringView run = shown.sliced(shownHead).first(RecordStore::sharedStartLength(
                shown.sliced(shownHead), wanted.sliced(wantedHead), RecordStore::Cores::Two));
            const QStringView lines = run.first(run.lastIndexOf(u'\n') + 1);
            if (lineStartAfter(lines, kLinesApart) >= 0) {
                const qsizetype kept = lineStartAfter(lines, kLinesKept);
                return Cut{shownHead + kept, wantedHead + kept, lines.size() - kept};
            }
        }
    }
    return std::nullopt;
}

// The edits of lines that turn the shown text, the view's with its CR LF line
// ends, into a new text with any line ends the document knows. The texts are
// compared whole lines at a time only between the lines they share at the
// start and at the end, which a character comparison finds: as the shown text
// has CR LF line ends alone, a line feed both share ends a line in both.
// Where many lines that both share follow the first change, the texts are
// cut there, and the lines between are neither parted nor compared by lines.
class TextEdits
{
public:
    // `document` shows `shown`; `change`, where given, tells where `wanted`
    // differs from it.
    TextEdits(QTextDocument *document, const QString &shown, const QString &wanted,
              const std::optional<RecordStore::TextChange> &change);
    // Makes the edits in the document.
    void apply() const;
    // Where line `line` of the shown text stands after the edits, and whether
    // it is still there: behind an edit, moved by the lines that it added or
    // removed; inside one, at the same place among its new lines, or on the
    // line after them where it has none.
    std::pair<qsizetype, bool> lineAfter(qsizetype line) const;
    // Whether a line that the edits insert holds a word too long to wrap at
    // blanks.
    bool insertsLongWord() const;
    // How many LFs the new text holds beyond the shown one's.
    qsizetype lineFeedsAdded() const
    {
        return m_lineFeedsAdded;
    }

private:
    // A part of the texts between lines that both share, compared on its own.
    struct Piece
    {
        qsizetype shownFirst;  // the shown text's line number of its first line
        qsizetype wantedFirst; // the new text's
        qsizetype shownEnd;    // where its shown lines end in the shown text
        bool sharesEnd;        // whether shared lines follow it
        QList<QStringView> shownLines;
        QList<QStringView> wantedLines;
        QList<LineEdit> edits; // in numbers of its lines
    };

    // The pieces of the shown text's `shown` and the new text's `wanted`,
    // which start at the given line numbers and start with lines that differ:
    // one behind each cut (see cutBehindFirstChange), and the rest.
    void addPieces(QStringView shown, QStringView wanted, qsizetype shownFirst,
                   qsizetype wantedFirst, bool sharesEnd);
    const Piece &addPiece(QStringView shown, QStringView wanted, qsizetype shownFirst,
                          qsizetype wantedFirst, bool sharesEnd, bool trimEnd);
    void apply(QTextCursor &cursor, const Piece &piece, const LineEdit &edit) const;
    // Where the piece's shown line `line` starts in the document; `line` may
    // be their count where shared lines follow them.
    int documentStart(const Piece &piece, qsizetype line) const;
    int documentEnd(const Piece &piece, qsizetype line) const;

    QTextDocument *m_document;
    const QStringView m_shown;
    QList<Piece> m_pieces;
    qsizetype m_lineFeedsAdded = 0;
};

TextEdits::TextEdits(QTextDocument *document, const QString &shown, const QString &wanted,
                     const std::optional<RecordStore::TextChange> &change)
    : m_document(document), m_shown(shown)
{
    using RecordStore::Cores;
    const qsizetype shared =
        change ? change->from : RecordStore::sharedStartLength(shown, wanted, Cores::Two);
    const qsizetype start = QStringView(shown).first(shared).lastIndexOf(u'\n') + 1;
    const qsizetype firstLine = lineStartingAt(document, start);
    const qsizetype shownEnd =
        change ? change->oldTo
               : shown.size() - RecordStore::sharedEndLength(QStringView(shown).sliced(start),
                                                             QStringView(wanted).sliced(start),
                                                             Cores::Two);
    const qsizetype lineFeed = shown.indexOf(u'\n', shownEnd);
    // Characters of the shown text in the lines shared at the end, if any.
    const qsizetype endShared = lineFeed >= 0 ? shown.size() - lineFeed - 1 : 0;
    addPieces(m_shown.sliced(start, shown.size() - endShared - start),
              QStringView(wanted).sliced(start, wanted.size() - endShared - start), firstLine,
              firstLine, lineFeed >= 0);
}

void TextEdits::addPieces(QStringView shown, QStringView wanted, qsizetype shownFirst,
                          qsizetype wantedFirst, bool sharesEnd)
{
    while (const std::optional<Cut> cut = cutBehindFirstChange(shown, wanted)) {
        const Piece &head = addPiece(shown.first(cut->shownHead), wanted.first(cut->wantedHead),
                                     shownFirst, wantedFirst, true, false);
        const qsizetype rest = cut->shownHead + cut->shared;
        const qsizetype restFirst =
            lineStartingAt(m_document, shown.data() + rest - m_shown.data());
        // The lines shared lie between in both texts.
        wantedFirst += head.wantedLines.size() + restFirst - shownFirst - head.shownLines.size();
        shownFirst = restFirst;
        shown = shown.sliced(rest);
        wanted = wanted.sliced(cut->wantedHead + cut->shared);
    }
    addPiece(shown, wanted, shownFirst, wantedFirst, sharesEnd, true);
}

const TextEdits::Piece &TextEdits::addPiece(QStringView shown, QStringView wanted,
                                            qsizetype shownFirst, qsizetype wantedFirst,
                                            bool sharesEnd, bool trimEnd)
{
    Piece piece{shownFirst,
                wantedFirst,
                shown.data() + shown.size() - m_shown.data(),
                sharesEnd,
                documentLinesOf(shown),
                documentLinesOf(wanted),
                {}};
    // Lines followed by shared ones end in a line end, after which the parting
    // sees an empty line.
    if (sharesEnd) {
        piece.shownLines.removeLast();
        piece.wantedLines.removeLast();
    }
    piece.edits = LineDiff(piece.shownLines, piece.wantedLines, trimEnd).edits();
    m_lineFeedsAdded += lineFeedsIn(wanted) - lineFeedsIn(shown);
    m_pieces << std::move(piece);
    return m_pieces.last();
}

int TextEdits::documentStart(const Piece &piece, qsizetype line) const
{
    // Every shown line before ends in CR LF, one character in the document.
    const qsizetype at = line < piece.shownLines.size()
                             ? piece.shownLines[line].data() - m_shown.data()
                             : piece.shownEnd;
    return int(at - piece.shownFirst - line);
}

int TextEdits::documentEnd(const Piece &piece, qsizetype line) const
{
    return line < 0 ? documentStart(piece, 0) - 1
                    : documentStart(piece, line) + int(piece.shownLines[line].size());
}

void TextEdits::apply() const
{
    // From the last edit back, so that the earlier ones keep their place.
    QTextCursor cursor(m_document);
    for (auto piece = m_pieces.crbegin(); piece != m_pieces.crend(); ++piece) {
        for (auto edit = piece->edits.crbegin(); edit != piece->edits.crend(); ++edit)
            apply(cursor, *piece, *edit);
    }
}

void TextEdits::apply(QTextCursor &cursor, const Piece &piece, const LineEdit &edit) const
{
    QString lines;
    for (qsizetype k = edit.newFrom; k < edit.newTo; ++k)
        lines += (k > edit.newFrom ? QStringLiteral("\n") : QString()) + piece.wantedLines[k];
    const bool removes = edit.shownFrom < edit.shownTo;
    const bool inserts = edit.newFrom < edit.newTo;
    if (removes && inserts) {
        cursor.setPosition(documentStart(piece, edit.shownFrom));
        cursor.setPosition(documentEnd(piece, edit.shownTo - 1), QTextCursor::KeepAnchor);
    } else if (edit.shownTo < piece.shownLines.size() || piece.sharesEnd) {
        // Lines removed or inserted before a line that stays: the line ends
        // go with the lines.
        cursor.setPosition(documentStart(piece, edit.shownFrom));
        cursor.setPosition(documentStart(piece, edit.shownTo), QTextCursor::KeepAnchor);
        lines += removes ? QString() : QStringLiteral("\n");
    } else {
        // At the end: the line end before the lines goes with them.
        cursor.setPosition(documentEnd(piece, edit.shownFrom - 1));
        cursor.setPosition(documentEnd(piece, edit.shownTo - 1), QTextCursor::KeepAnchor);
        lines.prepend(removes ? QString() : QStringLiteral("\n"));
    }
    // One insertion over the selection: removing first would lay out the
    // emptied line, and where it was the widest laid out line the toolkit
    // then measures every line of the document for the new widest one.
    cursor.insertText(lines);
}

std::pair<qsizetype, bool> TextEdits::lineAfter(qsizetype line) const
{
    qsizetype moved = 0;
    for (const Piece &piece : m_pieces) {
        for (const LineEdit &edit : piece.edits) {
            const qsizetype from = piece.shownFirst + edit.shownFrom;
            if (line < from)
                return {line + moved, true};
            if (line < piece.shownFirst + edit.shownTo)
                return {piece.wantedFirst + edit.newFrom +
                            std::min(line - from,
                                     std::max<qsizetype>(edit.newTo - edit.newFrom - 1, 0)),
                        false};
            moved = piece.wantedFirst + edit.newTo - piece.shownFirst - edit.shownTo;
        }
    }
    return {line + moved, true};
}

bool TextEdits::insertsLongWord() const
{
    for (const Piece &piece : m_pieces) {
        for (const LineEdit &edit : piece.edits) {
            for (qsizetype k = edit.newFrom; k < edit.newTo; ++k) {
                const QStringView line = piece.wantedLines[k];
                if (line.size() > kLongestWordWrappedAtBlanks && holdsLongWord(line))
                    return true;
            }
        }
    }
    return false;
}

} // namespace

DatabaseView::DatabaseView(QWidget *parent) : QPlainTextEdit(parent)
{
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setTabChangesFocus(true);
    // The document reports a change before it lays the changed lines out.
    connect(document(), &QTextDocument::contentsChange, this, &DatabaseView::wrapLongWordsAnywhere);
    connect(document(), &QTextDocument::contentsChange, this,
            [this](int position, int /*removed*/, int added) { followChange(position, added); });
}

void DatabaseView::followChange(int position, int added)
{
    if (!m_knownText)
        return;
    // The characters before `position` and behind the ones put in are as
    // they were; in the known text, each line break among them is a CR LF.
    const QTextDocument *doc = document();
    const int end = doc->characterCount() - 1;
    if (position < 0 || added < 0 || position + added > end) {
        m_knownText.reset();
        return;
    }
    const int tailPositions = end - position - added;
    const Unchanged change{
        position, position + doc->findBlock(position).blockNumber(), tailPositions,
        tailPositions + doc->blockCount() - 1 - doc->findBlock(position + added).blockNumber()};
    if (!m_unchanged) {
        m_unchanged = change;
    } else if (change.headPosition < m_unchanged->headPosition) {
        m_unchanged->headPosition = change.headPosition;
        m_unchanged->headLength = change.headLength;
    }
    if (change.tailPositions < m_unchanged->tailPositions) {
        m_unchanged->tailPositions = change.tailPositions;
        m_unchanged->tailLength = change.tailLength;
    }
}

void DatabaseView::knowText(const QString &text, qsizetype lineFeeds)
{
    // Each CR LF became one line break. Where every LF did so, and nothing
    // else broke a line (a lone CR, a paragraph separator), the document
    // holds one line more than the text holds LFs and one character fewer
    // for each: the text reads back as it is.
    if (document()->blockCount() - 1 == lineFeeds &&
        document()->characterCount() - 1 == text.size() - lineFeeds) {
        m_knownText = text;
        m_unchanged.reset();
    }
}

void DatabaseView::wrapLongWordsAnywhere(int from, int /*removed*/, int added)
{
    // An edit that leaves a long word in the view makes it wrap anywhere,
    // which costs time in proportion to the text; the wrap stays at the view's
    // width. Only a line that long can hold such a word.
    if (m_settingCheckedText || wordWrapMode() == QTextOption::WrapAnywhere)
        return;
    const QTextBlock last = document()->findBlock(from + added);
    for (QTextBlock line = document()->findBlock(from); line.isValid(); line = line.next()) {
        if (line.length() > kLongestWordWrappedAtBlanks && holdsLongWord(line.text())) {
            setWordWrapMode(QTextOption::WrapAnywhere);
            return;
        }
        if (line == last)
            return;
    }
}

namespace {

// The document's raw text `raw`, its paragraph separators made CR LF, put
// after `text`.
void appendWithLineEnds(QString &text, QStringView raw)
{
    qsizetype from = 0;
    for (qsizetype end = raw.indexOf(QChar::ParagraphSeparator); end >= 0;
         end = raw.indexOf(QChar::ParagraphSeparator, from)) {
        text.append(raw.sliced(from, end - from));
        text.append(QLatin1String("\r\n"));
        from = end + 1;
    }
    text.append(raw.sliced(from));
}

bool holdsFrameMarks(QStringView raw)
{
    return raw.contains(QChar(0xfdd0)) || raw.contains(QChar(0xfdd1));
}

} // namespace

QString DatabaseView::databaseText() const
{
    // The document's raw text keeps every character, where toPlainText()
    // would turn no-break spaces into plain ones; its lines are parted by
    // paragraph separators, which become CR LF. A plain text document holds
    // no frames, whose markers would part lines as well; should one ever be
    // there, the text is gathered line by line.
    if (m_knownText && !m_unchanged)
        return *m_knownText;
    QTextDocument *doc = document();
    QString text;
    if (m_knownText) {
        // Only what changed since the known text is gathered.
        QTextCursor changed(doc);
        changed.setPosition(m_unchanged->headPosition);
        changed.setPosition(doc->characterCount() - 1 - m_unchanged->tailPositions,
                            QTextCursor::KeepAnchor);
        const QString raw = changed.selectedText();
        if (!holdsFrameMarks(raw)) {
            const QStringView known(*m_knownText);
            text.reserve(m_unchanged->headLength + raw.size() + raw.size() / 8 +
                         m_unchanged->tailLength);
            text.append(known.first(m_unchanged->headLength));
            appendWithLineEnds(text, raw);
            text.append(known.last(m_unchanged->tailLength));
            m_knownText = text;
            m_unchanged.reset();
            return text;
        }
    }
    m_knownText.reset();
    m_unchanged.reset();
    const QString raw = doc->toRawText();
    if (holdsFrameMarks(raw)) {
        for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
            if (block != doc->begin())
                text.append(QLatin1String("\r\n"));
            text.append(block.text());
        }
        return text;
    }
    text.reserve(raw.size() + doc->blockCount());
    appendWithLineEnds(text, raw);
    // Kept, and from now on changed with the view's text.
    m_knownText = text;
    return text;
}

std::pair<QString, std::optional<RecordStore::ShownChange>>
DatabaseView::databaseTextAndChange() const
{
    const std::optional<QString> known = m_knownText;
    const std::optional<Unchanged> unchanged = m_unchanged;
    QString text = databaseText();
    if (!known)
        return {text, std::nullopt};
    if (!unchanged)
        return {text, RecordStore::ShownChange{*known, {text.size(), text.size(), text.size()}}};
    const qsizetype tail = unchanged->tailLength;
    return {text, RecordStore::ShownChange{
                      *known, {unchanged->headLength, known->size() - tail, text.size() - tail}}};
}

void DatabaseView::setDatabaseText(const QString &text)
{
    // Inserting text turns CR LF, a lone CR and a lone LF each into one line
    // break. Without undo, a large text is set in one go.
    m_knownText.reset();
    changeTextTo(holdsLongLineWithLongWord(text), [&] { setPlainText(text); });
    knowText(text, lineFeedsIn(text));
}

void DatabaseView::changeTextTo(bool longWord, const std::function<void()> &change)
{
    // The wrap is chosen for the new text: wrapping anywhere before it is
    // set, so that a long line is laid out once, and wrapping at blanks only
    // after, when no long line of the old text is left to lay out again.
    if (longWord)
        setWordWrapMode(QTextOption::WrapAnywhere);
    // Turning undo off clears the undo history. (Repaints need no suspending:
    // they wait for the event loop, and turning updates back on would repaint
    // the whole view, frame and scroll bars included.)
    unmarkPickedLine();
    document()->setUndoRedoEnabled(false);
    m_settingCheckedText = true;
    change();
    m_settingCheckedText = false;
    document()->setUndoRedoEnabled(true);
    if (!longWord)
        setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
}

void DatabaseView::replaceInDatabaseText(const QString &text, const QString &before,
                                         const QString &after, bool lastLineEnds)
{
    const int scrolledTo = verticalScrollBar()->value();
    // A text that could begin or end inside a line end (between its CR and
    // its LF) is replaced the plain way.
    if (before.isEmpty() || before.front() == u'\n' || before.back() == u'\r') {
        setDatabaseText(RecordStore::replacedInShown(text, before, after, lastLineEnds));
        verticalScrollBar()->setValue(scrolledTo);
        return;
    }
    // A last line that counts with its line end has the record replaced
    // without one.
    const bool closed =
        lastLineEnds && before.endsWith(u"\r\n") && after.endsWith(u"\r\n") && endsInOpenLine();
    const QList<int> starts = documentPositionsOf(before, closed ? text + u"\r\n" : text);
    const int removedLength = int(before.size() - QStringView(before).count(u"\r\n"));
    const int insertedLength = int(after.size() - QStringView(after).count(u"\r\n"));
    const bool inLastLine = closed && !starts.isEmpty() &&
                            starts.last() + removedLength >= document()->characterCount();
    const qsizetype marked = m_pickedLine.isNull() ? -1 : starts.indexOf(m_pickedLine.anchor());

    document()->setUndoRedoEnabled(false);
    QTextCursor edit(document());
    edit.beginEditBlock();
    // From the last occurrence back, so that the earlier ones keep their place.
    for (qsizetype k = starts.size() - 1; k >= 0; --k) {
        const bool last = inLastLine && k == starts.size() - 1;
        edit.setPosition(starts[k]);
        edit.setPosition(starts[k] + removedLength - (last ? 1 : 0), QTextCursor::KeepAnchor);
        edit.insertText(last ? QString(after).chopped(2) : after);
    }
    edit.endEditBlock();
    document()->setUndoRedoEnabled(true);
    // Each occurrence before the marked one changed its length.
    if (marked >= 0)
        markLineAt(int(starts[marked] + marked * (insertedLength - removedLength)));
    // Setting a text puts the caret at the start.
    setTextCursor(QTextCursor(document()));
    verticalScrollBar()->setValue(scrolledTo);
}

void DatabaseView::replaceDatabaseTextKeepingPlace(
    const QString &text, const std::optional<RecordStore::TextChange> &change)
{
    const QTextCursor caret = textCursor();
    const QTextBlock top = firstVisibleBlock();
    const Place place{caret.blockNumber(), caret.positionInBlock(), top.blockNumber(),
                      verticalScrollBar()->value() - top.firstLineNumber()};
    if (!document()->rootFrame()->childFrames().isEmpty()) {
        // Frames, which a plain text view never makes, hold places in the
        // document that no line accounts for: the text is set whole.
        setDatabaseText(text);
        return restorePlace(place, [](qsizetype line) { return std::pair(line, false); });
    }
    // Only the lines that differ are edited: setting the whole text would lay
    // out every line again. (Each edit on its own: in one edit block, the
    // layout would forget every line between the first edit and the last.)
    const QString shown = databaseText();
    // Where the shown text is known, it holds an LF for each line break.
    const qsizetype shownLineFeeds = m_knownText ? document()->blockCount() - 1 : -1;
    const TextEdits edits(document(), shown, text, change);
    // A view that wraps at blanks holds no long word (see
    // wrapLongWordsAnywhere): only the lines put in can bring one.
    const bool longWord = wordWrapMode() == QTextOption::WrapAnywhere
                              ? holdsLongLineWithLongWord(text)
                              : edits.insertsLongWord();
    changeTextTo(longWord, [&] { edits.apply(); });
    if (shownLineFeeds >= 0)
        knowText(text, shownLineFeeds + edits.lineFeedsAdded());
    restorePlace(place, [&](qsizetype line) { return edits.lineAfter(line); });
}

void DatabaseView::restorePlace(const Place &place, const LineMap &lineAfter)
{
    const auto blockAfter = [&](int line) {
        const auto [after, kept] = lineAfter(line);
        const int last = document()->blockCount() - 1;
        return std::pair(document()->findBlockByNumber(int(std::min<qsizetype>(after, last))),
                         kept);
    };
    const QTextBlock caretBlock = blockAfter(place.caretLine).first;
    QTextCursor placed(caretBlock);
    placed.setPosition(caretBlock.position() + qMin(place.caretColumn, caretBlock.length() - 1));
    setTextCursor(placed);
    const auto [top, kept] = blockAfter(place.topLine);
    verticalScrollBar()->setValue(top.firstLineNumber() + (kept ? place.topScrolled : 0));
}

void DatabaseView::appendDatabaseText(const QString &text)
{
    QTextCursor end(document());
    end.movePosition(QTextCursor::End);
    const int from = end.position();
    end.insertText(text);
    // Down to the appended text's last line: the line before the final empty
    // one when it ends in a line end.
    scrollIntoSight(document()->findBlock(from),
                    document()->findBlock(std::max(from, document()->characterCount() - 2)));
}

bool DatabaseView::endsInOpenLine() const
{
    // A line end ends a block; the text after the last one is the last block.
    return document()->lastBlock().length() > 1;
}

void DatabaseView::scrollIntoSight(const QTextBlock &first, const QTextBlock &last)
{
    // The scroll bar counts display lines; laying the two lines out makes
    // their counts known.
    blockBoundingRect(first);
    blockBoundingRect(last);
    QScrollBar *bar = verticalScrollBar();
    const int below = last.firstLineNumber() + last.lineCount();
    if (below > bar->value() + bar->pageStep())
        bar->setValue(below - bar->pageStep());
    if (first.firstLineNumber() < bar->value())
        bar->setValue(first.firstLineNumber());
}

void DatabaseView::markPickedLine()
{
    markLineAt(textCursor().selectionStart());
}

void DatabaseView::markLineAt(int position)
{
    // The whole line is selected in the mark's own cursor, which follows
    // edits of the text; the view's selection stays as it is.
    const QTextBlock line = document()->findBlock(position);
    m_pickedLine = QTextCursor(line);
    m_pickedLine.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    // A quarter of the selection colour over the text's background, drawn
    // across the view's width: under the line's text, and where the line
    // ends, beyond it (which only a mark without a selection is).
    const QColor base = palette().color(QPalette::Base);
    const QColor tint = palette().color(QPalette::Highlight);
    const auto blend = [](int under, int over) {
        return (3 * under + over) / 4;
    };
    QTextEdit::ExtraSelection mark;
    mark.cursor = m_pickedLine;
    mark.format.setBackground(QColor(blend(base.red(), tint.red()),
                                     blend(base.green(), tint.green()),
                                     blend(base.blue(), tint.blue())));
    mark.format.setProperty(QTextFormat::FullWidthSelection, true);
    QTextEdit::ExtraSelection lineEnd = mark;
    lineEnd.cursor.clearSelection();
    setExtraSelections({mark, lineEnd});
}

void DatabaseView::unmarkPickedLine()
{
    m_pickedLine = QTextCursor();
    setExtraSelections({});
}

void DatabaseView::showAndUnmarkPickedLine()
{
    if (!m_pickedLine.isNull())
        scrollIntoSight(m_pickedLine.block(), m_pickedLine.block());
    unmarkPickedLine();
}

qsizetype DatabaseView::caretOffset() const
{
    const int position = textCursor().selectionStart();
    return position + document()->findBlock(position).blockNumber();
}

DatabaseView::CaretLine DatabaseView::caretLine() const
{
    const int position = textCursor().selectionStart();
    const QTextBlock block = document()->findBlock(position);
    QString line = block.text();
    if (block.next().isValid())
        line.append(QLatin1String("\r\n"));
    return {line, position - block.position()};
}

bool DatabaseView::event(QEvent *event)
{
    // The view's own paint event draws only its frame (the text is the
    // viewport's, and with no horizontal scroll bar there is no corner). It is
    // drawn as the style draws a text field's frame, which shows the keyboard
    // focus; the toolkit's plain frame does not.
    if (event->type() != QEvent::Paint)
        return QPlainTextEdit::event(event);
    QPainter painter(this);
    QStyleOptionFrame option;
    option.initFrom(this);
    option.lineWidth = frameWidth();
    option.midLineWidth = 0;
    option.state |= QStyle::State_Sunken;
    style()->drawPrimitive(QStyle::PE_FrameLineEdit, &option, &painter, this);
    return true;
}
