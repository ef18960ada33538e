// SPDX-License-Identifier: GPL-3.0-or-later

// The database view's text: reading and setting it with CR LF line ends,
// replacing and appending without rebuilding the whole view, the wrap for long
// words, the picked line's mark and the caret's line; and the view's frame.
#include "main_window/database_view.h"

#include <algorithm>

#include <QPainter>
#include <QScrollBar>
#include <QStyleOptionFrame>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>

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
        lineEndsBefore += std::count(text.cbegin() + countedTo, text.cbegin() + at, u'\n');
        countedTo = at;
        starts << int(at - lineEndsBefore);
    }
    return starts;
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

QString DatabaseView::databaseText() const
{
    // The document's raw text keeps every character, where toPlainText()
    // would turn no-break spaces into plain ones; its lines are parted by
    // paragraph separators, which become CR LF. A plain text document holds
    // no frames, whose markers would part lines as well; should one ever be
    // there, the text is gathered line by line.
    const QTextDocument *doc = document();
    const QString raw = doc->toRawText();
    const QStringView rawView(raw);
    if (rawView.contains(QChar(0xfdd0)) || rawView.contains(QChar(0xfdd1))) {
        QString text;
        for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
            if (block != doc->begin())
                text.append(QLatin1String("\r\n"));
            text.append(block.text());
        }
        return text;
    }
    QString text;
    text.reserve(raw.size() + doc->blockCount());
    qsizetype from = 0;
    for (qsizetype end = rawView.indexOf(QChar::ParagraphSeparator); end >= 0;
         end = rawView.indexOf(QChar::ParagraphSeparator, from)) {
        text.append(rawView.sliced(from, end - from));
        text.append(QLatin1String("\r\n"));
        from = end + 1;
    }
    text.append(rawView.sliced(from));
    return text;
}

void DatabaseView::setDatabaseText(const QString &text)
{
    // The wrap is chosen for the new text: wrapping anywhere before it is
    // set, so that a long line is laid out once, and wrapping at blanks only
    // after, when no long line of the old text is left to lay out again.
    const bool longWord = holdsLongLineWithLongWord(text);
    if (longWord)
        setWordWrapMode(QTextOption::WrapAnywhere);
    // Inserting text turns CR LF, a lone CR and a lone LF each into one line
    // break. Without undo, a large text is set in one go. (Repaints need no
    // suspending: they wait for the event loop, and turning updates back on
    // would repaint the whole view, frame and scroll bars included.)
    unmarkPickedLine();
    document()->setUndoRedoEnabled(false);
    m_settingCheckedText = true;
    setPlainText(text);
    m_settingCheckedText = false;
    document()->setUndoRedoEnabled(true);
    if (!longWord)
        setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
}

void DatabaseView::replaceInDatabaseText(const QString &text, const QString &before,
                                         const QString &after)
{
    const int scrolledTo = verticalScrollBar()->value();
    // A text that could begin or end inside a line end (between its CR and
    // its LF) is replaced the plain way.
    if (before.isEmpty() || before.front() == u'\n' || before.back() == u'\r') {
        setDatabaseText(QString(text).replace(before, after));
        verticalScrollBar()->setValue(scrolledTo);
        return;
    }
    const QList<int> starts = documentPositionsOf(before, text);
    const int removedLength = int(before.size() - QStringView(before).count(u"\r\n"));
    const int insertedLength = int(after.size() - QStringView(after).count(u"\r\n"));
    const qsizetype marked = m_pickedLine.isNull() ? -1 : starts.indexOf(m_pickedLine.anchor());

    document()->setUndoRedoEnabled(false);
    QTextCursor edit(document());
    edit.beginEditBlock();
    // From the last occurrence back, so that the earlier ones keep their place.
    for (qsizetype k = starts.size() - 1; k >= 0; --k) {
        edit.setPosition(starts[k]);
        edit.setPosition(starts[k] + removedLength, QTextCursor::KeepAnchor);
        edit.insertText(after);
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

void DatabaseView::replaceDatabaseTextKeepingPlace(const QString &text)
{
    const QTextCursor caret = textCursor();
    const int line = caret.blockNumber();
    const int column = caret.positionInBlock();
    const int scrolledTo = verticalScrollBar()->value();
    setDatabaseText(text);
    const QTextBlock block =
        document()->findBlockByNumber(qMin(line, document()->blockCount() - 1));
    QTextCursor placed(block);
    placed.setPosition(block.position() + qMin(column, block.length() - 1));
    setTextCursor(placed);
    verticalScrollBar()->setValue(scrolledTo);
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
