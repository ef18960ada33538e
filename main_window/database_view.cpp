#include "main_window/database_view.h"

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
    // Each block is one line; QTextBlock::text() keeps every character, where
    // toPlainText() would turn no-break spaces into plain ones.
    const QTextDocument *doc = document();
    QString text;
    text.reserve(doc->characterCount() + doc->blockCount());
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
        if (block != doc->begin())
            text.append(QLatin1String("\r\n"));
        text.append(block.text());
    }
    return text;
}

void DatabaseView::setDatabaseText(const QString &text)
{
    // Inserting text turns CR LF, a lone CR and a lone LF each into one line
    // break. Without undo and repaints, a large text is set in one go.
    setUpdatesEnabled(false);
    document()->setUndoRedoEnabled(false);
    setPlainText(text);
    document()->setUndoRedoEnabled(true);
    setUpdatesEnabled(true);
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
