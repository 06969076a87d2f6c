// process/: what the daemon stands on: options, log, signals, one instance, random bytes.

#include "process/daemonlog.h"

#include <QTime>

#include <cstdio>

namespace zorvid {

void daemonLog(const QString &message)
{
    const QByteArray line =
        "zorvid " + QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz")).toLatin1() + ' ' +
        message.toUtf8() + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    std::fflush(stderr);
}

QString printable(const QByteArray &bytes, int limit)
{
    QString text;
    for (int i = 0; i < bytes.size() && i < limit; ++i) {
        const unsigned char c = static_cast<unsigned char>(bytes.at(i));
        if (c >= 0x20 && c < 0x7f && c != '\\')
            text += QLatin1Char(char(c));
        else
            text += QStringLiteral("\\x%1").arg(c, 2, 16, QLatin1Char('0'));
    }
    if (bytes.size() > limit)
        text += QStringLiteral("...");
    return text;
}

} // namespace zorvid
