// The panel's layout, opening and closing, and the update section, against a
// fake daemon and the stand-in's libnickel (Nickel's power manager or not).

#include "fakedaemon.h"
#include "n3powerworkflowmanager.h"
#include "nickellocale.h"
#include "shownlabel.h"
#include "ui/panel.h"
#include "ui/qrview.h"
#include "ui/touchbutton.h"

#include <QLabel>
#include <QLayout>
#include <QStackedWidget>
#include <QTimer>
#include <QtTest>

namespace {

ReplyScript answer(int status, const QByteArray &body = QByteArray())
{
    return ReplyScript::at("HTTP/1.1 " + QByteArray::number(status) + " X\r\nContent-Length: " +
                           QByteArray::number(body.size()) + "\r\n\r\n" + body);
}

const QByteArray readyBody = R"({"state":"ready","version":"2.1.0","last":"","current":"2.0.3"})";
const QString readyText =
    QStringLiteral("Version 2.1.0 is ready. It installs the next time the e-reader restarts.");

} // namespace

class TestPanel : public QObject {
    Q_OBJECT

    QWidget window;

private slots:
    void initTestCase()
    {
        window.resize(1072, 1448);
        window.show();
        chooseLocale("en_US");
    }

    void init() { QFile::remove(QString::fromLatin1(zorvi::logFile)); }
    void cleanup() { chooseLocale("en_US"); }

    // Texts scale with the screen: a 48th of the window's height, never
    // under 16 px, is the body text's size and a quarter of the code's.
    void textScalesWithTheScreen()
    {
        for (const auto &heightAndUnit : {qMakePair(1448, 30), qMakePair(600, 16)}) {
            QWidget parent;
            parent.resize(800, heightAndUnit.first);
            zorvi::Panel panel(&parent);
            panel.homeStatusLabel->ensurePolished();
            panel.codeLabel->ensurePolished();
            QCOMPARE(panel.homeStatusLabel->font().pixelSize(), heightAndUnit.second);
            QCOMPARE(panel.codeLabel->font().pixelSize(), 4 * heightAndUnit.second);
        }
    }

    void openShowsTheDaemonAndTheLanguage()
    {
        zorvi::Panel panel(&window);
        panel.open();
        QCOMPARE(panel.geometry(), window.rect());
        QCOMPARE(shownText(panel.homeStatusLabel), zorvi::uiText("homeOffline"));
        QVERIFY(!panel.connectButton->isEnabled());
        panel.closeButton->click();
        QVERIFY(panel.isHidden());

        // Any answer, an error status too, means the daemon runs. Reopening
        // starts afresh on the home page, in the language set now.
        FakeDaemon daemon(answer(500));
        panel.checkRequested = true;
        panel.stack->setCurrentIndex(zorvi::Panel::ResultPage);
        chooseLocale("de_DE");
        panel.open();
        QVERIFY(panel.isVisible());
        QCOMPARE(panel.stack->currentIndex(), int(zorvi::Panel::HomePage));
        QVERIFY(!panel.checkRequested);
        QCOMPARE(shownText(panel.homeStatusLabel), zorvi::uiText("homeReady"));
        QVERIFY(panel.connectButton->isEnabled());
        QCOMPARE(panel.closeButton->text(), zorvi::uiText("close"));
        QVERIFY(panel.closeButton->text() != QStringLiteral("Close"));
        const int sent = daemon.requests().size();
        panel.closeButton->click();
        QCOMPARE(daemon.requests().size(), sent); // closing sends nothing
    }

    void updateSection_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("checkRequested");
        QTest::addColumn<QString>("text");
        // The controls: the restart button, the check button, the check button
        // disabled while the timer polls ("busy"), or none.
        QTest::addColumn<QString>("controls");
        QTest::addColumn<QString>("version");

        const QByteArray upToDate(R"({"state":"idle","last":"up_to_date","current":"2.0.3"})");
        const QString v203 = QStringLiteral("Zorvi 2.0.3");
        QTest::newRow("a ready update offers the restart, an error status used like any other")
            << 500 << readyBody << false << readyText << "restart" << v203;
        QTest::newRow("a download in progress is followed, its version shown literally")
            << 200
            << QByteArray(R"({"state":"downloading","version":"<b>9</b>","current":"<i>1</i>"})")
            << false << "Downloading version <b>9</b>\u2026"
            << "busy"
            << "Zorvi <i>1</i>";
        QTest::newRow("an old outcome is not shown on opening")
            << 200 << upToDate << false << QString() << "check" << v203;
        QTest::newRow("the outcome of the user's check is shown")
            << 200 << upToDate << true << "Zorvi is up to date."
            << "check" << v203;
        QTest::newRow("a blocked check says why")
            << 200 << QByteArray(R"({"last":"blocked","current":"2.0.3"})") << true
            << zorvi::uiText("updateBlocked") << "check" << v203;
        QTest::newRow("a failed check without a known version hides the button")
            << 200 << QByteArray(R"({"last":"failed"})") << true
            << "Couldn't check for updates. Check that Wi-Fi is on, then try again."
            << "" << QString();
        QTest::newRow("values of the wrong type read as empty")
            << 200 << QByteArray(R"({"state":1,"version":[],"last":{},"current":2})") << true
            << QString() << "" << QString();
    }

    void updateSection()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(bool, checkRequested);
        QFETCH(QString, text);
        QFETCH(QString, controls);
        QFETCH(QString, version);
        FakeDaemon daemon(answer(status, body));
        zorvi::Panel panel(&window);
        panel.open();
        panel.checkRequested = checkRequested;
        panel.refreshUpdate();

        const bool busy = controls == QLatin1String("busy");
        QCOMPARE(shownText(panel.updateLabel), text);
        QCOMPARE(panel.updateLabel->isVisible(), !text.isEmpty());
        QCOMPARE(panel.restartButton->isVisible(), controls == QLatin1String("restart"));
        QCOMPARE(panel.checkButton->isVisible(), busy || controls == QLatin1String("check"));
        QCOMPARE(panel.checkButton->isEnabled(), !busy);
        QCOMPARE(panel.updateTimer->isActive(), busy);
        QCOMPARE(panel.versionLabel->text(), version);
        panel.dismiss();
        QVERIFY(!panel.updateTimer->isActive());
    }

    void checkIsRefusedOrFollowedToReady()
    {
        FakeDaemon daemon(answer(200, R"({"state":"idle","current":"2.0.3"})"));
        daemon.route("POST /update/check", answer(200)); // only 202 accepts a check
        zorvi::Panel panel(&window);
        panel.open();
        panel.checkButton->click();
        QCOMPARE(shownText(panel.updateLabel), zorvi::uiText("updateCheckFailed"));
        QVERIFY(panel.updateLabel->isVisible());
        QVERIFY(panel.checkButton->isEnabled());

        daemon.route("POST /update/check", answer(202));
        daemon.route("GET /update", answer(200, R"({"state":"checking","current":"2.0.3"})"));
        panel.checkButton->click();
        QCOMPARE(shownText(panel.updateLabel), QStringLiteral("Checking for updates\u2026"));
        QVERIFY(!panel.checkButton->isEnabled());

        // Each tick of the timer asks again; drive it rather than wait.
        daemon.route("GET /update", answer(200, readyBody));
        QMetaObject::invokeMethod(panel.updateTimer, "timeout");
        QCOMPARE(shownText(panel.updateLabel), readyText);
        QVERIFY(panel.restartButton->isVisible());
        QVERIFY(!panel.updateTimer->isActive());
    }

    void restartGoesThroughNickelFirst_data()
    {
        QTest::addColumn<bool>("nickelManager");
        QTest::addColumn<int>("daemonStatus");
        QTest::addColumn<bool>("unavailable");
        QTest::newRow("Nickel restarts the reader, the daemon is not asked")
            << true << 202 << false;
        QTest::newRow("without Nickel's manager the daemon restarts") << false << 202 << false;
        QTest::newRow("neither can restart") << false << 500 << true;
    }

    void restartGoesThroughNickelFirst()
    {
        QFETCH(bool, nickelManager);
        QFETCH(int, daemonStatus);
        QFETCH(bool, unavailable);
        N3PowerWorkflowManager manager([] {});
        N3PowerWorkflowManager::setSharedInstance(nickelManager ? &manager : nullptr);
        FakeDaemon daemon(answer(200, readyBody));
        daemon.route("POST /update/restart", answer(daemonStatus));
        zorvi::Panel panel(&window);
        panel.open();

        panel.restartButton->click();
        N3PowerWorkflowManager::setSharedInstance(nullptr);
        QCOMPARE(manager.rebootCount(), nickelManager ? 1 : 0);
        QCOMPARE(daemon.requests().last().startsWith("POST /update/restart "), !nickelManager);
        QFile log(QString::fromLatin1(zorvi::logFile));
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QByteArray logged = log.readAll();
        QVERIFY(logged.contains(" restarting to install an update\n"));
        QCOMPARE(logged.contains(" restart unavailable\n"), unavailable);
        QCOMPARE(shownText(panel.homeStatusLabel),
                 zorvi::uiText(unavailable ? "homeOffline" : "homeReady"));
    }
};

QTEST_MAIN(TestPanel)
#include "tst_panel.moc"
