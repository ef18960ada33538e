// SPDX-License-Identifier: GPL-3.0-or-later

#include "main_window/count_step.h"

#include <cmath>

#include <QLocale>

namespace {

bool isNumeric(const QString &text)
{
    bool ok = false;
    const double value = QLocale().toDouble(text.trimmed(), &ok);
    return ok && std::isfinite(value);
}

// The number at the start of the text: blanks skipped, an optional sign,
// digits with "." as the decimal separator, an optional exponent; reading stops
// at the first character that cannot continue the number. No number is 0.
double leadingNumber(const QString &text)
{
    qsizetype pos = 0;
    const qsizetype size = text.size();
    auto isDigit = [&](qsizetype at) {
        return at < size && text.at(at).isDigit() && text.at(at).unicode() < 128;
    };
    while (pos < size && (text.at(pos) == u' ' || text.at(pos) == u'\t'))
        ++pos;
    const qsizetype start = pos;
    if (pos < size && (text.at(pos) == u'+' || text.at(pos) == u'-'))
        ++pos;
    const qsizetype digitsStart = pos;
    while (isDigit(pos))
        ++pos;
    if (pos < size && text.at(pos) == u'.') {
        ++pos;
        while (isDigit(pos))
            ++pos;
    }
    if (pos - digitsStart == 0 || (pos - digitsStart == 1 && text.at(digitsStart) == u'.'))
        return 0;
    qsizetype end = pos;
    if (pos < size && (text.at(pos) == u'e' || text.at(pos) == u'E')) {
        qsizetype exponent = pos + 1;
        if (exponent < size && (text.at(exponent) == u'+' || text.at(exponent) == u'-'))
            ++exponent;
        if (isDigit(exponent)) {
            while (isDigit(exponent))
                ++exponent;
            end = exponent;
        }
    }
    return QLocale::c().toDouble(QStringView(text).mid(start, end - start));
}

QString numberText(double value)
{
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale.toString(value, 'g', 15);
}

} // namespace

std::optional<QString> steppedCount(const QString &count, int step)
{
    if (count.isEmpty() || !isNumeric(count))
        return std::nullopt;
    const double value = leadingNumber(count);
    if (step < 0 && !(value > 0))
        return std::nullopt;
    return numberText(value + step);
}
