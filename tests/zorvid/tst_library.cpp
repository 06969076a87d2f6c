// zorvid's reading of Nickel's library database: the values as firmware
// versions write them, whatever the table's columns, a database that changes
// or that Nickel holds locked, and files that are no database; the
// highlights in reading order, without what the owner deleted, bounded.

#include "filecontent.h"
#include "library/highlights.h"
#include "library/library.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <sqlite3.h>

#include <fcntl.h>
#include <sys/stat.h>

using zorvid::Book;
using zorvid::HighlightList;
using zorvid::Highlights;
using zorvid::Library;

namespace {

// Runs SQL on DATABASE; the connection stays open for the caller to close
// (a held transaction keeps its lock).
sqlite3 *execute(const QString &database, const QByteArray &sql)
{
    sqlite3 *connection = nullptr;
    sqlite3_open(QFile::encodeName(database).constData(), &connection);
    char *error = nullptr;
    if (sqlite3_exec(connection, sql.constData(), nullptr, nullptr, &error) != SQLITE_OK)
        qWarning("%s: %s", sql.constData(), error);
    sqlite3_free(error);
    return connection;
}

// Nickel's columns that are read, in an order of their own, among others.
const QByteArray fullTable =
    "CREATE TABLE content (___SyncTime TEXT, Title TEXT COLLATE NOCASE, ContentType TEXT NOT "
    "NULL, WordCount INTEGER DEFAULT -1, ___PercentRead INTEGER, Attribution TEXT, ContentID TEXT "
    "NOT NULL, Series TEXT, SeriesNumber TEXT, DateLastRead TEXT, ReadStatus INTEGER, MimeType "
    "TEXT NOT NULL, ___FileSize INTEGER, ImageId TEXT, IsDownloaded BIT NOT NULL DEFAULT 1, "
    "FavouritesIndex NUMERIC DEFAULT -1, PRIMARY KEY (ContentID));";

// A book of three parts, listed out of order, and another book.
const QByteArray partsTable =
    "CREATE TABLE content (ContentID TEXT NOT NULL, ContentType TEXT NOT NULL, MimeType TEXT, "
    "Title TEXT, VolumeIndex INTEGER, ___UserID TEXT, PRIMARY KEY (ContentID));"
    "INSERT INTO content VALUES ('b', '6', 'm', 'Book', -1, ''), ('b#2', '9', 'm', 'Second', 1, "
    "''), ('b#1', '9', 'm', 'First', 0, ''), ('b#3', '9', 'm', NULL, 2, ''), ('o', '6', 'm', "
    "'Other', -1, '');";
// Nickel's Bookmark table, among columns nothing reads.
const QByteArray bookmarkTable =
    "CREATE TABLE Bookmark (BookmarkID TEXT NOT NULL, VolumeID TEXT NOT NULL, ContentID TEXT NOT "
    "NULL, StartContainerPath TEXT, StartOffset INTEGER NOT NULL, Text TEXT, Annotation TEXT, "
    "ExtraAnnotationData BLOB, DateCreated TEXT, ChapterProgress REAL NOT NULL DEFAULT 0, Hidden "
    "BOOL NOT NULL DEFAULT 0, Type TEXT, Color INTEGER DEFAULT 0, PRIMARY KEY (BookmarkID));";

// The highlights as "text/chapter/note", one to a line.
QString shown(const HighlightList &list)
{
    QStringList lines;
    for (const zorvid::Highlight &highlight : list.highlights)
        lines << highlight.text + '/' + highlight.chapter + '/' + highlight.note;
    return lines.join('\n');
}

} // namespace

class TestLibrary : public QObject {
    Q_OBJECT

private slots:
    void valuesAsFirmwareWritesThem_data()
    {
        QTest::addColumn<QByteArray>("table");
        QTest::addColumn<QByteArray>("row");
        // title | author | series #number | percent | last read (UTC) | on the reader
        QTest::addColumn<QString>("expected");

        QTest::newRow("every column, markup kept as text")
            << fullTable
            << QByteArray("INSERT INTO content (ContentID, ContentType, MimeType, Title, "
                          "Attribution, Series, "
                          "SeriesNumber, ___PercentRead, DateLastRead, IsDownloaded) VALUES "
                          "('file:///mnt/onboard/a.epub', '6', 'application/epub+zip', '<b>A</b> & "
                          "\"B\"', "
                          "'Ann', 'Saga', '2.5', 40, '2024-01-15T14:30:00Z', 1)")
            << "<b>A</b> & \"B\"|Ann|Saga#2.5|40|2024-01-15T14:30:00Z|1";
        QTest::newRow("NULL everywhere but the id")
            << fullTable
            << QByteArray("INSERT INTO content (ContentID, ContentType, MimeType, IsDownloaded) "
                          "VALUES ('x', '6', 'application/pdf', 1)")
            << "||#|0||1";
        QTest::newRow("milliseconds and an offset; a store book not on the reader")
            << fullTable
            << QByteArray(
                   "INSERT INTO content (ContentID, ContentType, MimeType, DateLastRead, "
                   "IsDownloaded) VALUES ('x', '6', 'm', '2024-01-15T14:30:00.250+02:00', 0)")
            << "||#|0|2024-01-15T12:30:00Z|0";
        QTest::newRow("a date that is no date, a percent out of range")
            << fullTable
            << QByteArray("INSERT INTO content (ContentID, ContentType, MimeType, DateLastRead, "
                          "___PercentRead) VALUES ('x', '6', 'm', 'yesterday', 250)")
            << "||#|100||1";
        QTest::newRow("an older table without series, progress and download flag")
            << QByteArray("CREATE TABLE content (ContentID TEXT, ContentType TEXT, MimeType TEXT, "
                          "Title TEXT, Attribution TEXT);")
            << QByteArray("INSERT INTO content VALUES ('x', 6, 'm', 'Old', 'Bo')")
            << "Old|Bo|#|0||1";
    }

    void valuesAsFirmwareWritesThem()
    {
        QFETCH(QByteArray, table);
        QFETCH(QByteArray, row);
        QFETCH(QString, expected);

        QTemporaryDir folder(QDir::temp().filePath("library-XXXXXX"));
        const QString database = folder.path() + "/KoboReader.sqlite";
        // A chapter of the book is no book of its own.
        sqlite3_close(execute(database, table + row + ";" +
                                            "INSERT INTO content (ContentID, ContentType, "
                                            "MimeType) VALUES ('x#1', '9', 'm');"));
        Library library(database);
        QVERIFY2(library.refresh(), qPrintable(library.error()));
        QCOMPARE(library.books().size(), 1);
        const Book &book = library.books().first();
        const QString shown = QStringList{book.title,
                                          book.author,
                                          book.series + '#' + book.seriesNumber,
                                          QString::number(book.percentRead),
                                          book.lastRead.toString(Qt::ISODate),
                                          book.onReader ? "1" : "0"}
                                  .join('|');
        QCOMPARE(shown, expected);
    }

    // A library as large as a reader's, changed while zorvid reads it, and
    // locked by Nickel for a while.
    void changesAndLocks()
    {
        QTemporaryDir folder(QDir::temp().filePath("library-XXXXXX"));
        const QString database = folder.path() + "/KoboReader.sqlite";
        QCOMPARE(QProcess::execute("python3", {MAKELIBRARY, database, "2000"}), 0);
        Library library(database);
        QVERIFY2(library.refresh(), qPrintable(library.error()));
        QCOMPARE(library.books().size(), 2000);
        QVERIFY(std::any_of(library.books().cbegin(), library.books().cend(),
                            [](const Book &book) { return !book.onReader; }));

        sqlite3_close(execute(database, "UPDATE content SET Title = 'Renamed' WHERE rowid = 1"));
        QVERIFY(library.refresh());
        QCOMPARE(library.books().first().title, QStringLiteral("Renamed"));

        sqlite3 *nickel = execute(database, "BEGIN EXCLUSIVE; UPDATE content SET Title = 'Mid'");
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!library.refresh());
        QVERIFY(clock.elapsed() < 2000);
        QVERIFY2(library.error().contains("locked"), qPrintable(library.error()));
        QCOMPARE(library.books().first().title, QStringLiteral("Renamed"));
        // Asked again at once, it does not wait again on the same lock, and a
        // book of the last reading is found without one.
        clock.restart();
        QVERIFY(!library.refresh());
        QVERIFY(library.book(library.books().first().contentId));
        QVERIFY(clock.elapsed() < 100);
        sqlite3_exec(nickel, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close(nickel);
        QVERIFY(library.refresh());
        QCOMPARE(library.books().first().title, QStringLiteral("Mid"));
    }

    // Nickel keeps its database in WAL mode, on a FAT storage whose times move
    // in steps of 2 s: a change that leaves the files' sizes and times as they
    // were is seen all the same.
    void changesInWalModeOnACoarseClock()
    {
        QTemporaryDir folder(QDir::temp().filePath("library-XXXXXX"));
        const QString database = folder.path() + "/KoboReader.sqlite";
        QCOMPARE(QProcess::execute("python3", {MAKELIBRARY, database, "50"}), 0);
        sqlite3 *nickel = execute(
            database,
            "PRAGMA journal_mode = WAL; UPDATE content SET Title = 'Before' WHERE rowid = 1");
        Library library(database);
        QVERIFY2(library.refresh(), qPrintable(library.error()));
        QCOMPARE(library.books().first().title, QStringLiteral("Before"));

        const QStringList files{database, database + "-wal"};
        QList<struct stat> before;
        for (const QString &file : files) {
            struct stat status {};
            QCOMPARE(::stat(QFile::encodeName(file).constData(), &status), 0);
            before << status;
        }
        // The log starts again from its beginning, with a change of the same
        // size; then the times are put back as a 2 s clock would leave them.
        sqlite3_exec(nickel,
                     "PRAGMA wal_checkpoint(RESTART); UPDATE content SET Title = 'After!' WHERE "
                     "rowid = 1",
                     nullptr, nullptr, nullptr);
        for (int i = 0; i < files.size(); ++i) {
            struct stat now {};
            QCOMPARE(::stat(QFile::encodeName(files.at(i)).constData(), &now), 0);
            QCOMPARE(now.st_size, before.at(i).st_size);
            const timespec times[2] = {before.at(i).st_atim, before.at(i).st_mtim};
            QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(files.at(i)).constData(), times, 0),
                     0);
        }
        QVERIFY(library.refresh());
        QCOMPARE(library.books().first().title, QStringLiteral("After!"));
        sqlite3_close(nickel);
    }

    // What a stranger could leave on the storage in the database's place: a
    // reading ends in time, with an error, and writes nothing beside it.
    void hostileFiles_data()
    {
        QTest::addColumn<QString>("fifo");
        QTest::addColumn<QByteArray>("sql");
        QTest::addColumn<bool>("read");
        QTest::newRow("a FIFO as the database") << "" << QByteArray() << false;
        QTest::newRow("a FIFO as the WAL index")
            << "-shm" << QByteArray("PRAGMA journal_mode = WAL;") + fullTable << false;
        QTest::newRow("an endless view as the table of books")
            << QString()
            << QByteArray("CREATE VIEW content AS WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL "
                          "SELECT i + 1 FROM n) SELECT 'x' AS ContentID, '6' AS ContentType "
                          "FROM n WHERE i < 0;")
            << false;
        QTest::newRow("a WAL database without its log, as Nickel leaves it")
            << QString()
            << QByteArray("PRAGMA journal_mode = WAL;") + fullTable +
                   "INSERT INTO content (ContentID, ContentType, MimeType) VALUES ('x', '6', 'm');"
            << true;
        const QByteArray huge(1 << 20, 'T');
        QTest::newRow("titles of a MiB, cut")
            << QString()
            << fullTable +
                   "INSERT INTO content (ContentID, ContentType, MimeType, Title, "
                   "Attribution) VALUES ('x', '6', 'm', '" +
                   huge + "', '" + QByteArray(1023, 'a') + "\xc3\xa9');"
            << true;
    }

    void hostileFiles()
    {
        QFETCH(QString, fifo);
        QFETCH(QByteArray, sql);
        QFETCH(bool, read);
        QTemporaryDir folder(QDir::temp().filePath("library-XXXXXX"));
        const QString database = folder.path() + "/KoboReader.sqlite";
        if (!sql.isEmpty())
            sqlite3_close(execute(database, sql));
        QFile::remove(database + "-shm");
        QFile::remove(database + "-wal");
        if (!fifo.isNull())
            QCOMPARE(::mkfifo(QFile::encodeName(database + fifo).constData(), 0600), 0);
        const QStringList before = QDir(folder.path()).entryList(QDir::Files | QDir::System);

        Library library(database, 500);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(library.refresh(), read);
        QVERIFY(clock.elapsed() < 3000);
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::System), before);
        if (!read) {
            QVERIFY(!library.error().isEmpty());
            return;
        }
        QCOMPARE(library.books().size(), 1);
        const Book &book = library.books().first();
        // Cut at 1 KiB, and before a character the cut would split.
        const bool huge = sql.contains("TTTT");
        QCOMPARE(book.title, QString(huge ? 1024 : 0, QLatin1Char('T')));
        QCOMPARE(book.author, QString(huge ? 1023 : 0, QLatin1Char('a')));
    }

    // Across parts by their VolumeIndex, then by progress, then by offset;
    // rows deleted on the reader (Hidden as 'true' or a number), bookmarks and
    // blanks left out, a part the table lacks last.
    void highlightsInReadingOrder()
    {
        QTemporaryDir folder(QDir::temp().filePath("library-XXXXXX"));
        const QString database = folder.path() + "/KoboReader.sqlite";
        sqlite3_close(
            execute(database,
                    partsTable + bookmarkTable +
                        "INSERT INTO Bookmark (BookmarkID, VolumeID, ContentID, ChapterProgress, "
                        "StartOffset, Text, Annotation, Hidden, Type, DateCreated) VALUES "
                        "('1', 'b', 'b#2', 0.5, 5, 'D', NULL, 'false', 'highlight', NULL),"
                        "('2', 'b', 'b#1', 0.9, 1, 'B', 'Note\r\nof B', 0, 'note', NULL),"
                        "('3', 'b', 'b#1', 0.1, 9, ' A\t', NULL, 0, NULL, '2024-01-15T14:30:00Z'),"
                        "('4', 'b', 'b#2', 0.5, 2, 'C', NULL, 'false', 'highlight', NULL),"
                        "('5', 'b', 'b#1', 0.5, 0, 'deleted', NULL, 'true', 'highlight', NULL),"
                        "('6', 'b', 'b#1', 0.6, 0, 'deleted too', 'n', 1.0, 'note', NULL),"
                        "('7', 'b', 'b#1', 0.7, 0, NULL, NULL, 0, 'dogear', NULL),"
                        "('8', 'b', 'b#1', 0.8, 0, ' \n ', '', 0, 'highlight', NULL),"
                        "('9', 'b', 'b#3', 0.0, 0, NULL, 'only a note', 0, 'note', NULL),"
                        "('10', 'o', 'o', 0.0, 0, 'Elsewhere', NULL, 0, 'highlight', NULL),"
                        "('11', 'b', 'b#9', 0.2, 0, 'F', NULL, 0, 'highlight', NULL),"
                        "('12', 'b', 'b#1', 0.95, 0, 'a bookmark', NULL, 0, 'dogear', NULL)"));
        Highlights highlights(database);
        HighlightList list;
        QVERIFY2(highlights.read("b", &list), qPrintable(highlights.error()));
        QCOMPARE(shown(list), QStringLiteral("A/First/\nB/First/Note\nof B\nC/Second/\nD/Second/\n"
                                             "//only a note\nF//"));
        QVERIFY(list.complete);
        QCOMPARE(list.highlights.first().created,
                 QDateTime(QDate(2024, 1, 15), QTime(14, 30), Qt::UTC));
        QCOMPARE(list.highlights.first().bookId, QStringLiteral("b"));

        QHash<QString, int> counts;
        QVERIFY(highlights.count(&counts));
        QCOMPARE(counts, (QHash<QString, int>{{"b", 6}, {"o", 1}}));
        // Every book's, book after book by title.
        QVERIFY(highlights.read(QString(), &list));
        QCOMPARE(list.highlights.size(), 7);
        QCOMPARE(list.highlights.last().text, QStringLiteral("Elsewhere"));
    }

    // Older firmware has fewer columns, or no Bookmark table at all: fewer
    // highlights or none, never an error.
    void highlightsOfOlderFirmware_data()
    {
        QTest::addColumn<QByteArray>("tables");
        QTest::addColumn<QString>("expected");
        QTest::newRow("no Bookmark table") << QByteArray() << QString();
        QTest::newRow("no Hidden, Type, ChapterProgress, Annotation or dates")
            << QByteArray("CREATE TABLE Bookmark (BookmarkID TEXT, VolumeID TEXT, ContentID TEXT, "
                          "StartOffset INTEGER, Text TEXT); INSERT INTO Bookmark VALUES ('1', "
                          "'b', 'b#2', 1, 'Z'), ('2', 'b', 'b#1', 5, 'Y'), ('3', 'b', 'b#1', 2, "
                          "'X');")
            << "X/First/\nY/First/\nZ/Second/";
        QTest::newRow("no VolumeID to tie them to a book")
            << QByteArray("CREATE TABLE Bookmark (BookmarkID TEXT, ContentID TEXT, Text TEXT);"
                          "INSERT INTO Bookmark VALUES ('1', 'b#1', 'X');")
            << QString();
        QTest::newRow("parts without VolumeIndex, highlights without ContentID")
            << QByteArray("CREATE TABLE Bookmark (BookmarkID TEXT, VolumeID TEXT, StartOffset "
                          "INTEGER, Text TEXT); INSERT INTO Bookmark VALUES ('1', 'b', 2, 'Y'), "
                          "('2', 'b', 1, 'X');")
            << "X//\nY//";
    }

    void highlightsOfOlderFirmware()
    {
        QFETCH(QByteArray, tables);
        QFETCH(QString, expected);
        QTemporaryDir folder(QDir::temp().filePath("library-XXXXXX"));
        const QString database = folder.path() + "/KoboReader.sqlite";
        QByteArray parts = partsTable;
        if (QByteArray(QTest::currentDataTag()).startsWith("parts without"))
            parts.replace("VolumeIndex INTEGER", "Other INTEGER");
        sqlite3_close(execute(database, parts + tables));
        Highlights highlights(database);
        HighlightList list;
        QVERIFY2(highlights.read("b", &list), qPrintable(highlights.error()));
        QCOMPARE(shown(list), expected);
        QHash<QString, int> counts;
        QVERIFY(highlights.count(&counts));
        QCOMPARE(counts.value("b"), list.highlights.size());
    }

    // A hostile database cannot fill the daemon's memory: each text is cut
    // at a character's end, and a book's rows are bounded.
    void highlightsAreBounded()
    {
        QTemporaryDir folder(QDir::temp().filePath("library-XXXXXX"));
        const QString database = folder.path() + "/KoboReader.sqlite";
        sqlite3_close(execute(
            database,
            partsTable + bookmarkTable +
                "UPDATE content SET Title = replace(hex(zeroblob(3000)), '00', 'ab\n') WHERE "
                "ContentID = 'b#1';"
                "INSERT INTO Bookmark (BookmarkID, VolumeID, ContentID, StartOffset, Text, "
                "Annotation) VALUES ('long', 'b', 'b#1', 0, replace(hex(zeroblob(9000)), '00', "
                "char(128512)), replace(hex(zeroblob(20000)), '00', 'n'));"
                "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < "
                "10000) INSERT INTO Bookmark (BookmarkID, VolumeID, ContentID, StartOffset, "
                "Text) SELECT i, 'b', 'b#2', i, 'row ' || i FROM n;"));
        Highlights highlights(database);
        HighlightList list;
        QVERIFY2(highlights.read("b", &list), qPrintable(highlights.error()));
        QCOMPARE(list.highlights.size(), int(Highlights::perBook));
        QVERIFY(!list.complete);
        const zorvid::Highlight &first = list.highlights.first();
        const QVector<uint> text = first.text.toUcs4();
        QCOMPARE(text.size(), int(Highlights::textLimit));
        QCOMPARE(text.first(), 128512u);
        QCOMPARE(text.last(), 0x2026u);
        QCOMPARE(first.note.size(), int(Highlights::noteLimit));
        QCOMPARE(first.chapter.size(), int(Highlights::titleLimit));
        QVERIFY(first.chapter.startsWith("ab ab ab") && !first.chapter.contains('\n'));
        QHash<QString, int> counts;
        QVERIFY(highlights.count(&counts));
        QCOMPARE(counts.value("b"), int(Highlights::perBook));
    }

    void notADatabase_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("no file") << QByteArray();
        QTest::newRow("text") << QByteArray("not a database\n");
        QTest::newRow("a database without the table") << QByteArray("CREATE TABLE other (a);");
    }

    void notADatabase()
    {
        QFETCH(QByteArray, content);
        QTemporaryDir folder(QDir::temp().filePath("library-XXXXXX"));
        const QString database = folder.path() + "/KoboReader.sqlite";
        if (content.startsWith("CREATE"))
            sqlite3_close(execute(database, content));
        else if (!content.isNull())
            QVERIFY(writeFile(database, content));
        Library library(database);
        QVERIFY(!library.refresh());
        QVERIFY(!library.error().isEmpty());
        QVERIFY(library.books().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestLibrary)
#include "tst_library.moc"
