// zorvid's phone side as a browser meets it, over the wire: pairing through
// the page, the device token that opens the library and nothing else that
// does, downloads of exactly the books' files and their ranges, and covers.

#include "zorvidprocess.h"

#include <QCryptographicHash>

namespace {

// Nickel's database with BOOKS books and their files, written by the tool
// the demo uses, under a storage folder of the test's own.
struct Storage {
    QTemporaryDir root{QDir::temp().filePath("zorvid-storage-XXXXXX")};
    QString path() const { return root.path(); }
    QString database() const { return root.filePath(".kobo/KoboReader.sqlite"); }

    bool make(int books)
    {
        QDir().mkpath(root.filePath(".kobo"));
        return QProcess::execute("python3", {MAKELIBRARY, database(), QString::number(books),
                                             "--storage", path()}) == 0;
    }
    // Runs SQL on the database, as Nickel would change it.
    bool sql(const QString &statement) const
    {
        return QProcess::execute("python3", {"-c",
                                             "import sqlite3,sys; d=sqlite3.connect(sys.argv[1]); "
                                             "d.execute(sys.argv[2]); d.commit()",
                                             database(), statement}) == 0;
    }
    QString count(const QString &where) const
    {
        QProcess python;
        python.start("python3", {"-c",
                                 "import sqlite3,sys; print(sqlite3.connect(sys.argv[1])"
                                 ".execute(sys.argv[2]).fetchone()[0])",
                                 database(), "SELECT count(*) FROM content WHERE " + where});
        python.waitForFinished();
        return QString::fromLatin1(python.readAllStandardOutput().trimmed());
    }
};

QByteArray get(const QByteArray &target, const QByteArray &fields = QByteArray())
{
    return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + fields + "\r\n";
}

QByteArray cookie(const QByteArray &token)
{
    return "Cookie: theme=dark; zorvi_device=" + token + "\r\n";
}

QByteArray header(const RawReply &reply, const QByteArray &name)
{
    const int start = reply.head.indexOf("\r\n" + name + ": ");
    return start < 0 ? QByteArray() : reply.head.mid(start + name.size() + 4).split('\r').first();
}

QByteArray bookLink(const char *path, const QString &id)
{
    return path + QByteArray("?id=") + QUrl::toPercentEncoding(id);
}

const QString firstBook = QStringLiteral("file:///mnt/onboard/Books/Book 00000.epub");

} // namespace

class TestDashboard : public QObject {
    Q_OBJECT

    Storage storage;
    Zorvid daemon;
    quint16 port = 0;

    // Pairs the way a browser's form does; the token of the cookie it sets.
    QByteArray pairBrowser(const QByteArray &name = "Phone")
    {
        const QByteArray form = "code=" + text(newOffer(), "code").toLatin1() + "&name=" + name;
        const RawReply reply = exchange(
            "POST /pair HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port) +
                "\r\nOrigin: http://127.0.0.1:" + QByteArray::number(port) +
                "\r\nAccept: text/html\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                "Content-Length: " +
                QByteArray::number(form.size()) + "\r\n\r\n" + form,
            port);
        if (reply.status != 303 || header(reply, "Location") != "/")
            return QByteArray();
        return header(reply, "Set-Cookie").split(';').first().mid(13);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(storage.make(60));
        // A sanitized build keeps what is freed aside for a while; that is no
        // growth of the daemon's.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("ASAN_OPTIONS",
                           environment.value("ASAN_OPTIONS") + ":quarantine_size_mb=0");
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
        QTest::newRow("an empty token") << QByteArray("empty") << 303 << 404;
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

        const RawReply dashboard = exchange(get("/", fields), port);
        QCOMPARE(dashboard.status, page);
        if (page == 303)
            QCOMPARE(header(dashboard, "Location"), QByteArray("/pair"));
        else
            QVERIFY(dashboard.body.contains("<h1>Library</h1>"));
        QCOMPARE(exchange(get(bookLink("/download", firstBook), fields), port).status, book);
        QCOMPARE(exchange(get(bookLink("/cover", firstBook), fields), port).status, book);
        // Nothing of the library in what a refused browser gets.
        if (page != 200)
            QVERIFY(!dashboard.body.contains("Book 0"));
    }

    // Downloads serve a book's own file, whole or from where a phone left
    // off, and nothing that only looks like one.
    void downloadsServeTheBooksFilesOnly_data()
    {
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<QByteArray>("range");
        QTest::addColumn<int>("status");
        QTest::addColumn<qint64>("from"); // the first byte of the file served
        const QByteArray book = bookLink("/download", firstBook);
        QTest::newRow("a book whole") << book << QByteArray() << 200 << 0LL;
        QTest::newRow("a book from byte 1000, resumed")
            << book << QByteArray("Range: bytes=1000-\r\n") << 206 << 1000LL;
        QTest::newRow("its last 100 bytes")
            << book << QByteArray("Range: bytes=-100\r\n") << 206 << -100LL;
        QTest::newRow("a range past its end")
            << book << QByteArray("Range: bytes=999999999-\r\n") << 416 << 0LL;
        QTest::newRow("a range of a file changed since: the whole new file")
            << book << QByteArray("Range: bytes=1000-\r\nIf-Range: \"old\"\r\n") << 200 << 0LL;
        QTest::newRow("a store book has no file to download")
            << QByteArray("/download?id=") << QByteArray() << 404 << 0LL;
        QTest::newRow("a path that is no book of the library")
            << bookLink("/download", "file:///mnt/onboard/Books/../../../etc/passwd")
            << QByteArray() << 404 << 0LL;
        QTest::newRow("a book whose row leads out of the storage by ..")
            << bookLink("/download", "file:///mnt/onboard/../../../../../etc/hostname")
            << QByteArray() << 404 << 0LL;
        QTest::newRow("a book whose file is a link out of the storage")
            << bookLink("/download", "file:///mnt/onboard/Books/link.epub") << QByteArray() << 404
            << 0LL;
        QTest::newRow("a book whose row names the paired devices")
            << bookLink("/download", "file:///mnt/onboard/.adds/zorvi/zorvid/clients.json")
            << QByteArray() << 404 << 0LL;
        QTest::newRow("another path")
            << QByteArray("/download/../.kobo/KoboReader.sqlite") << QByteArray() << 404 << 0LL;
        QTest::newRow("no id") << QByteArray("/download") << QByteArray() << 404 << 0LL;
    }

    void downloadsServeTheBooksFilesOnly()
    {
        QFETCH(QByteArray, target);
        QFETCH(QByteArray, range);
        QFETCH(int, status);
        QFETCH(qint64, from);
        // Rows a hostile or broken database could hold, as books.
        const QString insert = QStringLiteral(
            "INSERT OR IGNORE INTO content (ContentID, ContentType, MimeType, Title, "
            "___UserID, IsDownloaded) VALUES ('%1', '6', 'application/epub+zip', 'Trap', '', 1)");
        for (const QString id : {"file:///mnt/onboard/../../../../../etc/hostname",
                                 "file:///mnt/onboard/Books/link.epub",
                                 "file:///mnt/onboard/.adds/zorvi/zorvid/clients.json"})
            QVERIFY(storage.sql(insert.arg(id)));
        QFile::link("/etc/hostname", storage.path() + "/Books/link.epub");
        QDir().mkpath(storage.path() + "/.adds/zorvi/zorvid");
        QVERIFY(writeFile(storage.path() + "/.adds/zorvi/zorvid/clients.json", "{}"));
        if (target == "/download?id=") {
            const QString storeBook = storage.count("___UserID != '' AND IsDownloaded = 1 LIMIT 1");
            QVERIFY(storeBook.toInt() > 0);
            QProcess python;
            python.start("python3",
                         {"-c",
                          "import sqlite3,sys; print(sqlite3.connect(sys.argv[1]).execute("
                          "\"SELECT ContentID FROM content WHERE ___UserID != '' AND "
                          "IsDownloaded = 1\").fetchone()[0])",
                          storage.database()});
            python.waitForFinished();
            target = bookLink("/download",
                              QString::fromLatin1(python.readAllStandardOutput().trimmed()));
        }

        const QByteArray token = pairBrowser();
        const RawReply reply = exchange(get(target, cookie(token) + range), port);
        QCOMPARE(reply.status, status);
        QVERIFY2(reply.framed, reply.head.constData());
        const QByteArray file = readFile(storage.path() + "/Books/Book 00000.epub");
        if (status == 200 || status == 206) {
            const QByteArray expected = from < 0 ? file.right(int(-from)) : file.mid(int(from));
            QCOMPARE(reply.body.size(), expected.size());
            QVERIFY(reply.body == expected);
            QCOMPARE(header(reply, "Content-Type"), QByteArray("application/epub+zip"));
            QCOMPARE(header(reply, "Accept-Ranges"), QByteArray("bytes"));
            QCOMPARE(header(reply, "Content-Disposition"),
                     QByteArray("attachment; filename=\"Book 00000.epub\"; "
                                "filename*=UTF-8''Book%2000000.epub"));
        }
        if (status == 206) {
            const qint64 first = from < 0 ? file.size() + from : from;
            QCOMPARE(header(reply, "Content-Range"), "bytes " + QByteArray::number(first) + '-' +
                                                         QByteArray::number(file.size() - 1) + '/' +
                                                         QByteArray::number(file.size()));
        }
        if (status == 416)
            QCOMPARE(header(reply, "Content-Range"), "bytes */" + QByteArray::number(file.size()));
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
        QVERIFY(storage.sql("INSERT OR REPLACE INTO content (ContentID, ContentType, MimeType, "
                            "Title, ___UserID, IsDownloaded) VALUES ('file:///mnt/onboard/Books/"
                            "Large.pdf', '6', 'application/pdf', 'Large', '', 1)"));
        const QByteArray token = pairBrowser();
        const QByteArray target = bookLink("/download", "file:///mnt/onboard/Books/Large.pdf");
        const qint64 memoryBefore = daemon.residentKiB();
        const RawReply whole = exchange(get(target, cookie(token)), port);
        QCOMPARE(whole.status, 200);
        QVERIFY(whole.body == bytes);
        QVERIFY2(daemon.residentKiB() - memoryBefore < 8 * 1024,
                 qPrintable(QString::number(daemon.residentKiB() - memoryBefore)));
        const QByteArray tag = header(whole, "ETag");
        // A download manager's first question.
        const RawReply head = exchange(
            "HEAD " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + cookie(token) + "\r\n", port);
        QCOMPARE(head.status, 200);
        QCOMPARE(header(head, "Content-Length"), QByteArray::number(bytes.size()));
        QVERIFY(head.body.isEmpty());
        const RawReply rest = exchange(
            get(target, cookie(token) + "Range: bytes=40000000-\r\nIf-Range: " + tag + "\r\n"),
            port);
        QCOMPARE(rest.status, 206);
        QVERIFY(rest.body == bytes.mid(40000000));
    }

    void coversAreImagesOfTheStorage()
    {
        const QByteArray token = pairBrowser();
        const RawReply cover = exchange(get(bookLink("/cover", firstBook), cookie(token)), port);
        QCOMPARE(cover.status, 200);
        QCOMPARE(header(cover, "Content-Type"), QByteArray("image/png"));
        QVERIFY(cover.body.startsWith("\x89PNG"));
        // A book without a cover.
        QCOMPARE(exchange(get(bookLink("/cover", "file:///mnt/onboard/Books/Book 00001.kepub.epub"),
                              cookie(token)),
                          port)
                     .status,
                 404);
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
        QTest::newRow("the right code")
            << QByteArray("code=%CODE%&name=Handy") << QByteArray("self") << 303 << QString();
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
        const RawReply reply = exchange(
            "POST /pair HTTP/1.1\r\nHost: " + host + "\r\nOrigin: " + origin +
                "\r\nAccept: text/html,application/xhtml+xml\r\nAccept-Language: de-DE,de;q=0.9"
                "\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                QByteArray::number(form.size()) + "\r\n\r\n" + form,
            port);
        QCOMPARE(reply.status, status);
        if (!shown.isEmpty()) {
            QVERIFY(QString::fromUtf8(reply.body).contains(shown));
            QVERIFY(reply.body.contains("<html lang=\"de\""));
            QCOMPARE(text(pairingState(), "state"), QStringLiteral("waiting"));
            QCOMPARE(pairingState().value("attempts_left").toInt(), status == 403 ? 4 : 5);
        }
        QCOMPARE(header(reply, "Set-Cookie").startsWith("zorvi_device="), status == 303);
        QCOMPARE(DaemonClient().listClients().json.array().size(), before + (status == 303));
    }

    // Nickel holding its database locked costs one short wait, not one per
    // request: a page's covers and the reader's own panel go on at once.
    void aLockedLibraryHoldsNothingUp()
    {
        const QByteArray token = pairBrowser();
        QProcess nickel;
        nickel.start(
            "python3",
            {"-c",
             "import sqlite3,sys,time; d=sqlite3.connect(sys.argv[1], isolation_level=None);"
             " d.execute('BEGIN EXCLUSIVE'); d.execute(\"UPDATE content SET Title = "
             "'Locked' WHERE rowid = 1\"); print('locked', flush=True); time.sleep(5)",
             storage.database()});
        QVERIFY(nickel.waitForReadyRead(5000) && nickel.readAll().contains("locked"));
        QElapsedTimer clock;
        clock.start();
        const RawReply page = exchange(get("/", cookie(token)), port);
        QCOMPARE(page.status, 200);
        QVERIFY(page.body.contains("read the library. Try again in a moment."));
        QVERIFY(page.body.contains("<li>"));
        for (int i = 0; i < 6; ++i)
            QCOMPARE(exchange(get(bookLink("/cover", firstBook), cookie(token)), port).status, 200);
        QCOMPARE(DaemonClient().pairingStatus().status, 200);
        QVERIFY2(clock.elapsed() < 1500, qPrintable(QString::number(clock.elapsed())));
        nickel.kill();
        nickel.waitForFinished();
    }

    // The dashboard shows the books on the reader, in the browser's
    // language, and follows the database when Nickel changes it.
    void theDashboardFollowsTheLibrary()
    {
        const QByteArray token = pairBrowser();
        const QString onReader = storage.count("ContentType = '6' AND IsDownloaded = 1");
        const RawReply first = exchange(get("/", cookie(token)), port);
        QCOMPARE(first.status, 200);
        QVERIFY(first.body.contains("1–24 of " + onReader.toLatin1()));
        QCOMPARE(first.body.count("<li>"), 24);

        const RawReply hebrew = exchange(
            get("/?q=%D7%A1%D7%99%D7%A4%D7%95%D7%A8", cookie(token) + "Accept-Language: he\r\n"),
            port);
        QVERIFY(hebrew.body.contains("<html lang=\"he\" dir=\"rtl\">"));
        QVERIFY(hebrew.body.contains("סיפור על אהבה וחושך"));
        QCOMPARE(hebrew.body.count("<li>"), 1);

        QVERIFY(storage.sql("UPDATE content SET Title = 'Renamed by Nickel' WHERE ContentID = '" +
                            firstBook + "'"));
        const RawReply after = exchange(get("/?q=renamed", cookie(token)), port);
        QCOMPARE(after.body.count("<li>"), 1);
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
        QVERIFY(storage.sql("INSERT OR REPLACE INTO content (ContentID, ContentType, MimeType, "
                            "Title, ___UserID, IsDownloaded) VALUES ('file:///mnt/onboard/Books/"
                            "Slow.epub', '6', 'application/epub+zip', 'Slow', '', 1)"));
        QVERIFY(daemon.stop());
        daemon.launcher =
            QStringList{"unshare", "--net", "sh", "-c",
                        "ip link set lo up && sysctl -qw net.ipv4.tcp_wmem='4096 16384 16384' && "
                        "exec \"$0\" \"$@\""};
        QVERIFY(daemon.start({"--storage", storage.path()}));
        const QString url = text(newOffer(), "url");
        const QString code = url.section('#', 1);
        // Pairs, then reads all but the last 100 KB, which zorvid has read
        // from the file by then, waits 3 s, and reads on.
        const char phone[] = R"(
import hashlib, re, socket, sys, time
port, code, target, pause_at = int(sys.argv[1]), sys.argv[2], sys.argv[3], int(sys.argv[4])
def exchange(data, window=None):
    s = socket.socket()
    if window:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, window)
    s.connect(("127.0.0.1", port))
    s.sendall(data)
    got, paused = b"", False
    while True:
        d = s.recv(65536)
        if not d:
            return got
        got += d
        if window and not paused and len(got) > pause_at:
            time.sleep(3)
            paused = True
form = ("code=%s&name=Slow" % code).encode()
reply = exchange(b"POST /pair HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: "
                 b"application/x-www-form-urlencoded\r\nContent-Length: %d\r\n\r\n" % len(form) + form)
token = re.search(rb"zorvi_device=([^;]+);", reply).group(1)
body = exchange(b"GET " + target.encode() + b" HTTP/1.1\r\nHost: 127.0.0.1\r\nCookie: zorvi_device="
                + token + b"\r\n\r\n", 4096).split(b"\r\n\r\n", 1)[1]
print(len(body), hashlib.sha256(body).hexdigest())
)";
        QProcess python;
        python.start(
            "nsenter",
            {QStringLiteral("--net=/proc/%1/ns/net").arg(daemon.process.processId()), "python3",
             "-c", phone, QUrl(url).port() > 0 ? QString::number(QUrl(url).port()) : "", code,
             QString::fromLatin1(bookLink("/download", "file:///mnt/onboard/Books/Slow.epub")),
             QString::number(bytes.size() - 100 * 1024)});
        QVERIFY(python.waitForFinished(60000));
        QCOMPARE(QString::fromLatin1(python.readAllStandardOutput().trimmed()),
                 QString::number(bytes.size()) + ' ' +
                     QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
    }
};

QTEST_GUILESS_MAIN(TestDashboard)
#include "tst_dashboard.moc"
