#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QPair>
#include <QString>

#include <initializer_list>

namespace zorvid {

// A JSON object from its members, {{"state", "waiting"}, {"code", code}}:
// what QJsonObject's own initializer list (Qt 5.4) gives, for the reader's
// Qt 5.2.
inline QJsonObject jsonObject(std::initializer_list<QPair<QString, QJsonValue>> members)
{
    QJsonObject object;
    for (const QPair<QString, QJsonValue> &member : members)
        object.insert(member.first, member.second);
    return object;
}

} // namespace zorvid
