// SPDX-License-Identifier: GPL-3.0-or-later

// The blank-line collapse on any text: it agrees with a character-by-character
// reference of the single pass and removes nothing but line ends.
#include "fuzz/fuzz_support.h"
#include "record_store/record_store.h"
#include "tests/reference.h"

using namespace Fuzz;

namespace {

QString withoutLineEnds(QString text)
{
    text.remove(u'\r');
    text.remove(u'\n');
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    Input input(data, size);
    const uint8_t mode = input.takeByte();
    const QString text = input.takeText(mode);

    const QString collapsed = RecordStore::CollapseBlankLines(text);
    check(collapsed == referenceCollapse(text), "collapse differs from the reference",
          {QStringLiteral("text %1").arg(shown(text)),
           QStringLiteral("got %1").arg(shown(collapsed)),
           QStringLiteral("expected %1").arg(shown(referenceCollapse(text)))});
    check(collapsed.size() <= text.size() && (text.size() - collapsed.size()) % 2 == 0,
          "collapse changed the length by other than whole CR LF pairs",
          {QStringLiteral("text %1").arg(shown(text))});
    check(withoutLineEnds(collapsed) == withoutLineEnds(text),
          "collapse changed a character that is not a line end",
          {QStringLiteral("text %1").arg(shown(text))});
    check(text.contains(QStringLiteral("\r\n\r\n")) || collapsed == text,
          "collapse changed a text without a blank line",
          {QStringLiteral("text %1").arg(shown(text))});
    return 0;
}
