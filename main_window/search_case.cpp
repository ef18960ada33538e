// SPDX-License-Identifier: GPL-3.0-or-later

#include "main_window/search_case.h"

#include <QLocale>

QString retryUpperCase(const QString &text)
{
    const QLocale locale;
    QString upper;
    upper.reserve(text.size());
    for (qsizetype at = 0; at < text.size();) {
        const bool pair = text.at(at).isHighSurrogate() && at + 1 < text.size() &&
                          text.at(at + 1).isLowSurrogate();
        const QString character = text.mid(at, pair ? 2 : 1);
        const QString capital = locale.toUpper(character);
        const QList<uint> capitalCodes = capital.toUcs4();
        const bool kept = capitalCodes.size() != 1 ||
                          QChar::script(capitalCodes[0]) != QChar::script(character.toUcs4()[0]);
        upper += kept ? character : capital;
        at += character.size();
    }
    return upper;
}
