// SPDX-License-Identifier: GPL-3.0-or-later

// The three-way merge of database texts on random edits of both sides: every
// line that either side added or changed is in the result, and no ancestor
// line that neither side removed is lost. Equal lines are interchangeable, so
// the second is counted: of a line that the ancestor holds n times, the
// window w times and the file f times, the result holds at least
// n - (n - w) - (n - f) (each side's removals, at most).
#include <QHash>

#include "fuzz/fuzz_support.h"
#include "record_store/merge.h"

using namespace Fuzz;

namespace {

// One side's copy of the ancestor: each byte edits the next ancestor line
// (keeps, removes, changes it, or adds a line before it). Lines the side
// made are "<side><n>", and a change marked shared is the same on both
// sides.
QStringList edit(Input &input, const QStringList &ancestor, QChar side)
{
    QStringList lines;
    for (qsizetype k = 0; k < ancestor.size(); ++k) {
        const uint8_t action = input.empty() ? 0 : input.takeByte();
        switch (action % 5) {
        case 0:
            lines << ancestor[k];
            continue;
        case 1:
            break; // removed
        case 2:
            lines << QStringLiteral("%1%2").arg(side).arg(k);
            break;
        case 3:
            lines << QStringLiteral("s%1").arg(k); // the same change on both sides
            break;
        case 4:
            lines << QStringLiteral("%1+%2").arg(side).arg(k) << ancestor[k];
            continue;
        }
    }
    if (!input.empty() && input.takeByte() % 2)
        lines << QStringLiteral("%1-end").arg(side);
    return lines;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    Input input(data, size);
    const int count = input.takeByte() % 40;
    QStringList ancestor;
    for (int k = 0; k < count; ++k)
        ancestor << QStringLiteral("a%1").arg(input.empty() ? 0 : input.takeByte() % 6);
    const QStringList window = edit(input, ancestor, u'w');
    const QStringList file = edit(input, ancestor, u'f');

    const auto textOf = [](const QStringList &lines) {
        return lines.isEmpty() ? QString()
                               : lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n");
    };
    const auto merged =
        RecordStore::Internal::mergeTexts(textOf(ancestor), textOf(window), textOf(file));
    check(merged.has_value(), "the merge failed");
    // The merge made in the file's text gives the same text, which differs
    // from the window's only where it says.
    const QString windowText = textOf(window);
    const auto into =
        RecordStore::Internal::mergeIntoFileText(textOf(ancestor), windowText, textOf(file));
    check(into && into->text == merged->text, "the merge into the file's text differs",
          {merged->text, into ? into->text : QString()});
    if (const std::optional<RecordStore::TextChange> change = into->fromWindow) {
        check(change->from <= change->oldTo && change->oldTo <= windowText.size() &&
                  change->from <= change->newTo && change->newTo <= into->text.size() &&
                  windowText.first(change->from) +
                          into->text.sliced(change->from, change->newTo - change->from) +
                          windowText.sliced(change->oldTo) ==
                      into->text,
              "the merged text differs from the window's beyond the change told", {into->text});
    }
    // Told where around its change the window may differ, the merge gives
    // the same text and says the same of where it differs.
    const QString ancestorText = textOf(ancestor);
    const qsizetype start = RecordStore::sharedStartLength(ancestorText, windowText);
    const qsizetype end = qMin(RecordStore::sharedEndLength(ancestorText, windowText),
                               qMin(ancestorText.size(), windowText.size()) - start);
    const qsizetype from = start - (input.empty() ? 0 : input.takeByte() % (start + 1));
    const qsizetype tail = end - (input.empty() ? 0 : input.takeByte() % (end + 1));
    const auto told = RecordStore::Internal::mergeIntoFileText(
        ancestorText, windowText, textOf(file),
        RecordStore::TextChange{from, ancestorText.size() - tail, windowText.size() - tail});
    const auto sameChange = [](const auto &a, const auto &b) {
        return a.has_value() == b.has_value() &&
               (!a || (a->from == b->from && a->oldTo == b->oldTo && a->newTo == b->newTo));
    };
    check(told && told->text == merged->text && sameChange(told->fromWindow, into->fromWindow),
          "the merge told where the window changed differs", {told ? told->text : QString()});
    // A search's lines merged back into the whole: the whole's other lines
    // stay, the view's stand for the search's, whatever ends the whole's.
    const QString ends[] = {QStringLiteral("\r\n"), QStringLiteral("\n"), QStringLiteral("\u2028")};
    QStringList shown, others;
    QString oddFile;
    for (const QString &line : file) {
        const uint8_t choice = input.empty() ? 0 : input.takeByte();
        (choice % 2 ? shown : others) << line;
        oddFile += line + ends[choice / 2 % 3];
    }
    const QStringList view = edit(input, shown, u'v');
    QHash<QString, int> expected;
    for (const QString &line : others + view)
        ++expected[line];
    oddFile.chop(oddFile.isEmpty() || input.empty() ? 0 : input.takeByte() % 2);
    const auto back =
        RecordStore::Internal::mergeIntoWhole(textOf(shown), textOf(view), textOf(file));
    const auto backOdd =
        RecordStore::Internal::mergeIntoWhole(textOf(shown), textOf(view), oddFile);
    QHash<QString, int> got;
    for (const QStringView line : RecordStore::Internal::linesOf(back ? back->text : QString()))
        ++got[line.toString()];
    check(back && backOdd && back->text == backOdd->text && got == expected,
          "a search's lines merged back differ",
          {back ? back->text : QString(), backOdd ? backOdd->text : QString()});
    QStringList result;
    QHash<QString, int> inResult;
    for (const QStringView line : RecordStore::Internal::linesOf(merged->text)) {
        result << line.toString();
        ++inResult[result.last()];
    }
    check(merged->text.isEmpty() || merged->text.endsWith(QStringLiteral("\r\n")),
          "the merged text does not end in a line end", {merged->text});
    const QStringList details = {QStringLiteral("ancestor %1").arg(ancestor.join(u' ')),
                                 QStringLiteral("window %1").arg(window.join(u' ')),
                                 QStringLiteral("file %1").arg(file.join(u' ')),
                                 QStringLiteral("merged %1").arg(result.join(u' '))};
    for (const QStringList *side : {&window, &file})
        for (const QString &line : *side)
            check(line.startsWith(u'a') || inResult.value(line) > 0,
                  "a line that one side added or changed is missing", details);
    for (const QString &line : ancestor) {
        const qsizetype n = ancestor.count(line);
        const qsizetype removed =
            qMax<qsizetype>(0, n - window.count(line)) + qMax<qsizetype>(0, n - file.count(line));
        check(inResult.value(line) >= n - removed,
              "an ancestor line that neither side removed is missing", details);
    }
    return 0;
}
