// SPDX-License-Identifier: GPL-3.0-or-later

#include "main_window/search_case.h"

#include <QLocale>

QStringList retryUpperCaseForms(const QString &text)
{
    const QLocale locale;
    QString upper;
    QString plain;
    upper.reserve(text.size());
    plain.reserve(text.size());
    for (qsizetype at = 0; at < text.size();) {
        const bool pair = text.at(at).isHighSurrogate() && at + 1 < text.size() &&
                          text.at(at + 1).isLowSurrogate();
        const QString character = text.mid(at, pair ? 2 : 1);
        const QString capital = locale.toUpper(character);
        const QList<uint> capitalCodes = capital.toUcs4();
        const bool kept = capitalCodes.size() != 1 ||
                          QChar::script(capitalCodes[0]) != QChar::script(character.toUcs4()[0]);
        const QString shown = kept ? character : capital;
        const char16_t first = character.at(0).unicode();
        upper += shown;
        plain += first >= u'a' && first <= u'z' ? QChar(first - u'a' + u'A') : shown;
        at += character.size();
    }
    return plain == upper ? QStringList{upper} : QStringList{upper, plain};
}

QString shownRetryForm(const QStringList &forms, const QString &found)
{
    // A form that holds a line end finds nothing, so a form that occurs in
    // the found lines occurs within one of them.
    for (const QString &form : forms) {
        if (found.contains(form))
            return form;
    }
    return forms.value(0);
}

QString linesHolding(const QString &lines, const QString &text)
{
    QString out;
    for (qsizetype from = 0; from < lines.size();) {
        qsizetype end = lines.indexOf(u"\r\n", from);
        if (end < 0)
            end = lines.size();
        const QStringView line = QStringView(lines).sliced(from, end - from);
        if (line.contains(text)) {
            out.append(line);
            out.append(u"\r\n");
        }
        from = end + 2;
    }
    return out;
}
