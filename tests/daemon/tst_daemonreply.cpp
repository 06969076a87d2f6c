// Reading the status code and JSON body out of the raw bytes of a reply.

#include "daemon/daemonreply.h"

#include <QtTest>

using zorvi::parseReply;

class TestDaemonReply : public QObject {
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
};

void TestDaemonReply::parse_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("status");
    // The document in compact form; empty for a null document.
    QTest::addColumn<QByteArray>("json");

    QTest::newRow("a 204 of a status line and a blank line has no document")
        << QByteArray("HTTP/1.1 204 No Content\r\n\r\n") << 204 << QByteArray();
    QTest::newRow("a 200 with a content type header holds the JSON object")
        << QByteArray("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n\r\n"
                      "{\"state\": \"idle\", \"progress\": 40}")
        << 200 << QByteArray("{\"progress\":40,\"state\":\"idle\"}");
    QTest::newRow("an empty JSON array is a document, not a null one")
        << QByteArray("HTTP/1.1 200 OK\r\n\r\n[]") << 200 << QByteArray("[]");
    QTest::newRow("a status line without a reason phrase is read")
        << QByteArray("HTTP/1.1 202\r\n\r\n{}") << 202 << QByteArray("{}");
    QTest::newRow("a status line without a blank line gives nothing")
        << QByteArray("HTTP/1.1 200 OK\r\n") << 0 << QByteArray();
    QTest::newRow("headers cut short before the blank line give nothing")
        << QByteArray("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n{}") << 0
        << QByteArray();
    QTest::newRow("bare line feeds do not end the header")
        << QByteArray("HTTP/1.1 200 OK\n\n{}") << 0 << QByteArray();
    QTest::newRow("no bytes at all give nothing") << QByteArray() << 0 << QByteArray();
    QTest::newRow("a status line without a space gives nothing, body ignored")
        << QByteArray("HTTP/1.1\r\n\r\n{}") << 0 << QByteArray();
    QTest::newRow("an empty status line gives nothing")
        << QByteArray("\r\n\r\n{}") << 0 << QByteArray();
    QTest::newRow("a non-numeric status gives 0 but the body is still read")
        << QByteArray("HTTP/1.1 OK 200\r\n\r\n{\"a\":1}") << 0 << QByteArray("{\"a\":1}");
    QTest::newRow("a code with trailing letters is not a number")
        << QByteArray("HTTP/1.1 200x OK\r\n\r\n[]") << 0 << QByteArray("[]");
    QTest::newRow("a NUL byte inside the code is not a number") << QByteArray("HTTP/1.1 20\0"
                                                                              "0 OK\r\n\r\n[]",
                                                                              22)
                                                                << 0 << QByteArray("[]");
    QTest::newRow("two spaces leave an empty second field, which is not a number")
        << QByteArray("HTTP/1.1  200 OK\r\n\r\n[]") << 0 << QByteArray("[]");
    QTest::newRow("a body that is not JSON keeps the status and has no document")
        << QByteArray("HTTP/1.1 500 Internal Server Error\r\n\r\n<html>oops</html>") << 500
        << QByteArray();
    QTest::newRow("a JSON body cut short has no document")
        << QByteArray("HTTP/1.1 200 OK\r\n\r\n{\"clients\":[{\"id\":") << 200 << QByteArray();
    QTest::newRow("the body runs from the first blank line, blank lines inside it kept")
        << QByteArray("HTTP/1.1 200 OK\r\n\r\n{\r\n\r\n\"a\": 1}") << 200
        << QByteArray("{\"a\":1}");
    QTest::newRow("content length is ignored and the whole body read")
        << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n[1,2]") << 200
        << QByteArray("[1,2]");
    QTest::newRow("a chunked body is not decoded and so is no JSON")
        << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\n[]\r\n0\r\n\r\n")
        << 200 << QByteArray();
}

void TestDaemonReply::parse()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, status);
    QFETCH(QByteArray, json);

    const zorvi::DaemonReply reply = parseReply(bytes);
    QCOMPARE(reply.status, status);
    QCOMPARE(reply.json.isNull(), json.isEmpty());
    if (!json.isEmpty())
        // Compared as documents: Qt 5.2 writes compact JSON with spaces.
        QCOMPARE(reply.json, QJsonDocument::fromJson(json));
}

QTEST_APPLESS_MAIN(TestDaemonReply)
#include "tst_daemonreply.moc"
