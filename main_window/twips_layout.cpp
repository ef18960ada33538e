// SPDX-License-Identifier: GPL-3.0-or-later

// The layout's scaling: twips in pixels at the layout's factor, the room each
// caption needs and gets, and the search for the smallest factor at which
// every caption fits.
#include "main_window/twips_layout.h"

#include <algorithm>
#include <cmath>

#include <QFontMetricsF>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionGroupBox>

namespace {

// Beyond this the captions are not made to fit: the window would not fit a
// screen anyway.
constexpr qreal kLargestScale = 16;

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

void TwipsLayout::setWindow(QWidget *window, const QRect &clientArea)
{
    m_window = window;
    m_clientArea = clientArea;
}

void TwipsLayout::place(QWidget *control, const QRect &twips)
{
    m_placements.append({control, twips});
}

qreal TwipsLayout::scale() const
{
    return m_scale;
}

void TwipsLayout::fitToFont()
{
    if (m_placements.isEmpty())
        return;
    // No control sets a font: each uses the desktop's default for its kind.
    // The layout grows with it instead, by the smallest scale from 1 up at
    // which every caption fits, found by halving the step between a scale
    // that is too small and one that is enough, unless the screen is too
    // small for that.
    qreal tooSmall = 0;
    qreal enough = 1;
    applyScale(enough);
    while (!captionsFit() && enough < kLargestScale) {
        tooSmall = enough;
        enough *= 2;
        applyScale(enough);
    }
    for (int step = 0; tooSmall > 0 && step < 12; ++step) {
        const qreal middle = (tooSmall + enough) / 2;
        applyScale(middle);
        if (captionsFit())
            enough = middle;
        else
            tooSmall = middle;
    }
    // A layout grown wider or higher than the screen's available area shrinks
    // until it fits, never below the table's size in the screen's own pixels.
    // Those count the desktop's scale factor and the font's DPI, which Qt
    // both takes into the pixel ratio.
    const QScreen *screen = m_window->screen();
    const QSize room = screen->availableGeometry().size();
    enough = std::max(1 / screen->devicePixelRatio(),
                      std::min({enough, room.width() * 15.0 / m_clientArea.width(),
                                room.height() * 15.0 / m_clientArea.height()}));
    applyScale(enough);
    m_window->setFixedSize(scaledRect(m_clientArea, enough).size());
}

void TwipsLayout::applyScale(qreal scale)
{
    for (const Placement &placement : std::as_const(m_placements))
        placement.control->setGeometry(scaledRect(placement.twips, scale));
    m_scale = scale;
}

bool TwipsLayout::captionsFit() const
{
    return std::all_of(m_placements.cbegin(), m_placements.cend(),
                       [](const Placement &placement) { return captionFits(placement.control); });
}
