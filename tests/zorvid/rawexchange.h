#pragma once

#include <QByteArray>
#include <QString>

// A reply read byte for byte, with the checks of its framing done once.
struct RawReply {
    // 0 when the bytes hold no status line and header end.
    int status = 0;
    QByteArray head;
    QByteArray body;
    // Empty when the framing is right: "Content-Length" equal to the body's
    // size (absent on 204), "Content-Type: application/json" with a JSON
    // body, "Connection: close".
    QString framingProblem;

    QByteArray header(const QByteArray &name) const;
    static RawReply parse(const QByteArray &bytes);
};

// Sends BYTES on the daemon's socket as they are and returns all it sends
// back until it closes (at most TIMEOUT_MS).
QByteArray exchangeOnSocket(const QByteArray &bytes, int timeoutMs = 3000);
// The same with the pairing endpoint on 127.0.0.1:PORT.
QByteArray exchangeOnPort(quint16 port, const QByteArray &bytes, int timeoutMs = 3000);

// A request as the add-on's client writes it, for METHOD and PATH.
QByteArray addOnRequest(const QByteArray &method, const QByteArray &path);
