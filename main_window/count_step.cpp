// SPDX-License-Identifier: GPL-3.0-or-later

#include "main_window/count_step.h"

#include <cmath>

#include <QLocale>

namespace {

// The count with the group separators people type for the locale's own: the
// apostrophe for the typographic one (Swiss 1'000), the no-break space for the
// narrow one or a plain space (French 1 000).
QString asLocaleWrites(QString text, const QLocale &locale)
{
    const QString group = locale.groupSeparator();
    if (group == QStringView(u"\u2019"))
        text.replace(u'\'', group);
    else if (group == QStringView(u"\u202f") || group == QStringView(u" "))
        text.replace(QChar(0xa0), group);
    return text;
}

// The count's value as the user's locale reads it (its decimal and group
// separators, an exponent, blanks before and after); nothing when the locale
// reads no finite number.
std::optional<double> countValue(const QString &text)
{
    const QLocale locale;
    bool ok = false;
    const double value = locale.toDouble(asLocaleWrites(text.trimmed(), locale), &ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

// The value as the user's locale writes numbers, without group separators.
QString numberText(double value)
{
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale.toString(value, 'g', 15);
}

} // namespace

std::optional<QString> steppedCount(const QString &count, int step)
{
    const std::optional<double> value = countValue(count);
    if (!value || (step < 0 && !(*value > 0)))
        return std::nullopt;
    return numberText(*value + step);
}
