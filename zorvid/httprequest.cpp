#include "httprequest.h"

namespace zorvid {

QByteArray HttpRequest::header(const QByteArray &name) const
{
    for (const auto &field : headers) {
        if (field.first == name)
            return field.second;
    }
    return QByteArray();
}

} // namespace zorvid
