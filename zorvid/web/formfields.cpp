#include "formfields.h"

#include <QList>

namespace zorvid {

QJsonObject formFields(const QByteArray &encoded)
{
    QJsonObject fields;
    for (const QByteArray &pair : encoded.split('&')) {
        const int equals = pair.indexOf('=');
        if (equals <= 0)
            continue;
        QByteArray value = pair.mid(equals + 1);
        value.replace('+', ' ');
        fields.insert(QString::fromUtf8(QByteArray::fromPercentEncoding(pair.left(equals))),
                      QString::fromUtf8(QByteArray::fromPercentEncoding(value)));
    }
    return fields;
}

} // namespace zorvid
