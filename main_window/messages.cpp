// SPDX-License-Identifier: GPL-3.0-or-later

#include "main_window/messages.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>
#include <QTranslator>

using namespace RecordStore;

namespace {

// A text that tells a count, in its form for any count but one (the form tr()
// is given, with %n for the count) and in its form for one.
struct CountedText
{
    const char *many;
    const char *one;
};

constexpr CountedText kFromThere{QT_TRANSLATE_N_NOOP("Form1", "%n records came from there"),
                                 "%n record came from there"};
constexpr CountedText kRemovedThere{QT_TRANSLATE_N_NOOP("Form1", "%n were removed there"),
                                    "%n was removed there"};
constexpr CountedText kFromCopy{QT_TRANSLATE_N_NOOP("Form1", "%1: %n records came from it."),
                                "%1: %n record came from it."};
constexpr CountedText kCopiesMerged{
    QT_TRANSLATE_N_NOOP("Form1",
                        "Merged into the database view the copies that a sync tool left beside "
                        "the database, which hold another machine's changes. Save writes them; "
                        "their content is then kept in stockbook-versions and the copies are "
                        "removed.\n\n"),
    "Merged into the database view the copy that a sync tool left beside the database, which "
    "holds another machine's changes. Save writes it; its content is then kept in "
    "stockbook-versions and the copy is removed.\n\n"};
constexpr CountedText kCopiesWritten{
    QT_TRANSLATE_N_NOOP("Form1",
                        "Merged into what was written the copies that a sync tool left beside "
                        "the database, which hold another machine's changes; their content is "
                        "kept in stockbook-versions and the copies were removed.\n\n"),
    "Merged into what was written the copy that a sync tool left beside the database, which "
    "holds another machine's changes; its content is kept in stockbook-versions and the copy "
    "was removed.\n\n"};
constexpr CountedText kCountedTexts[] = {kFromThere, kRemovedThere, kFromCopy, kCopiesMerged,
                                         kCopiesWritten};

// The plural forms of the texts' own language, English. Qt takes the form for
// a count from a translation; without one every count would read as many ("1
// records"). A translation of the user's language, installed after this one,
// is asked first.
class EnglishPluralForms final : public QTranslator
{
public:
    using QTranslator::QTranslator;

    bool isEmpty() const override
    {
        return false;
    }

    QString translate(const char *context, const char *sourceText, const char *disambiguation,
                      int n) const override
    {
        if (n != 1 || disambiguation || qstrcmp(context, "Form1") != 0)
            return QString();
        for (const CountedText &text : kCountedTexts) {
            if (qstrcmp(sourceText, text.many) == 0)
                return QString::fromUtf8(text.one);
        }
        return QString();
    }
};

void installEnglishPluralForms()
{
    QCoreApplication::installTranslator(new EnglishPluralForms(QCoreApplication::instance()));
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(installEnglishPluralForms)

namespace {

// The database's path as the system writes paths.
QString databasePathText(const QString &programDirectory)
{
    return QDir::toNativeSeparators(DatabaseFilePath(programDirectory));
}

} // namespace

QString Messages::applicationTitle()
{
    return tr("Stockbook");
}

QString Messages::databaseSaved(const QString &programDirectory)
{
    return tr("Database saved in ") + databasePathText(programDirectory);
}

// A program folder that is gone or cannot be written to is named as such: the
// system's reason would only say "No such file or directory" or "Permission
// denied".
QString Messages::saveFailed(const QString &programDirectory, const QString &reason)
{
    const QString folder = QDir::toNativeSeparators(programDirectory);
    if (!QFileInfo(programDirectory).isDir())
        return tr("Could not save the database: the folder %1 no longer exists. It was moved or "
                  "deleted after Stockbook started.\n\nNothing was written, and your changes are "
                  "still in the window. Put the folder back and try again.")
            .arg(folder);
    if (!QFileInfo(programDirectory).isWritable())
        return tr("Could not save the database: the folder %1 is not writable.\n\nThe file was "
                  "left as it was, and your changes are still in the window. Make the folder "
                  "writable and try again.")
            .arg(folder);
    return tr("Could not save the database to %1:\n%2\n\nThe file was left as it was, and your "
              "changes are still in the window.")
        .arg(databasePathText(programDirectory), reason);
}

QString Messages::recordNotFound(bool inView, const QString &record)
{
    const QString where =
        inView ? tr("the database view")
               : tr("the database as this window holds it (the file with the window's unsaved "
                    "changes)");
    return tr("The record you picked is no longer in %1:\n\n%2\n\nIt was changed or removed "
              "there since you picked it, so nothing was updated. The fields keep your entry; "
              "pick the record again to update it.")
        .arg(where, record);
}

QString Messages::searchFailed(const QString &programDirectory, const QString &reason)
{
    return tr("Could not read the database %1 to search it:\n%2")
        .arg(databasePathText(programDirectory), reason);
}

QString Messages::fieldProblem(const FieldProblem &problem, const RecordFields &fields,
                               const QStringList &captions)
{
    if (problem.kind == FieldProblem::TooLong)
        return tr("The fields \"%1\", \"%2\" and \"%3\" hold %4 characters together. They may "
                  "hold at most %5 together, or the record could not be picked back from the "
                  "view.\n\nShorten them and try again; nothing was changed.")
            .arg(captions.value(0), captions.value(1), captions.value(2))
            .arg(fields.box.size() + fields.item.size() + fields.count.size())
            .arg(kPickableFieldsLength);
    return tr("The field \"%1\" holds %2, which would break the record line.\n\nRemove it and "
              "try again; nothing was changed.")
        .arg(captions.value(int(problem.field)), problem.reason);
}

QString Messages::pasteRefused(const QString &caption)
{
    return tr("The text pasted into \"%1\" holds more than one line, and the field holds one "
              "line of a record, so it was not taken.\n\nCopy one line, or one cell, at a time.")
        .arg(caption);
}

QString Messages::searchPasteRefused(const QString &caption)
{
    return tr("The text pasted into the search field \"%1\" holds more than one line. The search "
              "shows the lines of the database that contain its text, and no line holds a line "
              "break, so it was not taken.\n\nCopy one line at a time.")
        .arg(caption);
}

namespace {

// The records a merge kept in two versions or kept changed.
QString mergedRecordsText(const MergeReport &merge)
{
    QString text;
    if (merge.withoutAncestor)
        text += Messages::tr(" No earlier version that both sides come from is known, so every "
                             "record of both was kept. These records were on one side only:\n") +
                merge.onOneSideOnly.join(u'\n');
    if (merge.olderAncestor)
        text += Messages::tr(" The nearest earlier version that both sides come from is no "
                             "longer kept, so an older one was used: a record changed or removed "
                             "on one side since then may be back.");
    if (!merge.inTwoVersions.isEmpty())
        text += Messages::tr("\n\nThese records were changed both here and there, so both "
                             "versions are kept (this window's first):\n") +
                merge.inTwoVersions.join(u'\n');
    if (!merge.changedAndRemoved.isEmpty())
        text += Messages::tr("\n\nThese records were changed in one place and removed in the "
                             "other, so the changed record is kept:\n") +
                merge.changedAndRemoved.join(u'\n');
    return text;
}

} // namespace

QString Messages::merged(const QString &programDirectory, const MergeReport &merge)
{
    return tr("The database %1 had been changed by another program since Stockbook last read "
              "it. Its changes were merged with yours: %2 and %3.")
               .arg(databasePathText(programDirectory),
                    tr(kFromThere.many, nullptr, merge.fromFile),
                    tr(kRemovedThere.many, nullptr, merge.removedInFile)) +
           mergedRecordsText(merge);
}

QString Messages::copiesMerged(const QList<CopyReport> &copies, bool written)
{
    QStringList told;
    for (const CopyReport &copy : copies) {
        if (!copy.read.ok())
            continue;
        told << tr(kFromCopy.many, nullptr, copy.merge.fromFile).arg(copy.name) +
                    mergedRecordsText(copy.merge);
        if (!copy.unfinishedLine.isEmpty())
            told.last() += tr("\n\nIts last line was cut short (it has no line end) and was "
                              "left out:\n") +
                           copy.unfinishedLine;
    }
    if (told.isEmpty())
        return QString();
    return tr(written ? kCopiesWritten.many : kCopiesMerged.many, nullptr, int(told.size())) +
           told.join(QStringLiteral("\n\n"));
}

QString Messages::copyUnreadable(const CopyReport &copy)
{
    return tr("Could not read %1, a copy of the database that a sync tool left beside it:\n%2\n\n"
              "It was left as it is.")
        .arg(copy.name, copy.read.reason);
}

QString Messages::writingRefused(const QString &programDirectory, const QString &reason)
{
    return tr("The database %1 could not be read when Stockbook started (%2), so it is not "
              "written over.\n\nMake the file readable and start Stockbook again.")
        .arg(databasePathText(programDirectory), reason);
}

QString Messages::unreadableDatabase(const QString &programDirectory, const QString &reason)
{
    if (programDirectory.isEmpty())
        return tr("Stockbook cannot tell which folder it was started from: the folder's name is "
                  "not valid UTF-8 text.\n\nThe database, stockbook.txt, lies beside the program, "
                  "so in this run nothing is read or saved. Move Stockbook to a folder whose name "
                  "is valid UTF-8 text and start it again.");
    return tr("Could not read the database %1:\n%2\n\nThe view stays empty, and Save and Update "
              "will not write over the file. Quit, make the file readable (or move it out of the "
              "folder) and start Stockbook again.")
        .arg(databasePathText(programDirectory), reason);
}
