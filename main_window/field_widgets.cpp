// SPDX-License-Identifier: GPL-3.0-or-later

// The search field's click, the type field's face to screen readers, and the
// one-line fields' line ends.
#include "main_window/field_widgets.h"

#include <algorithm>

#include <QAbstractItemView>
#include <QAccessibleWidget>
#include <QMouseEvent>

#include "record_store/record_store.h"

QValidator::State OneLineValidator::validate(QString &input, int &pos) const
{
    // The caret stands behind the text just inserted, so its line ends, if
    // any (a cell's CR LF, and the empty lines after it), stand just before
    // the caret.
    int lineEnds = 0;
    while (lineEnds < pos && RecordStore::isLineEndCharacter(input.at(pos - lineEnds - 1)))
        ++lineEnds;
    input.remove(pos - lineEnds, lineEnds);
    pos -= lineEnds;
    return std::any_of(input.cbegin(), input.cend(), RecordStore::isLineEndCharacter) ? Invalid
                                                                                      : Acceptable;
}

SearchField::SearchField(const QString &placeholder, QWidget *parent)
    : QLineEdit(placeholder, parent), m_placeholder(placeholder)
{
}

void SearchField::mouseReleaseEvent(QMouseEvent *event)
{
    QLineEdit::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && text() == m_placeholder)
        selectAll();
}

namespace {

class TypeFieldAccessible final : public QAccessibleWidget
{
public:
    explicit TypeFieldAccessible(TypeField *field) : QAccessibleWidget(field, QAccessible::ComboBox)
    {
    }
    QString text(QAccessible::Text kind) const override
    {
        return kind == QAccessible::Value ? field()->currentText() : QAccessibleWidget::text(kind);
    }
    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.editable = state.expandable = true;
        state.expanded = field()->view()->isVisible();
        return state;
    }
    int childCount() const override
    {
        return 2;
    }
    QAccessibleInterface *child(int index) const override
    {
        QWidget *children[] = {field()->view(), field()->lineEdit()};
        return index == 0 || index == 1 ? QAccessible::queryAccessibleInterface(children[index])
                                        : nullptr;
    }
    int indexOfChild(const QAccessibleInterface *child) const override
    {
        return child->object() == field()->view()       ? 0
               : child->object() == field()->lineEdit() ? 1
                                                        : -1;
    }
    QStringList actionNames() const override
    {
        return QStringList(showMenuAction()) + QAccessibleWidget::actionNames();
    }
    void doAction(const QString &action) override
    {
        if (action == showMenuAction())
            field()->showPopup();
        else
            QAccessibleWidget::doAction(action);
    }

private:
    QComboBox *field() const
    {
        return static_cast<QComboBox *>(widget());
    }
};

// Asked already while the field is made, before it has its name.
QAccessibleInterface *typeFieldAccessible(const QString & /*className*/, QObject *object)
{
    auto *field = dynamic_cast<TypeField *>(object);
    return field ? new TypeFieldAccessible(field) : nullptr;
}

} // namespace

void installTypeFieldAccessible()
{
    static const bool installed = (QAccessible::installFactory(typeFieldAccessible), true);
    Q_UNUSED(installed);
}
