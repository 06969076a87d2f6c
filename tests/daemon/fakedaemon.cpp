#include "fakedaemon.h"

#include "plugin/devicepaths.h"
#include "plugin/runlater.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QMutexLocker>
#include <QSemaphore>
#include <QSharedPointer>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

class ScriptedServer : public QLocalServer {
public:
    ScriptedServer(FakeDaemon *owner, const ReplyScript &script)
        : owner(owner)
        , script(script)
    {
        connect(this, &QLocalServer::newConnection, this, &ScriptedServer::acceptAll);
    }

private:
    void acceptAll()
    {
        while (QLocalSocket *socket = nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            const int connection = connections++;
            auto request = QSharedPointer<QByteArray>::create();
            connect(socket, &QLocalSocket::readyRead, socket, [=] {
                const QByteArray bytes = socket->readAll();
                owner->record(connection, bytes);
                const bool complete = request->contains("\r\n\r\n");
                request->append(bytes);
                if (!complete && request->contains("\r\n\r\n"))
                    play(socket, owner->scriptFor(*request, script), 0);
            });
        }
    }

    void play(QLocalSocket *socket, const ReplyScript &script, int index)
    {
        if (index < script.pieces.size()) {
            const ReplyScript::Piece &piece = script.pieces.at(index);
            zorvi::runLater(socket, piece.delayMs, [=] {
                socket->write(piece.bytes);
                socket->flush();
                play(socket, script, index + 1);
            });
        } else if (script.closeAtEnd) {
            socket->disconnectFromServer();
        }
    }

    FakeDaemon *owner;
    const ReplyScript script;
    int connections = 0;
};

FakeDaemon::FakeDaemon(const ReplyScript &script)
    : server(new ScriptedServer(this, script))
{
    // The server listens on its own thread, as soon as that thread runs.
    QSemaphore ready;
    server->moveToThread(&thread);
    QObject::connect(&thread, &QThread::started, server, [this, &ready] {
        QLocalServer::removeServer(QString::fromLatin1(zorvi::daemonSocket));
        listening = server->listen(QString::fromLatin1(zorvi::daemonSocket));
        ready.release();
    });
    thread.start();
    ready.acquire();
}

FakeDaemon::~FakeDaemon()
{
    // The thread deletes the server, and with it every open connection, as
    // its event loop ends.
    server->deleteLater();
    thread.quit();
    thread.wait();
}

void FakeDaemon::route(const QByteArray &request, const ReplyScript &script)
{
    QMutexLocker lock(&mutex);
    routes.insert(request, script);
}

ReplyScript FakeDaemon::scriptFor(const QByteArray &request, const ReplyScript &fallback) const
{
    // "GET /update HTTP/1.1\r\n..." is routed by "GET /update".
    const QList<QByteArray> words = request.left(request.indexOf("\r\n")).split(' ');
    QMutexLocker lock(&mutex);
    return words.size() < 2 ? fallback : routes.value(words.at(0) + ' ' + words.at(1), fallback);
}

QList<QByteArray> FakeDaemon::requests() const
{
    QMutexLocker lock(&mutex);
    return received;
}

void FakeDaemon::record(int connection, const QByteArray &bytes)
{
    QMutexLocker lock(&mutex);
    while (received.size() <= connection)
        received.append(QByteArray());
    received[connection] += bytes;
}

bool makeStaleSocketFile(const char *path)
{
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path, sizeof address.sun_path - 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    ::close(fd);
    return bound;
}
