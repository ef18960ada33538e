// SPDX-License-Identifier: GPL-3.0-or-later

// The window's two fields that act beyond their Qt class: the search field,
// whose placeholder a click selects, and the type field, as screen readers
// see it.
#pragma once

#include <QComboBox>
#include <QLineEdit>

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
