#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QMetaType>
#include <QMutex>
#include <QThread>

// How the fake daemon answers every connection. The pieces are sent in
// order once the request's blank line has arrived, each after its delay
// (measured from the piece before).
struct ReplyScript {
    struct Piece {
        int delayMs;
        QByteArray bytes;
    };
    QList<Piece> pieces;
    // Close the connection after the last piece, or leave it open.
    bool closeAtEnd = true;

    // The whole reply at once, then close.
    static ReplyScript at(const QByteArray &bytes) { return ReplyScript{{{0, bytes}}}; }
};
Q_DECLARE_METATYPE(ReplyScript)

// A whole reply with STATUS and BODY at once, then the connection closed.
inline ReplyScript answer(int status, const QByteArray &body = QByteArray())
{
    return ReplyScript::at("HTTP/1.1 " + QByteArray::number(status) +
                           " X\r\nContent-Length: " + QByteArray::number(body.size()) +
                           "\r\nConnection: close\r\n\r\n" + body);
}

// A GET /clients body of "Device 1" to "Device N", ids "1" to "N", all
// paired on 2021-03-09.
inline QByteArray numberedDevices(int count)
{
    QByteArray list = "[";
    for (int i = 1; i <= count; ++i)
        list += "{\"id\":\"" + QByteArray::number(i) + "\",\"name\":\"Device " +
                QByteArray::number(i) + "\",\"paired_at\":1615266000},";
    if (count > 0)
        list.chop(1);
    return list + "]";
}

class ScriptedServer;

// A stand-in for zorvid on "/tmp/zorvid.sock", listening on a thread of its
// own because the client blocks the thread it is called on.
class FakeDaemon {
public:
    explicit FakeDaemon(const ReplyScript &script);
    ~FakeDaemon();

    bool isListening() const { return listening; }
    // Answers requests for one method and path ("GET /update") with their own
    // script from now on; every other request gets the script given at start.
    void route(const QByteArray &request, const ReplyScript &script);
    // The bytes received on each connection so far, in order of connection.
    QList<QByteArray> requests() const;

private:
    friend class ScriptedServer;
    void record(int connection, const QByteArray &bytes);
    ReplyScript scriptFor(const QByteArray &request, const ReplyScript &fallback) const;

    QThread thread;
    ScriptedServer *server = nullptr;
    bool listening = false;
    mutable QMutex mutex;
    QList<QByteArray> received;
    QMap<QByteArray, ReplyScript> routes;
};

// Leaves a socket file behind with nobody listening, as a crashed daemon does.
bool makeStaleSocketFile(const char *path);
