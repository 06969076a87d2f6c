#include "pairing/pairingcode.h"

#include "process/securerandom.h"

#include <cstring>

namespace zorvid {

const char PairingCode::alphabet[] = "ABCDEFGHJKMNPQRSTUVWXYZ23456789";

QString PairingCode::generate()
{
    const int size = int(std::strlen(alphabet));
    QString code;
    for (int i = 0; i < length; ++i)
        code += QLatin1Char(alphabet[SecureRandom::below(size)]);
    return code;
}

QString PairingCode::normalized(const QString &typed)
{
    QString code;
    for (const QChar c : typed) {
        if (!c.isSpace() && c != QLatin1Char('-'))
            code += c.toUpper();
    }
    return code;
}

} // namespace zorvid
