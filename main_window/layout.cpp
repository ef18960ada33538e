// SPDX-License-Identifier: GPL-3.0-or-later

// The window's controls: the layout table (name, the helper that makes the
// control into its member, its container, place in twips, caption or initial
// text), read by createControls; the screen-reader names, the tooltips and the
// tab cycle.
#include <limits>
#include <utility>

#include <QComboBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>

#include "main_window/database_view.h"
#include "main_window/field_widgets.h"
#include "main_window/main_window.h"

static void initIconResource()
{
    Q_INIT_RESOURCE(icon);
}

namespace {

// A member of the window that holds a control.
template <typename Control> using Member = Control *Form1::*;

// The client area, in twips.
constexpr QRect kClientArea(0, 0, 11295, 4935);
constexpr int kNoLengthLimit = std::numeric_limits<int>::max();

// One helper a kind of control: it makes the control as the window wants it
// and keeps it in the member that the row names. Captions are translated,
// fields have no length limit and hold one line, buttons are no default button,
// and the type field's text is the user's, never completed from its list.
using MakeControl = QWidget *(*)(Form1 &form, const char *text, QWidget *container);

template <Member<QGroupBox> member>
QWidget *frame(Form1 &form, const char *text, QWidget *container)
{
    return form.*member = new QGroupBox(Form1::tr(text), container);
}

template <Member<QLabel> member> QWidget *label(Form1 &form, const char *text, QWidget *container)
{
    return form.*member = new QLabel(Form1::tr(text), container);
}

template <typename Field> Field *holdingOneLine(Field *field)
{
    field->setMaxLength(kNoLengthLimit);
    field->setValidator(new OneLineValidator(field));
    return field;
}

template <Member<QLineEdit> member>
QWidget *field(Form1 &form, const char *text, QWidget *container)
{
    return form.*member = holdingOneLine(new QLineEdit(QString::fromLatin1(text), container));
}

template <Member<QLineEdit> member>
QWidget *searchField(Form1 &form, const char *text, QWidget *container)
{
    return form.*member = holdingOneLine(new SearchField(QString::fromLatin1(text), container));
}

template <Member<QPushButton> member>
QWidget *button(Form1 &form, const char *text, QWidget *container)
{
    auto *button = new QPushButton(Form1::tr(text), container);
    button->setAutoDefault(false);
    button->setDefault(false);
    return form.*member = button;
}

template <Member<QComboBox> member>
QWidget *typeField(Form1 &form, const char *text, QWidget *container)
{
    auto *type = new TypeField(container);
    type->setEditable(true);
    type->setInsertPolicy(QComboBox::NoInsert);
    type->setCompleter(nullptr);
    type->lineEdit()->setMaxLength(kNoLengthLimit);
    type->setValidator(new OneLineValidator(type));
    type->setEditText(QString::fromLatin1(text));
    return form.*member = type;
}

template <Member<DatabaseView> member> QWidget *view(Form1 &form, const char *, QWidget *container)
{
    return form.*member = new DatabaseView(container);
}

} // namespace

struct Form1::LayoutRow
{
    const char *name;
    MakeControl make;
    // The frame the control stands in; null for the window itself.
    Member<QGroupBox> container;
    QRect twips; // left, top, width, height in the container
    // A frame's, label's or button's caption, translated; a field's initial
    // text, which the handlers write back and compare as it is.
    const char *text;
};

// The layout table, in the order of the window's tab indexes.
// clang-format off
const Form1::LayoutRow Form1::kLayout[] = {
    {"Frame1", frame<&Form1::Frame1>, nullptr, QRect(360, 240, 3855, 4455), QT_TRANSLATE_NOOP("Form1", "Database")},
    {"Label1", label<&Form1::Label1>, &Form1::Frame1, QRect(240, 600, 1215, 255), QT_TRANSLATE_NOOP("Form1", "Box Name")},
    {"Text1", field<&Form1::Text1>, &Form1::Frame1, QRect(1800, 600, 1455, 285), ""},
    {"Label2", label<&Form1::Label2>, &Form1::Frame1, QRect(240, 960, 1455, 255), QT_TRANSLATE_NOOP("Form1", "Component Name")},
    {"Text2", field<&Form1::Text2>, &Form1::Frame1, QRect(1800, 960, 1455, 285), ""},
    {"Label3", label<&Form1::Label3>, &Form1::Frame1, QRect(240, 1320, 855, 255), QT_TRANSLATE_NOOP("Form1", "Number")},
    {"Text3", field<&Form1::Text3>, &Form1::Frame1, QRect(1800, 1320, 615, 285), "0"},
    {"Command1", button<&Form1::Command1>, &Form1::Frame1, QRect(2520, 1320, 375, 255), QT_TRANSLATE_NOOP("Form1", "+")},
    {"Command2", button<&Form1::Command2>, &Form1::Frame1, QRect(3000, 1320, 375, 255), QT_TRANSLATE_NOOP("Form1", "-")},
    {"Label5", label<&Form1::Label5>, &Form1::Frame1, QRect(240, 1680, 735, 255), QT_TRANSLATE_NOOP("Form1", "Type")},
    {"Combo1", typeField<&Form1::Combo1>, &Form1::Frame1, QRect(1800, 1680, 1455, 315), "..."},
    {"Command3", button<&Form1::Command3>, &Form1::Frame1, QRect(120, 2280, 735, 375), QT_TRANSLATE_NOOP("Form1", "Add")},
    {"Command4", button<&Form1::Command4>, &Form1::Frame1, QRect(960, 2280, 735, 375), QT_TRANSLATE_NOOP("Form1", "Save")},
    {"Command6", button<&Form1::Command6>, &Form1::Frame1, QRect(1800, 2280, 855, 375), QT_TRANSLATE_NOOP("Form1", "Update")},
    {"Command5", button<&Form1::Command5>, &Form1::Frame1, QRect(2760, 2280, 735, 375), QT_TRANSLATE_NOOP("Form1", "Quit")},
    {"Frame2", frame<&Form1::Frame2>, nullptr, QRect(4440, 240, 6495, 4455), QT_TRANSLATE_NOOP("Form1", "Search")},
    {"Label4", label<&Form1::Label4>, &Form1::Frame2, QRect(240, 600, 855, 255), QT_TRANSLATE_NOOP("Form1", "Find")},
    {"Text4", searchField<&Form1::Text4>, &Form1::Frame2, QRect(1320, 600, 2175, 285), "..."},
    {"Text5", view<&Form1::Text5>, &Form1::Frame2, QRect(360, 1320, 5775, 2655), ""},
};
// clang-format on

void Form1::createControls()
{
    initIconResource();
    installTypeFieldAccessible();
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(tr("Stockbook v1.01 by the Stockbook workshop crew"));
    QIcon icon;
    for (int size : {16, 24, 32, 48})
        icon.addFile(QStringLiteral(":/icons/stockbook-%1.png").arg(size), QSize(size, size));
    setWindowIcon(icon);

    m_layout.setWindow(this, kClientArea);
    for (const LayoutRow &row : kLayout) {
        QWidget *container = row.container ? this->*row.container : static_cast<QWidget *>(this);
        QWidget *control = row.make(*this, row.text, container);
        control->setObjectName(QLatin1String(row.name));
        m_layout.place(control, row.twips);
    }
    m_layout.fitToFont();
    nameForScreenReaders();
    explainControls();
    setTabCycle();

    setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size(),
                                    QGuiApplication::primaryScreen()->availableGeometry()));
}

// Screen readers name each field after its label and the view "Database"; a
// button's name is its caption.
void Form1::nameForScreenReaders()
{
    const std::pair<QLabel *, QWidget *> labelledFields[] = {
        {Label1, Text1}, {Label2, Text2}, {Label3, Text3}, {Label5, Combo1}, {Label4, Text4}};
    for (const auto &[label, field] : labelledFields) {
        label->setBuddy(field);
        field->setAccessibleName(label->text());
    }
    Text5->setAccessibleName(tr("Database"));
    Command1->setAccessibleDescription(tr("Adds one to the number"));
    Command2->setAccessibleDescription(tr("Takes one from the number"));
}

// What Save, Update and the search do, and when Save and Update do nothing: as
// tooltips, and read out by screen readers.
void Form1::explainControls()
{
    const std::pair<QWidget *, QString> explained[] = {
        {Command4, tr("Writes the database to stockbook.txt.\nAfter a search, writes the window's "
                      "changes, the unsaved ones of earlier searches too; the records it hides "
                      "stay.")},
        {Command6, tr("Writes the edited fields over the record last clicked in the view and "
                      "saves the database.\nWithout a clicked record, as after an Update, it only "
                      "empties the fields.")},
        {Text4, tr("Shows the lines of the database file that contain this text, with your "
                   "unsaved changes.\nThey stay in the window until Save writes them.")}};
    for (const auto &[control, text] : explained) {
        control->setToolTip(text);
        control->setAccessibleDescription(text);
    }
}

void Form1::setTabCycle()
{
    QWidget *tabCycle[] = {Text1, Text2,  Text3,    Command1, Command2, Text4,
                           Text5, Combo1, Command3, Command4, Command5, Command6};
    for (std::size_t k = 1; k < std::size(tabCycle); ++k)
        QWidget::setTabOrder(tabCycle[k - 1], tabCycle[k]);
}

qreal Form1::layoutScale() const
{
    return m_layout.scale();
}

bool Form1::event(QEvent *event)
{
    // The desktop's font changed, which a window whose font the layout set
    // smaller only hears of so.
    if (event->type() == QEvent::ApplicationFontChange && m_layout.setsFont())
        m_layout.fitToFont();
    return QWidget::event(event);
}

void Form1::changeEvent(QEvent *event)
{
    // The desktop's font changed while the window is open.
    if (event->type() == QEvent::FontChange)
        m_layout.fitToFont();
    QWidget::changeEvent(event);
}
