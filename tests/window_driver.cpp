// SPDX-License-Identifier: GPL-3.0-or-later

#include "tests/window_driver.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QtTest>

#include "main_window/database_view.h"
#include "main_window/main_window.h"

namespace TestSupport {

MessageCatcher::MessageCatcher()
{
    qApp->installEventFilter(this);
}

// A box shown by exec() is answered once its own event loop runs.
bool MessageCatcher::eventFilter(QObject *watched, QEvent *event)
{
    auto *box = qobject_cast<QMessageBox *>(watched);
    if (box && event->type() == QEvent::Show && !event->spontaneous()) {
        QMetaObject::invokeMethod(
            this, [this, shown = QPointer<QMessageBox>(box)] { answer(shown); },
            Qt::QueuedConnection);
    }
    return false;
}

void MessageCatcher::answer(QMessageBox *box)
{
    if (!box || !box->isVisible())
        return;
    m_texts << box->text();
    m_titles << box->windowTitle();
    m_icons << box->icon();
    if (QAbstractButton *escape = box->escapeButton())
        escape->click();
    else
        box->done(QMessageBox::Ok);
}

WindowDriver::WindowDriver(const QString &programDirectory)
    : m_form(std::make_unique<Form1>(programDirectory))
{
    m_form->show();
    if (!QTest::qWaitForWindowExposed(m_form.get()))
        qWarning("the window was not exposed");
}

WindowDriver::~WindowDriver() = default;

Form1 &WindowDriver::form() const
{
    return *m_form;
}

QWidget *WindowDriver::namedControl(const char *name) const
{
    return m_form->findChild<QWidget *>(QLatin1String(name));
}

QLineEdit *WindowDriver::field(EntryField k) const
{
    const char *names[] = {"Text1", "Text2", "Text3"};
    return m_form->findChild<QLineEdit *>(QLatin1String(names[k]));
}

QComboBox *WindowDriver::type() const
{
    return m_form->findChild<QComboBox *>(QStringLiteral("Combo1"));
}

QLineEdit *WindowDriver::search() const
{
    return m_form->findChild<QLineEdit *>(QStringLiteral("Text4"));
}

DatabaseView *WindowDriver::view() const
{
    return m_form->findChild<DatabaseView *>(QStringLiteral("Text5"));
}

QStringList WindowDriver::entry() const
{
    return {field(Box)->text(), field(Item)->text(), field(Count)->text(), type()->currentText()};
}

void WindowDriver::setEntry(const QStringList &texts) const
{
    for (int k = 0; k < 3; ++k)
        field(EntryField(k))->setText(texts[k]);
    type()->setEditText(texts[3]);
}

QString WindowDriver::viewText() const
{
    return view()->databaseText();
}

void WindowDriver::typeInto(EntryField k, const QString &text) const
{
    QLineEdit *edit = k < Type ? field(k) : k == Type ? type()->lineEdit() : search();
    edit->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClicks(edit, text);
}

void WindowDriver::typeSearch(const QString &text) const
{
    typeInto(Search, text);
}

void WindowDriver::add(const QString &box, const QString &item) const
{
    typeInto(Box, box);
    typeInto(Item, item);
    click(Add);
}

void WindowDriver::click(Command command) const
{
    click(QStringLiteral("Command%1").arg(command));
}

void WindowDriver::click(const QString &name) const
{
    QTest::mouseClick(control<QPushButton>(qPrintable(name)), Qt::LeftButton);
}

int WindowDriver::clickLine(int line, int column) const
{
    QTextCursor cursor(view()->document()->findBlockByNumber(line));
    cursor.setPosition(cursor.block().position() + qMin(column, cursor.block().length() - 1));
    // Scroll the spot into sight, then click on it as the user would.
    view()->setTextCursor(cursor);
    view()->ensureCursorVisible();
    const QRect caret = view()->cursorRect(cursor);
    QTest::mouseClick(view()->viewport(), Qt::LeftButton, {}, caret.center());
    return view()->textCursor().position();
}

void WindowDriver::typeIntoView(const QString &keys) const
{
    view()->setFocus();
    for (QChar c : keys) {
        if (c == u'\n')
            QTest::keyClick(view(), Qt::Key_Return);
        else if (c == u'\b')
            QTest::keyClick(view(), Qt::Key_Backspace);
        else
            QTest::keyClicks(view(), QString(c));
    }
}

void WindowDriver::pickWithKey(QKeyCombination key) const
{
    QTest::keyClick(view(), key.key(), key.keyboardModifiers());
    auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
    QVERIFY(menu && menu->actions().size() > 2 && menu->actions()[1]->isSeparator());
    QCOMPARE(menu->actions()[0]->text(), QString("Pick record"));
    QTest::keyClick(menu, Qt::Key_Return);
}

} // namespace TestSupport
