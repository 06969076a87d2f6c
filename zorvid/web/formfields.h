#pragma once

#include <QByteArray>
#include <QJsonObject>

namespace zorvid {

// Fields encoded as a form sends them, in its body or a URL's query
// ("code=ABC234&name=Anna%27s+phone"), decoded: '+' is a space, and a name
// given twice keeps its last value.
QJsonObject formFields(const QByteArray &encoded);

} // namespace zorvid
