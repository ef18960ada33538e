// SPDX-License-Identifier: GPL-3.0-or-later

// The window's controls and their layout: the layout table (name, kind,
// container, caption or initial text, place in twips), read by
// createControls; the one factor by which the layout grows with the desktop's
// font and shrinks to the screen; the screen-reader names, the tooltips and
// the tab cycle.
#include <algorithm>
#include <cmath>
#include <limits>

#include <QAbstractItemView>
#include <QAccessibleWidget>
#include <QComboBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionGroupBox>

#include "main_window/database_view.h"
#include "main_window/main_window.h"

static void initIconResource()
{
    Q_INIT_RESOURCE(icon);
}

namespace {

enum class Kind { Frame, Label, Field, Button, TypeField, SearchField, View };

struct Control
{
    const char *name;
    Kind kind;
    const char *container;
    const char *text;
    QRect twips; // left, top, width, height in the container
};

// The layout table, in the order of the window's tab indexes.
const Control kLayout[] = {
    {"Frame1", Kind::Frame, "Form1", "Database", {360, 240, 3855, 4455}},
    {"Label1", Kind::Label, "Frame1", "Box Name", {240, 600, 1215, 255}},
    {"Text1", Kind::Field, "Frame1", "", {1800, 600, 1455, 285}},
    {"Label2", Kind::Label, "Frame1", "Component Name", {240, 960, 1455, 255}},
    {"Text2", Kind::Field, "Frame1", "", {1800, 960, 1455, 285}},
    {"Label3", Kind::Label, "Frame1", "Number", {240, 1320, 855, 255}},
    {"Text3", Kind::Field, "Frame1", "0", {1800, 1320, 615, 285}},
    {"Command1", Kind::Button, "Frame1", "+", {2520, 1320, 375, 255}},
    {"Command2", Kind::Button, "Frame1", "-", {3000, 1320, 375, 255}},
    {"Label5", Kind::Label, "Frame1", "Type", {240, 1680, 735, 255}},
    {"Combo1", Kind::TypeField, "Frame1", "...", {1800, 1680, 1455, 315}},
    {"Command3", Kind::Button, "Frame1", "Add", {120, 2280, 735, 375}},
    {"Command4", Kind::Button, "Frame1", "Save", {960, 2280, 735, 375}},
    {"Command6", Kind::Button, "Frame1", "Update", {1800, 2280, 855, 375}},
    {"Command5", Kind::Button, "Frame1", "Quit", {2760, 2280, 735, 375}},
    {"Frame2", Kind::Frame, "Form1", "Search", {4440, 240, 6495, 4455}},
    {"Label4", Kind::Label, "Frame2", "Find", {240, 600, 855, 255}},
    {"Text4", Kind::SearchField, "Frame2", "...", {1320, 600, 2175, 285}},
    {"Text5", Kind::View, "Frame2", "", {360, 1320, 5775, 2655}},
};

// The client area, in twips.
constexpr QRect kClientArea(0, 0, 11295, 4935);
// Beyond this the captions are not made to fit: the window would not fit a
// screen anyway.
constexpr qreal kLargestScale = 16;
constexpr int kNoLengthLimit = std::numeric_limits<int>::max();

// The search field. A click into it while it holds its placeholder selects
// the placeholder, as Tab does, so that typing replaces it.
class SearchField final : public QLineEdit
{
public:
    SearchField(const QString &placeholder, QWidget *parent)
        : QLineEdit(placeholder, parent), m_placeholder(placeholder)
    {
    }

protected:
    void mouseReleaseEvent(QMouseEvent *event) override
    {
        QLineEdit::mouseReleaseEvent(event);
        if (event->button() == Qt::LeftButton && text() == m_placeholder)
            selectAll();
    }

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

// A control of the table's kind, as the window wants it: fields without a
// length limit, buttons that are no default button, a type field whose text
// is the user's, never completed from its list.
QWidget *makeControl(const Control &row, QWidget *container)
{
    const QString text = QString::fromLatin1(row.text);
    QWidget *control = nullptr;
    switch (row.kind) {
    case Kind::Frame:
        control = new QGroupBox(text, container);
        break;
    case Kind::Label:
        control = new QLabel(text, container);
        break;
    case Kind::Field: {
        auto *field = new QLineEdit(text, container);
        field->setMaxLength(kNoLengthLimit);
        control = field;
        break;
    }
    case Kind::SearchField: {
        auto *field = new SearchField(text, container);
        field->setMaxLength(kNoLengthLimit);
        control = field;
        break;
    }
    case Kind::Button: {
        auto *button = new QPushButton(text, container);
        button->setAutoDefault(false);
        button->setDefault(false);
        control = button;
        break;
    }
    case Kind::TypeField: {
        auto *type = new TypeField(container);
        type->setEditable(true);
        type->setInsertPolicy(QComboBox::NoInsert);
        type->setCompleter(nullptr);
        type->lineEdit()->setMaxLength(kNoLengthLimit);
        type->setEditText(text);
        control = type;
        break;
    }
    case Kind::View:
        control = new DatabaseView(container);
        break;
    }
    control->setObjectName(QLatin1String(row.name));
    return control;
}

// Twips in pixels at the layout's scale, 15 twips to a pixel at scale 1. Each
// edge is rounded on its own, so that controls apart in twips stay apart in
// pixels, and inside their container.
QRect scaledRect(const QRect &twips, qreal scale)
{
    const auto pixels = [scale](int value) {
        return qRound(value * scale / 15);
    };
    return QRect(
        QPoint(pixels(twips.left()), pixels(twips.top())),
        QPoint(pixels(twips.left() + twips.width()) - 1, pixels(twips.top() + twips.height()) - 1));
}

// What a caption needs and the room its control gives it, in pixels. A label's
// or a button's text needs its width as drawn (the advance, or the ink where a
// glyph reaches beyond it), rounded up to whole pixels, plus one pixel that
// keeps the ink off the edge, and the font's line height; the room is the
// label's contents, or the contents rectangle in which the style draws a
// button's caption. A frame's title, as the style places it, must lie within
// the frame's width and above the frame's topmost control.
struct CaptionRoom
{
    QSizeF caption;
    QSizeF room;
};

CaptionRoom captionRoom(const QWidget *control)
{
    if (const auto *frame = qobject_cast<const QGroupBox *>(control)) {
        QStyleOptionGroupBox option;
        option.initFrom(frame);
        option.text = frame->title();
        option.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
        const QRect title = frame->style()->subControlRect(QStyle::CC_GroupBox, &option,
                                                           QStyle::SC_GroupBoxLabel, frame);
        int topmost = frame->height();
        for (const QWidget *child : frame->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
            topmost = std::min(topmost, child->y());
        return {QSizeF(title.right() + 1, title.bottom() + 1), QSizeF(frame->width(), topmost)};
    }
    QString text;
    QRect room;
    if (const auto *button = qobject_cast<const QPushButton *>(control)) {
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = button->text();
        text = button->text();
        room = button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
    } else if (const auto *label = qobject_cast<const QLabel *>(control)) {
        text = label->text();
        room = label->contentsRect();
    } else {
        return {};
    }
    const QFontMetricsF metrics(control->font());
    const qreal drawn =
        std::max(metrics.horizontalAdvance(text), metrics.tightBoundingRect(text).right());
    return {QSizeF(std::ceil(drawn) + 1, metrics.height()), QSizeF(room.size())};
}

bool captionFits(const QWidget *control)
{
    const CaptionRoom fit = captionRoom(control);
    return fit.caption.width() <= fit.room.width() && fit.caption.height() <= fit.room.height();
}

} // namespace

template <typename T> void Form1::bind(T *&control, const char *name)
{
    control = findChild<T *>(QLatin1String(name));
}

void Form1::createControls()
{
    initIconResource();
    static const bool typeFieldNamed = (QAccessible::installFactory(typeFieldAccessible), true);
    Q_UNUSED(typeFieldNamed);
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Stockbook v1.01 by the Stockbook workshop crew"));
    QIcon icon;
    for (int size : {16, 24, 32, 48})
        icon.addFile(QStringLiteral(":/icons/stockbook-%1.png").arg(size), QSize(size, size));
    setWindowIcon(icon);

    for (const Control &row : kLayout) {
        QWidget *container = findChild<QWidget *>(QLatin1String(row.container));
        m_placements.append({makeControl(row, container ? container : this), row.twips});
    }
    bind(Frame1, "Frame1");
    bind(Frame2, "Frame2");
    bind(Label1, "Label1");
    bind(Label2, "Label2");
    bind(Label3, "Label3");
    bind(Label4, "Label4");
    bind(Label5, "Label5");
    bind(Text1, "Text1");
    bind(Text2, "Text2");
    bind(Text3, "Text3");
    bind(Text4, "Text4");
    bind(Text5, "Text5");
    bind(Combo1, "Combo1");
    bind(Command1, "Command1");
    bind(Command2, "Command2");
    bind(Command3, "Command3");
    bind(Command4, "Command4");
    bind(Command5, "Command5");
    bind(Command6, "Command6");
    scaleLayoutToFont();

    // Screen readers name each field after its label and the view "Database";
    // a button's name is its caption.
    const std::pair<QLabel *, QWidget *> labelledFields[] = {
        {Label1, Text1}, {Label2, Text2}, {Label3, Text3}, {Label5, Combo1}, {Label4, Text4}};
    for (const auto &[label, field] : labelledFields) {
        label->setBuddy(field);
        field->setAccessibleName(label->text());
    }
    Text5->setAccessibleName(QStringLiteral("Database"));
    Command1->setAccessibleDescription(QStringLiteral("Adds one to the number"));
    Command2->setAccessibleDescription(QStringLiteral("Takes one from the number"));
    // What Save, Update and the search do, and when Save and Update do
    // nothing: as tooltips, and read out by screen readers.
    const std::pair<QWidget *, QString> explained[] = {
        {Command4, tr("Writes the whole database to stockbook.txt.\nDoes nothing once the Find "
                      "field has been changed, until Stockbook is started again.")},
        {Command6, tr("Writes the edited fields over the record last clicked in the view and "
                      "saves the database.\nWithout a clicked record, as after an Update, it only "
                      "empties the fields.")},
        {Text4, tr("Shows the lines of the database file that contain this text.\nOnce it has "
                   "been changed, Save does nothing until Stockbook is started again.")}};
    for (const auto &[control, text] : explained) {
        control->setToolTip(text);
        control->setAccessibleDescription(text);
    }

    QWidget *tabCycle[] = {Text1, Text2,  Text3,    Command1, Command2, Text4,
                           Text5, Combo1, Command3, Command4, Command5, Command6};
    for (std::size_t k = 1; k < std::size(tabCycle); ++k)
        QWidget::setTabOrder(tabCycle[k - 1], tabCycle[k]);

    setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size(),
                                    QGuiApplication::primaryScreen()->availableGeometry()));
}

qreal Form1::layoutScale() const
{
    return m_layoutScale;
}

void Form1::scaleLayoutToFont()
{
    // No control sets a font: each uses the desktop's default for its kind.
    // The layout grows with it instead, by the smallest scale from 1 up at
    // which every caption fits, found by halving the step between a scale
    // that is too small and one that is enough, unless the screen is too
    // small for that.
    qreal tooSmall = 0;
    qreal enough = 1;
    applyLayoutScale(enough);
    while (!captionsFit() && enough < kLargestScale) {
        tooSmall = enough;
        enough *= 2;
        applyLayoutScale(enough);
    }
    for (int step = 0; tooSmall > 0 && step < 12; ++step) {
        const qreal middle = (tooSmall + enough) / 2;
        applyLayoutScale(middle);
        if (captionsFit())
            enough = middle;
        else
            tooSmall = middle;
    }
    // A layout grown wider or higher than the screen's available area grows
    // only as far as fits, never below the table's size.
    const QSize room = screen()->availableGeometry().size();
    enough = std::max<qreal>(1, std::min({enough, room.width() * 15.0 / kClientArea.width(),
                                          room.height() * 15.0 / kClientArea.height()}));
    applyLayoutScale(enough);
    setFixedSize(scaledRect(kClientArea, enough).size());
}

void Form1::applyLayoutScale(qreal scale)
{
    for (const Placement &placement : std::as_const(m_placements))
        placement.control->setGeometry(scaledRect(placement.twips, scale));
    m_layoutScale = scale;
}

bool Form1::captionsFit() const
{
    return std::all_of(m_placements.cbegin(), m_placements.cend(),
                       [](const Placement &placement) { return captionFits(placement.control); });
}

void Form1::changeEvent(QEvent *event)
{
    // The desktop's font changed while the window is open.
    if (event->type() == QEvent::FontChange && !m_placements.isEmpty())
        scaleLayoutToFont();
    QWidget::changeEvent(event);
}
