// SPDX-License-Identifier: GPL-3.0-or-later

// The layout's scaling: twips in pixels at the layout's factor, the room each
// caption needs and gets, the search for the smallest factor at which every
// caption fits, the largest at which the window fits the screen, and the
// smaller font where the screen allows less than the captions need.
#include "main_window/twips_layout.h"

#include <algorithm>
#include <cmath>
#include <utility>

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

// The most pixels of the program's along an edge of `logical` pixels of the
// screen at the pixel ratio `ratio` that a window can take without running
// past the screen's own pixels. Qt gives the screen's size in its own pixels
// divided by the ratio and rounded, and a window's as its size times the ratio
// rounded; so the screen is taken to have the fewest own pixels that give its
// size.
int fittingPixels(int logical, qreal ratio)
{
    const int own = int(std::ceil((logical - 0.5) * ratio - 1e-9));
    int fitting = int(own / ratio);
    while (qRound((fitting + 1) * ratio) <= own)
        ++fitting;
    return fitting;
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
    // Setting the window's font calls this again, through its FontChange.
    if (m_placements.isEmpty() || m_fitting)
        return;
    m_fitting = true;
    if (std::exchange(m_setsFont, false))
        m_window->setFont(QFont());
    // The layout grows with the desktop's font as far as the captions need
    // and the screen allows; where the screen stops it first, the window's
    // text is set smaller until every caption fits.
    const qreal scale = std::min(captionScale(), screenScale());
    applyScale(scale);
    if (!captionsFit())
        shrinkFont();
    m_window->setFixedSize(scaledRect(m_clientArea, scale).size());
    m_fitting = false;
}

bool TwipsLayout::setsFont() const
{
    return m_setsFont;
}

qreal TwipsLayout::captionScale()
{
    // No control sets a font: each uses the desktop's default for its kind.
    // The layout grows with it instead, by the smallest scale from 1 up at
    // which every caption fits, found by halving the step between a scale
    // that is too small and one that is enough.
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
    return enough;
}

qreal TwipsLayout::screenScale() const
{
    // The largest scale at which the window, in the screen's own pixels, lies
    // within the screen's available area; never below the table's size in
    // those pixels, which count the desktop's scale factor and the font's DPI,
    // both taken by Qt into the pixel ratio.
    const QScreen *screen = m_window->screen();
    const qreal ratio = screen->devicePixelRatio();
    const QSize room = screen->availableGeometry().size();
    return std::max(1 / ratio,
                    std::min(fittingPixels(room.width(), ratio) * 15.0 / m_clientArea.width(),
                             fittingPixels(room.height(), ratio) * 15.0 / m_clientArea.height()));
}

void TwipsLayout::shrinkFont()
{
    // The largest fraction of the desktop's font at which every caption fits
    // at the layout's scale, by halving as above. Only the size is set, so
    // each control keeps its kind's font.
    const QFont desktop = m_window->font();
    const auto useFraction = [&](qreal fraction) {
        QFont font;
        if (desktop.pointSizeF() > 0)
            font.setPointSizeF(desktop.pointSizeF() * fraction);
        else
            font.setPixelSize(std::max(1, qRound(desktop.pixelSize() * fraction)));
        m_window->setFont(font);
        return captionsFit();
    };
    m_setsFont = true;
    qreal tooLarge = 1;
    qreal fits = 0.5;
    while (!useFraction(fits) && fits > 1 / kLargestScale) {
        tooLarge = fits;
        fits /= 2;
    }
    for (int step = 0; step < 12; ++step) {
        const qreal middle = (tooLarge + fits) / 2;
        if (useFraction(middle))
            fits = middle;
        else
            tooLarge = middle;
    }
    useFraction(fits);
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
