#include "update/VersionCompare.h"

#include <QList>
#include <limits>

qint64 versionPiece(QStringView piece) {
    bool negative = false;
    if (!piece.isEmpty() && (piece.front() == u'+' || piece.front() == u'-')) {
        negative = piece.front() == u'-';
        piece = piece.sliced(1);
    }
    if (piece.isEmpty())
        return 0;
    // Accumulate towards the sign's side so that the most negative value still fits.
    constexpr qint64 kMax = std::numeric_limits<qint64>::max();
    constexpr qint64 kMin = std::numeric_limits<qint64>::min();
    qint64 value = 0;
    for (const QChar c : piece) {
        if (c < u'0' || c > u'9')
            return 0;
        const int digit = c.unicode() - u'0';
        if (negative) {
            if (value < (kMin + digit) / 10)
                return 0;
            value = value * 10 - digit;
        } else {
            if (value > (kMax - digit) / 10)
                return 0;
            value = value * 10 + digit;
        }
    }
    return value;
}

namespace {

QList<qint64> pieces(QStringView version) {
    QList<qint64> numbers;
    for (const QStringView piece : version.split(u'.', Qt::SkipEmptyParts))
        numbers.append(versionPiece(piece));
    return numbers;
}

} // namespace

bool isNewer(QStringView a, QStringView than) {
    const QList<qint64> x = pieces(a);
    const QList<qint64> y = pieces(than);
    for (qsizetype i = 0; i < std::max(x.size(), y.size()); ++i) {
        const qint64 p = x.value(i, 0);
        const qint64 q = y.value(i, 0);
        if (p != q)
            return p > q;
    }
    return false;
}
