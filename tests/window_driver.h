// SPDX-License-Identifier: GPL-3.0-or-later

// Drives the real window as a user does, for the fault and random-session
// tests: finds the controls by name, clicks, types, and closes every modal
// message box that opens, keeping what it said.
#pragma once

#include <memory>

#include <QString>
#include <QStringList>
#include <QWidget>

class DatabaseView;
class Form1;
class QComboBox;
class QLineEdit;
class QMessageBox;

namespace TestSupport {

// The window's commands, by the number of their button (Command1..Command6),
// for click().
enum Command { Plus = 1, Minus, Add, Save, Quit, Update };

// The entry fields and the search field, in the order field(), typeInto()
// and entry() count them (Text1..Text3, Combo1, Text4).
enum EntryField { Box, Item, Count, Type, Search };

// Closes each message box that is shown while it lives and keeps its text,
// title and icon. A box is answered with its escape button, else with OK.
class MessageCatcher final : public QObject
{
public:
    MessageCatcher(); // filters the application's events until it goes
    const QStringList &texts() const
    {
        return m_texts;
    }
    const QStringList &titles() const
    {
        return m_titles;
    }
    const QList<int> &icons() const
    {
        return m_icons;
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void answer(QMessageBox *box);

    QStringList m_texts;
    QStringList m_titles;
    QList<int> m_icons;
};

class WindowDriver final
{
public:
    // Opens the window on `programDirectory` and shows it offscreen.
    explicit WindowDriver(const QString &programDirectory);
    ~WindowDriver();

    Form1 &form() const;
    // A control of the window by its name ("Frame1", "Label4", ...).
    template <typename T = QWidget> T *control(const char *name) const
    {
        return qobject_cast<T *>(namedControl(name));
    }
    QLineEdit *field(EntryField k) const; // Box, Item or Count
    QComboBox *type() const;
    QLineEdit *search() const;
    DatabaseView *view() const;

    QStringList entry() const;
    // Sets the four entry fields' texts, without typing.
    void setEntry(const QStringList &texts) const;
    QString viewText() const;
    // Replaces a field's text by typing: select all, erase, type.
    void typeInto(EntryField field, const QString &text) const;
    void typeSearch(const QString &text) const;
    // Types a box and an item into their fields and clicks Add.
    void add(const QString &box, const QString &item) const;
    // Clicks "Command1".."Command6", by its Command or by name.
    void click(Command command) const;
    void click(const QString &name) const;
    // Clicks into the view `column` characters into line `line`; returns the
    // caret's position in the document afterwards.
    int clickLine(int line, int column) const;
    // Types into the view at the caret: text, Return for "\n", Backspace for
    // "\b".
    void typeIntoView(const QString &keys) const;
    // Opens the view's context menu with a key and chooses "Pick record".
    void pickWithKey(QKeyCombination key) const;

private:
    QWidget *namedControl(const char *name) const;

    std::unique_ptr<Form1> m_form;
};

} // namespace TestSupport
