#pragma once

#include <QByteArray>
#include <QString>

namespace zorvid {

// A device that has paired with the e-reader.
struct PairedClient {
    // Opaque to everyone but the daemon; may hold any character.
    QString id;
    QString name;
    // Seconds of Unix time.
    qint64 pairedAt = 0;
    // When its browser last showed its token, to within a day; 0 when never.
    qint64 usedAt = 0;
    // The SHA-256 (hexadecimal) of the token its browser got at pairing and
    // sends back as a cookie; the token itself is kept nowhere. Empty for a
    // device paired before browsers got tokens.
    QByteArray tokenHash;
};

} // namespace zorvid
