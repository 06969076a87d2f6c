#pragma once

#include <QJsonObject>
#include <QString>
#include <QUrl>

// One attempt of the other device to pair: the code and the device's name
// posted as a form to the daemon's pairing address.
class PairingSubmission {
public:
    struct Result {
        // HTTP status; 0 when no reply came.
        int status = 0;
        QJsonObject body;
        // Why no reply came.
        QString failure;
    };

    // ADDRESS may carry a fragment; it is not sent.
    static Result send(const QUrl &address, const QString &code, const QString &name,
                       int timeoutMs);
};
