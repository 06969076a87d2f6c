#pragma once

#include <QJsonObject>
#include <QString>

namespace zorvid {

// A QR symbol as the add-on's QR view reads it: modules per side and the
// matrix row by row, "1" for a dark module, without the quiet zone.
struct QrSymbol {
    int size = 0;
    QString modules;

    // TEXT encoded with libqrencode in byte mode at error correction level M;
    // an empty symbol if the text does not fit.
    static QrSymbol encode(const QString &text);
    QJsonObject toJson() const;
};

} // namespace zorvid
