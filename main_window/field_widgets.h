// SPDX-License-Identifier: GPL-3.0-or-later

// The window's fields where they act beyond their Qt class: the search field,
// whose placeholder a click selects, the type field, as screen readers see
// it, and every one-line field, which holds one line.
#pragma once

#include <QComboBox>
#include <QLineEdit>
#include <QValidator>

// Keeps a one-line field to what it shows. The line ends that a pasted or
// dropped text ends with (a spreadsheet cell's CR LF, say, and any empty lines
// after it) are dropped; a text that still holds a line break is refused, the
// field keeping what it held and signalling inputRejected. A text the program
// sets loses its final line ends too, but is kept otherwise.
class OneLineValidator final : public QValidator
{
public:
    using QValidator::QValidator;
    State validate(QString &input, int &pos) const override;
};

// The search field. A click into it while it holds its placeholder selects
// the placeholder, as Tab does, so that typing replaces it.
class SearchField final : public QLineEdit
{
public:
    SearchField(const QString &placeholder, QWidget *parent);

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    const QString m_placeholder;
};

// The type field. Qt on Linux gives an editable combo box its text as its
// name; the type field is reported by its own name (its label's), with its
// text as its value, and otherwise as Qt reports a combo box: its list and
// its line edit as children, an action that opens the list.
class TypeField final : public QComboBox
{
    using QComboBox::QComboBox;
};

// Has screen readers see every type field as said above. Called before the
// first type field is made; further calls do nothing.
void installTypeFieldAccessible();
