// The stand-in's library sync: which files on the storage become books, with
// what title and author, whether broken or hostile EPUBs are survived, books
// whose files are gone removed, a database of Nickel's kept as it is, and
// the result as zorvid reads it.

#include "filecontent.h"
#include "library/library.h"
#include "librarysync.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <sqlite3.h>
#include <zlib.h>

namespace {

struct ZipEntry {
    QByteArray name;
    QByteArray data;
    bool deflate = true;
    // The uncompressed size the archive claims, when it lies.
    qint64 claimedSize = -1;
};

QByteArray le16(quint16 value)
{
    QByteArray bytes(2, '\0');
    qToLittleEndian(value, reinterpret_cast<uchar *>(bytes.data()));
    return bytes;
}

QByteArray le32(quint32 value)
{
    QByteArray bytes(4, '\0');
    qToLittleEndian(value, reinterpret_cast<uchar *>(bytes.data()));
    return bytes;
}

QByteArray rawDeflate(const QByteArray &data)
{
    z_stream stream{};
    deflateInit2(&stream, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(int(deflateBound(&stream, uLong(data.size()))), '\0');
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef *>(out.data());
    stream.avail_out = uInt(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(int(stream.total_out));
    deflateEnd(&stream);
    return out;
}

// A ZIP archive of ENTRIES, as an EPUB is one.
QByteArray zip(const QList<ZipEntry> &entries)
{
    QByteArray archive, directory;
    for (const ZipEntry &entry : entries) {
        const QByteArray packed = entry.deflate ? rawDeflate(entry.data) : entry.data;
        const quint32 checksum = quint32(crc32(
            0, reinterpret_cast<const Bytef *>(entry.data.constData()), uInt(entry.data.size())));
        const quint32 size =
            quint32(entry.claimedSize >= 0 ? entry.claimedSize : entry.data.size());
        const QByteArray common = le16(20) + le16(0) + le16(entry.deflate ? 8 : 0) + le16(0) +
                                  le16(0) + le32(checksum) + le32(quint32(packed.size())) +
                                  le32(size) + le16(quint16(entry.name.size())) + le16(0);
        directory += le32(0x02014b50) + le16(20) + common + le16(0) + le16(0) + le16(0) + le32(0) +
                     le32(quint32(archive.size())) + entry.name;
        archive += le32(0x04034b50) + common + entry.name + packed;
    }
    const quint16 count = quint16(entries.size());
    return archive + directory + le32(0x06054b50) + le16(0) + le16(0) + le16(count) + le16(count) +
           le32(quint32(directory.size())) + le32(quint32(archive.size())) + le16(0);
}

const QByteArray container = "<?xml version='1.0'?><container version='1.0' "
                             "xmlns='urn:oasis:names:tc:opendocument:xmlns:container'><rootfiles>"
                             "<rootfile full-path='OEBPS/content.opf' "
                             "media-type='application/oebps-package+xml'/></rootfiles></container>";

QByteArray package(const QByteArray &metadata)
{
    return "<?xml version='1.0' encoding='utf-8'?><package xmlns='http://www.idpf.org/2007/opf' "
           "version='3.0'><metadata xmlns:dc='http://purl.org/dc/elements/1.1/'>" +
           metadata + "</metadata><manifest/><spine/></package>";
}

QByteArray epub(const QByteArray &opf, bool deflate = true)
{
    return zip({{"mimetype", "application/epub+zip", false},
                {"META-INF/container.xml", container, deflate},
                {"OEBPS/content.opf", opf, deflate}});
}

// Runs the statements of SQL on DATABASE.
bool execute(const QString &database, const QByteArray &sql)
{
    sqlite3 *connection = nullptr;
    sqlite3_open(QFile::encodeName(database).constData(), &connection);
    const bool done =
        sqlite3_exec(connection, sql.constData(), nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(connection);
    return done;
}

// Runs the query SQL on DATABASE and gives the rows, their columns joined by '|'.
QStringList query(const QString &database, const QByteArray &sql)
{
    sqlite3 *connection = nullptr;
    sqlite3_open(QFile::encodeName(database).constData(), &connection);
    QStringList rows;
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_prepare_v2(connection, sql.constData(), -1, &statement, nullptr) != SQLITE_OK)
        qWarning("%s: %s", sql.constData(), sqlite3_errmsg(connection));
    while (statement && sqlite3_step(statement) == SQLITE_ROW) {
        QStringList columns;
        for (int i = 0; i < sqlite3_column_count(statement); ++i)
            columns << QString::fromUtf8(
                reinterpret_cast<const char *>(sqlite3_column_text(statement, i)));
        rows << columns.join('|');
    }
    sqlite3_finalize(statement);
    sqlite3_close(connection);
    return rows;
}

const QByteArray bookColumns =
    "SELECT ContentType, MimeType, Title, coalesce(Attribution, '<null>'), ___FileSize, "
    "___UserID, IsDownloaded, ReadStatus, ___PercentRead FROM content WHERE ContentID = ";

} // namespace

class TestLibrarySync : public QObject {
    Q_OBJECT

    QTemporaryDir storage{QDir::temp().filePath("storage-XXXXXX")};

    // PATH on the storage.
    QString at(const QString &path) const { return storage.path() + '/' + path; }
    QString database() const { return at(".kobo/KoboReader.sqlite"); }

    bool put(const QString &path, const QByteArray &bytes)
    {
        return QDir().mkpath(QFileInfo(at(path)).path()) && writeFile(at(path), bytes);
    }

private slots:
    void init()
    {
        QVERIFY(QDir(storage.path()).removeRecursively());
        QVERIFY(QDir().mkpath(storage.path()));
    }

    void bookFiles_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("bytes");
        // ContentType|MimeType|Title|Attribution|___FileSize|___UserID|...;
        // empty when the file is no book.
        QTest::addColumn<QString>("row");

        const QByteArray metadata = "<dc:title>\n  The Salt\tRoad  </dc:title>"
                                    "<dc:creator id='a'>J. P. Okafor</dc:creator>"
                                    "<dc:title>A Subtitle</dc:title>"
                                    "<dc:creator> Ines  Valtonen </dc:creator>";
        const QByteArray book = epub(package(metadata));
        QTest::newRow("an EPUB with metadata")
            << "Books/salt.epub" << book
            << "6|application/epub+zip|The Salt Road|J. P. Okafor, Ines Valtonen|" +
                   QString::number(book.size()) + "||1|0|0";
        const QByteArray kepub = epub(package("<dc:title>Winter &amp; Orchard</dc:title>"), false);
        QTest::newRow("a kepub, entries stored")
            << "Winter.kepub.epub" << kepub
            << "6|application/x-kobo-epub+zip|Winter & Orchard|<null>|" +
                   QString::number(kepub.size()) + "||1|0|0";
        QTest::newRow("a PDF, upper case") << "Books/Deep/Atlas of Clouds.PDF" << QByteArray("%PDF")
                                           << "6|application/pdf|Atlas of Clouds|<null>|4||1|0|0";
        QTest::newRow("a comic") << "c.cbz" << QByteArray("PK")
                                 << "6|application/x-cbz|c|<null>|2||1|0|0";
        QTest::newRow("a text") << "notes.txt" << QByteArray()
                                << "6|text/plain|notes|<null>|0||1|0|0";
        QTest::newRow("a Mobipocket book")
            << "m.mobi" << QByteArray("x") << "6|application/x-mobipocket-ebook|m|<null>|1||1|0|0";
        QTest::newRow("in a hidden folder") << ".kobo/kepub/x.epub" << book << "";
        QTest::newRow("a hidden file") << "Books/.salt.epub" << book << "";
        QTest::newRow("not a book") << "Books/salt.epub.part" << book << "";

        // Broken or hostile EPUBs: the file's name stands for the title.
        const auto named = [](const QByteArray &bytes) {
            return "6|application/epub+zip|odd|<null>|" + QString::number(bytes.size()) + "||1|0|0";
        };
        QTest::newRow("no ZIP at all")
            << "odd.epub" << QByteArray(5000, 'x') << named(QByteArray(5000, 'x'));
        const QByteArray cut = book.left(book.size() - 10);
        QTest::newRow("a ZIP cut short") << "odd.epub" << cut << named(cut);
        const QByteArray noContainer = zip({{"OEBPS/content.opf", package(metadata)}});
        QTest::newRow("no container") << "odd.epub" << noContainer << named(noContainer);
        // 64 MiB of blanks after the title, packed into some 64 KiB.
        const QByteArray bomb =
            epub(package("<dc:title>Bomb</dc:title>" + QByteArray(64 * 1024 * 1024, ' ')));
        QTest::newRow("a package of 64 MiB") << "odd.epub" << bomb << named(bomb);
        const QByteArray lying =
            zip({{"META-INF/container.xml", container},
                 {"OEBPS/content.opf",
                  package("<dc:title>Liar</dc:title>" + QByteArray(8 * 1024 * 1024, ' ')), true,
                  1000}});
        QTest::newRow("a package larger than it says") << "odd.epub" << lying << named(lying);
        QByteArray badChecksum = epub(package("<dc:title>Flipped</dc:title>"), false);
        badChecksum[badChecksum.indexOf("Flipped")] = 'f';
        QTest::newRow("a wrong checksum") << "odd.epub" << badChecksum << named(badChecksum);
        const QByteArray entities = epub(
            "<?xml version='1.0'?><!DOCTYPE package [<!ENTITY a 'aaaaaaaaaa'>"
            "<!ENTITY b '&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;'><!ENTITY c '&b;&b;&b;&b;&b;&b;&b;&b;'>"
            "]><package><metadata xmlns:dc='http://purl.org/dc/elements/1.1/'>"
            "<dc:title>&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;</dc:title></metadata></package>");
        QTest::newRow("entities in a DTD") << "odd.epub" << entities << named(entities);
        const QByteArray untitled = epub(package("<dc:title>  </dc:title>"));
        QTest::newRow("a blank title") << "odd.epub" << untitled << named(untitled);
        const QByteArray longTitle =
            epub(package("<dc:title>" + QByteArray(5000, 'T') + "</dc:title>"));
        QTest::newRow("a title of 5000 characters")
            << "long.epub" << longTitle
            << "6|application/epub+zip|" + QString(1024, 'T') + "|<null>|" +
                   QString::number(longTitle.size()) + "||1|0|0";
    }

    void bookFiles()
    {
        QFETCH(QString, path);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, row);

        QVERIFY(put(path, bytes));
        LibrarySync sync(storage.path());
        QVERIFY2(sync.run(), qPrintable(sync.error()));
        QCOMPARE(sync.imported(), row.isEmpty() ? 0 : 1);
        const QStringList rows =
            query(database(), bookColumns + "'file:///mnt/onboard/" + path.toUtf8() + '\'');
        QCOMPARE(rows, row.isEmpty() ? QStringList() : QStringList{row});
        if (row.isEmpty())
            return;
        QCOMPARE(sync.importedTitles(), QStringList{row.section('|', 2, 2)});
        const QString created = query(database(), "SELECT DateCreated FROM content").value(0);
        QVERIFY2(
            QDateTime::fromString(created, Qt::ISODate).secsTo(QDateTime::currentDateTimeUtc()) <
                60,
            qPrintable(created));

        // zorvid's dashboard finds it.
        zorvid::Library library(database());
        QVERIFY2(library.refresh(), qPrintable(library.error()));
        QCOMPARE(library.books().size(), 1);
        QCOMPARE(library.books().first().title, row.section('|', 2, 2));
    }

    // Books arriving and going between syncs; each sync changes only what
    // changed, store books and other rows stay.
    void laterSyncs()
    {
        QVERIFY(put("Books/a.epub", epub(package("<dc:title>Alpha</dc:title>"))));
        QVERIFY(put("Books/b.pdf", "%PDF"));
        LibrarySync sync(storage.path());
        QVERIFY2(sync.run(), qPrintable(sync.error()));
        QCOMPARE(sync.imported(), 2);
        // A part of the book, a store book, a book whose file is in a hidden
        // folder, as Nickel writes them.
        QVERIFY(execute(database(),
                        "INSERT INTO content (ContentID, ContentType, MimeType, BookID, ___UserID) "
                        "VALUES ('file:///mnt/onboard/Books/b.pdf#1', '9', 'm', "
                        "'file:///mnt/onboard/Books/b.pdf', ''), ('f00d', '6', 'm', NULL, 'u'), "
                        "('file:///mnt/onboard/.hidden/h.epub', '6', 'm', NULL, '');"
                        "UPDATE content SET ReadStatus = 1 WHERE ContentID LIKE '%a.epub'"));
        QVERIFY(put(".hidden/h.epub", "x"));

        QVERIFY2(sync.run(), qPrintable(sync.error()));
        QCOMPARE(sync.imported(), 0);
        QCOMPARE(sync.removed(), 0);

        QVERIFY(QFile::remove(at("Books/b.pdf")));
        QVERIFY(put("New/c.txt", "text"));
        QVERIFY2(sync.run(), qPrintable(sync.error()));
        QCOMPARE(sync.imported(), 1);
        QCOMPARE(sync.removed(), 1);
        QCOMPARE(
            query(database(), "SELECT ContentID, ReadStatus FROM content ORDER BY ContentID"),
            QStringList({"f00d|0", "file:///mnt/onboard/.hidden/h.epub|0",
                         "file:///mnt/onboard/Books/a.epub|1", "file:///mnt/onboard/New/c.txt|0"}));
    }

    // A database Nickel wrote, with its many columns in an order of its
    // own, its books and highlights: used as it is.
    void existingDatabase()
    {
        QVERIFY(QDir().mkpath(at(".kobo")));
        QCOMPARE(QProcess::execute("python3",
                                   {MAKELIBRARY, database(), "30", "--storage", storage.path()}),
                 0);
        const QByteArray schema = "SELECT group_concat(name) FROM pragma_table_info('content')";
        const QStringList columns = query(database(), schema);
        const QStringList before = query(database(), "SELECT * FROM content ORDER BY ContentID");
        const QStringList highlights = query(database(), "SELECT * FROM Bookmark");
        QVERIFY(put("Books/new.kepub.epub", epub(package("<dc:title>New</dc:title>"))));
        // A database in WAL mode stays in it.
        QCOMPARE(query(database(), "PRAGMA journal_mode = WAL"), QStringList{"wal"});

        LibrarySync sync(storage.path());
        QVERIFY2(sync.run(), qPrintable(sync.error()));
        QCOMPARE(sync.imported(), 1);
        QCOMPARE(sync.removed(), 0);
        QCOMPARE(query(database(), schema), columns);
        QCOMPARE(query(database(), "PRAGMA journal_mode"), QStringList{"wal"});
        QCOMPARE(query(database(),
                       "SELECT * FROM content WHERE ContentID NOT LIKE '%new.kepub.epub' "
                       "ORDER BY ContentID"),
                 before);
        QCOMPARE(query(database(), bookColumns + "'file:///mnt/onboard/Books/new.kepub.epub'")
                     .value(0)
                     .section('|', 0, 3),
                 QString("6|application/x-kobo-epub+zip|New|<null>"));
        QCOMPARE(query(database(), "SELECT * FROM Bookmark"), highlights);
    }

    void newDatabaseIsNotInWalMode()
    {
        LibrarySync sync(storage.path());
        QVERIFY2(sync.run(), qPrintable(sync.error()));
        QCOMPARE(query(database(), "PRAGMA journal_mode"), QStringList{"delete"});
        QCOMPARE(query(database(), "SELECT count(*) FROM content"), QStringList{"0"});
    }

    // Nothing is written, and the failure is told.
    void failures_data()
    {
        QTest::addColumn<QByteArray>("database");
        QTest::addColumn<QString>("error");
        QTest::newRow("no database") << QByteArray(4096, 'x') << "not a database";
        QTest::newRow("a table of something else")
            << QByteArray("CREATE TABLE content (Id TEXT)") << "no ContentID";
        QTest::newRow("a column without default that Nickel fills")
            << QByteArray(
                   "CREATE TABLE content (ContentID TEXT NOT NULL, ContentType TEXT NOT NULL, "
                   "Extra TEXT NOT NULL)")
            << "NOT NULL constraint failed";
    }

    void failures()
    {
        QFETCH(QByteArray, database);
        QFETCH(QString, error);

        QVERIFY(QDir().mkpath(at(".kobo")));
        if (database.startsWith("CREATE"))
            QVERIFY(execute(this->database(), database));
        else
            QVERIFY(writeFile(this->database(), database));
        const QByteArray before = readFile(this->database());
        QVERIFY(put("a.epub", "x"));
        QVERIFY(put("b.pdf", "x"));
        LibrarySync sync(storage.path());
        QVERIFY(!sync.run());
        QVERIFY2(sync.error().contains(error), qPrintable(sync.error()));
        QCOMPARE(sync.imported(), 0);
        QCOMPARE(readFile(this->database()), before);
        QVERIFY(!QFile::exists(this->database() + "-journal"));
    }

    void missingStorage()
    {
        LibrarySync sync(at("absent"));
        QVERIFY(!sync.run());
        QVERIFY2(sync.error().contains("absent"), qPrintable(sync.error()));
        QVERIFY(!QFile::exists(at("absent")));
    }
};

QTEST_GUILESS_MAIN(TestLibrarySync)
#include "tst_librarysync.moc"
