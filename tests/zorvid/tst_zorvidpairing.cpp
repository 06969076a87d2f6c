// Pairing end to end: the offer as the add-on reads it, its QR symbol as a
// phone's scanner reads it, and the other device's side through
// zorvid-phone and raw requests to the pairing endpoint.

#include "daemon/daemonclient.h"
#include "phonecommand.h"
#include "rawexchange.h"
#include "zorvidprocess.h"

#include <QImage>
#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QtTest>

using zorvi::DaemonClient;

namespace {

QJsonObject pairingState()
{
    return DaemonClient().pairingStatus().json.object();
}

QString stateOfPairing()
{
    return pairingState().value(QLatin1String("state")).toString();
}

QJsonObject newOffer()
{
    const zorvi::DaemonReply reply = DaemonClient().startPairing();
    return reply.status == 200 ? reply.json.object() : QJsonObject();
}

// What is done before the other device submits.
enum class Before { Nothing, OfferMade, OfferWithdrawn, OfferReplaced, AlreadyPaired };

} // namespace

Q_DECLARE_METATYPE(Before)

class TestZorvidPairing : public QObject {
    Q_OBJECT

private slots:
    void cleanup();

    void offerAsTheAddOnReadsIt();
    void qrSymbolScansAsTheAddress();
    void everyOfferHasAFreshCode();
    void codeEnteredOnThePhonePairsIt_data();
    void codeEnteredOnThePhonePairsIt();
    void refusedAttempts_data();
    void refusedAttempts();
    void wrongCodesUpToTheLimit_data();
    void wrongCodesUpToTheLimit();
    void offerExpires();
    void pairingEndpointRequests_data();
    void pairingEndpointRequests();

private:
    ZorvidProcess daemon;
};

void TestZorvidPairing::cleanup()
{
    if (daemon.isRunning())
        QVERIFY2(daemon.stop(), qPrintable(daemon.log()));
    daemon.clearState();
}

void TestZorvidPairing::offerAsTheAddOnReadsIt()
{
    QVERIFY(daemon.start({"--pairing-seconds", "300"}));
    QCOMPARE(stateOfPairing(), QStringLiteral("none"));

    const zorvi::DaemonReply reply = DaemonClient().startPairing();
    QCOMPARE(reply.status, 200);
    const QJsonObject offer = reply.json.object();
    QCOMPARE(offer.value(QLatin1String("state")).toString(), QStringLiteral("waiting"));
    const QString code = offer.value(QLatin1String("code")).toString();
    QVERIFY2(QRegularExpression(QStringLiteral("^[ABCDEFGHJKMNPQRSTUVWXYZ2-9]{6}$"))
                 .match(code)
                 .hasMatch(),
             qPrintable(code));
    QCOMPARE(offer.value(QLatin1String("url")).toString(), daemon.phoneAddress() + '#' + code);
    QCOMPARE(offer.value(QLatin1String("expires_in")).toInt(), 300);

    const QJsonObject qr = offer.value(QLatin1String("qr")).toObject();
    const int size = qr.value(QLatin1String("size")).toInt();
    const QString modules = qr.value(QLatin1String("modules")).toString();
    QVERIFY(size >= 21);
    QCOMPARE(modules.size(), size * size);
    QVERIFY(QRegularExpression(QStringLiteral("^[01]+$")).match(modules).hasMatch());

    const QJsonObject waiting = pairingState();
    QCOMPARE(waiting.value(QLatin1String("state")).toString(), QStringLiteral("waiting"));
    QCOMPARE(waiting.value(QLatin1String("code")).toString(), code);
    QVERIFY(waiting.value(QLatin1String("expires_in")).toInt() > 295);
}

void TestZorvidPairing::qrSymbolScansAsTheAddress()
{
    const QString scanner = QStandardPaths::findExecutable(QStringLiteral("zbarimg"));
    QVERIFY2(!scanner.isEmpty(), "zbarimg (zbar-tools) is missing; scripts/deps installs it");
    QVERIFY(daemon.start());
    const QJsonObject offer = newOffer();
    const QJsonObject qr = offer.value(QLatin1String("qr")).toObject();
    const int size = qr.value(QLatin1String("size")).toInt();
    const QString modules = qr.value(QLatin1String("modules")).toString();
    QCOMPARE(modules.size(), size * size);

    // Drawn as the add-on's QR view draws it: 4 light modules around.
    const int scale = 6;
    QImage image((size + 8) * scale, (size + 8) * scale, QImage::Format_Grayscale8);
    image.fill(Qt::white);
    for (int row = 0; row < size; ++row) {
        for (int column = 0; column < size; ++column) {
            if (modules.at(row * size + column) != QLatin1Char('1'))
                continue;
            for (int y = 0; y < scale; ++y) {
                for (int x = 0; x < scale; ++x)
                    image.setPixel((column + 4) * scale + x, (row + 4) * scale + y, qRgb(0, 0, 0));
            }
        }
    }
    const QString png = QDir::temp().filePath(QStringLiteral("pairing-qr.png"));
    QVERIFY(image.save(png));

    QProcess zbar;
    zbar.start(scanner, {QStringLiteral("--raw"), QStringLiteral("-q"), png});
    QVERIFY(zbar.waitForFinished(10000));
    QCOMPARE(zbar.exitCode(), 0);
    const QString decoded = QString::fromUtf8(zbar.readAllStandardOutput()).trimmed();
    QCOMPARE(decoded, offer.value(QLatin1String("url")).toString());
    QVERIFY(decoded.endsWith('#' + offer.value(QLatin1String("code")).toString()));
}

void TestZorvidPairing::everyOfferHasAFreshCode()
{
    QVERIFY(daemon.start());
    QSet<QString> codes;
    for (int i = 0; i < 20; ++i)
        codes.insert(newOffer().value(QLatin1String("code")).toString());
    QCOMPARE(codes.size(), 20);
}

void TestZorvidPairing::codeEnteredOnThePhonePairsIt_data()
{
    QTest::addColumn<QString>("typed"); // %1 is the code; empty: from the fragment
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("shownName");

    QTest::newRow("the code from the QR symbol's fragment pairs the device")
        << QString() << "Anna's phone"
        << "Anna's phone";
    QTest::newRow("the code typed as given pairs the device") << "%1"
                                                              << "Laptop"
                                                              << "Laptop";
    QTest::newRow("the code typed as the reader shows it, with two blanks, pairs the device")
        << "%2  %3"
        << "Tablet"
        << "Tablet";
    QTest::newRow("the code typed in lower case with a hyphen pairs the device") << "%4-%5"
                                                                                 << "Phone"
                                                                                 << "Phone";
    QTest::newRow("a name with accents and an emoji is kept whole") << "%1"
                                                                    << "Téléphone de Zoë 📱"
                                                                    << "Téléphone de Zoë 📱";
    QTest::newRow("a name with blanks and control characters around is cleaned")
        << "%1"
        << "  Work\tlaptop\n "
        << "Work laptop";
}

void TestZorvidPairing::codeEnteredOnThePhonePairsIt()
{
    QFETCH(QString, typed);
    QFETCH(QString, name);
    QFETCH(QString, shownName);

    QVERIFY(daemon.start());
    const QJsonObject offer = newOffer();
    const QString code = offer.value(QLatin1String("code")).toString();
    const QString url = offer.value(QLatin1String("url")).toString();
    const qint64 before = QDateTime::currentSecsSinceEpoch();

    QStringList arguments{QStringLiteral("--name"), name};
    if (!typed.isNull()) {
        arguments << QStringLiteral("--code")
                  << QString(typed)
                         .replace(QLatin1String("%1"), code)
                         .replace(QLatin1String("%2"), code.left(3))
                         .replace(QLatin1String("%3"), code.mid(3))
                         .replace(QLatin1String("%4"), code.left(3).toLower())
                         .replace(QLatin1String("%5"), code.mid(3).toLower());
    }
    const PhoneRun run = runPhone(arguments << url);
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(run.output.startsWith(QStringLiteral("paired as ") + shownName),
             qPrintable(run.output));

    const QJsonObject paired = pairingState();
    QCOMPARE(paired.value(QLatin1String("state")).toString(), QStringLiteral("paired"));
    QCOMPARE(paired.value(QLatin1String("name")).toString(), shownName);

    const zorvi::DaemonReply list = DaemonClient().listClients();
    QCOMPARE(list.status, 200);
    QCOMPARE(list.json.array().size(), 1);
    const QJsonObject client = list.json.array().first().toObject();
    QCOMPARE(client.value(QLatin1String("name")).toString(), shownName);
    QCOMPARE(client.value(QLatin1String("id")).toString(),
             paired.value(QLatin1String("id")).toString());
    const qint64 pairedAt = qint64(client.value(QLatin1String("paired_at")).toDouble());
    QVERIFY(pairedAt >= before && pairedAt <= QDateTime::currentSecsSinceEpoch());

    // The offer is used up: the same code does not pair a second device.
    const PhoneRun again = runPhone(url, code, QStringLiteral("Intruder"));
    QCOMPARE(again.exitCode, 1);
    QCOMPARE(DaemonClient().listClients().json.array().size(), 1);
}

void TestZorvidPairing::refusedAttempts_data()
{
    QTest::addColumn<Before>("before");
    QTest::addColumn<bool>("rightCode");
    QTest::addColumn<QString>("said");
    QTest::addColumn<QString>("stateAfter");

    QTest::newRow("a wrong code is refused and the offer still waits")
        << Before::OfferMade << false << "wrong code, 4 attempts left"
        << "waiting";
    QTest::newRow("the right code after the offer was withdrawn is refused")
        << Before::OfferWithdrawn << true << "no pairing offer is waiting (cancelled)"
        << "cancelled";
    QTest::newRow("the code of a replaced offer is wrong for the new one")
        << Before::OfferReplaced << true << "wrong code, 4 attempts left"
        << "waiting";
    QTest::newRow("the right code once the device is paired is refused")
        << Before::AlreadyPaired << true << "no pairing offer is waiting (paired)"
        << "paired";
    QTest::newRow("any code without an offer is refused")
        << Before::Nothing << true << "no pairing offer is waiting (none)"
        << "none";
}

void TestZorvidPairing::refusedAttempts()
{
    QFETCH(Before, before);
    QFETCH(bool, rightCode);
    QFETCH(QString, said);
    QFETCH(QString, stateAfter);

    QVERIFY(daemon.start());
    QString code = QStringLiteral("ABC234");
    if (before != Before::Nothing) {
        code = newOffer().value(QLatin1String("code")).toString();
        QVERIFY(!code.isEmpty());
    }
    if (before == Before::OfferWithdrawn)
        DaemonClient().cancelPairing();
    if (before == Before::OfferReplaced)
        QVERIFY(newOffer().value(QLatin1String("code")).toString() != code);
    if (before == Before::AlreadyPaired)
        QCOMPARE(runPhone(daemon.phoneAddress(), code, QStringLiteral("First")).exitCode, 0);
    const int clientsBefore = DaemonClient().listClients().json.array().size();

    const QString typed = rightCode ? code : QStringLiteral("ZZZZZZ");
    const PhoneRun run = runPhone(daemon.phoneAddress(), typed, QStringLiteral("Second"));
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.output, said);
    QCOMPARE(stateOfPairing(), stateAfter);
    QCOMPARE(DaemonClient().listClients().json.array().size(), clientsBefore);
}

void TestZorvidPairing::wrongCodesUpToTheLimit_data()
{
    QTest::addColumn<int>("limit");
    QTest::newRow("one wrong code withdraws an offer that allows one") << 1;
    QTest::newRow("the fifth wrong code withdraws an offer by default") << 5;
}

void TestZorvidPairing::wrongCodesUpToTheLimit()
{
    QFETCH(int, limit);

    QVERIFY(daemon.start(limit == 5 ? QStringList()
                                    : QStringList{"--pairing-attempts", QString::number(limit)}));
    const QString code = newOffer().value(QLatin1String("code")).toString();
    for (int left = limit - 1; left > 0; --left) {
        const PhoneRun run =
            runPhone(daemon.phoneAddress(), QStringLiteral("WRONG1"), QStringLiteral("Guess"));
        QCOMPARE(run.output, QStringLiteral("wrong code, %1 attempts left").arg(left));
        QCOMPARE(pairingState().value(QLatin1String("attempts_left")).toInt(), left);
        QCOMPARE(stateOfPairing(), QStringLiteral("waiting"));
    }
    const PhoneRun last =
        runPhone(daemon.phoneAddress(), QStringLiteral("WRONG2"), QStringLiteral("Guess"));
    QCOMPARE(last.exitCode, 1);
    QCOMPARE(last.output, QStringLiteral("wrong code, offer withdrawn, 0 attempts left"));
    QCOMPARE(stateOfPairing(), QStringLiteral("too_many_attempts"));

    // Not even the right code brings it back.
    const PhoneRun right = runPhone(daemon.phoneAddress(), code, QStringLiteral("Owner"));
    QCOMPARE(right.exitCode, 1);
    QCOMPARE(right.output, QStringLiteral("no pairing offer is waiting (too_many_attempts)"));
    QVERIFY(DaemonClient().listClients().json.array().isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(
        daemon.log().contains(QStringLiteral("withdrawn after %1 wrong codes").arg(limit)), 2000);
}

void TestZorvidPairing::offerExpires()
{
    QVERIFY(daemon.start({"--pairing-seconds", "1"}));
    const QJsonObject offer = newOffer();
    QCOMPARE(offer.value(QLatin1String("expires_in")).toInt(), 1);
    QCOMPARE(stateOfPairing(), QStringLiteral("waiting"));
    QTRY_COMPARE_WITH_TIMEOUT(stateOfPairing(), QStringLiteral("expired"), 3000);

    const PhoneRun late =
        runPhone(offer.value(QLatin1String("url")).toString(),
                 offer.value(QLatin1String("code")).toString(), QStringLiteral("Late"));
    QCOMPARE(late.exitCode, 1);
    QCOMPARE(late.output, QStringLiteral("no pairing offer is waiting (expired)"));
    QVERIFY(DaemonClient().listClients().json.array().isEmpty());

    // A new offer starts afresh.
    const QJsonObject next = newOffer();
    QCOMPARE(stateOfPairing(), QStringLiteral("waiting"));
    QCOMPARE(runPhone(next.value(QLatin1String("url")).toString(),
                      next.value(QLatin1String("code")).toString(), QStringLiteral("On time"))
                 .exitCode,
             0);
}

void TestZorvidPairing::pairingEndpointRequests_data()
{
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<QByteArray>("body"); // %CODE% stands for the offer's code
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("attemptsLeft");

    QTest::newRow("a JSON object with the code and a name pairs")
        << QByteArray("POST") << QByteArray("/pair") << QByteArray("application/json")
        << QByteArray(R"({"code":"%CODE%","name":"Curl"})") << 200 << 5;
    QTest::newRow("a form with a charset parameter pairs")
        << QByteArray("POST") << QByteArray("/pair")
        << QByteArray("application/x-www-form-urlencoded; charset=UTF-8")
        << QByteArray("code=%CODE%&name=Zo%C3%AB+M.") << 200 << 5;
    QTest::newRow("a form without a name is refused without using an attempt")
        << QByteArray("POST") << QByteArray("/pair")
        << QByteArray("application/x-www-form-urlencoded") << QByteArray("code=%CODE%") << 400 << 5;
    QTest::newRow("a blank name is refused without using an attempt")
        << QByteArray("POST") << QByteArray("/pair") << QByteArray("application/json")
        << QByteArray(R"({"code":"%CODE%","name":"  \t "})") << 400 << 5;
    QTest::newRow("plain text is an unsupported type")
        << QByteArray("POST") << QByteArray("/pair") << QByteArray("text/plain")
        << QByteArray("%CODE% N") << 415 << 5;
    QTest::newRow("a wrong code in a form uses an attempt")
        << QByteArray("POST") << QByteArray("/pair")
        << QByteArray("application/x-www-form-urlencoded") << QByteArray("code=AAAAAA&name=N")
        << 403 << 4;
    QTest::newRow("GET /pair serves the form")
        << QByteArray("GET") << QByteArray("/pair") << QByteArray() << QByteArray() << 200 << 5;
    QTest::newRow("the daemon's own endpoints are not on this port")
        << QByteArray("GET") << QByteArray("/clients") << QByteArray() << QByteArray() << 404 << 5;
}

void TestZorvidPairing::pairingEndpointRequests()
{
    QFETCH(QByteArray, method);
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, contentType);
    QFETCH(QByteArray, body);
    QFETCH(int, status);
    QFETCH(int, attemptsLeft);

    QVERIFY(daemon.start());
    const QByteArray code = newOffer().value(QLatin1String("code")).toString().toLatin1();
    body.replace("%CODE%", code);
    QByteArray request = method + ' ' + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    if (!contentType.isEmpty())
        request += "Content-Type: " + contentType + "\r\n";
    request += "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;

    const RawReply reply = RawReply::parse(exchangeOnPort(daemon.phonePort(), request));
    QCOMPARE(reply.status, status);
    QVERIFY2(reply.framingProblem.isEmpty(), qPrintable(reply.framingProblem));
    if (method == "GET" && status == 200) {
        QVERIFY(reply.header("Content-Type").startsWith("text/html"));
        QVERIFY(reply.body.contains("location.hash"));
    }
    const QJsonObject after = pairingState();
    if (status == 200 && method == "POST") {
        QCOMPARE(after.value(QLatin1String("state")).toString(), QStringLiteral("paired"));
    } else {
        QCOMPARE(after.value(QLatin1String("state")).toString(), QStringLiteral("waiting"));
        QCOMPARE(after.value(QLatin1String("attempts_left")).toInt(), attemptsLeft);
    }
}

QTEST_GUILESS_MAIN(TestZorvidPairing)
#include "tst_zorvidpairing.moc"
