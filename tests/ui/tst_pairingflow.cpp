// Pairing from the panel against a fake daemon: what the pairing page shows
// of an offer, how polling ends, and what each Done button sends.

#include "addonlog.h"
#include "fakedaemon.h"
#include "nickellocale.h"
#include "shownlabel.h"
#include "ui/panel.h"
#include "ui/qrview.h"
#include "ui/touchbutton.h"
#include "ui/uitext.h"

#include <QLabel>
#include <QStackedWidget>
#include <QtTest>

#include <memory>

namespace {

QByteArray offer(const QByteArray &code, const QByteArray &rest)
{
    return R"({"state":"waiting","code":")" + code + "\"," + rest + "}";
}

QByteArray qr(int length)
{
    return R"("qr":{"size":21,"modules":")" + QByteArray(length, '1') + "\"}";
}

const QByteArray waiting = offer("ABCDEF", R"("expires_in":600)");

} // namespace

class TestPairingFlow : public QObject {
    Q_OBJECT

    QWidget window;

private slots:
    void initTestCase() { window.resize(1072, 1448); }
    void init() { clearLog(); }

    void offerIsShown_data()
    {
        QTest::addColumn<QByteArray>("offer");
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("url");
        QTest::addColumn<int>("minutes");
        QTest::addColumn<bool>("qrShown");
        const QByteArray url = "\"url\":\"http://10.0.0.2:8080/pair#K7Q2XM\",";

        QTest::newRow("a six-character code is split, the address stops before '#'")
            << offer("K7Q2XM", url + R"("expires_in":600,)" + qr(441)) << "K7Q  2XM"
            << "http://10.0.0.2:8080/pair" << 10 << true;
        QTest::newRow("no address: no address line, the other instruction; other code lengths "
                      "stay whole, a started minute counts")
            << offer("ABCDEFGH", R"("expires_in":61)") << "ABCDEFGH" << QString() << 2 << false;
        QTest::newRow("a matrix one module short hides the QR code, a negative validity is 1")
            << offer("AAABBB", R"("url":"u","expires_in":-5,)" + qr(440)) << "AAA  BBB"
            << "u" << 1 << false;
    }

    void offerIsShown()
    {
        QFETCH(QByteArray, offer);
        QFETCH(QString, code);
        QFETCH(QString, url);
        QFETCH(int, minutes);
        QFETCH(bool, qrShown);
        FakeDaemon daemon(answer(200, offer));
        zorvi::Panel panel(&window);
        panel.open();

        panel.connectButton->click();
        QCOMPARE(panel.stack->currentIndex(), int(zorvi::Panel::PairingPage));
        QCOMPARE(panel.codeLabel->text(), code);
        QCOMPARE(panel.urlLabel->text(), url);
        QCOMPARE(panel.urlLabel->isVisibleTo(&panel), !url.isEmpty());
        QCOMPARE(shownText(panel.instructionLabel),
                 zorvi::uiText(url.isEmpty() ? "openAddress" : "scanOrOpen"));
        QCOMPARE(panel.validityLabel->text(), QStringLiteral("Valid for %1 minutes.").arg(minutes));
        QCOMPARE(panel.qrView->isVisibleTo(&panel), qrShown);
        for (const QLabel *label : {panel.codeLabel, panel.urlLabel})
            QCOMPARE(label->textFormat(), Qt::PlainText);

        // Done while waiting withdraws the offer.
        panel.pairingDoneButton->click();
        QVERIFY(panel.isHidden());
        QVERIFY(!panel.pairingTimer->isActive());
        QVERIFY(daemon.requests().last().startsWith("DELETE /pairing "));
    }

    void failedStartStaysHome_data()
    {
        QTest::addColumn<int>("status"); // 0: no daemon
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("an offer that is not waiting")
            << 200 << QByteArray(R"({"state":"Waiting","code":"ABCDEF"})");
        QTest::newRow("an error status") << 503 << QByteArray(R"({"state":"waiting"})");
        QTest::newRow("no daemon") << 0 << QByteArray();
    }

    void failedStartStaysHome()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        std::unique_ptr<FakeDaemon> daemon(status ? new FakeDaemon(answer(status, body)) : nullptr);
        zorvi::Panel panel(&window);
        panel.open();
        panel.beginPairing();
        QCOMPARE(panel.stack->currentIndex(), int(zorvi::Panel::HomePage));
        QVERIFY(!panel.pairingTimer->isActive());
        QCOMPARE(shownText(panel.homeStatusLabel), zorvi::uiText("codeUnavailable"));
        QCOMPARE(logMessages(),
                 QStringList{"pairing request failed with status " + QString::number(status)});
    }

    // A daemon that takes 2.8 s over each answer: the next poll comes 2 s
    // after the last one returned (a coarse timer may fire 5% early), so
    // Nickel's screen answers at least 1.9 s in every 4.7 (blocked at most
    // 60% of the time). However slow the daemon, an exchange ends after 5 s,
    // so the screen is never blocked more than 5 s in 6.9 (72%).
    void aSlowDaemonLeavesNickelTheTimeBetweenPolls()
    {
        FakeDaemon daemon(answer(200, waiting));
        const QByteArray slow = "HTTP/1.1 200 OK\r\n\r\n" + waiting;
        daemon.route("GET /pairing", ReplyScript{{{1400, slow.left(17)}, {1400, slow.mid(17)}}});
        zorvi::Panel panel(&window);
        panel.beginPairing();

        // A heartbeat on the GUI thread: a long gap between two beats is a poll
        // that held the thread.
        QElapsedTimer clock;
        clock.start();
        QList<QPair<qint64, qint64>> blocked;
        qint64 last = 0;
        QTimer heartbeat;
        connect(&heartbeat, &QTimer::timeout, [&] {
            const qint64 now = clock.elapsed();
            if (now - last > 1000)
                blocked << qMakePair(last, now);
            last = now;
        });
        heartbeat.start(10);
        QTRY_VERIFY_WITH_TIMEOUT(blocked.size() == 2, 12000);

        for (const auto &poll : blocked)
            QVERIFY2(poll.second - poll.first > 2700,
                     qPrintable(QString::number(poll.second - poll.first)));
        const qint64 between = blocked[1].first - blocked[0].second;
        QVERIFY2(between >= 1850, qPrintable(QString::number(between)));
        const double share = double(blocked[1].second - blocked[1].first) /
                             double(blocked[1].second - blocked[0].second);
        QVERIFY2(share <= 0.61, qPrintable(QString::number(share)));
        QCOMPARE(panel.stack->currentIndex(), int(zorvi::Panel::PairingPage));
    }

    void pollingEnds_data()
    {
        QTest::addColumn<QByteArray>("body"); // empty: no daemon
        QTest::addColumn<QString>("device");  // null: the code expired
        QTest::newRow("a paired device is named literally")
            << QByteArray(R"({"state":"paired","name":"<img src=x><b>Pixel 8"})")
            << "<img src=x><b>Pixel 8";
        QTest::newRow("any other state is expiry")
            << QByteArray(R"({"state":"expired"})") << QString();
        QTest::newRow("no reply is expiry") << QByteArray() << QString();
    }

    void pollingEnds()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, device);
        std::unique_ptr<FakeDaemon> daemon(new FakeDaemon(answer(200, waiting)));
        zorvi::Panel panel(&window);
        panel.open();
        panel.connectButton->click();

        // Waiting keeps the page as it is, tick after tick.
        for (int tick = 0; tick < 3; ++tick)
            QMetaObject::invokeMethod(panel.pairingTimer, "timeout");
        QCOMPARE(panel.stack->currentIndex(), int(zorvi::Panel::PairingPage));
        QVERIFY(panel.pairingTimer->isActive());

        daemon.reset(); // the old one takes its socket file with it
        if (!body.isEmpty())
            daemon.reset(new FakeDaemon(answer(200, body)));
        QMetaObject::invokeMethod(panel.pairingTimer, "timeout");
        QCOMPARE(panel.stack->currentIndex(), int(zorvi::Panel::ResultPage));
        QVERIFY(!panel.pairingTimer->isActive());
        QCOMPARE(panel.resultTitleLabel->text(),
                 zorvi::uiText(device.isNull() ? "codeExpiredTitle" : "deviceConnectedTitle"));
        const QString message = shownText(panel.resultMessageLabel);
        if (device.isNull())
            QCOMPARE(message, zorvi::uiText("codeExpiredMessage"));
        else
            QVERIFY2(message.startsWith(device + " can now access your library."),
                     qPrintable(message));

        // Neither the end nor Done on the result withdraws the offer.
        panel.resultDoneButton->click();
        QVERIFY(panel.isHidden());
        if (daemon)
            QCOMPARE(daemon->requests().size(), 1); // the one poll
    }
};

QTEST_MAIN(TestPairingFlow)
#include "tst_pairingflow.moc"
