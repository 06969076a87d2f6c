// pairing/: the pairing offer, its code and QR symbol, and the names devices pair with.

#include "pairing/codepoints.h"

namespace zorvid {

QVector<uint> codePoints(const QString &text)
{
    QVector<uint> points;
    points.reserve(text.size());
    for (int i = 0; i < text.size(); ++i) {
        const QChar unit = text.at(i);
        if (unit.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            points.append(QChar::surrogateToUcs4(unit, text.at(i + 1)));
            ++i;
        } else {
            points.append(unit.unicode());
        }
    }
    return points;
}

} // namespace zorvid
