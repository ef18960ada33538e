// SPDX-License-Identifier: GPL-3.0-or-later

// Composing and picking: for any four field texts that the format check
// accepts, a click anywhere in the composed line gives the four texts back,
// whatever record lines or free text stand before and after it.
#include "fuzz/fuzz_support.h"
#include "record_store/record_store.h"
#include "tests/reference.h"

using namespace Fuzz;

namespace {

// Beyond 32,767 the pick's 16-bit positions fail by design; the box, item and
// count together stay well below that.
constexpr qsizetype kMaxFieldLength = 10000;

const QString kNeighbours[] = {
    QString(),
    QStringLiteral("[Box]: A1 [Item]: 10k [Nr]: 25 [Type]: Resistor\r\n"),
    QStringLiteral("x\r\n"),
    QStringLiteral("[Box]: C [Item]: R1 [Nr]: 1 [Type]: IC\r\n"),
    QStringLiteral("\r\n\r\n"),
    QStringLiteral("free text [Box]: without the rest\r\n"),
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    Input input(data, size);
    const uint8_t mode = input.takeByte();
    const uint8_t neighbours = input.takeByte();
    QStringList fields;
    for (int k = 0; k < 4; ++k)
        fields << input.takeText(mode).left(kMaxFieldLength);
    if (RecordStore::findFieldProblem({fields[0], fields[1], fields[2], fields[3]}))
        return 0;
    for (const QString &field : fields) {
        for (const char *bad : {"\r", "\n", "[Box]:", "[Item]:", "[Nr]:", "[Type]:"})
            check(!field.contains(QLatin1String(bad)), "the format check let a breaking text pass",
                  {shown(field)});
    }

    const QString line = RecordStore::ComposeRecordLine(fields[0], fields[1], fields[2], fields[3]);
    const QString before = kNeighbours[(neighbours & 0x0F) % std::size(kNeighbours)];
    const QString after = kNeighbours[(neighbours >> 4) % std::size(kNeighbours)];
    const QString text = before + line + after;

    // Every caret in the line, up to the one between its CR and LF; in a long
    // line, about a hundred spread over it and those next to its ends.
    const qsizetype first = before.size();
    const qsizetype last = before.size() + line.size() - 1;
    const qsizetype stride = line.size() <= 400 ? 1 : line.size() / 97;
    for (qsizetype caret = first; caret <= last; caret += stride) {
        const QStringList picked = pickedTexts(RecordStore::PickRecordFields(text, caret));
        check(picked == fields, "picking the composed line did not give its fields back",
              {QStringLiteral("text %1").arg(shown(text)), QStringLiteral("caret %1").arg(caret),
               QStringLiteral("got %1").arg(shown(picked.join(u'|'))),
               QStringLiteral("fields %1").arg(shown(fields.join(u'|')))});
    }
    for (qsizetype caret : {first, first + 1, first + 50, first + 51, first + 52, last - 1, last}) {
        if (caret < first || caret > last)
            continue;
        check(pickedTexts(RecordStore::PickRecordFields(text, caret)) == fields,
              "picking the composed line did not give its fields back",
              {QStringLiteral("text %1").arg(shown(text)), QStringLiteral("caret %1").arg(caret)});
    }
    return 0;
}
