// SPDX-License-Identifier: GPL-3.0-or-later

// How the sync tools name their copies of a file that two machines changed
// at once: of the database beside the program, and of a machine's log in the
// versions folder.
#include "record_store/file_names.h"

#include <algorithm>

#include <QRegularExpression>

namespace RecordStore::Internal {

namespace {

// One pattern for each way a sync tool names its copy of a file whose name,
// before ".txt", `stem` matches (captured as "stem"). Each captures the date
// (named "date": YYYYMMDD or YYYY-MM-DD) and, where the name holds it, the
// time ("time": HHMMSS) and the number that a second copy of the same moment
// gets ("number").
QList<QRegularExpression> copyPatterns(const QString &stem)
{
    const QString file = QStringLiteral("^(?<stem>") + stem + u')';
    return {
        // Syncthing: the date and time the copy was made and the short id
        // (seven characters of base 32) of the device that made the change.
        // A conflict of such a copy adds a second such part to its name.
        QRegularExpression(
            file + QStringLiteral(R"(\.sync-conflict-(?<date>\d{8})-(?<time>\d{6})-[A-Z2-7]{7})"
                                  R"((?:\.sync-conflict-\d{8}-\d{6}-[A-Z2-7]{7})*\.txt$)")),
        // Nextcloud, and ownCloud from its version 2.5: the file's time, the
        // user's name (without parentheses) when the server keeps the copies.
        QRegularExpression(
            file + QStringLiteral(R"( \(conflicted copy (?:[^()]+ )?(?<date>\d{4}-\d{2}-\d{2}) )"
                                  R"((?<time>\d{6})\)(?: \((?<number>\d+)\))?\.txt$)")),
        // ownCloud before 2.5, with or without a user's name.
        QRegularExpression(file + QStringLiteral(R"(_conflict(?:[-_][^/]+)?-(?<date>\d{8})-)"
                                                 R"((?<time>\d{6})\.txt$)")),
        // Dropbox: the name of the person or computer, the day, and a number
        // for a further copy of that day, inside or after the parentheses.
        QRegularExpression(
            file + QStringLiteral(R"( \((?:.+['’]s )?conflicted copy (?<date>\d{4}-\d{2}-\d{2}))"
                                  R"((?: \((?<number>\d+)\))?\)(?: \((?<number2>\d+)\))?\.txt$)")),
    };
}

// The copies of the database, and of the logs in the versions folder (see
// history.cpp), whose machine's name is hexadecimal.
const QList<QRegularExpression> &conflictCopyPatterns()
{
    static const QList<QRegularExpression> patterns = copyPatterns(kDatabaseStem);
    return patterns;
}

const QList<QRegularExpression> &logCopyPatterns()
{
    static const QList<QRegularExpression> patterns =
        copyPatterns(kLogPrefix + QStringLiteral("[0-9a-f]+"));
    return patterns;
}

// What a copy is sorted by: the moment its name gives (a day alone counts
// from its midnight), then its number, each as fixed-width digits; empty for
// a name that is no conflict copy.
QString sortKeyOf(const QString &name)
{
    for (const QRegularExpression &pattern : conflictCopyPatterns()) {
        const QRegularExpressionMatch match = pattern.match(name);
        if (!match.hasMatch())
            continue;
        QString date = match.captured(u"date");
        date.remove(u'-');
        const QString time = match.captured(u"time");
        const QString number = match.captured(u"number") + match.captured(u"number2");
        return date + (time.isEmpty() ? QStringLiteral("000000") : time) +
               number.rightJustified(9, u'0');
    }
    return QString();
}

} // namespace

QStringList conflictCopiesAmong(const QStringList &names)
{
    QList<std::pair<QString, QString>> found; // sort key, name
    for (const QString &name : names) {
        if (const QString key = sortKeyOf(name); !key.isEmpty())
            found.append({key, name});
    }
    std::sort(found.begin(), found.end());
    QStringList copies;
    for (const auto &[key, name] : found)
        copies.append(name);
    return copies;
}

QString logOfConflictCopy(const QString &name)
{
    for (const QRegularExpression &pattern : logCopyPatterns()) {
        const QRegularExpressionMatch match = pattern.match(name);
        if (match.hasMatch())
            return match.captured(u"stem") + kTextSuffix;
    }
    return QString();
}

} // namespace RecordStore::Internal
