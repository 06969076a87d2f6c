#include "hostoutput.h"

#include <cstdio>

void hostSay(const QString &text)
{
    const QByteArray line = QByteArrayLiteral("nickel-sim: ") + text.toUtf8() + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fflush(stdout);
}
