// Feeds arbitrary bytes to the reply parser, as a broken or hostile daemon
// could, and checks the result against the rule written out the plain way:
// split the status line at every space and read the second field.

#include "daemon/daemonreply.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Raw data is not NUL-terminated, as bytes read from a socket need not be.
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));
    const zorvi::DaemonReply reply = zorvi::parseReply(bytes);

    const int headerEnd = bytes.indexOf("\r\n\r\n");
    const QList<QByteArray> fields = bytes.left(bytes.indexOf("\r\n")).split(' ');
    if (headerEnd < 0 || fields.size() < 2) {
        if (reply.status != 0 || !reply.json.isNull())
            std::abort();
        return 0;
    }
    bool isNumber = false;
    const int code = fields.at(1).toInt(&isNumber, 10);
    const int expected = isNumber && !fields.at(1).contains('\0') ? code : 0;
    if (reply.status != expected)
        std::abort();
    if (reply.json != QJsonDocument::fromJson(bytes.mid(headerEnd + 4)))
        std::abort();
    return 0;
}
