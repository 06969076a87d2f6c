// The pieces of the pages that browsers see, without a daemon: ranges of a
// download, the browser's language, the texts and their counts, the
// library's search, order and paging, which files a book may name, and
// escaping in pages and in the exports of highlights.

#include "filecontent.h"
#include "library/searchtext.h"
#include "web/bookfiles.h"
#include "web/byterange.h"
#include "web/highlightsexport.h"
#include "web/highlightspage.h"
#include "web/librarypage.h"
#include "web/libraryquery.h"
#include "web/pagelanguage.h"
#include "web/pagetexts.h"
#include "web/pairpage.h"

#include <QCollator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/mount.h>

using namespace zorvid;

Q_DECLARE_METATYPE(ByteRange::Kind)

namespace {

Book book(const QString &title, const QString &author, const QString &lastRead,
          const QString &series = QString(), bool onReader = true)
{
    Book b;
    b.contentId = "file:///mnt/onboard/" + title;
    b.title = title;
    b.author = author;
    b.series = series;
    b.lastRead = QDateTime::fromString(lastRead, Qt::ISODate);
    b.onReader = onReader;
    b.searchText = searchTextOf(b);
    return b;
}

QStringList titles(const LibraryQuery::Page &page)
{
    QStringList list;
    for (const Book *b : page.books)
        list << b->title;
    return list;
}

QSet<QString> placeholders(const QString &text)
{
    QSet<QString> found;
    static const QRegularExpression name(QStringLiteral("\\{\\w+\\}"));
    auto matches = name.globalMatch(text);
    while (matches.hasNext())
        found.insert(matches.next().captured());
    return found;
}

} // namespace

class WebTest : public QObject {
    Q_OBJECT

private slots:
    void rangesAsAsked_data()
    {
        QTest::addColumn<QByteArray>("field");
        QTest::addColumn<qint64>("size");
        QTest::addColumn<ByteRange::Kind>("kind");
        QTest::addColumn<qint64>("offset");
        QTest::addColumn<qint64>("length");
        const auto whole = ByteRange::Kind::Whole;
        const auto part = ByteRange::Kind::Part;
        const auto none = ByteRange::Kind::Unsatisfiable;
        QTest::newRow("no field") << QByteArray() << 100LL << whole << 0LL << 100LL;
        QTest::newRow("the last ten") << QByteArray("bytes=-10") << 100LL << part << 90LL << 10LL;
        QTest::newRow("an end past the file")
            << QByteArray("bytes=90-200") << 100LL << part << 90LL << 10LL;
        QTest::newRow("a start at the end")
            << QByteArray("bytes=100-") << 100LL << none << 0LL << 0LL;
        QTest::newRow("a start of 20 digits")
            << QByteArray("bytes=99999999999999999999-") << 100LL << none << 0LL << 0LL;
        QTest::newRow("none of the end") << QByteArray("bytes=-0") << 100LL << none << 0LL << 0LL;
        QTest::newRow("any range of an empty file")
            << QByteArray("bytes=0-") << 0LL << none << 0LL << 0LL;
        QTest::newRow("two ranges")
            << QByteArray("bytes=0-1,5-6") << 100LL << whole << 0LL << 100LL;
    }

    void rangesAsAsked()
    {
        QFETCH(QByteArray, field);
        QFETCH(qint64, size);
        QFETCH(ByteRange::Kind, kind);
        const ByteRange range = ByteRange::parse(field, size);
        QCOMPARE(range.kind, kind);
        if (kind != ByteRange::Kind::Unsatisfiable) {
            QTEST(range.offset, "offset");
            QTEST(range.length, "length");
        }
    }

    void languageOfTheBrowser_data()
    {
        QTest::addColumn<QByteArray>("field");
        QTest::addColumn<QString>("code");
        QTest::newRow("nothing asked") << QByteArray() << "en";
        QTest::newRow("the first of several") << QByteArray("fr-CH, fr;q=0.9, en;q=0.8") << "fr";
        QTest::newRow("a language without a row is passed over")
            << QByteArray("sr, de;q=0.5") << "de";
        QTest::newRow("the weight decides, not the order") << QByteArray("en;q=0.1, ja") << "ja";
        QTest::newRow("a weight of 0 refuses") << QByteArray("de;q=0, fr;q=0.2") << "fr";
        QTest::newRow("a weight that is no number refuses")
            << QByteArray("de;q=x, fr;q=0.5") << "fr";
        QTest::newRow("Hebrew's old code") << QByteArray("iw") << "he";
    }

    void languageOfTheBrowser()
    {
        QFETCH(QByteArray, field);
        QFETCH(QString, code);
        const PageLanguage language = PageLanguage::fromAcceptLanguage(field);
        QCOMPARE(language.code(), code);
        QCOMPARE(language.isRightToLeft(), code == "ar" || code == "he");
    }

    // Every cell filled, with exactly the placeholders of the English text:
    // a lost {date} would show a sentence without its date. A text that sends
    // the owner to the reader for a new code names the panel's button and the
    // menu it is in: the reader shows neither until the menu is opened. The
    // English texts write the apostrophe as the panel's do, in ASCII.
    void everyLanguageHasEveryText()
    {
        int connectDevice = 0;
        while (qstrcmp(zorvi::textKeys[connectDevice], "connectDevice") != 0)
            ++connectDevice;
        for (int row = 0; row < zorvi::languageCount; ++row) {
            const QString button = QString::fromUtf8(zorvi::textTable[row][connectDevice]);
            for (int key = 0; key < pageTextCount; ++key) {
                const QString text = QString::fromUtf8(pageTextTable[row][key]);
                const QByteArray where =
                    QByteArray(zorvi::languageCodes[row]) + ' ' + pageTextKeys[key];
                QVERIFY2(!text.trimmed().isEmpty(), where.constData());
                QVERIFY2(placeholders(text) ==
                             placeholders(QString::fromUtf8(pageTextTable[0][key])),
                         where.constData());
                if (qstrcmp(pageTextKeys[key], "codeWithdrawn") == 0 ||
                    qstrcmp(pageTextKeys[key], "noOffer") == 0)
                    QVERIFY2(text.contains(button, Qt::CaseInsensitive) &&
                                 text.contains(QLatin1String("Zorvi")),
                             where.constData());
                QVERIFY2(row != 0 || !text.contains(QChar(0x2019)), where.constData());
                // A text with a count has a form for each plural category.
                if (qstrcmp(pageTextKeys[key], "notesCount") == 0)
                    QVERIFY2(text.split('|').size() ==
                                 PageLanguage::fromAcceptLanguage(zorvi::languageCodes[row])
                                     .pluralForms(),
                             where.constData());
            }
        }
    }

    // A value is put in once and never read as a placeholder itself; numbers
    // and dates are written as the language writes them.
    void valuesFilledInOnce()
    {
        const PageLanguage english;
        QCOMPARE(english.text("noMatches", {{"query", "{query} {total}"}}),
                 QString::fromUtf8("No books match “{query} {total}”."));
    }

    // A count takes the form its language gives it, in the language's digits.
    void countsInTheirLanguagesForms_data()
    {
        QTest::addColumn<QByteArray>("language");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char *language, int count, const char *expected) {
            QTest::newRow((QByteArray(language) + ' ' + QByteArray::number(count)).constData())
                << QByteArray(language) << count << QString::fromUtf8(expected);
        };
        row("en", 1, "1 highlight");
        row("en", 12, "12 highlights");
        row("fr", 0, "0 surlignement");
        row("fr", 2, "2 surlignements");
        row("pl", 2, "2 zaznaczenia");
        row("pl", 5, "5 zaznaczeń");
        row("pl", 12, "12 zaznaczeń");
        row("pl", 22, "22 zaznaczenia");
        row("ru", 21, "21 выделение");
        row("ru", 11, "11 выделений");
        row("cs", 3, "3 zvýraznění");
        row("ro", 19, "19 evidențieri");
        row("ro", 20, "20 de evidențieri");
        row("he", 2, "שתי הדגשות");
        row("ar", 1, "تمييز واحد");
        row("ar", 2, "تمييزان");
        row("ar", 3, "٣ تمييزات");
        row("ar", 11, "١١ تمييزًا");
        row("ar", 100, "١٠٠ تمييز");
        row("ja", 1000, "ハイライト 1,000 件");
    }

    void countsInTheirLanguagesForms()
    {
        QFETCH(QByteArray, language);
        QFETCH(int, count);
        QTEST(PageLanguage::fromAcceptLanguage(language).counted("notesCount", count), "expected");
    }

    // As the dashboard's form and links ask for them.
    void searchAndOrder_data()
    {
        QTest::addColumn<QByteArray>("urlQuery");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("recent: read ones newest first, then the others by title")
            << QByteArray() << QStringList{"zoe's day", "", "Émile", "Book 2", "Book 10"};
        QTest::newRow("title: numbers as numbers, accents in place, no title last")
            << QByteArray("sort=title")
            << QStringList{"Book 2", "Book 10", "Émile", "zoe's day", ""};
        QTest::newRow("author: no author last")
            << QByteArray("sort=author")
            << QStringList{"", "zoe's day", "Book 2", "Émile", "Book 10"};
        QTest::newRow("a search finds titles and series, without accents or case")
            << QByteArray("q=ZOE") << QStringList{"zoe's day", "Book 2"};
        QTest::newRow("accents in the search match too; a form's + is a space")
            << QByteArray("q=%C3%A9mile+&sort=title") << QStringList{"Émile"};
        QTest::newRow("authors are searched")
            << QByteArray("q=bronte&sort=title") << QStringList{"Book 2"};
        QTest::newRow("a book not on the reader is never found")
            << QByteArray("q=stored") << QStringList{};
    }

    void searchAndOrder()
    {
        QFETCH(QByteArray, urlQuery);
        QFETCH(QStringList, expected);
        const QVector<Book> books{
            book("Émile", "Rousseau", "2020-05-01T10:00:00Z"),
            book("zoe's day", "Austen", "2023-01-01T10:00:00Z"),
            book("Book 10", "", QString()),
            book("Book 2", "Brontë", QString(), QString::fromUtf8("Zoë Tales")),
            book("", "Anon", "2021-01-01T10:00:00Z"),
            book("Stored", "Someone", "2024-01-01T10:00:00Z", QString(), false)};
        const LibraryQuery query = LibraryQuery::fromUrlQuery(urlQuery);
        // Orders by language need Qt's collation through ICU, which the
        // reader's Qt has and the builds of it here lack.
        QCollator collator;
        collator.setNumericMode(true);
        if (expected.size() > 1 && collator.compare(QStringLiteral("2"), QStringLiteral("10")) > 0)
            QSKIP("this Qt collates without ICU");
        QCOMPARE(titles(query.select(
                     books, LibraryQuery::sorted(books, query.order, QLocale(QLocale::English)))),
                 expected);
        // The page's links ask for the same again.
        QCOMPARE(LibraryQuery::fromUrlQuery(query.toUrlQuery()).toUrlQuery(), query.toUrlQuery());
    }

    void aPagePastTheLastShowsTheLast()
    {
        QVector<Book> books;
        for (int i = 0; i < 50; ++i)
            books << book(QStringLiteral("Book %1").arg(i), "A", QString());
        const LibraryQuery::Page page = LibraryQuery::fromUrlQuery("page=99").select(
            books,
            LibraryQuery::sorted(books, LibraryQuery::Order::Recent, QLocale(QLocale::English)));
        QCOMPARE(page.pageCount, 3);
        QCOMPARE(page.page, 2);
        QCOMPARE(page.books.size(), 2);
    }

    // What the library page writes as its language writes it: a page of one
    // book names that book alone, and a series number and a date come in the
    // words and digits of the rest of the page.
    void libraryPageWrites_data()
    {
        QTest::addColumn<QByteArray>("language");
        QTest::addColumn<int>("books");
        QTest::addColumn<QByteArray>("urlQuery");
        QTest::addColumn<QString>("expected");
        QTest::newRow("a last page of one book")
            << QByteArray("en") << 25 << QByteArray("page=2") << QString::fromUtf8(">25 of 25<");
        QTest::newRow("a last page of two")
            << QByteArray("en") << 26 << QByteArray("page=2") << QString::fromUtf8(">25–26 of 26<");
        QTest::newRow("one book, right to left")
            << QByteArray("he") << 1 << QByteArray() << QString::fromUtf8(">1 מתוך 1<");
        QTest::newRow("one book, the total first")
            << QByteArray("ja") << 1 << QByteArray() << QString::fromUtf8(">全 1 件中 1 件目<");
        QTest::newRow("one book in Arabic digits")
            << QByteArray("ar") << 1 << QByteArray() << QString::fromUtf8(">١ من ١<");
        QTest::newRow("a series number in Arabic digits")
            << QByteArray("ar") << 1 << QByteArray() << QString::fromUtf8("\u2068٢٫٥\u2069");
        QTest::newRow("the first of a month in French")
            << QByteArray("fr") << 1 << QByteArray()
            << QString::fromUtf8("Dernière lecture le 1er décembre 2026<");
    }

    void libraryPageWrites()
    {
        QFETCH(QByteArray, language);
        QFETCH(int, books);
        QFETCH(QByteArray, urlQuery);
        QFETCH(QString, expected);
        QVector<Book> library;
        for (int i = 0; i < books; ++i) {
            library << book(QStringLiteral("Book %1").arg(i), "A", "2026-12-01T10:00:00Z", "S");
            library.last().seriesNumber = QStringLiteral("2.5");
        }
        const HttpReply reply =
            libraryPage(library, LibraryQuery::fromUrlQuery(urlQuery), BookFiles("/nonexistent"),
                        PageLanguage::fromAcceptLanguage(language));
        QVERIFY2(QString::fromUtf8(reply.body).contains(expected), reply.body.constData());
    }

    // A book names a file of the storage, and nothing else: no way out of it
    // by "..", by a link or by another storage, nothing of a hidden folder.
    void filesStayOnTheStorage_data()
    {
        QTest::addColumn<QString>("contentId");
        QTest::addColumn<bool>("served");
        QTest::newRow("a book") << "file:///mnt/onboard/Books/a.epub" << true;
        QTest::newRow("a book through a link that stays on the storage")
            << "file:///mnt/onboard/Books/inner.epub" << true;
        QTest::newRow("a link out of the storage")
            << "file:///mnt/onboard/Books/outer.epub" << false;
        QTest::newRow("out by ..") << "file:///mnt/onboard/Books/../../outside.epub" << false;
        QTest::newRow("the database") << "file:///mnt/onboard/.kobo/KoboReader.sqlite" << false;
        QTest::newRow("a link into a hidden folder")
            << "file:///mnt/onboard/Books/state.epub" << false;
        QTest::newRow("the database by its folder's short name on a FAT storage")
            << "file:///mnt/onboard/KOBO~1/KoboReader.sqlite" << false;
        QTest::newRow("a hidden folder below the top by its short name")
            << "file:///mnt/onboard/Books/SECRET~1/b.epub" << false;
        QTest::newRow("a hidden book by its short name")
            << "file:///mnt/onboard/Books/HIDDEN~1.EPU" << false;
        QTest::newRow("the memory card") << "file:///mnt/sd/Books/a.epub" << false;
        QTest::newRow("a NUL in the name")
            << QStringLiteral("file:///mnt/onboard/Books/a.epub") + QChar(0) + ".txt" << false;
    }

    void filesStayOnTheStorage()
    {
        QFETCH(QString, contentId);
        QFETCH(bool, served);
        QTemporaryDir root;
        const QString storage = root.path() + "/onboard";
        QVERIFY(QDir().mkpath(storage + "/Books") && QDir().mkpath(storage + "/.kobo"));
        QVERIFY(writeFile(storage + "/Books/a.epub", "x") &&
                writeFile(root.path() + "/outside.epub", "x") &&
                writeFile(storage + "/.kobo/KoboReader.sqlite", "x"));
        QVERIFY(QFile::link(storage + "/Books/a.epub", storage + "/Books/inner.epub"));
        QVERIFY(QFile::link(root.path() + "/outside.epub", storage + "/Books/outer.epub"));
        QVERIFY(QFile::link(storage + "/.kobo/KoboReader.sqlite", storage + "/Books/state.epub"));

        QVERIFY(QDir().mkpath(storage + "/Books/.secret") &&
                writeFile(storage + "/Books/.secret/b.epub", "x") &&
                writeFile(storage + "/Books/.hidden.epub", "x"));

        // The same entries under a second name, as FAT gives every long name
        // a short one.
        QList<QByteArray> aliases;
        const QList<QPair<QString, QString>> entries{{".kobo", "KOBO~1"},
                                                     {"Books/.secret", "Books/SECRET~1"},
                                                     {"Books/.hidden.epub", "Books/HIDDEN~1.EPU"}};
        for (const auto &alias : entries) {
            aliases << QFile::encodeName(storage + '/' + alias.second);
            const bool folder = QFileInfo(storage + '/' + alias.first).isDir();
            QVERIFY(folder ? QDir().mkpath(storage + '/' + alias.second)
                           : writeFile(storage + '/' + alias.second, ""));
            QCOMPARE(::mount(QFile::encodeName(storage + '/' + alias.first).constData(),
                             aliases.last().constData(), nullptr, MS_BIND, nullptr),
                     0);
        }

        const BookFiles files(storage);
        const QString file = files.bookFile(contentId);
        for (const QByteArray &alias : aliases)
            ::umount2(alias.constData(), MNT_DETACH);
        QCOMPARE(!file.isEmpty(), served);
        if (served)
            QCOMPARE(file, QFileInfo(storage + "/Books/a.epub").canonicalFilePath());
    }

    // What a highlight, a note, a chapter's or a book's title holds stays
    // text: on the page, in Markdown (where it must not become markup, a
    // link, HTML or another item of the list) and in CSV (quoted, and no
    // formula). MARKDOWN and CSV are how the text comes out in each.
    void hostileHighlightsStayText_data()
    {
        QTest::addColumn<QString>("hostile");
        QTest::addColumn<QString>("markdown");
        QTest::addColumn<QString>("csv");
        QTest::newRow("a script") << "<script>alert(1)</script>"
                                  << "&lt;script&gt;alert(1)&lt;/script&gt;"
                                  << "\"<script>alert(1)</script>\"";
        QTest::newRow("a link to a script") << "[x](javascript:alert(1))"
                                            << "\\[x\\](javascript:alert(1))"
                                            << "\"[x](javascript:alert(1))\"";
        QTest::newRow("a heading") << "# heading"
                                   << "\\# heading"
                                   << "\"# heading\"";
        QTest::newRow("code, emphasis, a table") << "`code` *b* _i_ ~s~ a|b \\"
                                                 << "\\`code\\` \\*b\\* \\_i\\_ \\~s\\~ a\\|b \\\\"
                                                 << "\"`code` *b* _i_ ~s~ a|b \\\"";
        QTest::newRow("an entity") << "&lt;b&gt;"
                                   << "&amp;lt;b&amp;gt;"
                                   << "\"&lt;b&gt;\"";
        QTest::newRow("a quote, an item, a numbered item over lines")
            << "> quoted\n- item\n\n1. first"
            << "&gt; quoted  \n  \\- item  \n  1\\. first"
            << "\"> quoted\n- item\n\n1. first\"";
        QTest::newRow("a formula") << "=HYPERLINK(\"http://x\")"
                                   << "\\=HYPERLINK(\"http://x\")"
                                   << "\"'=HYPERLINK(\"\"http://x\"\")\"";
        QTest::newRow("a sum") << "+1"
                               << "\\+1"
                               << "\"'+1\"";
        QTest::newRow("a difference") << "-2"
                                      << "\\-2"
                                      << "\"'-2\"";
        QTest::newRow("a function") << "@SUM(A1)"
                                    << "@SUM(A1)"
                                    << "\"'@SUM(A1)\"";
        QTest::newRow("a comma and quotes") << "a, \"b\""
                                            << "a, \"b\""
                                            << "\"a, \"\"b\"\"\"";
    }

    void hostileHighlightsStayText()
    {
        QFETCH(QString, hostile);
        QFETCH(QString, markdown);
        QFETCH(QString, csv);
        QString html = hostile;
        html.replace('&', "&amp;").replace('<', "&lt;").replace('>', "&gt;");
        html.replace('"', "&quot;").replace('\'', "&apos;");
        const bool lines = hostile.contains('\n');
        for (const char *role : {"text", "note", "chapter", "title"}) {
            Book owner = book("Title", "Author", QString());
            zorvid::Highlight highlight;
            highlight.bookId = owner.contentId;
            highlight.text = "Text";
            highlight.note = "Note";
            highlight.chapter = "Chapter";
            highlight.created = QDateTime(QDate(2024, 1, 15), QTime(10, 0), Qt::UTC);
            QString *field = qstrcmp(role, "text") == 0      ? &highlight.text
                             : qstrcmp(role, "note") == 0    ? &highlight.note
                             : qstrcmp(role, "chapter") == 0 ? &highlight.chapter
                                                             : &owner.title;
            // A title is one line, as the library reads it.
            if (lines && (field == &highlight.chapter || field == &owner.title))
                continue;
            *field = hostile;
            HighlightList list;
            list.highlights << highlight;
            const QByteArray where = role + QByteArray(" in ") + QTest::currentDataTag();

            const HttpReply page = highlightsPage(owner, list, PageLanguage());
            QVERIFY2(QString::fromUtf8(page.body).contains(html), where.constData());
            QVERIFY2(!page.body.contains("<script>") && !page.body.contains("<b>"),
                     where.constData());

            const QString md = QString::fromUtf8(highlightsMarkdown(list, {owner}, PageLanguage()));
            QVERIFY2(md.contains(markdown), qPrintable(where + ":\n" + md));
            // One heading of each level and one item, whatever the text.
            QVERIFY2(md.count(QRegularExpression("(^|\n)# ")) == 1 &&
                         md.count(QRegularExpression("\n## ")) == 1 &&
                         md.count(QRegularExpression("\n- ")) == 1,
                     qPrintable(where + ":\n" + md));

            const QByteArray bytes = highlightsCsv(list, {owner});
            const QString table = QString::fromUtf8(bytes);
            QVERIFY2(table.contains(csv), qPrintable(where + ":\n" + table));
            QVERIFY2(bytes.startsWith("\xef\xbb\xbf"
                                      "Book,"),
                     where.constData());
            QVERIFY2(table.endsWith("\"2024-01-15T10:00:00Z\"\r\n"), where.constData());
        }
    }

    // An export's file is named after its book, and nothing of the name
    // reaches outside the download folder, hides the file or disguises it.
    void exportFileNames_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("expected");
        QTest::newRow("a title") << "Pride and Prejudice"
                                 << "Pride and Prejudice.md";
        QTest::newRow("a way up the folders") << "../../etc/passwd"
                                              << "etcpasswd.md";
        QTest::newRow("a Windows path, quotes") << "C:\\Users\\\"x\" 'y'"
                                                << "CUsersx y.md";
        QTest::newRow("markup") << "<script>alert('x')</script>"
                                << "scriptalert(x)script.md";
        QTest::newRow("a line break and a reversed extension")
            << QString::fromUtf8("Evil\u202Egpj.exe\r\nname") << "Evilgpj.exename.md";
        QTest::newRow("Japanese and an emoji")
            << QString::fromUtf8("ノルウェイの森 📚") << QString::fromUtf8("ノルウェイの森 📚.md");
        QTest::newRow("nothing left of it") << "/.../"
                                            << "Highlights and notes.md";
        QTest::newRow("too long, cut between emoji")
            << QString::fromUtf8("😀").repeated(150) << QString::fromUtf8("😀").repeated(100) + ".md";
    }

    void exportFileNames()
    {
        QFETCH(QString, title);
        QTEST(exportFileName(title, "Highlights and notes", "md"), "expected");
    }

    // Whatever the library or the browser says ends up as text: markup,
    // quotes and an attempt to leave an attribute.
    void pagesEscapeWhatTheyShow()
    {
        QVector<Book> books{book("<img src=x onerror=alert(1)>", "\"Q\" & 'S'", QString(),
                                 "</p><script>s()</script>")};
        books[0].seriesNumber = "<b>2</b>";
        LibraryQuery query;
        const HttpReply all = libraryPage(books, query, BookFiles("/nonexistent"),
                                          PageLanguage::fromAcceptLanguage("he"));
        QCOMPARE(all.status, 200);
        QVERIFY(all.body.contains("<html lang=\"he\" dir=\"rtl\">"));
        QVERIFY(all.body.contains("&lt;img src=x onerror=alert(1)&gt;"));
        QVERIFY(all.body.contains("&quot;Q&quot; &amp; &apos;S&apos;"));
        // The series and its number keep to themselves inside the sentence.
        QVERIFY(QString::fromUtf8(all.body).contains(
            QString::fromUtf8("\u2068&lt;/p&gt;&lt;script&gt;s()&lt;/script&gt;\u2069")));
        QVERIFY(QString::fromUtf8(all.body).contains(
            QString::fromUtf8("\u2068&lt;b&gt;2&lt;/b&gt;\u2069")));
        QVERIFY(!all.body.contains("<script") && !all.body.contains("<img") &&
                !all.body.contains("<b>"));

        query.search = "\"><script>x()</script>";
        const HttpReply none = libraryPage(books, query, BookFiles("/nonexistent"), PageLanguage());
        QVERIFY(none.body.contains("value=\"&quot;&gt;&lt;script&gt;x()&lt;/script&gt;\""));
        QVERIFY(!none.body.contains("<script"));

        const HttpReply pair = pairPage(403, PageLanguage(), "\"><b>", "<i>phone</i>", "m");
        QVERIFY(pair.body.contains("value=\"&quot;&gt;&lt;b&gt;\""));
        QVERIFY(pair.body.contains("value=\"&lt;i&gt;phone&lt;/i&gt;\""));
        // The page's own script is the only one, loaded from the reader.
        QCOMPARE(pair.body.count("<script"), 1);
        QVERIFY(pair.body.contains("<script src=\"/pair.js\"></script>"));
        const QByteArray head = pair.toBytes();
        QVERIFY(head.contains("\r\nContent-Security-Policy: default-src 'none'; "));
        QVERIFY(!head.contains("unsafe"));
    }
};

QTEST_GUILESS_MAIN(WebTest)
#include "tst_web.moc"
