// zorvid's phone side as a browser meets it, over the wire: pairing through
// the page, the device token that opens the library and nothing else that
// does, downloads of exactly the books' files and their ranges, covers, and
// the highlights' pages and exports, and the flag that keeps the reader's
// Wi-Fi on while the phone is there.

#include "processid.h"
#include "zorvidprocess.h"

#include <QCryptographicHash>
#include <QTextCodec>

#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

// Nickel's database with BOOKS books and their files, written by the tool
// the demo uses, under a storage folder of the test's own.
struct Storage {
    QTemporaryDir root{QDir::temp().filePath("zorvid-storage-XXXXXX")};
    QString path() const { return root.path(); }
    QString database() const { return QDir(root.path()).filePath(".kobo/KoboReader.sqlite"); }

    bool make(int books)
    {
        QDir().mkpath(QDir(root.path()).filePath(".kobo"));
        return QProcess::execute("python3", {MAKELIBRARY, database(), QString::number(books),
                                             "--storage", path()}) == 0;
    }
    // Runs SQL on the database, as Nickel would change it; the first value
    // of the first row, if any.
    QString sql(const QString &statement) const
    {
        QProcess python;
        python.start("python3", {"-c",
                                 "import sqlite3,sys; d=sqlite3.connect(sys.argv[1]); "
                                 "r=d.execute(sys.argv[2]).fetchone(); d.commit(); "
                                 "print(r[0] if r else 'done')",
                                 database(), statement});
        python.waitForFinished();
        return QString::fromUtf8(python.readAllStandardOutput().trimmed());
    }
    // A book of the owner's at ID, with TYPE.
    bool addBook(const QString &id, const QString &type = "application/epub+zip") const
    {
        return !sql(QStringLiteral("INSERT OR REPLACE INTO content (ContentID, ContentType, "
                                   "MimeType, Title, ___UserID, IsDownloaded) VALUES ('%1', '6', "
                                   "'%2', 'Added', '', 1)")
                        .arg(id, type))
                    .isEmpty();
    }
};

QByteArray cookie(const QByteArray &token)
{
    return "Cookie: theme=dark; zorvi_device=" + token + "\r\n";
}

QByteArray bookLink(const char *path, const QString &id)
{
    return path + QByteArray("?id=") + QUrl::toPercentEncoding(id);
}

const QString firstBook = QStringLiteral("file:///mnt/onboard/Books/Book 00000.epub");

const QString phoneFlag = QString::fromLatin1(zorvi::phoneActiveFlag);

// Seconds since the phone flag was touched; -1 when it is no file.
long phoneFlagAge()
{
    struct stat status;
    if (::lstat(QFile::encodeName(phoneFlag).constData(), &status) != 0 || !S_ISREG(status.st_mode))
        return -1;
    return long(std::time(nullptr) - status.st_mtime);
}

} // namespace

class TestDashboard : public QObject {
    Q_OBJECT

    Storage storage;
    Zorvid daemon;
    quint16 port = 0;

    // FORM posted to /pair as a browser's page at ORIGIN does, to HOST.
    RawReply postForm(const QByteArray &form, const QByteArray &host, const QByteArray &origin,
                      const QByteArray &fields = QByteArray())
    {
        return exchange("POST /pair HTTP/1.1\r\nHost: " + host + "\r\nOrigin: " + origin +
                            "\r\nAccept: text/html\r\nContent-Type: "
                            "application/x-www-form-urlencoded\r\n" +
                            fields + "Content-Length: " + QByteArray::number(form.size()) +
                            "\r\n\r\n" + form,
                        port);
    }

    // Pairs the way a browser's form does; the token of the cookie it sets.
    QByteArray pairBrowser()
    {
        const QByteArray host = "127.0.0.1:" + QByteArray::number(port);
        const RawReply reply = postForm(
            "code=" + text(newOffer(), "code").toLatin1() + "&name=Phone", host, "http://" + host);
        if (reply.status != 303 || reply.header("Location") != "/")
            return QByteArray();
        return reply.header("Set-Cookie").split(';').first().mid(13);
    }

private slots:
    void initTestCase()
    {
        // This suite's own file names are UTF-8 whatever its locale.
        QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));
        QVERIFY(storage.make(60));
        // A sanitized build keeps what is freed aside for a while; that is no
        // growth of the daemon's.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("ASAN_OPTIONS",
                           environment.value("ASAN_OPTIONS") + ":quarantine_size_mb=0");
        // No locale, as its keeper starts it on the reader.
        for (const char *name : {"LANG", "LANGUAGE", "LC_ALL", "LC_CTYPE"})
            environment.remove(name);
        daemon.process.setProcessEnvironment(environment);
        QVERIFY(daemon.start({"--storage", storage.path()}));
        port = quint16(QUrl(daemon.phoneAddress).port());
    }

    // What a stranger, a forger, a device disconnected on the reader and
    // one that shows the stored hash get, and what the paired browser does.
    void onlyAPairedBrowserSeesTheLibrary_data()
    {
        QTest::addColumn<QByteArray>("who");
        QTest::addColumn<int>("page");
        QTest::addColumn<int>("book");
        QTest::newRow("no cookie") << QByteArray("stranger") << 303 << 404;
        QTest::newRow("a forged token") << QByteArray("forger") << 303 << 404;
        QTest::newRow("the token of a disconnected device") << QByteArray("revoked") << 303 << 404;
        QTest::newRow("the hash the reader keeps") << QByteArray("hash") << 303 << 404;
        QTest::newRow("the paired browser") << QByteArray("paired") << 200 << 200;
    }

    void onlyAPairedBrowserSeesTheLibrary()
    {
        QFETCH(QByteArray, who);
        QFETCH(int, page);
        QFETCH(int, book);
        const QByteArray token = pairBrowser();
        QVERIFY(!token.isEmpty());
        QByteArray sent;
        if (who == "forger")
            sent = QByteArray(43, 'A');
        if (who == "revoked" || who == "paired")
            sent = token;
        if (who == "hash")
            sent = QCryptographicHash::hash(token, QCryptographicHash::Sha256).toHex();
        if (who == "revoked") {
            const QJsonArray clients = DaemonClient().listClients().json.array();
            QVERIFY(DaemonClient().disconnectClient(text(clients.last().toObject(), "id")));
        }
        const QByteArray fields = who == "stranger" ? QByteArray() : cookie(sent);
        QFile::remove(phoneFlag);

        const RawReply dashboard = exchange(phoneRequest("GET", "/", fields), port);
        QCOMPARE(dashboard.status, page);
        if (page == 303)
            QCOMPARE(dashboard.header("Location"), QByteArray("/pair"));
        else
            QVERIFY(dashboard.body.contains("<h1>Library</h1>"));
        QCOMPARE(
            exchange(phoneRequest("GET", bookLink("/download", firstBook), fields), port).status,
            book);
        const RawReply cover =
            exchange(phoneRequest("GET", bookLink("/cover", firstBook), fields), port);
        QCOMPARE(cover.status, book);
        QCOMPARE(cover.header("Content-Type") == "image/png", book == 200);
        // Only the paired browser keeps the reader's Wi-Fi on.
        QCOMPARE(QFile::exists(phoneFlag), page == 200);
    }

    // The paired phone's requests touch the flag only when its time is half
    // a minute off, and never through a link put in its place.
    void thePhoneFlagIsTouchedSparingly_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<bool>("touched");
        QTest::newRow("none yet: made") << "none" << true;
        QTest::newRow("touched ten seconds ago: left alone") << "10" << false;
        QTest::newRow("touched a minute ago: touched again") << "60" << true;
        QTest::newRow("dated an hour ahead, the clock set back since: touched again")
            << "-3600" << true;
        QTest::newRow("a symbolic link in its place: not followed") << "link" << false;
    }

    void thePhoneFlagIsTouchedSparingly()
    {
        QFETCH(QString, before);
        QFETCH(bool, touched);
        const QByteArray token = pairBrowser();
        QVERIFY(!token.isEmpty());
        QFile::remove(phoneFlag);
        const QString target = QDir::temp().filePath("link-target");
        QFile::remove(target);
        if (before == "link") {
            QVERIFY(writeFile(target, "kept"));
            QVERIFY(QFile::link(target, phoneFlag));
        } else if (before != "none") {
            QVERIFY(writeFile(phoneFlag, QByteArray()));
            const time_t then = std::time(nullptr) - before.toInt();
            const timespec times[2] = {{then, 0}, {then, 0}};
            QVERIFY(::utimensat(AT_FDCWD, QFile::encodeName(phoneFlag).constData(), times, 0) == 0);
        }

        QCOMPARE(exchange(phoneRequest("GET", "/", cookie(token)), port).status, 200);
        if (before == "link") {
            QVERIFY(QFileInfo(phoneFlag).isSymLink());
            QCOMPARE(readFile(target), QByteArray("kept"));
            QTRY_VERIFY(daemon.log().contains("cannot mark the phone as active"));
        } else {
            QCOMPARE(phoneFlagAge() <= 2, touched);
        }
    }

    // A zorvid stopped keeps the reader's Wi-Fi on no longer.
    void aStoppedDaemonRemovesThePhoneFlag()
    {
        const QByteArray token = pairBrowser();
        QFile::remove(phoneFlag);
        QCOMPARE(exchange(phoneRequest("GET", "/", cookie(token)), port).status, 200);
        QVERIFY(QFile::exists(phoneFlag));
        QVERIFY(daemon.stop());
        QVERIFY(!QFile::exists(phoneFlag));
        QVERIFY(daemon.start({"--storage", storage.path()}));
        port = quint16(QUrl(daemon.phoneAddress).port());
    }

    // A book's highlights, and their exports, are the library's: a stranger
    // gets what the library gives one, and a book it lacks is 404.
    void highlightsOnlyForAPairedBrowser_data()
    {
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<bool>("paired");
        QTest::addColumn<int>("status");
        const QByteArray page = bookLink("/highlights", firstBook);
        const QByteArray markdown = bookLink("/highlights.md", firstBook);
        QTest::newRow("a stranger's page") << page << false << 303;
        QTest::newRow("a stranger's export") << markdown << false << 404;
        QTest::newRow("a stranger's export of every book")
            << QByteArray("/highlights.csv") << false << 404;
        QTest::newRow("the page") << page << true << 200;
        QTest::newRow("the export") << markdown << true << 200;
        QTest::newRow("the export of every book") << QByteArray("/highlights.csv") << true << 200;
        QTest::newRow("a book the library lacks")
            << bookLink("/highlights", "file:///mnt/onboard/Books/None.epub") << true << 404;
        QTest::newRow("no book") << QByteArray("/highlights?id=") << true << 404;
    }

    void highlightsOnlyForAPairedBrowser()
    {
        QFETCH(QByteArray, target);
        QFETCH(bool, paired);
        const QByteArray fields = paired ? cookie(pairBrowser()) : QByteArray();
        const RawReply reply = exchange(phoneRequest("GET", target, fields), port);
        QTEST(reply.status, "status");
        if (reply.status == 303)
            QCOMPARE(reply.header("Location"), QByteArray("/pair"));
    }

    // The count on the book's card, again when the owner deletes one, the
    // page in reading order, and exports named after the book (whose title
    // is markup) or after them all, with nothing of the owner's account.
    void highlightsOfABook()
    {
        const QByteArray fields = cookie(pairBrowser());
        const auto get = [&](const QByteArray &target) {
            return exchange(phoneRequest("GET", target, fields), port);
        };
        const RawReply card = get("/?q=alert");
        QVERIFY(card.body.contains(">10 highlights</a>"));
        QVERIFY(card.body.contains("href=\"" + bookLink("/highlights", firstBook) + '"'));
        QVERIFY(card.body.contains("href=\"/highlights.md\""));

        const RawReply page = get(bookLink("/highlights", firstBook));
        QVERIFY(page.body.contains("<p class=\"summary\">10 highlights</p>"));
        QVERIFY(page.body.contains("&lt;script&gt;alert(&apos;text&apos;)&lt;/script&gt;"));
        QVERIFY(!page.body.contains("<script") && !page.body.contains("Deleted"));
        const int first = page.body.indexOf("Chapter 1"), second = page.body.indexOf("Chapter 2");
        QVERIFY(first > 0 && second > first && page.body.indexOf("Chapter 3") > second);

        const RawReply markdown = get(bookLink("/highlights.md", firstBook));
        QCOMPARE(markdown.header("Content-Type"), QByteArray("text/markdown; charset=utf-8"));
        QCOMPARE(markdown.header("Content-Disposition"),
                 QByteArray("attachment; filename=\"scriptalert(title)script.md\"; "
                            "filename*=UTF-8''scriptalert%28title%29script.md"));
        QVERIFY(markdown.body.startsWith("# &lt;script&gt;alert('title')&lt;/script&gt;\n"));
        QCOMPARE(markdown.body.count("\n- "), 10);

        // Six books of the sixty have highlights: ten in the first, seven in
        // each of the others.
        const RawReply all = get("/highlights.csv");
        QCOMPARE(all.header("Content-Disposition"),
                 QByteArray("attachment; filename=\"Highlights and notes.csv\"; "
                            "filename*=UTF-8''Highlights%20and%20notes.csv"));
        QCOMPARE(all.body.count("\r\n"), 1 + 10 + 5 * 7);
        QVERIFY(!all.body.contains("SECRET") && !all.body.contains("owner@example.com"));

        // Deleted on the reader: the card counts one fewer.
        storage.sql("UPDATE Bookmark SET Hidden = 'true' WHERE Text LIKE 'Happiness%' AND "
                    "VolumeID = '" +
                    firstBook + "'");
        QVERIFY(get("/?q=alert").body.contains(">9 highlights</a>"));
    }

    // Downloads serve a book's own file, whole or from where a phone left
    // off, and nothing that only looks like one.
    void downloadsServeTheBooksFilesOnly_data()
    {
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<QByteArray>("range");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("served"); // Content-Range; the book has 2000 bytes
        const QByteArray book = bookLink("/download", firstBook);
        QTest::newRow("a book whole") << book << QByteArray() << 200 << QByteArray();
        QTest::newRow("a book from byte 1000, resumed")
            << book << QByteArray("Range: bytes=1000-\r\n") << 206
            << QByteArray("bytes 1000-1999/2000");
        QTest::newRow("its last 100 bytes") << book << QByteArray("Range: bytes=-100\r\n") << 206
                                            << QByteArray("bytes 1900-1999/2000");
        QTest::newRow("a range past its end") << book << QByteArray("Range: bytes=999999999-\r\n")
                                              << 416 << QByteArray("bytes */2000");
        QTest::newRow("a range of a file changed since: the whole new file")
            << book << QByteArray("Range: bytes=1000-\r\nIf-Range: \"old\"\r\n") << 200
            << QByteArray();
        QTest::newRow("a book whose row names the paired devices")
            << bookLink("/download", "file:///mnt/onboard/.adds/zorvi/zorvid/clients.json")
            << QByteArray() << 404 << QByteArray();
        QTest::newRow("another path") << QByteArray("/download/../.kobo/KoboReader.sqlite")
                                      << QByteArray() << 404 << QByteArray();
    }

    void downloadsServeTheBooksFilesOnly()
    {
        QFETCH(QByteArray, target);
        QFETCH(QByteArray, range);
        QFETCH(int, status);
        QFETCH(QByteArray, served);
        // A row a hostile or broken database could hold, as a book. (Which
        // files a book may name is the suite of the pages' pieces.)
        QVERIFY(storage.addBook("file:///mnt/onboard/.adds/zorvi/zorvid/clients.json"));
        QDir().mkpath(storage.path() + "/.adds/zorvi/zorvid");
        QVERIFY(writeFile(storage.path() + "/.adds/zorvi/zorvid/clients.json", "{}"));

        const QByteArray token = pairBrowser();
        const RawReply reply = exchange(phoneRequest("GET", target, cookie(token) + range), port);
        QCOMPARE(reply.status, status);
        QVERIFY2(reply.framed, reply.head.constData());
        QCOMPARE(reply.header("Content-Range"), served);
        const QByteArray file = readFile(storage.path() + "/Books/Book 00000.epub");
        if (status == 200 || status == 206) {
            QVERIFY(reply.body ==
                    file.mid(status == 200 ? 0 : served.mid(6).split('-')[0].toInt()));
            QCOMPARE(reply.header("Content-Type"), QByteArray("application/epub+zip"));
            QCOMPARE(reply.header("Accept-Ranges"), QByteArray("bytes"));
            QCOMPARE(reply.header("Content-Disposition"),
                     QByteArray("attachment; filename=\"Book 00000.epub\"; "
                                "filename*=UTF-8''Book%2000000.epub"));
        }
    }

    // A file name in any script is the book's, whatever locale zorvid has.
    void aBookNamedInAnyScript()
    {
        const QString name = QStringLiteral("\u00C9t\u00E9 \u2013 \u590F \u05E7\u05D9\u05E5.epub");
        QVERIFY(writeFile(storage.path() + "/Books/" + name, "summer"));
        QVERIFY(storage.addBook("file:///mnt/onboard/Books/" + name));
        const RawReply reply =
            exchange(phoneRequest("GET", bookLink("/download", "file:///mnt/onboard/Books/" + name),
                                  cookie(pairBrowser())),
                     port);
        QCOMPARE(reply.status, 200);
        QCOMPARE(reply.body, QByteArray("summer"));
        QVERIFY(reply.header("Content-Disposition").endsWith("''" + QUrl::toPercentEncoding(name)));
    }

    // A book larger than anything zorvid holds in memory arrives whole, and
    // a phone that resumes with the tag it got continues the same file.
    void aLargeBookStreams()
    {
        const QString path = storage.path() + "/Books/Large.pdf";
        QByteArray bytes(48 * 1024 * 1024, '\0');
        for (int i = 0; i < bytes.size(); i += 4096)
            bytes[i] = char(i / 4096);
        QVERIFY(writeFile(path, bytes));
        QVERIFY(storage.addBook("file:///mnt/onboard/Books/Large.pdf", "application/pdf"));
        const QByteArray token = pairBrowser();
        const QByteArray target = bookLink("/download", "file:///mnt/onboard/Books/Large.pdf");
        const qint64 memoryBefore = daemon.residentKiB();
        const RawReply whole = exchange(phoneRequest("GET", target, cookie(token)), port);
        QCOMPARE(whole.status, 200);
        QVERIFY(whole.body == bytes);
        QVERIFY2(daemon.residentKiB() - memoryBefore < 8 * 1024,
                 qPrintable(QString::number(daemon.residentKiB() - memoryBefore)));
        const QByteArray tag = whole.header("ETag");
        // A download manager's first question.
        const RawReply head = exchange(phoneRequest("HEAD", target, cookie(token)), port);
        QCOMPARE(head.status, 200);
        QCOMPARE(head.header("Content-Length"), QByteArray::number(bytes.size()));
        QVERIFY(head.body.isEmpty());
        const RawReply rest = exchange(
            phoneRequest("GET", target,
                         cookie(token) + "Range: bytes=40000000-\r\nIf-Range: " + tag + "\r\n"),
            port);
        QCOMPARE(rest.status, 206);
        QVERIFY(rest.body == bytes.mid(40000000));
    }

    // The browser's form: its language, a clear refusal, the token once
    // paired; and another site's form pairs nothing.
    void pairingFromABrowsersForm_data()
    {
        QTest::addColumn<QByteArray>("form");
        QTest::addColumn<QByteArray>("origin");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("shown");
        QTest::newRow("a wrong code, in German")
            << QByteArray("code=WRONG2&name=Handy") << QByteArray("self") << 403
            << QStringLiteral("Dieser Code ist nicht korrekt");
        QTest::newRow("no code, which costs no attempt")
            << QByteArray("code=+&name=Handy") << QByteArray("self") << 400
            << QStringLiteral("Geben Sie den auf Ihrem eReader angezeigten Code ein.");
        QTest::newRow("the right code from another site's page")
            << QByteArray("code=%CODE%&name=Handy") << QByteArray("http://evil.example") << 403
            << QString();
        QTest::newRow("the right code from a site whose name now points at the reader")
            << QByteArray("code=%CODE%&name=Handy") << QByteArray("rebound") << 421 << QString();
    }

    void pairingFromABrowsersForm()
    {
        QFETCH(QByteArray, form);
        QFETCH(QByteArray, origin);
        QFETCH(int, status);
        QFETCH(QString, shown);
        form.replace("%CODE%", text(newOffer(), "code").toLatin1());
        QByteArray host = "127.0.0.1:" + QByteArray::number(port);
        if (origin == "rebound")
            host = "evil.example:" + QByteArray::number(port);
        if (origin == "self" || origin == "rebound")
            origin = "http://" + host;
        const int before = DaemonClient().listClients().json.array().size();
        const RawReply reply = postForm(form, host, origin, "Accept-Language: de-DE,de;q=0.9\r\n");
        QCOMPARE(reply.status, status);
        if (!shown.isEmpty()) {
            QVERIFY(QString::fromUtf8(reply.body).contains(shown));
            QVERIFY(reply.body.contains("<html lang=\"de\""));
            QCOMPARE(text(pairingState(), "state"), QStringLiteral("waiting"));
            QCOMPARE(pairingState().value("attempts_left").toInt(), status == 403 ? 29 : 30);
        }
        QCOMPARE(reply.header("Set-Cookie").startsWith("zorvi_device="), status == 303);
        QCOMPARE(DaemonClient().listClients().json.array().size(), before + (status == 303));
    }

    // Wrong codes count per sender: a stranger's five leave the offer to the
    // owner; only many senders together withdraw it. A name left empty
    // spends nothing and answers alike whether an offer waits or not.
    void strangersCannotBurnTheOffer()
    {
        const auto post = [this](const QString &code, const QString &name, const char *from) {
            const QByteArray body =
                "{\"code\": \"" + code.toLatin1() + "\", \"name\": \"" + name.toUtf8() + "\"}";
            return exchange("POST /pair HTTP/1.1\r\nContent-Type: application/json\r\n"
                            "Content-Length: " +
                                QByteArray::number(body.size()) + "\r\n\r\n" + body,
                            port, QHostAddress(QString::fromLatin1(from)));
        };
        DaemonClient().cancelPairing();
        const RawReply noOffer = post("ABCDEF", "", "127.0.0.9");
        QString code = text(newOffer(), "code");
        const RawReply offer = post("ABCDEF", "", "127.0.0.9");
        QCOMPARE(offer.status, 400);
        QCOMPARE(offer.head.split('\n').mid(1), noOffer.head.split('\n').mid(1));
        QCOMPARE(offer.body, noOffer.body);

        for (int left = 4; left >= 0; --left) {
            const RawReply wrong = post("WRONG2", "Stranger", "127.0.0.2");
            QCOMPARE(wrong.status, 403);
            QCOMPARE(QJsonDocument::fromJson(wrong.body).object().value("attempts_left").toInt(),
                     left);
        }
        QCOMPARE(post(code, "Stranger", "127.0.0.2").status, 403);
        QCOMPARE(text(pairingState(), "state"), QStringLiteral("waiting"));
        QCOMPARE(post(code, "Owner", "127.0.0.1").status, 200);
        QVERIFY(DaemonClient().disconnectClient(text(pairingState(), "id")));

        code = text(newOffer(), "code");
        for (const char *from :
             {"127.0.0.3", "127.0.0.4", "127.0.0.5", "127.0.0.6", "127.0.0.7", "127.0.0.8"}) {
            for (int attempt = 0; attempt < 5; ++attempt)
                QCOMPARE(post("WRONG2", "Stranger", from).status, 403);
        }
        QCOMPARE(text(pairingState(), "state"), QStringLiteral("too_many_attempts"));
        QCOMPARE(post(code, "Owner", "127.0.0.1").status, 410);
    }

    // A phone on a slow network takes the end of a book long after zorvid
    // has read it from the file: it still gets every byte. Run last: it
    // needs zorvid in a network of its own, with small socket buffers as a
    // slow link leaves them, and a phone (Python) in the same network.
    void aSlowPhoneGetsTheWholeBook()
    {
        const QString path = storage.path() + "/Books/Slow.epub";
        QByteArray bytes(2 * 1024 * 1024, '\0');
        for (int i = 0; i < bytes.size(); ++i)
            bytes[i] = char(i * 7 % 251);
        QVERIFY(writeFile(path, bytes));
        QVERIFY(storage.addBook("file:///mnt/onboard/Books/Slow.epub"));
        // Paired here; the device and its token outlive the restart.
        const QByteArray token = pairBrowser();
        QVERIFY(daemon.stop());
        daemon.launcher =
            QStringList{"unshare", "--net", "sh", "-c",
                        "ip link set lo up && sysctl -qw net.ipv4.tcp_wmem='4096 16384 16384' && "
                        "exec \"$0\" \"$@\""};
        QVERIFY(daemon.start({"--storage", storage.path()}));
        // Reads all but the last 100 KB, which zorvid has read from the file
        // by then, waits 3 s, and reads on.
        const char phone[] = R"(
import hashlib, socket, sys, time
s = socket.socket()
s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
s.connect(("127.0.0.1", int(sys.argv[1])))
s.sendall(sys.argv[2].encode())
got, paused = b"", False
while d := s.recv(65536):
    got += d
    if not paused and len(got) > int(sys.argv[3]):
        time.sleep(3)
        paused = True
body = got.split(b"\r\n\r\n", 1)[1]
print(len(body), hashlib.sha256(body).hexdigest())
)";
        QProcess python;
        python.start("nsenter",
                     {QStringLiteral("--net=/proc/%1/ns/net").arg(processIdOf(daemon.process)),
                      "python3", "-c", phone, QString::number(QUrl(daemon.phoneAddress).port()),
                      QString::fromLatin1(phoneRequest(
                          "GET", bookLink("/download", "file:///mnt/onboard/Books/Slow.epub"),
                          cookie(token))),
                      QString::number(bytes.size() - 100 * 1024)});
        QVERIFY(python.waitForFinished(60000));
        QCOMPARE(QString::fromLatin1(python.readAllStandardOutput().trimmed()),
                 QString::number(bytes.size()) + ' ' +
                     QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
    }
};

QTEST_GUILESS_MAIN(TestDashboard)
#include "tst_dashboard.moc"
