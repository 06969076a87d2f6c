#include "http/httprequest.h"

namespace zorvid {

QByteArray HttpRequest::header(const QByteArray &name) const
{
    for (const auto &field : headers) {
        if (field.first == name)
            return field.second;
    }
    return QByteArray();
}

QByteArray HttpRequest::query() const
{
    const int question = target.indexOf('?');
    return question < 0 ? QByteArray() : target.mid(question + 1);
}

} // namespace zorvid
