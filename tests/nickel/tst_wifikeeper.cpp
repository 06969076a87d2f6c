// Nickel's inactivity rule for Wi-Fi, as the stand-in's WirelessWatchdog
// keeps it with a short idle time, and the add-on's answers to it: Wi-Fi
// stays on while zorvid's flag says a paired phone was here lately or the
// pairing page is open, and goes as Nickel's rule says otherwise; last, the
// real module in the stand-in, its pairing page opened by touch. (Without
// Nickel's library: tst_readingtracker.)

#include "addonlog.h"
#include "fakedaemon.h"
#include "nickel/wifikeeper.h"
#include "ui/panel.h"
#include "wirelesswatchdog.h"

#include <QStackedWidget>
#include <QtTest>

#include <ctime>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>

namespace {

const QString flag = QString::fromLatin1(zorvi::phoneActiveFlag);
const int idleMs = 50;

// The flag as zorvid leaves it, touched SECONDS ago (ahead, when negative).
bool touchFlag(int seconds)
{
    QFile file(flag);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    timespec times[2] = {{std::time(nullptr) - seconds, 0}, {std::time(nullptr) - seconds, 0}};
    return ::futimens(file.handle(), times) == 0;
}

// Until the watchdog has asked twice, or turned Wi-Fi off.
bool settled(const WirelessWatchdog &watchdog)
{
    return watchdog.requests() >= 2 || !watchdog.wifiOn();
}

} // namespace

class TestWifiKeeper : public QObject {
    Q_OBJECT

    QWidget window;

private slots:
    void initTestCase()
    {
        window.resize(600, 800);
        window.show();
    }

    void init()
    {
        clearLog();
        QFile::remove(flag);
    }

    void answersNickel_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<bool>("keptOn");
        QTest::newRow("nobody there: Nickel's rule turns Wi-Fi off") << "" << false;
        QTest::newRow("the phone's last request a minute ago: kept on") << "phone 60" << true;
        QTest::newRow("the phone's last request four minutes ago: off") << "phone 240" << false;
        QTest::newRow("an hour-old flag of a zorvid that crashed: off") << "phone 3600" << false;
        QTest::newRow("a flag dated an hour ahead, the clock set back since: off")
            << "phone -3600" << false;
        QTest::newRow("the pairing page open: kept on") << "pairing shown" << true;
        QTest::newRow("the panel on its home page: off") << "home shown" << false;
        QTest::newRow("the pairing page of a hidden panel: off") << "pairing hidden" << false;
    }

    void answersNickel()
    {
        QFETCH(QString, situation);
        QFETCH(bool, keptOn);
        WirelessWatchdog watchdog(idleMs);
        WirelessWatchdog::setSharedInstance(&watchdog);
        const zorvi::WifiKeeper keeper(nullptr);
        zorvi::Panel panel(&window);
        const QStringList words = situation.split(' ');
        if (words.first() == "phone")
            QVERIFY(touchFlag(words.last().toInt()));
        if (words.last() == "shown" || words.last() == "hidden") {
            panel.stack->setCurrentIndex(words.first() == "pairing" ? zorvi::Panel::PairingPage
                                                                    : zorvi::Panel::HomePage);
            panel.setVisible(words.last() == "shown");
        }

        watchdog.wifiConnected();
        QTRY_VERIFY(settled(watchdog));
        QCOMPARE(watchdog.wifiOn(), keptOn);
        QCOMPARE(watchdog.refusals(), keptOn ? watchdog.requests() : 0);
    }

    // The phone browses, then leaves: Wi-Fi stays through several of
    // Nickel's requests, with one line in the log, and goes at the first
    // request after the flag has aged. Gone before the watchdog, the keeper
    // leaves Nickel's rule as it was.
    void nickelsRuleAppliesAgainOnceThePhoneHasLeft()
    {
        WirelessWatchdog watchdog(idleMs);
        WirelessWatchdog::setSharedInstance(&watchdog);
        std::unique_ptr<zorvi::WifiKeeper> keeper(new zorvi::WifiKeeper(nullptr));
        QVERIFY(touchFlag(0));
        watchdog.wifiConnected();
        QTRY_VERIFY(watchdog.refusals() >= 3);
        QVERIFY(touchFlag(200));
        QTRY_VERIFY(!watchdog.wifiOn());
        QCOMPARE(logMessages(), (QStringList{"keeping Wi-Fi on: a paired phone is browsing",
                                             "Wi-Fi left to Nickel's idle rule"}));

        QVERIFY(touchFlag(0));
        keeper.reset();
        watchdog.wifiConnected();
        QTRY_VERIFY(!watchdog.wifiOn());
        QCOMPARE(watchdog.refusals(), 3);
    }

    // A Nickel without its watchdog object: said once, and nothing else.
    void noWatchdogNothingDone()
    {
        WirelessWatchdog unpublished(idleMs);
        WirelessWatchdog::setSharedInstance(nullptr);
        const zorvi::WifiKeeper keeper(nullptr);
        QCOMPARE(logMessages(),
                 QStringList{"Wi-Fi keep-alive unavailable: no WirelessWatchdog instance"});
        QVERIFY(touchFlag(0));
        unpublished.wifiConnected();
        QTRY_VERIFY(!unpublished.wifiOn());
        QCOMPARE(logMessages().size(), 1);
    }

    // The module as Nickel loads it: Wi-Fi stays on while the pairing page
    // is open, and goes once Done has closed it.
    void thePairingPageKeepsWifiOnInTheStandIn()
    {
        const QByteArray offer =
            R"({"state":"waiting","code":"ABCDEF","url":"http://10.0.0.2:8080/pair","expires_in":600})";
        FakeDaemon daemon(answer(200, offer));
        const QString plugins = QStringLiteral("/tmp/kobo");
        QVERIFY(QDir().mkpath(plugins + "/imageformats"));
        QFile::remove(plugins + "/imageformats/libzorvi.so");
        QVERIFY(QFile::copy(QStringLiteral(ZORVI_MODULE), plugins + "/imageformats/libzorvi.so"));

        QProcess host;
        host.start(QStringLiteral(NICKEL_SIM),
                   {"--plugin-path", plugins, "--stdin", "--wifi-idle", "250"});
        host.write("wait 800\ntap zorviStatusIcon\ntap-text Connect a device\nwifi-on\n"
                   "wait 900\ntap-text Done\nwait 900\nquit\n");
        host.closeWriteChannel();
        QVERIFY(host.waitForFinished(30000));
        const QString output = QString::fromUtf8(host.readAllStandardOutput());
        const int done = output.indexOf("tap Done");
        QVERIFY2(done > 0, qPrintable(output));
        QVERIFY2(output.lastIndexOf("wifi kept on", done) > output.indexOf("wifi on"),
                 qPrintable(output));
        QVERIFY2(output.indexOf("wifi off after idle", done) > done, qPrintable(output));
        QVERIFY(!output.left(done).contains("wifi off"));
        QVERIFY(logMessages().contains("keeping Wi-Fi on: the pairing page is open"));
    }
};

QTEST_MAIN(TestWifiKeeper)
#include "tst_wifikeeper.moc"
