#include "epubmetadata.h"

#include "ziparchive.h"

#include <QStringList>
#include <QXmlStreamReader>

namespace {

const QString dublinCore = QStringLiteral("http://purl.org/dc/elements/1.1/");

// Blanks and line breaks folded, cut to at most maxTextLength characters
// without parting a surrogate pair.
QString tidy(const QString &text)
{
    QString tidied = text.simplified();
    if (tidied.size() > EpubMetadata::maxTextLength) {
        int length = EpubMetadata::maxTextLength;
        if (tidied.at(length - 1).isHighSurrogate())
            --length;
        tidied = tidied.left(length).trimmed();
    }
    return tidied;
}

// The next start element of XML, false at its end or at an error. A document
// type declaration stops it too: neither file has one, and its entities could
// expand a small file into a huge text.
bool nextElement(QXmlStreamReader &xml)
{
    while (!xml.atEnd()) {
        const QXmlStreamReader::TokenType token = xml.readNext();
        if (token == QXmlStreamReader::DTD)
            return false;
        if (token == QXmlStreamReader::StartElement)
            return true;
    }
    return false;
}

} // namespace

EpubMetadata::EpubMetadata(const QString &path)
{
    ZipArchive archive(path);
    const QString package = packagePath(archive);
    if (!package.isEmpty())
        readPackage(archive, package);
}

QString EpubMetadata::title() const
{
    return bookTitle;
}

QString EpubMetadata::author() const
{
    return bookAuthor;
}

QString EpubMetadata::packagePath(ZipArchive &archive)
{
    QByteArray container;
    if (!archive.read(QStringLiteral("META-INF/container.xml"), maxXmlBytes, &container))
        return QString();
    QXmlStreamReader xml(container);
    while (nextElement(xml)) {
        if (xml.name() == QLatin1String("rootfile"))
            return xml.attributes().value(QLatin1String("full-path")).toString();
    }
    return QString();
}

void EpubMetadata::readPackage(ZipArchive &archive, const QString &path)
{
    QByteArray package;
    if (!archive.read(path, maxXmlBytes, &package))
        return;
    QXmlStreamReader xml(package);
    QString title;
    QStringList authors;
    while (nextElement(xml)) {
        if (xml.namespaceUri() != dublinCore)
            continue;
        if (xml.name() == QLatin1String("title") && title.isEmpty()) {
            title = tidy(xml.readElementText(QXmlStreamReader::IncludeChildElements));
        } else if (xml.name() == QLatin1String("creator")) {
            const QString author =
                tidy(xml.readElementText(QXmlStreamReader::IncludeChildElements));
            if (!author.isEmpty())
                authors << author;
        }
    }
    // What was read before an error in the file stands: the metadata come
    // first in a package document, before the lists of its files.
    bookTitle = title;
    bookAuthor = tidy(authors.join(QStringLiteral(", ")));
}
