// SPDX-License-Identifier: GPL-3.0-or-later

// The window as assistive technology and high-DPI screens meet it: what a
// screen reader hears for each control, and whether the fixed layout still
// holds every caption, without clipping or overlap, at the scale factor the
// test runs under (registered at QT_SCALE_FACTOR 1 and 2).
#include <memory>

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionGroupBox>
#include <QtTest>

#include "main_window/main_window.h"
#include "tests/test_support.h"

namespace {

// Every control of the layout, frames and labels included.
const char *const kControls[] = {"Frame1", "Label1",   "Text1",    "Label2",   "Text2",
                                 "Label3", "Text3",    "Command1", "Command2", "Label5",
                                 "Combo1", "Command3", "Command4", "Command6", "Command5",
                                 "Frame2", "Label4",   "Text4",    "Text5"};

QString ancestry(const QWidget *widget)
{
    return widget->objectName() + QStringLiteral(" in ") + widget->parentWidget()->objectName();
}

// Whether the image has a pixel unlike the background on the given column or
// row, that is, whether something drawn reaches that edge.
bool inkOnColumn(const QImage &image, int x, QRgb background)
{
    for (int y = 0; y < image.height(); ++y) {
        if (image.pixel(x, y) != background)
            return true;
    }
    return false;
}

bool inkOnRow(const QImage &image, int y, QRgb background)
{
    for (int x = 0; x < image.width(); ++x) {
        if (image.pixel(x, y) != background)
            return true;
    }
    return false;
}

// The screen's own pixels: as the offscreen platform's configuration gives
// them, else as Qt reports them.
QSize screenPixels()
{
    QFile config(qEnvironmentVariable("QT_QPA_PLATFORM").section("configfile=", 1));
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (!config.open(QIODevice::ReadOnly))
        return screen->availableGeometry().size() * screen->devicePixelRatio();
    const QJsonValue first = QJsonDocument::fromJson(config.readAll())["screens"][0];
    return QSize(first["width"].toInt(), first["height"].toInt());
}

} // namespace

class TestDesktop final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void controlsAreNamedForScreenReaders_data();
    void controlsAreNamedForScreenReaders();
    void everyFocusableControlHasItsOwnName();
    void commandsSayWhenTheyDoNothing_data();
    void commandsSayWhenTheyDoNothing();

    void windowScalesWithTheScaleFactor();
    void controlsLieInsideTheirContainerWithoutOverlap();
    void captionsFitTheirControls();
    void labelCaptionsAreNotClippedOnScreen();

private:
    QWidget *control(const char *name) const;

    std::unique_ptr<TestSupport::ProgramDirectory> m_directory;
    std::unique_ptr<Form1> m_window;
};

void TestDesktop::initTestCase()
{
    // The desktop's font size, where the test is registered with one.
    if (const qreal points = qEnvironmentVariable("STOCKBOOK_FONT_POINTS").toDouble(); points > 0) {
        QFont font = QApplication::font();
        font.setPointSizeF(points);
        QApplication::setFont(font);
    }
}

void TestDesktop::init()
{
    m_directory = std::make_unique<TestSupport::ProgramDirectory>();
    m_window = std::make_unique<Form1>(m_directory->path());
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

void TestDesktop::cleanup()
{
    m_window.reset();
    m_directory.reset();
}

QWidget *TestDesktop::control(const char *name) const
{
    auto *widget = m_window->findChild<QWidget *>(QLatin1String(name));
    if (!widget)
        qFatal("no control %s", name);
    return widget;
}

void TestDesktop::controlsAreNamedForScreenReaders_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("role");
    // A field also reports its label as its "labelled by" relation.
    QTest::addColumn<QString>("label");

    const int edit = QAccessible::EditableText;
    const int button = QAccessible::Button;
    QTest::newRow("box field") << "Text1"
                               << "Box Name" << edit << "Label1";
    QTest::newRow("item field") << "Text2"
                                << "Component Name" << edit << "Label2";
    QTest::newRow("count field") << "Text3"
                                 << "Number" << edit << "Label3";
    QTest::newRow("type field") << "Combo1"
                                << "Type" << int(QAccessible::ComboBox) << "Label5";
    QTest::newRow("search field") << "Text4"
                                  << "Find" << edit << "Label4";
    QTest::newRow("database view") << "Text5"
                                   << "Database" << edit << "";
    QTest::newRow("+") << "Command1"
                       << "+" << button << "";
    QTest::newRow("-") << "Command2"
                       << "-" << button << "";
    QTest::newRow("Add") << "Command3"
                         << "Add" << button << "";
    QTest::newRow("Save") << "Command4"
                          << "Save" << button << "";
    QTest::newRow("Quit") << "Command5"
                          << "Quit" << button << "";
    QTest::newRow("Update") << "Command6"
                            << "Update" << button << "";
}

void TestDesktop::controlsAreNamedForScreenReaders()
{
    QFETCH(QString, control);
    QFETCH(QString, name);
    QFETCH(int, role);
    QFETCH(QString, label);

    QWidget *widget = this->control(qPrintable(control));
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(widget);
    QVERIFY(iface);
    QCOMPARE(iface->text(QAccessible::Name), name);
    if (role == QAccessible::ComboBox) // the type field's text is its value
        QCOMPARE(iface->text(QAccessible::Value), QString("..."));
    QCOMPARE(int(iface->role()), role);
    QVERIFY(!iface->state().invisible);
    if (label.isEmpty())
        return;
    QAccessibleInterface *labelIface =
        QAccessible::queryAccessibleInterface(this->control(qPrintable(label)));
    const auto relations = iface->relations(QAccessible::Label);
    const bool labelled = std::any_of(relations.begin(), relations.end(),
                                      [&](const auto &rel) { return rel.first == labelIface; });
    QVERIFY2(labelled, qPrintable(control + QStringLiteral(" is not labelled by ") + label));
    QCOMPARE(labelIface->text(QAccessible::Name), name);
}

void TestDesktop::everyFocusableControlHasItsOwnName()
{
    // A field without a name of its own is read out by the caption of the
    // frame around it, the same for every field in that frame.
    QStringList names;
    const auto widgets = m_window->findChildren<QWidget *>();
    for (QWidget *widget : widgets) {
        if (widget->focusPolicy() == Qt::NoFocus || widget->focusProxy() || !widget->isVisible())
            continue;
        if (qobject_cast<QComboBox *>(widget->parentWidget()))
            continue; // the type field's own line edit: the field speaks for it
        QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(widget);
        QVERIFY(iface);
        const QString name = iface->text(QAccessible::Name);
        QVERIFY2(!name.isEmpty(), qPrintable(widget->objectName()));
        QVERIFY2(!names.contains(name), qPrintable(widget->objectName() + ": " + name));
        names << name;
    }
    QCOMPARE(names.size(), 12);
}

void TestDesktop::commandsSayWhenTheyDoNothing_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("text");
    QTest::newRow("Save") << "Command4"
                          << "Writes the database to stockbook.txt.\nAfter a search, writes the "
                             "window's changes, the unsaved ones of earlier searches too; the "
                             "records it hides stay.";
    QTest::newRow("Update") << "Command6"
                            << "Writes the edited fields over the record last clicked in the view "
                               "and saves the database.\nWithout a clicked record, as after an "
                               "Update, it only empties the fields.";
    QTest::newRow("search field") << "Text4"
                                  << "Shows the lines of the database file that contain this "
                                     "text, with your unsaved changes.\nThey stay in the window "
                                     "until Save writes them.";
}

void TestDesktop::commandsSayWhenTheyDoNothing()
{
    QFETCH(QString, control);
    QFETCH(QString, text);
    QWidget *widget = this->control(qPrintable(control));
    QCOMPARE(widget->toolTip(), text);
    QCOMPARE(QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Description), text);
}

void TestDesktop::windowScalesWithTheScaleFactor()
{
    // A font DPI above 96 adds to the scale factor.
    const qreal scale = qEnvironmentVariable("QT_SCALE_FACTOR", QStringLiteral("1")).toDouble() *
                        qEnvironmentVariable("QT_FONT_DPI", QStringLiteral("96")).toDouble() / 96;
    QVERIFY(scale >= 1);
    QCOMPARE(m_window->devicePixelRatioF(), scale);
    // The layout is in logical pixels, grown by one factor for the font; the
    // screen gets it scaled as a whole.
    const qreal layout = m_window->layoutScale();
    QCOMPARE(m_window->size(), QSize(qRound(753 * layout), qRound(329 * layout)));
    const QSize pixels = m_window->size() * scale; // Qt rounds so
    QVERIFY(qFuzzyCompare(layout * scale, 1) || pixels.boundedTo(screenPixels()) == pixels);
    QCOMPARE(m_window->grab().size(), m_window->size() * scale);
    const QPoint view = control("Text5")->mapTo(m_window.get(), QPoint(0, 0));
    QVERIFY(qAbs(view.x() - (296 + 24) * layout) <= 1 && qAbs(view.y() - (16 + 88) * layout) <= 1);
}

void TestDesktop::controlsLieInsideTheirContainerWithoutOverlap()
{
    QList<QWidget *> controls;
    for (const char *name : kControls) {
        QWidget *widget = control(name);
        QVERIFY2(widget->isVisible(), name);
        QVERIFY2(!widget->geometry().isEmpty(), name);
        QVERIFY2(widget->parentWidget()->rect().contains(widget->geometry()),
                 qPrintable(ancestry(widget)));
        controls << widget;
    }
    for (int a = 0; a < controls.size(); ++a) {
        for (int b = a + 1; b < controls.size(); ++b) {
            if (controls[a]->parentWidget() != controls[b]->parentWidget())
                continue;
            QVERIFY2(!controls[a]->geometry().intersects(controls[b]->geometry()),
                     qPrintable(controls[a]->objectName() + QStringLiteral(" overlaps ") +
                                controls[b]->objectName()));
        }
    }
    // The frames' captions run above everything inside them: a frame's
    // contents, where every control of it lies, begin below its caption.
    for (const char *frameName : {"Frame1", "Frame2"}) {
        const QWidget *frame = control(frameName);
        for (QWidget *child : frame->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
            QVERIFY2(frame->contentsRect().contains(child->geometry()),
                     qPrintable(ancestry(child)));
    }
}

void TestDesktop::captionsFitTheirControls()
{
    // A caption fits when its text as drawn (the advance, or ink beyond it)
    // with a pixel to spare, and its line height, lie inside a label's contents
    // or the rectangle in which the style draws a button's caption. Unless the
    // layout is at the table's size, or the screen made the font smaller, some
    // caption is tight: it grew no more.
    qreal tightest = 1e9;
    for (const char *name : {"Label1", "Label2", "Label3", "Label4", "Label5", "Command1",
                             "Command2", "Command3", "Command4", "Command5", "Command6"}) {
        QWidget *widget = control(name);
        auto *button = qobject_cast<QPushButton *>(widget);
        QStyleOptionButton option;
        option.initFrom(widget);
        const QString text = button ? button->text() : qobject_cast<QLabel *>(widget)->text();
        const QRect room =
            button ? widget->style()->subElementRect(QStyle::SE_PushButtonContents, &option, widget)
                   : widget->contentsRect();
        const QFontMetricsF metrics(widget->font());
        const qreal width =
            qCeil(qMax(metrics.horizontalAdvance(text), metrics.tightBoundingRect(text).right())) +
            1;
        QVERIFY2(width <= room.width() && metrics.height() <= room.height(), name);
        tightest = qMin(tightest, qMin(room.width() - width, room.height() - metrics.height()));
    }
    QVERIFY(m_window->layoutScale() == 1 || tightest < 2 ||
            m_window->testAttribute(Qt::WA_SetFont));
    for (const char *name : {"Frame1", "Frame2"}) {
        auto *frame = qobject_cast<QGroupBox *>(control(name));
        QVERIFY2(QFontMetricsF(frame->font()).horizontalAdvance(frame->title()) <= frame->width(),
                 name);
    }
    // A single-line field shows a whole line of text: the text's height fits
    // inside the field's frame.
    for (const char *name : {"Text1", "Text2", "Text3", "Text4"}) {
        auto *field = qobject_cast<QLineEdit *>(control(name));
        const int frame = field->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, field);
        QVERIFY2(field->fontMetrics().height() <= field->height() - 2 * frame, name);
    }
    auto *typeField = qobject_cast<QComboBox *>(control("Combo1"));
    QVERIFY(typeField->lineEdit()->fontMetrics().height() <= typeField->lineEdit()->height());
}

void TestDesktop::labelCaptionsAreNotClippedOnScreen()
{
    // The labels as the screen shows them at this scale: a caption cut off at
    // the right or at the top or bottom would leave ink on that edge.
    for (const char *name : {"Label1", "Label2", "Label3", "Label4", "Label5"}) {
        auto *label = qobject_cast<QLabel *>(control(name));
        const QImage shot = label->grab().toImage();
        QCOMPARE(shot.size(), label->size() * m_window->devicePixelRatioF());
        const QRgb background = shot.pixel(shot.width() - 1, shot.height() - 1);
        int inkColumns = 0;
        for (int x = 0; x < shot.width(); ++x)
            inkColumns += inkOnColumn(shot, x, background) ? 1 : 0;
        QVERIFY2(inkColumns > 0, name);
        QVERIFY2(!inkOnColumn(shot, shot.width() - 1, background), name);
        QVERIFY2(!inkOnRow(shot, 0, background), name);
        QVERIFY2(!inkOnRow(shot, shot.height() - 1, background), name);
    }
}

STOCKBOOK_TEST_MAIN(TestDesktop, QApplication)
#include "tst_desktop.moc"
