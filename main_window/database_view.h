// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <functional>
#include <optional>
#include <utility>

#include <QPlainTextEdit>
#include <QTextCursor>

#include "record_store/record_store.h"

// The database view: a plain text editor whose text, as the handlers see it,
// has CR LF line ends, that reports every mouse click in it, and whose context
// menu (right click, the Menu key or Shift+F10) offers the pick of the record
// at the caret. It shows what the window did: appended text is scrolled into
// sight, and the picked record's line is marked (drawn highlighted, not
// selected) until the next pick, Update or setting of the text.
class DatabaseView final : public QPlainTextEdit
{
    Q_OBJECT

public:
    // The caret's line and where the caret stands in it.
    struct CaretLine
    {
        QString text;          // the line, followed by CR LF unless it is the last one
        qsizetype caretOffset; // characters of the line before the caret
    };

    explicit DatabaseView(QWidget *parent = nullptr);

    // The whole text with CR LF line ends, every character as the user or the
    // file put it there (a no-break space stays one).
    QString databaseText() const;
    // The same, and where it differs from the text the view was last set to
    // or gave, where the view knows it.
    std::pair<QString, std::optional<RecordStore::ShownChange>> databaseTextAndChange() const;
    void setDatabaseText(const QString &text);
    // Leaves the view as setDatabaseText(RecordStore::replacedInShown(text,
    // before, after, lastLineEnds)) would, where `text` is databaseText():
    // same text, caret at the start, no undo history, and the scroll position
    // kept. Only the replaced lines are edited, so a whole view is not rebuilt
    // for the change of one record. A marked line that is replaced stays
    // marked in its new text.
    void replaceInDatabaseText(const QString &text, const QString &before, const QString &after,
                               bool lastLineEnds = false);
    // Sets the text as setDatabaseText does (no undo history, no marked line),
    // editing only the lines that differ. The caret stays in its line and
    // column, and the first visible line stays at the top, where the new text
    // still holds them; a caret or top line whose line was replaced goes to
    // the line that replaced it. Where the caller knows where the text
    // differs from the view's (`change`), the two are not compared.
    void replaceDatabaseTextKeepingPlace(
        const QString &text, const std::optional<RecordStore::TextChange> &change = std::nullopt);
    // Appends the text and scrolls it into sight; the caret stays.
    void appendDatabaseText(const QString &text);
    // Whether the text's last line has characters and no line end.
    bool endsInOpenLine() const;

    // Marks the caret's line as the picked record's.
    void markPickedLine();
    void unmarkPickedLine();
    // After an Update: scrolls the marked line into sight and unmarks it.
    void showAndUnmarkPickedLine();

    // Characters before the caret (before the selection's start, when text is
    // selected), each line end counting as two.
    qsizetype caretOffset() const;
    CaretLine caretLine() const;

signals:
    void clicked();
    // "Pick record" was chosen from the context menu.
    void pickRequested();

protected:
    bool event(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    // Where the user is: the caret's line and column, the first visible line
    // and how many of its display lines are scrolled past.
    struct Place
    {
        int caretLine;
        int caretColumn;
        int topLine;
        int topScrolled;
    };
    // Where a line of the old text stands in the new one, and whether it is
    // still there.
    using LineMap = std::function<std::pair<qsizetype, bool>(qsizetype)>;

    // Puts the caret back in its line and the top line back at the top, each
    // where `lineAfter` moved its line: the caret in its column as far as the
    // line reaches, the display lines scrolled past only where the top line is
    // still there.
    void restorePlace(const Place &place, const LineMap &lineAfter);
    // Changes the text by `change`, which leaves no undo history and no marked
    // line, with the wrap chosen for the new text, which holds a word too long
    // to wrap at blanks where `longWord` says so.
    void changeTextTo(bool longWord, const std::function<void()> &change);
    // Wraps anywhere rather than at blanks once the text holds a word that
    // would take long to lay out at blanks.
    void wrapLongWordsAnywhere(int from, int removed, int added);
    // Whether a press whose caret position would be `at` is answered here.
    bool placesCaretItself(const QMouseEvent *event, int at) const;
    // Scrolls as little as brings the lines from `first` to `last` into sight,
    // `first` before all.
    void scrollIntoSight(const QTextBlock &first, const QTextBlock &last);
    void markLineAt(int position);
    // Takes the document's change at `position` (`added` characters put in
    // there) into what changed since the known text.
    void followChange(int position, int added);
    // Takes `text`, which holds `lineFeeds` LFs, for the known text where the
    // document's counts tell that the view reads it back as it is.
    void knowText(const QString &text, qsizetype lineFeeds);

    // A left button press that this view answered itself is held.
    bool m_ownPressHeld = false;
    // The toolkit answered a press that may have left a word, line or drag
    // in progress; the next press goes to it again, so that it can end them.
    bool m_toolkitMouseStateOpen = false;
    // The text being set was checked for long words already.
    bool m_settingCheckedText = false;
    // The picked record's line, selected whole; null while none is marked.
    QTextCursor m_pickedLine;
    // The view's text when it was last set or gathered, where the view reads
    // it back as it was; nothing where it may not.
    mutable std::optional<QString> m_knownText;
    // What changed since, as the characters that stayed as they were before
    // and after every change: in the document and in the known text. None
    // while nothing changed.
    struct Unchanged
    {
        int headPosition;
        qsizetype headLength;
        int tailPositions;
        qsizetype tailLength;
    };
    mutable std::optional<Unchanged> m_unchanged;
};
