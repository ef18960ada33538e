// SPDX-License-Identifier: GPL-3.0-or-later

// The window's layout in twips: every control's place in its container, and
// the one factor by which the layout grows with the desktop's font and shrinks
// to the screen.
#pragma once

#include <QList>
#include <QRect>

class QWidget;

class TwipsLayout
{
public:
    // The window whose controls are placed, and its client area in twips.
    void setWindow(QWidget *window, const QRect &clientArea);
    // Places the control at `twips` (left, top, width, height) in its container.
    void place(QWidget *control, const QRect &twips);
    // Scales the layout to the desktop's font, as far as the screen allows,
    // where the screen is too small also sets the window's font smaller, and
    // fixes the window's size; with no control placed yet, nothing.
    void fitToFont();
    // Whether the window's font is the layout's, smaller than the desktop's.
    bool setsFont() const;
    // Pixels per fifteen twips: 1 where the desktop's font fits the layout as
    // drawn, more where the captions need more room, less where a high-DPI
    // screen is too small for the table.
    qreal scale() const;

private:
    qreal captionScale();
    qreal screenScale() const;
    void shrinkFont();
    void applyScale(qreal scale);
    bool captionsFit() const;

    struct Placement
    {
        QWidget *control;
        QRect twips;
    };
    QWidget *m_window = nullptr;
    QRect m_clientArea;
    QList<Placement> m_placements;
    qreal m_scale = 1;
    bool m_setsFont = false;
    bool m_fitting = false;
};
