// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <optional>

#include <QString>

// "+" and "-" on the count field. The count steps only when it is numeric in
// the user's locale; the value stepped is the number at the start of the text
// read with "." as the decimal separator. "-" never steps a count of 0 or
// below. Returns the new text, or nothing when the count stays as it is.
std::optional<QString> steppedCount(const QString &count, int step);
