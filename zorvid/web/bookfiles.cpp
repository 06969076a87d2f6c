// web/: the pages a paired browser sees: pairing, the dashboard, downloads and covers.

#include "bookfiles.h"

#include <QDir>
#include <QFileInfo>

#include <sys/stat.h>

namespace zorvid {

namespace {

// How Nickel's database names the reader's storage.
const char storageUrl[] = "file:///mnt/onboard/";

// Nickel files a cover under two folders named after a 28-bit hash of its
// image id, as this hash spreads them: the low byte, then the next.
quint32 imageHash(const QByteArray &imageId)
{
    quint32 hash = 0;
    for (const char c : imageId) {
        hash = (hash << 4) + quint8(c);
        hash ^= (hash & 0xf0000000) >> 23;
        hash &= 0x0fffffff;
    }
    return hash;
}

} // namespace

BookFiles::BookFiles(const QString &storage)
    : storage(QFileInfo(storage).canonicalFilePath())
{
}

QString BookFiles::bookFile(const QString &contentId) const
{
    if (!contentId.startsWith(QLatin1String(storageUrl)))
        return QString();
    const QString file =
        insideStorage(storage + QLatin1Char('/') + contentId.mid(int(sizeof storageUrl) - 1));
    // Nickel takes no books from hidden folders or files, which hold its own
    // state and the add-on's (the paired devices' list among it).
    if (file.isEmpty())
        return QString();
    QString folder = storage;
    for (const QString &step : file.mid(storage.size() + 1).split(QLatin1Char('/'))) {
        // A hidden name's short name loses its dot, so it always ends in a
        // numeric tail ("KOBO~1"): other names need no look at the folder.
        if (step.startsWith(QLatin1Char('.')) ||
            (step.contains(QLatin1Char('~')) && isHiddenEntry(folder, step)))
            return QString();
        folder += QLatin1Char('/') + step;
    }
    return file;
}

bool BookFiles::isHiddenEntry(const QString &folder, const QString &name) const
{
    // On a FAT storage every entry answers to its short name too ("KOBO~1"),
    // which has no dot: a hidden one is told by its identity.
    struct stat entered {};
    if (::stat(QFile::encodeName(folder + QLatin1Char('/') + name).constData(), &entered) != 0)
        return false;
    const QFileInfoList hidden =
        QDir(folder).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QFileInfo &entry : hidden) {
        struct stat other {};
        if (entry.fileName().startsWith(QLatin1Char('.')) &&
            ::stat(QFile::encodeName(entry.filePath()).constData(), &other) == 0 &&
            other.st_dev == entered.st_dev && other.st_ino == entered.st_ino)
            return true;
    }
    return false;
}

QString BookFiles::coverFile(const QString &imageId) const
{
    // An image id is one name: anything that could step into another
    // folder is no image id.
    if (imageId.isEmpty() || imageId.contains(QLatin1Char('/')) ||
        imageId.startsWith(QLatin1Char('.')))
        return QString();
    const quint32 hash = imageHash(imageId.toUtf8());
    const QString folders =
        QStringLiteral("/.kobo-images/%1/%2/").arg(hash & 0xff).arg(hash >> 8 & 0xff);
    // The grid's size suits a phone; the full one where there is no other.
    for (const char *size : {" - N3_LIBRARY_GRID.parsed", " - N3_LIBRARY_FULL.parsed"}) {
        const QString file = insideStorage(storage + folders + imageId + QLatin1String(size));
        if (!file.isEmpty())
            return file;
    }
    return QString();
}

QString BookFiles::insideStorage(const QString &path) const
{
    if (storage.isEmpty() || path.contains(QChar(0)))
        return QString();
    const QFileInfo file(path);
    const QString resolved = file.canonicalFilePath();
    if (resolved.isEmpty() || !resolved.startsWith(storage + QLatin1Char('/')))
        return QString();
    const QFileInfo target(resolved);
    return target.isFile() && target.isReadable() ? resolved : QString();
}

} // namespace zorvid
