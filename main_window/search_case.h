// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QString>
#include <QStringList>

// The search texts of the search's upper-case retry: first each character as
// the user's locale upper-cases it ("i" becomes "İ" in Turkish), where that
// gives one character of the same script; then, where it differs, the same
// with the letters a to z as A to Z ("i" becomes "I"), so that part numbers
// written in Latin capitals are found under every locale. A character whose
// capital is a letter of another script (µ, whose capital is the Greek Mu) or
// more than one character (ß, whose capital is SS) stays as it is.
QStringList retryUpperCaseForms(const QString &text);

// The form the search field shows after the retry found `found`: the first of
// `forms` that found lines, else the first.
QString shownRetryForm(const QStringList &forms, const QString &found);

// The lines of `lines`, each ended by CR LF, that hold `text`.
QString linesHolding(const QString &lines, const QString &text);
