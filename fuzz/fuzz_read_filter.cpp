// The file reader on any bytes, and the search filter on the result: decoding
// keeps every byte as one character unless the bytes are UTF-8, the lines are
// those of a plain scan (CR LF, CR and LF each end a line), loading collapses
// exactly those lines, and the filter returns what a line-by-line scan of them
// returns, for the search text and for its upper-case form.
#include <optional>

#include <QFile>
#include <QTemporaryDir>

#include "fuzz/fuzz_support.h"
#include "record_store/record_store.h"
#include "tests/reference_lines.h"

using namespace Fuzz;

namespace {

const QString &programDirectory()
{
    static QTemporaryDir directory;
    if (!directory.isValid())
        fail("cannot create a temporary directory");
    return *new QString(directory.path());
}

// Decodes strict UTF-8 (no overlong forms, no surrogates, nothing beyond
// U+10FFFF), keeping every character; nothing when the bytes are not UTF-8.
std::optional<QString> strictUtf8(const QByteArray &bytes)
{
    QString text;
    qsizetype k = 0;
    while (k < bytes.size()) {
        const uchar lead = uchar(bytes[k]);
        int more = 0;
        char32_t code = 0;
        if (lead < 0x80) {
            text += QChar(lead);
            ++k;
            continue;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            more = 1;
            code = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            more = 2;
            code = lead & 0x0F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            more = 3;
            code = lead & 0x07;
        } else {
            return std::nullopt;
        }
        if (k + more >= bytes.size())
            return std::nullopt;
        for (int m = 1; m <= more; ++m) {
            const uchar next = uchar(bytes[k + m]);
            if ((next & 0xC0) != 0x80)
                return std::nullopt;
            code = (code << 6) | (next & 0x3F);
        }
        const char32_t smallest[] = {0, 0x80, 0x800, 0x10000};
        if (code < smallest[more] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return std::nullopt;
        if (code < 0x10000) {
            text += QChar(char16_t(code));
        } else {
            text += QChar(QChar::highSurrogate(code));
            text += QChar(QChar::lowSurrogate(code));
        }
        k += more + 1;
    }
    return text;
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
    const RecordStore::TextResult found = RecordStore::FilterDatabaseLines(directory, searchText);
    check(found.ok, "filter failed on a readable file", {found.error});
    const QString expected = lineByLine(lines, searchText);
    check(found.text == expected, "filter differs from a line-by-line scan",
          {QStringLiteral("bytes %1").arg(shown(QString::fromLatin1(bytes))),
           QStringLiteral("search %1").arg(shown(searchText)),
           QStringLiteral("got %1").arg(shown(found.text)),
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

    const QString decoded = RecordStore::decodeDatabaseBytes(bytes);
    // A leading byte-order mark is dropped; every other character stays, a
    // second U+FEFF included.
    const QByteArray body = bytes.startsWith("\xEF\xBB\xBF") ? bytes.mid(3) : bytes;
    if (const std::optional<QString> utf8 = strictUtf8(body)) {
        check(decoded == *utf8, "UTF-8 bytes decoded differently",
              {QStringLiteral("bytes %1").arg(shown(QString::fromLatin1(bytes))),
               QStringLiteral("got %1").arg(shown(decoded)),
               QStringLiteral("expected %1").arg(shown(*utf8))});
    } else {
        check(decoded.size() == bytes.size(), "a byte did not become exactly one character",
              {QStringLiteral("bytes %1").arg(shown(QString::fromLatin1(bytes)))});
        for (qsizetype k = 0; k < bytes.size(); ++k) {
            const uchar byte = uchar(bytes[k]);
            const char16_t c = decoded[k].unicode();
            const bool undefined =
                byte == 0x81 || byte == 0x8D || byte == 0x8F || byte == 0x90 || byte == 0x9D;
            check(c != 0xFFFD, "a byte was replaced by the replacement character");
            check(byte >= 0x80 || c == byte, "an ASCII byte changed");
            check(!undefined || c == byte, "an undefined Windows-1252 byte changed");
        }
    }

    {
        QFile file(RecordStore::DatabaseFilePath(directory));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            file.write(bytes) != bytes.size())
            fail("cannot write the database file");
    }

    const RecordStore::LinesResult read = RecordStore::ReadDatabaseLines(directory);
    check(read.ok, "reading a readable file failed", {read.error});
    const QStringList lines = referenceLines(decoded);
    check(read.lines == lines, "lines differ from a plain scan",
          {QStringLiteral("bytes %1").arg(shown(QString::fromLatin1(bytes))),
           QStringLiteral("got %1").arg(shown(read.lines.join(u'|'))),
           QStringLiteral("expected %1").arg(shown(lines.join(u'|')))});

    const RecordStore::TextResult loaded = RecordStore::LoadDatabaseFile(directory);
    check(loaded.ok, "loading a readable file failed", {loaded.error});
    QString joined;
    for (const QString &line : lines)
        joined += line + QStringLiteral("\r\n");
    check(loaded.text == referenceCollapse(joined), "load differs from lines, CR LF, collapse",
          {QStringLiteral("bytes %1").arg(shown(QString::fromLatin1(bytes))),
           QStringLiteral("got %1").arg(shown(loaded.text))});

    checkFilter(directory, lines, searchText, bytes);
    checkFilter(directory, lines, searchText.toUpper(), bytes);
    return 0;
}
