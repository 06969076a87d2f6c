#include "http/requestreader.h"

#include <QRegularExpression>

#include <utility>

namespace zorvid {

namespace {

// The characters of a method or a header name (RFC 9110 "token").
bool isToken(const QByteArray &text)
{
    static const QByteArray punctuation("!#$%&'*+-.^_`|~");
    if (text.isEmpty())
        return false;
    for (const char c : text) {
        const bool alphanumeric =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (!alphanumeric && !punctuation.contains(c))
            return false;
    }
    return true;
}

// Visible ASCII only: a target never holds spaces, controls or raw UTF-8.
bool isVisibleAscii(const QByteArray &text)
{
    for (const char c : text) {
        if (c <= 0x20 || c >= 0x7f)
            return false;
    }
    return true;
}

// Field values may hold tabs but no other control characters.
bool isFieldValue(const QByteArray &text)
{
    for (const char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if ((u < 0x20 && u != '\t') || u == 0x7f)
            return false;
    }
    return true;
}

} // namespace

RequestReader::RequestReader(int headLimit, int bodyLimit)
    : headLimit(headLimit)
    , bodyLimit(bodyLimit)
{
}

RequestReader::Progress RequestReader::feed(const QByteArray &bytes)
{
    if (state != Progress::NeedMore)
        return state;
    receivedBytes += bytes.size();
    buffer += bytes;

    if (!headDone) {
        // Lines end in CRLF or, leniently, in a bare LF; the head ends at the
        // first empty line. Lines already looked at are not searched again,
        // so a client that sends one byte at a time costs no more.
        int headEnd = -1;
        for (;;) {
            const int newline = buffer.indexOf('\n', lineStart);
            if (newline < 0)
                break;
            const int length = newline - lineStart;
            if (length == 0 || (length == 1 && buffer.at(lineStart) == '\r')) {
                headEnd = newline + 1;
                break;
            }
            lineStart = newline + 1;
        }
        if (headEnd < 0) {
            if (buffer.size() > headLimit)
                return fail(413, "request line and header fields too large");
            return state;
        }
        if (headEnd > headLimit)
            return fail(413, "request line and header fields too large");
        if (parseHead(buffer.left(lineStart)) == Progress::Failed)
            return state;
        headDone = true;
        buffer.remove(0, headEnd);
    }

    if (buffer.size() < bodyLength)
        return state;
    parsed.body = buffer.left(bodyLength);
    buffer.clear();
    state = Progress::Complete;
    return state;
}

RequestReader::Progress RequestReader::parseHead(const QByteArray &head)
{
    QList<QByteArray> lines = head.split('\n');
    lines.removeLast(); // the head ends in a line break: nothing follows it
    if (lines.isEmpty())
        return fail(400, "missing request line");
    for (QByteArray &line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.contains('\r'))
            return fail(400, "stray carriage return");
    }
    if (!parseRequestLine(lines.takeFirst()))
        return state;
    for (const QByteArray &line : std::as_const(lines)) {
        if (!parseHeaderLine(line))
            return state;
    }
    if (!readBodyLength())
        return state;
    return Progress::NeedMore;
}

bool RequestReader::parseRequestLine(const QByteArray &line)
{
    const QList<QByteArray> fields = line.split(' ');
    if (fields.size() != 3) {
        fail(400, "malformed request line");
        return false;
    }
    const QByteArray &method = fields.at(0);
    const QByteArray &target = fields.at(1);
    const QByteArray &version = fields.at(2);
    if (!isToken(method)) {
        fail(400, "malformed method");
        return false;
    }
    if (!target.startsWith('/') || !isVisibleAscii(target)) {
        fail(400, "malformed request target");
        return false;
    }
    if (version != "HTTP/1.1" && version != "HTTP/1.0") {
        static const QRegularExpression otherVersion(QStringLiteral("^HTTP/[0-9](\\.[0-9])?$"));
        if (otherVersion.match(QString::fromLatin1(version)).hasMatch())
            fail(505, "HTTP version not supported");
        else
            fail(400, "malformed protocol version");
        return false;
    }
    parsed.method = method;
    parsed.target = target;
    const int query = target.indexOf('?');
    parsed.path = query < 0 ? target : target.left(query);
    return true;
}

bool RequestReader::parseHeaderLine(const QByteArray &line)
{
    if (line.startsWith(' ') || line.startsWith('\t')) {
        fail(400, "folded header line");
        return false;
    }
    const int colon = line.indexOf(':');
    const QByteArray name = line.left(colon);
    // A space before the colon is refused: it lets two parsers disagree
    // about which field a line is.
    if (colon < 0 || !isToken(name)) {
        fail(400, "malformed header line");
        return false;
    }
    const QByteArray value = line.mid(colon + 1).trimmed();
    if (!isFieldValue(value)) {
        fail(400, "control character in a header value");
        return false;
    }
    parsed.headers.append(qMakePair(name.toLower(), value));
    return true;
}

bool RequestReader::readBodyLength()
{
    QByteArray announced;
    for (const auto &field : std::as_const(parsed.headers)) {
        if (field.first == "transfer-encoding") {
            fail(501, "transfer codings are not supported");
            return false;
        }
        if (field.first != "content-length")
            continue;
        if (!announced.isNull() && field.second != announced) {
            fail(400, "conflicting Content-Length fields");
            return false;
        }
        announced = field.second;
    }
    if (announced.isNull())
        return true;
    bool digits = !announced.isEmpty() && announced.size() <= 18;
    for (const char c : announced)
        digits = digits && c >= '0' && c <= '9';
    if (!digits) {
        fail(400, "malformed Content-Length");
        return false;
    }
    const qint64 length = announced.toLongLong();
    if (length > bodyLimit) {
        fail(413, "body too large");
        return false;
    }
    bodyLength = int(length);
    return true;
}

RequestReader::Progress RequestReader::fail(int status, const char *reason)
{
    state = Progress::Failed;
    errorStatus = status;
    errorReason = reason;
    buffer.clear();
    return state;
}

} // namespace zorvid
