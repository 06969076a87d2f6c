#include "updates/filehash.h"

#include <QCryptographicHash>
#include <QFile>

namespace zorvid {

QByteArray fileSha256(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    QCryptographicHash hash(QCryptographicHash::Sha256);
    QByteArray chunk(64 * 1024, Qt::Uninitialized);
    for (qint64 got; (got = file.read(chunk.data(), chunk.size())) > 0;)
        hash.addData(chunk.constData(), int(got));
    return file.error() == QFile::NoError ? hash.result() : QByteArray();
}

} // namespace zorvid
