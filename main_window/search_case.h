// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QString>

// The search text for the search's upper-case retry: each character as the
// user's locale upper-cases it ("i" becomes "İ" in Turkish), where that gives
// one character of the same script. A character whose capital is a letter of
// another script (µ, whose capital is the Greek Mu) or more than one character
// (ß, whose capital is SS) stays as it is.
QString retryUpperCase(const QString &text);
