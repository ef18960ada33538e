// SPDX-License-Identifier: GPL-3.0-or-later

// The record line: composing it from the four field texts, the check of the
// field texts that keeps a composed line readable, the characters that end a
// line, and the pick, which takes the record line under the caret apart.
#include <algorithm>
#include <iterator>
#include <utility>

#include "record_store/internal.h"

namespace RecordStore {

namespace {

constexpr QStringView kFieldLabels[] = {u"[Box]:", u"[Item]:", u"[Nr]:", u"[Type]:"};
constexpr qsizetype kInt16Max = 32767;

// The characters of `text` from 1-based position `position`, at most `count`
// of them; the caller has checked position >= 1 and count >= 0.
QString substring(QStringView text, qsizetype position, qsizetype count)
{
    if (position > text.size())
        return QString();
    return text.mid(position - 1, qMin(count, text.size() - position + 1)).toString();
}

// 1-based position of `needle` in `text` at or after 1-based `from`, 0 if none.
qsizetype find(QStringView text, QStringView needle, qsizetype from)
{
    if (from > text.size())
        return 0;
    return text.indexOf(needle, from - 1) + 1;
}

} // namespace

bool isLineEndCharacter(QChar c)
{
    const char16_t u = c.unicode();
    return u == u'\r' || u == u'\n' || u == 0x2028 || u == 0x2029 || u == 0xFDD0 || u == 0xFDD1;
}

QString ComposeRecordLine(const QString &box, const QString &item, const QString &count,
                          const QString &type)
{
    return QStringLiteral("[Box]: ") + box + QStringLiteral(" [Item]: ") + item +
           QStringLiteral(" [Nr]: ") + count + QStringLiteral(" [Type]: ") + type +
           QStringLiteral("\r\n");
}

std::optional<FieldProblem> findFieldProblem(const RecordFields &fields)
{
    const std::pair<Field, const QString *> texts[] = {{Field::Box, &fields.box},
                                                       {Field::Item, &fields.item},
                                                       {Field::Count, &fields.count},
                                                       {Field::Type, &fields.type}};
    for (const auto &[field, text] : texts) {
        if (std::any_of(text->cbegin(), text->cend(), isLineEndCharacter))
            return FieldProblem{field, FieldProblem::LineBreak, Texts::tr("a line break")};
        for (QStringView label : kFieldLabels) {
            if (text->contains(label))
                return FieldProblem{field, FieldProblem::FieldLabel,
                                    Texts::tr("the field label \"%1\"").arg(label)};
        }
    }
    if (fields.box.size() + fields.item.size() + fields.count.size() <= kPickableFieldsLength)
        return std::nullopt;
    const auto longest = std::max_element(
        std::begin(texts), std::begin(texts) + 3,
        [](const auto &a, const auto &b) { return a.second->size() < b.second->size(); });
    return FieldProblem{longest->first, FieldProblem::TooLong,
                        Texts::tr("%1 characters").arg(longest->second->size())};
}

PickedRecord PickRecordFields(QStringView databaseText, qsizetype caretOffset)
{
    PickedRecord picked;
    const qsizetype c = caretOffset;
    if (c < 0 || c > databaseText.size())
        return picked;
    // The caret's line: from the character after the CR LF that ends the line
    // before it, up to the CR LF found from the character before the caret.
    const qsizetype e = find(databaseText, Internal::kCrLf, qMax<qsizetype>(c, 1));
    const qsizetype lineEndBefore = c >= 2 ? databaseText.lastIndexOf(Internal::kCrLf, c - 2) : -1;
    const qsizetype w = lineEndBefore >= 0 ? lineEndBefore + 3 : 1;
    const qsizetype b = find(databaseText, u"[Box]:", w);
    if (e == 0 || b == 0 || b > e)
        return picked;
    const QStringView rec = databaseText.mid(b - 1, e - b);
    RecordFields &fields = picked.fields;

    // Positions inside the record are 1-based; the item and type label
    // positions, and the sums formed from them, must fit in 16 bits.
    const qsizetype i = find(rec, u" [Item]:", 1);
    if (i > kInt16Max || i - 8 < 0)
        return picked;
    fields.box = substring(rec, 8, i - 8);
    picked.completed = 1;

    const qsizetype n = find(rec, u"[Nr]:", i);
    if (i + 10 > kInt16Max || n - (i + 10) < 0)
        return picked;
    fields.item = substring(rec, i + 9, n - (i + 10));
    picked.completed = 2;

    const qsizetype t = find(rec, u"[Type]:", n);
    if (t > kInt16Max || t - (n + 7) < 0)
        return picked;
    fields.count = substring(rec, n + 6, t - (n + 7));
    picked.completed = 3;

    const qsizetype length = rec.size();
    if (t + 8 > kInt16Max || length - (t + 7) < 0)
        return picked;
    fields.type = substring(rec, t + 8, length - (t + 7));
    picked.completed = 4;
    return picked;
}

} // namespace RecordStore
