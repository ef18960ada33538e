#include "tests/reference_lines.h"

QStringList referenceLines(const QString &text)
{
    QStringList lines;
    QString line;
    bool open = false;
    for (qsizetype k = 0; k < text.size(); ++k) {
        const QChar c = text[k];
        if (c == u'\r' || c == u'\n') {
            lines << line;
            line.clear();
            open = false;
            if (c == u'\r' && k + 1 < text.size() && text[k + 1] == u'\n')
                ++k;
        } else {
            line += c;
            open = true;
        }
    }
    if (open)
        lines << line;
    return lines;
}
