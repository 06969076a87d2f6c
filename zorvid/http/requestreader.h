#pragma once

#include "http/httprequest.h"

namespace zorvid {

// Assembles one HTTP/1.1 request from the bytes of a connection as they
// arrive, within size limits, and says why when the bytes are not one.
class RequestReader {
public:
    enum class Progress { NeedMore, Complete, Failed };

    // HEAD_LIMIT bounds the request line and the header fields together,
    // BODY_LIMIT the body announced by Content-Length.
    RequestReader(int headLimit, int bodyLimit);

    Progress feed(const QByteArray &bytes);
    Progress progress() const { return state; }
    int received() const { return receivedBytes; }

    // Valid once Complete.
    const HttpRequest &request() const { return parsed; }
    // Valid once Failed: the status to answer with and a short reason.
    int failureStatus() const { return errorStatus; }
    QByteArray failureReason() const { return errorReason; }

private:
    Progress parseHead(const QByteArray &head);
    bool parseRequestLine(const QByteArray &line);
    bool parseHeaderLine(const QByteArray &line);
    bool readBodyLength();
    Progress fail(int status, const char *reason);

    const int headLimit;
    const int bodyLimit;
    Progress state = Progress::NeedMore;
    QByteArray buffer;
    int receivedBytes = 0;
    // Where the first line not yet known to be complete starts.
    int lineStart = 0;
    bool headDone = false;
    int bodyLength = 0;
    HttpRequest parsed;
    int errorStatus = 0;
    QByteArray errorReason;
};

} // namespace zorvid
