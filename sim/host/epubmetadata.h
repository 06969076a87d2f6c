#pragma once

#include <QString>

class ZipArchive;

// The title and the authors an EPUB gives in its package document (the OPF
// file that META-INF/container.xml points to). Either is empty when the book
// does not say, or cannot be read.
class EpubMetadata {
public:
    explicit EpubMetadata(const QString &path);

    QString title() const;
    // The creators in their order, joined by ", ".
    QString author() const;

    // The most of a package document or container read, uncompressed.
    static constexpr qint64 maxXmlBytes = 1024 * 1024;
    // The most characters kept of a title or of the authors.
    static constexpr int maxTextLength = 1024;

private:
    static QString packagePath(ZipArchive &archive);
    void readPackage(ZipArchive &archive, const QString &path);

    QString bookTitle;
    QString bookAuthor;
};
