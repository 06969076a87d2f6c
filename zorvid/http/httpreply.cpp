#include "http/httpreply.h"
#include "http/jsonobject.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace zorvid {

namespace {

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 202:
        return "Accepted";
    case 204:
        return "No Content";
    case 400:
        return "Bad Request";
    case 206:
        return "Partial Content";
    case 303:
        return "See Other";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 408:
        return "Request Timeout";
    case 409:
        return "Conflict";
    case 410:
        return "Gone";
    case 413:
        return "Content Too Large";
    case 415:
        return "Unsupported Media Type";
    case 416:
        return "Range Not Satisfiable";
    case 421:
        return "Misdirected Request";
    case 500:
        return "Internal Server Error";
    case 501:
        return "Not Implemented";
    case 503:
        return "Service Unavailable";
    case 505:
        return "HTTP Version Not Supported";
    default:
        return "Unknown";
    }
}

} // namespace

HttpReply HttpReply::json(int status, const QJsonValue &value)
{
    HttpReply reply;
    reply.status = status;
    reply.contentType = "application/json";
    const QJsonDocument document =
        value.isArray() ? QJsonDocument(value.toArray()) : QJsonDocument(value.toObject());
    reply.body = document.toJson(QJsonDocument::Compact);
    return reply;
}

HttpReply HttpReply::empty(int status)
{
    HttpReply reply;
    reply.status = status;
    return reply;
}

HttpReply HttpReply::error(int status, const QByteArray &reason)
{
    HttpReply reply = json(status, jsonObject({{"error", QString::fromUtf8(reason)}}));
    reply.note = reason;
    return reply;
}

HttpReply HttpReply::methodNotAllowed(const QByteArray &allowed)
{
    HttpReply reply = error(405, "method not allowed");
    reply.headers.append(qMakePair(QByteArray("Allow"), allowed));
    return reply;
}

QByteArray HttpReply::toBytes() const
{
    QByteArray bytes =
        "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status) + "\r\n";
    if (contentLength() > 0)
        bytes += "Content-Type: " + contentType + "\r\n";
    // A 204 reply carries no Content-Length (RFC 9110, 8.6).
    if (status != 204)
        bytes += "Content-Length: " + QByteArray::number(contentLength()) + "\r\n";
    for (const auto &field : headers)
        bytes += field.first + ": " + field.second + "\r\n";
    bytes += "Connection: close\r\n\r\n";
    return headOnly ? bytes : bytes + body;
}

} // namespace zorvid
