#include "ziparchive.h"

#include <QtEndian>

#include <zlib.h>

namespace {

constexpr quint32 endSignature = 0x06054b50;
constexpr quint32 directorySignature = 0x02014b50;
constexpr quint32 localSignature = 0x04034b50;
constexpr int endSize = 22;
constexpr int directoryHeaderSize = 46;
constexpr int localHeaderSize = 30;
// The end record may be followed by a comment of up to 64 KiB.
constexpr int maxCommentSize = 0xffff;
constexpr quint16 stored = 0;
constexpr quint16 deflated = 8;
constexpr qint64 chunkSize = 64 * 1024;
// Room for the directory of a large book's many entries with long names.
constexpr quint32 maxDirectoryBytes = 4 * 1024 * 1024;

quint16 u16(const QByteArray &bytes, int at)
{
    return qFromLittleEndian<quint16>(reinterpret_cast<const uchar *>(bytes.constData() + at));
}

quint32 u32(const QByteArray &bytes, int at)
{
    return qFromLittleEndian<quint32>(reinterpret_cast<const uchar *>(bytes.constData() + at));
}

quint32 checksumOf(const QByteArray &data)
{
    return quint32(crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef *>(data.constData()),
                         uInt(data.size())));
}

} // namespace

ZipArchive::ZipArchive(const QString &path)
    : file(path)
{
    open = file.open(QIODevice::ReadOnly) && readDirectory();
}

bool ZipArchive::isOpen() const
{
    return open;
}

bool ZipArchive::readDirectory()
{
    const qint64 fileSize = file.size();
    if (fileSize < endSize)
        return false;
    const qint64 tailSize = qMin<qint64>(fileSize, endSize + maxCommentSize);
    if (!file.seek(fileSize - tailSize))
        return false;
    const QByteArray tail = file.read(tailSize);
    if (tail.size() != tailSize)
        return false;
    int end = tail.size() - endSize;
    while (end >= 0 && u32(tail, end) != endSignature)
        --end;
    if (end < 0)
        return false;
    const int count = u16(tail, end + 10);
    const quint32 directorySize = u32(tail, end + 12);
    const quint32 directoryOffset = u32(tail, end + 16);
    // A directory that would reach past the end record is no directory.
    if (count > maxEntries || directorySize > maxDirectoryBytes ||
        qint64(directoryOffset) + directorySize > fileSize - tailSize + end ||
        !file.seek(directoryOffset))
        return false;
    const QByteArray directory = file.read(directorySize);
    if (directory.size() != int(directorySize))
        return false;

    int at = 0;
    for (int i = 0; i < count; ++i) {
        if (at + directoryHeaderSize > directory.size() || u32(directory, at) != directorySignature)
            return false;
        Entry entry;
        entry.method = u16(directory, at + 10);
        entry.checksum = u32(directory, at + 16);
        entry.compressedSize = u32(directory, at + 20);
        entry.size = u32(directory, at + 24);
        entry.headerOffset = u32(directory, at + 42);
        const int nameSize = u16(directory, at + 28);
        const int next =
            at + directoryHeaderSize + nameSize + u16(directory, at + 30) + u16(directory, at + 32);
        if (next > directory.size())
            return false;
        const QString name =
            QString::fromUtf8(directory.constData() + at + directoryHeaderSize, nameSize);
        // The first of two entries of one name counts, as with most readers.
        if (!entries.contains(name))
            entries.insert(name, entry);
        at = next;
    }
    return true;
}

bool ZipArchive::read(const QString &name, qint64 maxBytes, QByteArray *data)
{
    data->clear();
    const auto found = entries.constFind(name);
    if (!open || found == entries.constEnd())
        return false;
    const Entry &entry = found.value();
    // Sizes of 0xffffffff stand for ZIP64 ones, which no book's XML needs.
    if (entry.size > maxBytes || !file.seek(entry.headerOffset))
        return false;
    const QByteArray header = file.read(localHeaderSize);
    if (header.size() != localHeaderSize || u32(header, 0) != localSignature ||
        !file.seek(qint64(entry.headerOffset) + localHeaderSize + u16(header, 26) +
                   u16(header, 28)))
        return false;
    if (entry.method == stored) {
        if (entry.compressedSize != entry.size)
            return false;
        *data = file.read(entry.size);
        if (data->size() != int(entry.size))
            return false;
    } else if (entry.method != deflated || !unpack(entry, maxBytes, data)) {
        return false;
    }
    if (quint32(data->size()) != entry.size || checksumOf(*data) != entry.checksum) {
        data->clear();
        return false;
    }
    return true;
}

bool ZipArchive::unpack(const Entry &entry, qint64 maxBytes, QByteArray *data)
{
    z_stream stream{};
    // Raw deflate data: a ZIP entry carries no zlib header.
    if (inflateInit2(&stream, -MAX_WBITS) != Z_OK)
        return false;
    // One byte more than allowed shows an entry that says it is smaller
    // than it unpacks to.
    data->resize(int(qMin<qint64>(maxBytes, entry.size) + 1));
    stream.next_out = reinterpret_cast<Bytef *>(data->data());
    stream.avail_out = uInt(data->size());
    qint64 left = entry.compressedSize;
    int result = Z_OK;
    while (result == Z_OK && left > 0 && stream.avail_out > 0) {
        QByteArray chunk = file.read(qMin(left, chunkSize));
        if (chunk.isEmpty())
            break;
        left -= chunk.size();
        stream.next_in = reinterpret_cast<Bytef *>(chunk.data());
        stream.avail_in = uInt(chunk.size());
        while (result == Z_OK && stream.avail_in > 0 && stream.avail_out > 0)
            result = ::inflate(&stream, Z_NO_FLUSH);
    }
    const qint64 produced = data->size() - stream.avail_out;
    inflateEnd(&stream);
    if (result != Z_STREAM_END)
        return false;
    data->resize(int(produced));
    return true;
}
