#include "daemon/daemonreply.h"

namespace zorvi {

DaemonReply parseReply(const QByteArray &bytes)
{
    DaemonReply reply;
    const int headerEnd = bytes.indexOf("\r\n\r\n");
    if (headerEnd < 0)
        return reply;

    // Only the second space-separated field of the status line, the code, is
    // read: "HTTP/1.1 204 No Content". Header fields, Content-Length included,
    // are ignored; the daemon closes the connection after its body.
    const QByteArray statusLine = bytes.left(bytes.indexOf("\r\n"));
    const int codeStart = statusLine.indexOf(' ') + 1;
    if (codeStart == 0)
        return reply;
    const int codeEnd = statusLine.indexOf(' ', codeStart);
    const QByteArray code = statusLine.mid(codeStart, codeEnd < 0 ? -1 : codeEnd - codeStart);
    // toInt() stops at a NUL byte, which would read "20\0x" as 20.
    if (!code.contains('\0'))
        reply.status = code.toInt(nullptr, 10);

    // Copied, not moved: QJsonDocument's move assignment calls swap(), which
    // Qt 5.2 does not have.
    const QJsonDocument json = QJsonDocument::fromJson(bytes.mid(headerEnd + 4));
    reply.json = json;
    return reply;
}

QString jsonString(const QJsonObject &object, const QString &key)
{
    return object.value(key).toString(QString());
}

} // namespace zorvi
