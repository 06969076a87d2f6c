// Pairing end to end: the offer as the add-on reads it, and the other
// device's side through zorvid-phone and raw requests to the pairing endpoint.

#include "daemon/daemonclient.h"
#include "zorvidfixture.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>
#include <QtTest>

using zorvi::DaemonClient;

namespace {

QString text(const QJsonObject &object, const char *name)
{
    return object.value(QLatin1String(name)).toString();
}

QJsonObject pairingState()
{
    return DaemonClient().pairingStatus().json.object();
}

QJsonObject newOffer()
{
    return DaemonClient().startPairing().json.object();
}

enum class Typed { FromFragment, AsGiven, LowerCaseWithHyphen };
enum class Before { OfferWithdrawn, OfferReplaced, OfferExpired, WrongCodesUpToTheLimit };

} // namespace

Q_DECLARE_METATYPE(Typed)
Q_DECLARE_METATYPE(Before)

class TestZorvidPairing : public QObject {
    Q_OBJECT

private slots:

    // The offer as the add-on shows it. (That its QR symbol, drawn by the
    // add-on, scans as the address and pairs the phone is walked through end to
    // end by tests/walk.)
    void offerAndItsQrSymbol()
    {
        Zorvid daemon;
        QVERIFY(daemon.start({"--pairing-seconds", "300"}));
        QCOMPARE(text(pairingState(), "state"), QStringLiteral("none"));

        const QJsonObject offer = newOffer();
        const QString code = text(offer, "code");
        QVERIFY2(QRegularExpression(QStringLiteral("^[ABCDEFGHJKMNPQRSTUVWXYZ2-9]{6}$"))
                     .match(code)
                     .hasMatch(),
                 qPrintable(code));
        QCOMPARE(text(offer, "url"), daemon.phoneAddress + '#' + code);
        QCOMPARE(offer.value(QLatin1String("expires_in")).toInt(), 300);
        const QJsonObject waiting = pairingState();
        QCOMPARE(text(waiting, "code"), code);
        QVERIFY(waiting.value(QLatin1String("expires_in")).toInt() > 295);
        const QJsonObject qr = offer.value(QLatin1String("qr")).toObject();
        const int size = qr.value(QLatin1String("size")).toInt();
        QVERIFY(size >= 21);
        QCOMPARE(text(qr, "modules").size(), size * size);
    }

    void codeEnteredOnThePhonePairsIt_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<Typed>("typed");
        QTest::addColumn<QString>("shownName");

        QTest::newRow("the code from the fragment; accents and an emoji kept whole")
            << "Téléphone de Zoë 📱" << Typed::FromFragment << "Téléphone de Zoë 📱";
        QTest::newRow("the code typed as shown; blanks and control characters cleaned")
            << "  Work\tlaptop\n " << Typed::AsGiven << "Work laptop";
        QTest::newRow("the code typed in lower case with a hyphen")
            << "Anna's phone" << Typed::LowerCaseWithHyphen << "Anna's phone";
    }

    void codeEnteredOnThePhonePairsIt()
    {
        QFETCH(QString, name);
        QFETCH(Typed, typed);
        QFETCH(QString, shownName);

        Zorvid daemon;
        QVERIFY(daemon.start());
        const QJsonObject offer = newOffer();
        const QString code = text(offer, "code");
        const qint64 before = QDateTime::currentSecsSinceEpoch();
        const QString entered = typed == Typed::FromFragment ? QString()
                                : typed == Typed::AsGiven
                                    ? code
                                    : code.left(3).toLower() + '-' + code.mid(3).toLower();
        const PhoneRun run = runPhone(text(offer, "url"), entered, name);
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.output.startsWith("paired as " + shownName), qPrintable(run.output));

        const QJsonObject paired = pairingState();
        QCOMPARE(text(paired, "state"), QStringLiteral("paired"));
        QCOMPARE(text(paired, "name"), shownName);
        const QJsonArray clients = DaemonClient().listClients().json.array();
        QCOMPARE(clients.size(), 1);
        const QJsonObject client = clients.first().toObject();
        QCOMPARE(text(client, "name"), shownName);
        QCOMPARE(text(client, "id"), text(paired, "id"));
        const qint64 pairedAt = qint64(client.value(QLatin1String("paired_at")).toDouble());
        QVERIFY(pairedAt >= before && pairedAt <= QDateTime::currentSecsSinceEpoch());

        // The offer is used up: the same code does not pair a second device.
        QCOMPARE(runPhone(text(offer, "url"), code, QStringLiteral("Intruder")).exitCode, 1);
        QCOMPARE(DaemonClient().listClients().json.array().size(), 1);
    }

    void rightCodeRefused_data()
    {
        QTest::addColumn<Before>("before");
        QTest::addColumn<QString>("said");
        QTest::addColumn<QString>("stateAfter");

        QTest::newRow("after the offer was withdrawn")
            << Before::OfferWithdrawn << "no pairing offer is waiting (cancelled)"
            << "cancelled";
        QTest::newRow("after the offer was replaced, as a wrong code for the new one")
            << Before::OfferReplaced << "wrong code, 4 attempts left"
            << "waiting";
        QTest::newRow("after the offer expired")
            << Before::OfferExpired << "no pairing offer is waiting (expired)"
            << "expired";
        QTest::newRow("after as many wrong codes as allowed")
            << Before::WrongCodesUpToTheLimit << "no pairing offer is waiting (too_many_attempts)"
            << "too_many_attempts";
    }

    void rightCodeRefused()
    {
        QFETCH(Before, before);
        QFETCH(QString, said);
        QFETCH(QString, stateAfter);

        Zorvid daemon;
        QVERIFY(daemon.start({"--pairing-seconds", before == Before::OfferExpired ? "1" : "600"}));
        const QString code = text(newOffer(), "code");
        if (before == Before::OfferWithdrawn)
            DaemonClient().cancelPairing();
        if (before == Before::OfferReplaced)
            QVERIFY(text(newOffer(), "code") != code);
        if (before == Before::OfferExpired)
            QTRY_COMPARE_WITH_TIMEOUT(text(pairingState(), "state"), stateAfter, 3000);
        for (int left = 4; before == Before::WrongCodesUpToTheLimit && left >= 0; --left) {
            const QString refusal = left > 0 ? "wrong code, %1 attempts left"
                                             : "wrong code, offer withdrawn, %1 attempts left";
            QCOMPARE(runPhone(daemon.phoneAddress, "WRONG1", "Guess").output, refusal.arg(left));
        }

        const PhoneRun run = runPhone(daemon.phoneAddress, code, QStringLiteral("Late"));
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.output, said);
        QCOMPARE(text(pairingState(), "state"), stateAfter);
        QVERIFY(DaemonClient().listClients().json.array().isEmpty());
    }

    void pairingEndpointRequests_data()
    {
        QTest::addColumn<QByteArray>("request"); // %CODE% stands for the offer's code
        QTest::addColumn<int>("status");

        const auto post = [](const QByteArray &type, const QByteArray &body) {
            return "POST /pair HTTP/1.1\r\nContent-Type: " + type +
                   "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
        };
        QTest::newRow("a JSON object with the code and a name pairs")
            << post("application/json", R"({"code":"%CODE%","name":"Curl"})") << 200;
        QTest::newRow("a form with a charset parameter pairs")
            << post("application/x-www-form-urlencoded; charset=UTF-8",
                    "code=%CODE%&name=Zo%C3%AB+M.")
            << 200;
        QTest::newRow("a form without a name is refused without using an attempt")
            << post("application/x-www-form-urlencoded", "code=%CODE%") << 400;
        QTest::newRow("plain text is an unsupported type") << post("text/plain", "%CODE% N") << 415;
        QTest::newRow("GET /pair serves the form that reads the code from the fragment")
            << addOnRequest("GET", "/pair") << 200;
    }

    void pairingEndpointRequests()
    {
        QFETCH(QByteArray, request);
        QFETCH(int, status);

        Zorvid daemon;
        QVERIFY(daemon.start());
        request.replace("%CODE%", text(newOffer(), "code").toLatin1());
        const RawReply reply = exchange(request, quint16(QUrl(daemon.phoneAddress).port()));
        QCOMPARE(reply.status, status);
        QVERIFY2(reply.framed, reply.head.constData());
        if (request.startsWith("GET /pair "))
            QVERIFY(reply.body.contains("location.hash"));

        const QJsonObject after = pairingState();
        const bool paired = request.startsWith("POST") && status == 200;
        QCOMPARE(text(after, "state"), QString::fromLatin1(paired ? "paired" : "waiting"));
        if (!paired)
            QCOMPARE(after.value(QLatin1String("attempts_left")).toInt(), 5);
    }
};

QTEST_GUILESS_MAIN(TestZorvidPairing)
#include "tst_zorvidpairing.moc"
