#include "hex_pattern.h"

#include "hex.h"

#include <QStringList>

namespace pondara::test {

QString masked_hex(const QByteArray& bytes, const char* pattern)
{
    const QStringList wanted = QString::fromLatin1(pattern).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    QStringList got = spaced_hex(bytes).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (qsizetype i = 0; i < got.size() && i < wanted.size(); ++i) {
        if (wanted[i] == QLatin1String("??"))
            got[i] = QStringLiteral("??");
    }
    return got.join(QLatin1Char(' '));
}

}  // namespace pondara::test
