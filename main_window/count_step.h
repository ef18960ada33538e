// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <optional>

#include <QString>

// "+" and "-" on the count field. The count steps only when it is numeric in
// the user's locale, by the value that locale reads in it ("1,000" is a
// thousand in English, "2,5" two and a half in German, with the group
// separators people type: "1'000" in Swiss German, "1 000" with a no-break
// space in French, where the locale's own are U+2019 and U+202F); the result
// is written as the locale writes numbers, without group separators. "-"
// never steps a count of 0 or below. Returns the new text, or nothing when
// the count stays as it is.
std::optional<QString> steppedCount(const QString &count, int step);
