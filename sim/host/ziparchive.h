#pragma once

#include <QByteArray>
#include <QFile>
#include <QHash>
#include <QString>

// Reads single entries of a ZIP archive (an EPUB), stored or deflated, within
// bounds: a book on the storage may be broken or made to hurt its reader, and
// none of it may crash or hold up the host.
class ZipArchive {
public:
    // Reads the central directory of PATH; isOpen() tells whether it could.
    explicit ZipArchive(const QString &path);

    bool isOpen() const;
    // The uncompressed bytes of the entry NAME, when it is there, whole, no
    // larger than MAXBYTES and matches its checksum.
    bool read(const QString &name, qint64 maxBytes, QByteArray *data);

    // The entries of a central directory looked at, at most.
    static constexpr int maxEntries = 20000;

private:
    struct Entry {
        quint16 method = 0;
        quint32 checksum = 0;
        quint32 compressedSize = 0;
        quint32 size = 0;
        quint32 headerOffset = 0;
    };

    bool readDirectory();
    bool unpack(const Entry &entry, qint64 maxBytes, QByteArray *data);

    QFile file;
    QHash<QString, Entry> entries;
    bool open = false;
};
