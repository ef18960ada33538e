// SPDX-License-Identifier: GPL-3.0-or-later

// The file reader on any bytes, and the search filter on the result: decoding
// agrees with a plain reference decoder (UTF-16 after its mark, else line by
// line UTF-8 or Windows-1252 from a table of its own), the lines are those of a
// plain scan of that text (CR LF, CR, LF and the other line end characters
// each end a line), loading collapses exactly those lines, and the filter
// returns what a line-by-line scan of them returns, for the search text and
// for its upper-case form.
#include <QFile>
#include <QTemporaryDir>

#include "fuzz/fuzz_support.h"
#include "record_store/decoding.h"
#include "tests/reference.h"

using namespace Fuzz;

namespace {

const QString &programDirectory()
{
    static QTemporaryDir directory;
    if (!directory.isValid())
        fail("cannot create a temporary directory");
    return *new QString(directory.path());
}

QString lineByLine(const QStringList &lines, const QString &searchText)
{
    QString out;
    for (const QString &line : lines) {
        if (!line.isEmpty() && line.contains(searchText))
            out += line + QStringLiteral("\r\n");
    }
    return out;
}

void checkFilter(const QString &directory, const QStringList &lines, const QString &searchText,
                 const QByteArray &bytes)
{
    const auto found = RecordStore::FilterDatabaseLines(directory, searchText);
    check(found.ok(), "filter failed on a readable file", {found.reason});
    const QString expected = lineByLine(lines, searchText);
    check(found.value == expected, "filter differs from a line-by-line scan",
          {QStringLiteral("bytes %1").arg(shown(QString::fromLatin1(bytes))),
           QStringLiteral("search %1").arg(shown(searchText)),
           QStringLiteral("got %1").arg(shown(found.value)),
           QStringLiteral("expected %1").arg(shown(expected))});
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    static const QString &directory = programDirectory();
    Input input(data, size);
    const uint8_t mode = input.takeByte();
    const QString searchText = input.takeText(mode);
    const QByteArray bytes = input.takeRest();

    // The decoding against a plain decoder with a code page table of its own.
    const QString decoded = RecordStore::Internal::decodeDatabaseBytes(bytes);
    const QString expected = referenceDecode(bytes);
    check(decoded == expected, "bytes decoded differently from the reference",
          {QStringLiteral("bytes %1").arg(shown(QString::fromLatin1(bytes))),
           QStringLiteral("got %1").arg(shown(decoded)),
           QStringLiteral("expected %1").arg(shown(expected))});

    {
        QFile file(RecordStore::DatabaseFilePath(directory));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            file.write(bytes) != bytes.size())
            fail("cannot write the database file");
    }

    const auto read = RecordStore::ReadDatabaseLines(directory);
    check(read.ok(), "reading a readable file failed", {read.reason});
    const QStringList lines = referenceLines(expected);
    check(read.value == lines, "lines differ from a plain scan",
          {QStringLiteral("bytes %1").arg(shown(QString::fromLatin1(bytes))),
           QStringLiteral("got %1").arg(shown(read.value.join(u'|'))),
           QStringLiteral("expected %1").arg(shown(lines.join(u'|')))});

    const auto loaded = RecordStore::LoadDatabaseFile(directory);
    check(loaded.ok(), "loading a readable file failed", {loaded.reason});
    QString joined;
    for (const QString &line : lines)
        joined += line + QStringLiteral("\r\n");
    check(loaded.value.text == referenceCollapse(joined),
          "load differs from lines, CR LF, collapse",
          {QStringLiteral("bytes %1").arg(shown(QString::fromLatin1(bytes))),
           QStringLiteral("got %1").arg(shown(loaded.value.text))});

    checkFilter(directory, lines, searchText, bytes);
    checkFilter(directory, lines, searchText.toUpper(), bytes);
    return 0;
}
