// SPDX-License-Identifier: GPL-3.0-or-later

// The record pick on any text and caret offset: it never crashes, agrees with a
// step-by-step reference of the pick, and reads only the caret's line, so that
// picking in that line alone gives the same fields.
#include "fuzz/fuzz_support.h"
#include "record_store/record_store.h"
#include "tests/reference.h"

using namespace Fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    Input input(data, size);
    const uint8_t mode = input.takeByte();
    const uint64_t caretChoice = input.takeNumber(3);
    const QString text = input.takeText(mode);
    // From -1 to one past the end, so that offsets out of range are tried too.
    const qsizetype caret = qsizetype(caretChoice % uint64_t(text.size() + 3)) - 1;

    const RecordStore::PickedRecord picked = RecordStore::PickRecordFields(text, caret);
    const QStringList fields = pickedTexts(picked);
    const QStringList expected = referencePick(text, caret);
    check(fields == expected, "pick differs from the reference",
          {QStringLiteral("text %1").arg(shown(text)), QStringLiteral("caret %1").arg(caret),
           QStringLiteral("got %1 fields: %2").arg(fields.size()).arg(shown(fields.join(u'|'))),
           QStringLiteral("expected %1 fields: %2")
               .arg(expected.size())
               .arg(shown(expected.join(u'|')))});
    if (caret < 0 || caret > text.size())
        return 0;

    // The caret's line: after the last CR LF wholly before the caret, up to and
    // including the CR LF found from the character before the caret.
    const qsizetype lineStart =
        caret >= 2 ? text.lastIndexOf(QStringLiteral("\r\n"), caret - 2) : -1;
    const qsizetype start = lineStart >= 0 ? lineStart + 2 : 0;
    const qsizetype end = text.indexOf(QStringLiteral("\r\n"), caret > 0 ? caret - 1 : 0);
    const QString line = end >= 0 ? text.mid(start, end + 2 - start) : text.mid(start);
    check(RecordStore::PickRecordFields(line, caret - start) == picked,
          "the pick reads more than the caret's line",
          {QStringLiteral("text %1").arg(shown(text)), QStringLiteral("caret %1").arg(caret),
           QStringLiteral("line %1").arg(shown(line))});
    return 0;
}
