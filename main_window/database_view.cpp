#include "main_window/database_view.h"

#include <algorithm>

#include <QMouseEvent>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

DatabaseView::DatabaseView(QWidget *parent) : QPlainTextEdit(parent)
{
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setTabChangesFocus(true);
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
    // Inserting text turns CR LF, a lone CR and a lone LF each into one line
    // break. Without undo, a large text is set in one go. (Repaints need no
    // suspending: they wait for the event loop, and turning updates back on
    // would repaint the whole view, frame and scroll bars included.)
    document()->setUndoRedoEnabled(false);
    setPlainText(text);
    document()->setUndoRedoEnabled(true);
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
    // The occurrences as QString::replace finds them: from the start, each
    // search resuming behind the previous occurrence.
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
    const int removedLength = int(before.size() - QStringView(before).count(u"\r\n"));

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
    // Setting a text puts the caret at the start.
    setTextCursor(QTextCursor(document()));
    verticalScrollBar()->setValue(scrolledTo);
}

void DatabaseView::appendDatabaseText(const QString &text)
{
    QTextCursor end(document());
    end.movePosition(QTextCursor::End);
    end.insertText(text);
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

void DatabaseView::mouseReleaseEvent(QMouseEvent *event)
{
    QPlainTextEdit::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton)
        emit clicked();
}
