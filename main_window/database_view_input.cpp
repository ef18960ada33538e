// SPDX-License-Identifier: GPL-3.0-or-later

// The database view's answers to the mouse and the keyboard: the clicks it
// places the caret for itself, the keys it treats its own way, and its
// context menu with "Pick record".
#include <QMenu>
#include <QMouseEvent>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextLayout>

#include "main_window/database_view.h"

// On every left button press the toolkit's text control looks for a list
// marker under the mouse by walking every line of the document, which makes a
// click cost time in proportion to the database (tens of milliseconds at a
// million records). The plain click and the Shift click, the ones that pick
// records, are answered here instead: the caret goes where the toolkit would
// put it, found from the first visible line. Everything else (a press inside
// the selection, which may start a drag; a double or triple click; a press
// with Ctrl or Alt; one during input method composition) stays with the
// toolkit, and so does the press after such a one, since only the toolkit can
// end the word, line or drag state it keeps.
bool DatabaseView::placesCaretItself(const QMouseEvent *event, int at) const
{
    if (event->button() != Qt::LeftButton || m_toolkitMouseStateOpen)
        return false;
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    if (modifiers != Qt::NoModifier && modifiers != Qt::ShiftModifier)
        return false;
    const QTextCursor caret = textCursor();
    const QTextLayout *layout = caret.block().layout();
    if (layout && !layout->preeditAreaText().isEmpty())
        return false;
    // A press inside the selection may start a drag.
    return modifiers == Qt::ShiftModifier || !caret.hasSelection() || at < caret.selectionStart() ||
           at > caret.selectionEnd();
}

void DatabaseView::mousePressEvent(QMouseEvent *event)
{
    // Where the caret would go: found from the first visible line.
    const int at = cursorForPosition(event->position().toPoint()).position();
    if (!placesCaretItself(event, at)) {
        QPlainTextEdit::mousePressEvent(event);
        if (event->button() == Qt::LeftButton) {
            m_ownPressHeld = false;
            // A plain press that left no selection has ended whatever the
            // toolkit was keeping; anything else may have started something.
            m_toolkitMouseStateOpen =
                event->modifiers() != Qt::NoModifier || textCursor().hasSelection();
        }
        return;
    }
    QTextCursor caret = textCursor();
    caret.setPosition(at, event->modifiers() == Qt::ShiftModifier ? QTextCursor::KeepAnchor
                                                                  : QTextCursor::MoveAnchor);
    setTextCursor(caret);
    m_ownPressHeld = true;
    event->accept();
}

void DatabaseView::mouseMoveEvent(QMouseEvent *event)
{
    // The toolkit still sees the move: it scrolls while the mouse is dragged
    // beyond the view, and calls this again as it does.
    QPlainTextEdit::mouseMoveEvent(event);
    if (m_ownPressHeld && (event->buttons() & Qt::LeftButton)) {
        QTextCursor caret = textCursor();
        caret.setPosition(cursorForPosition(event->position().toPoint()).position(),
                          QTextCursor::KeepAnchor);
        setTextCursor(caret);
    }
}

void DatabaseView::mouseReleaseEvent(QMouseEvent *event)
{
    QPlainTextEdit::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton) {
        m_ownPressHeld = false;
        emit clicked();
    }
}

void DatabaseView::mouseDoubleClickEvent(QMouseEvent *event)
{
    QPlainTextEdit::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton) {
        // A drag from here on extends the selection by words, the toolkit's way.
        m_ownPressHeld = false;
        m_toolkitMouseStateOpen = true;
    }
}

void DatabaseView::keyPressEvent(QKeyEvent *event)
{
    // The Menu key and Shift+F10 open the context menu just below the caret.
    if (event->key() == Qt::Key_Menu ||
        (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier)) {
        ensureCursorVisible();
        const QPoint at = cursorRect().bottomLeft() + QPoint(0, 1);
        QContextMenuEvent menuEvent(QContextMenuEvent::Keyboard, at, viewport()->mapToGlobal(at),
                                    event->modifiers());
        contextMenuEvent(&menuEvent);
        return;
    }
    // Shift+Return would put a line separator (U+2028) inside the line, which
    // the view shows as a new line but the file keeps as one line: it starts
    // a new line as Return does.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        (event->modifiers() & Qt::ShiftModifier)) {
        QKeyEvent plain(event->type(), event->key(), event->modifiers() & ~Qt::ShiftModifier,
                        event->text(), event->isAutoRepeat(), ushort(event->count()));
        QPlainTextEdit::keyPressEvent(&plain);
        event->setAccepted(plain.isAccepted());
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

void DatabaseView::contextMenuEvent(QContextMenuEvent *event)
{
    // The toolkit's entries, below "Pick record", which picks the record at
    // the caret as a click there does.
    QMenu *menu = createStandardContextMenu(event->pos());
    const QList<QAction *> toolkitEntries = menu->actions();
    auto *pick = new QAction(tr("Pick record"), menu);
    connect(pick, &QAction::triggered, this, &DatabaseView::pickRequested);
    menu->insertAction(toolkitEntries.value(0), pick);
    menu->insertSeparator(toolkitEntries.value(0));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
    // Opened from the keyboard, Return picks at once.
    if (event->reason() == QContextMenuEvent::Keyboard)
        menu->setActiveAction(pick);
}
