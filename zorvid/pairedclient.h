#pragma once

#include <QString>

namespace zorvid {

// A device that has paired with the e-reader.
struct PairedClient {
    // Opaque to everyone but the daemon; may hold any character.
    QString id;
    QString name;
    // Seconds of Unix time.
    qint64 pairedAt = 0;
};

} // namespace zorvid
