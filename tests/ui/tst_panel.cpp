// The panel over a window of the reader's size: its layout unit and style,
// opening and closing, the home page's view of the daemon, and the update
// section, against a fake daemon on /tmp/zorvid.sock. The test links the
// stand-in's libnickel, so Nickel's power manager can be there or not.

#include "fakedaemon.h"
#include "n3powerworkflowmanager.h"
#include "nickellocale.h"
#include "plugin/devicepaths.h"
#include "shownlabel.h"
#include "ui/devicespage.h"
#include "ui/panel.h"
#include "ui/qrview.h"
#include "ui/touchbutton.h"
#include "ui/uitext.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLayout>
#include <QStackedWidget>
#include <QTimer>
#include <QtTest>

namespace {

QByteArray http(int status, const QByteArray &body = QByteArray())
{
    QByteArray reply = "HTTP/1.1 " + QByteArray::number(status) + " X\r\n";
    if (!body.isEmpty())
        reply += "Content-Type: application/json\r\n";
    return reply + "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

ReplyScript answer(int status, const QByteArray &body = QByteArray())
{
    return ReplyScript::at(http(status, body));
}

// The request lines the daemon has seen, as "METHOD /path".
QStringList requestLines(const FakeDaemon &daemon)
{
    QStringList lines;
    for (const QByteArray &request : daemon.requests()) {
        const QList<QByteArray> words = request.left(request.indexOf("\r\n")).split(' ');
        lines << QString::fromLatin1(words.value(0) + ' ' + words.value(1));
    }
    return lines;
}

QStringList logMessages()
{
    QFile file(QString::fromLatin1(zorvi::logFile));
    QStringList messages;
    if (file.open(QIODevice::ReadOnly))
        for (const QByteArray &line : file.readAll().split('\n'))
            if (!line.isEmpty())
                messages << QString::fromUtf8(line.mid(line.indexOf(' ') + 1));
    return messages;
}

const QByteArray readyBody = R"({"state":"ready","version":"2.1.0","last":"","current":"2.0.3"})";

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

    void layoutUnitScalesEverything_data()
    {
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("unit");
        QTest::addColumn<int>("versionFont");
        QTest::addColumn<int>("radius");
        QTest::newRow("the reader's own screen") << 1448 << 1072 << 30 << 24 << 15;
        QTest::newRow("a small window is raised to the minimum") << 600 << 400 << 16 << 12 << 8;
        QTest::newRow("the unit rounds down") << 1919 << 1080 << 39 << 31 << 19;
    }

    void layoutUnitScalesEverything()
    {
        QFETCH(int, height);
        QFETCH(int, width);
        QFETCH(int, unit);
        QFETCH(int, versionFont);
        QFETCH(int, radius);
        QWidget parent;
        parent.resize(width, height);
        zorvi::Panel panel(&parent);

        QCOMPARE(zorvi::panelUnit(height), unit);
        const QString style = panel.styleSheet();
        QVERIFY(!style.contains(QLatin1Char('%')));
        const auto has = [&](const QString &rule) {
            return style.contains(rule);
        };
        QVERIFY(
            has(QStringLiteral("QLabel { color: black; background: transparent; font-size: %1px; }")
                    .arg(unit)));
        QVERIFY(has(QStringLiteral("QLabel#title { font-size: %1px;").arg(2 * unit)));
        QVERIFY(has(QStringLiteral("QLabel#code { font-size: %1px;").arg(4 * unit)));
        QVERIFY(has(QStringLiteral("QLabel#version { color: #555555; font-size: %1px; }")
                        .arg(versionFont)));
        QVERIFY(has(QStringLiteral("border-radius: %1px; font-size: %2px; padding: %1px %2px; }")
                        .arg(radius)
                        .arg(unit)));
        QCOMPARE(panel.qrView->minimumSize(), QSize(width / 2, width / 2));
        const QMargins margins(2 * unit, 2 * unit, 2 * unit, 2 * unit);
        for (int page = 0; page < 3; ++page) {
            QCOMPARE(panel.stack->widget(page)->layout()->contentsMargins(), margins);
            QCOMPARE(panel.stack->widget(page)->layout()->spacing(), unit);
        }
    }

    void pagesAreInTheirPlaces()
    {
        zorvi::Panel panel(&window);
        QCOMPARE(panel.stack->count(), 4);
        QCOMPARE(panel.stack->widget(zorvi::Panel::DevicesListPage), panel.devicesPage);
        QCOMPARE(panel.connectButton->parentWidget(), panel.stack->widget(zorvi::Panel::HomePage));
        QCOMPARE(panel.qrView->parentWidget(), panel.stack->widget(zorvi::Panel::PairingPage));
        QCOMPARE(panel.resultTitleLabel->parentWidget(),
                 panel.stack->widget(zorvi::Panel::ResultPage));
        QCOMPARE(panel.checkButton->property("zorviTextKey").toString(),
                 QStringLiteral("checkUpdates"));
        QCOMPARE(panel.versionLabel->objectName(), QStringLiteral("version"));
        QVERIFY(panel.testAttribute(Qt::WA_OpaquePaintEvent));
        QVERIFY(panel.isHidden());
        // The home page reads top to bottom as the user goes through it.
        QList<QWidget *> order;
        QLayout *home = panel.stack->widget(zorvi::Panel::HomePage)->layout();
        for (int i = 0; i < home->count(); ++i) {
            if (QWidget *widget = home->itemAt(i)->widget())
                order << widget;
            else if (QLayout *row = home->itemAt(i)->layout())
                order << row->itemAt(0)->widget() << row->itemAt(1)->widget();
        }
        QCOMPARE(order.mid(1),
                 (QList<QWidget *>{panel.homeStatusLabel, panel.connectButton, panel.devicesButton,
                                   panel.updateLabel, panel.restartButton, panel.versionLabel,
                                   panel.checkButton, panel.closeButton}));
        QCOMPARE(qobject_cast<QLabel *>(order.first())->text(), QStringLiteral("Zorvi"));
    }

    void openShowsWhetherTheDaemonAnswers()
    {
        zorvi::Panel panel(&window);
        panel.open();
        QVERIFY(panel.isVisible());
        QCOMPARE(panel.geometry(), window.rect());
        QCOMPARE(shownText(panel.homeStatusLabel), zorvi::uiText("homeOffline"));
        QVERIFY(!panel.connectButton->isEnabled());
        QVERIFY(panel.devicesButton->isEnabled());
        QVERIFY(panel.closeButton->isEnabled());
        panel.closeButton->click();
        QVERIFY(panel.isHidden());

        // Any answer counts, an error status too.
        FakeDaemon daemon(answer(500));
        QVERIFY(daemon.isListening());
        panel.checkRequested = true;
        panel.stack->setCurrentIndex(zorvi::Panel::ResultPage);
        panel.open();
        QCOMPARE(shownText(panel.homeStatusLabel), zorvi::uiText("homeReady"));
        QVERIFY(panel.connectButton->isEnabled());
        QCOMPARE(panel.stack->currentIndex(), int(zorvi::Panel::HomePage));
        QVERIFY(!panel.checkRequested);
        QCOMPARE(requestLines(daemon), (QStringList{"GET /pairing", "GET /update"}));

        panel.closeButton->click();
        QCOMPARE(requestLines(daemon).size(), 2); // closing sends nothing
    }

    void openShowsTheCurrentLanguage()
    {
        zorvi::Panel panel(&window);
        panel.open();
        QCOMPARE(panel.closeButton->text(), QStringLiteral("Close"));
        chooseLocale("de_DE");
        panel.open();
        QCOMPARE(panel.closeButton->text(), zorvi::uiText("close"));
        QCOMPARE(shownText(panel.homeStatusLabel), zorvi::uiText("homeOffline"));
        QVERIFY(panel.closeButton->text() != QStringLiteral("Close"));
        chooseLocale("en_US");
    }

    void updateSection_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("checkRequested");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("restartShown");
        QTest::addColumn<bool>("checkShown");
        QTest::addColumn<bool>("checkEnabled");
        QTest::addColumn<QString>("version");
        QTest::addColumn<bool>("polling");

        const QString upToDate = QStringLiteral("Zorvi is up to date.");
        QTest::newRow("a ready update offers the restart")
            << 200 << readyBody << false
            << "Version 2.1.0 is ready. It installs the next time the e-reader restarts." << true
            << false << true << "Zorvi 2.0.3" << false;
        QTest::newRow("a download in progress is followed")
            << 200 << QByteArray(R"({"state":"downloading","version":"2.1.0","current":"2.0.3"})")
            << false << "Downloading version 2.1.0\u2026" << false << true << false << "Zorvi 2.0.3"
            << true;
        QTest::newRow("a check in progress is followed")
            << 200 << QByteArray(R"({"state":"checking","current":"2.0.3"})") << true
            << "Checking for updates\u2026" << false << true << false << "Zorvi 2.0.3" << true;
        QTest::newRow("an old outcome is not shown on opening")
            << 200 << QByteArray(R"({"state":"idle","last":"up_to_date","current":"2.0.3"})")
            << false << QString() << false << true << true << "Zorvi 2.0.3" << false;
        QTest::newRow("the outcome of the user's check is shown")
            << 200 << QByteArray(R"({"state":"idle","last":"up_to_date","current":"2.0.3"})")
            << true << upToDate << false << true << true << "Zorvi 2.0.3" << false;
        QTest::newRow("a blocked check says why")
            << 200 << QByteArray(R"({"last":"blocked","current":"2.0.3"})") << true
            << "Another update is waiting to be installed. Restart the e-reader, then check again."
            << false << true << true << "Zorvi 2.0.3" << false;
        QTest::newRow("a failed check without a known version hides the button")
            << 200 << QByteArray(R"({"last":"failed"})") << true
            << "Couldn't check for updates. Check that Wi-Fi is on, then try again." << false
            << false << true << QString() << false;
        QTest::newRow("ready with a capital R is idle")
            << 200 << QByteArray(R"({"state":"Ready","version":"2.1.0","current":"2.0.3"})") << true
            << QString() << false << true << true << "Zorvi 2.0.3" << false;
        QTest::newRow("an array reads as an empty object")
            << 200 << QByteArray(R"([{"state":"ready"}])") << true << QString() << false << false
            << true << QString() << false;
        QTest::newRow("values of the wrong type read as empty")
            << 200 << QByteArray(R"({"state":1,"version":[],"last":{},"current":2})") << true
            << QString() << false << false << true << QString() << false;
        QTest::newRow("an error status is used like any other")
            << 500 << readyBody << false
            << "Version 2.1.0 is ready. It installs the next time the e-reader restarts." << true
            << false << true << "Zorvi 2.0.3" << false;
        QTest::newRow("markup in a version stays text")
            << 200
            << QByteArray(R"({"state":"downloading","version":"<b>9</b>","current":"<i>1</i>"})")
            << false << "Downloading version <b>9</b>\u2026" << false << true << false
            << "Zorvi <i>1</i>" << true;
    }

    void updateSection()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(bool, checkRequested);
        QFETCH(QString, text);
        QFETCH(bool, restartShown);
        QFETCH(bool, checkShown);
        QFETCH(bool, checkEnabled);
        QFETCH(QString, version);
        QFETCH(bool, polling);
        FakeDaemon daemon(answer(status, body));
        zorvi::Panel panel(&window);
        panel.open();
        panel.checkRequested = checkRequested;
        panel.refreshUpdate();

        QCOMPARE(shownText(panel.updateLabel), text);
        QCOMPARE(panel.updateLabel->isVisible(), !text.isEmpty());
        QCOMPARE(panel.restartButton->isVisible(), restartShown);
        QCOMPARE(panel.checkButton->isVisible(), checkShown);
        QCOMPARE(panel.checkButton->isEnabled(), checkEnabled);
        QCOMPARE(panel.versionLabel->text(), version);
        QCOMPARE(panel.updateTimer->isActive(), polling);
        QCOMPARE(panel.updateTimer->interval(), 2000);
        panel.dismiss();
        QVERIFY(!panel.updateTimer->isActive());
    }

    void daemonGoneEmptiesTheSection()
    {
        zorvi::Panel panel(&window);
        {
            FakeDaemon daemon(answer(200, readyBody));
            panel.open();
            QVERIFY(panel.restartButton->isVisible());
        }
        panel.refreshUpdate();
        QVERIFY(panel.updateLabel->isHidden());
        QVERIFY(panel.restartButton->isHidden());
        QVERIFY(panel.checkButton->isHidden());
        QVERIFY(panel.checkButton->isEnabled());
        QVERIFY(panel.versionLabel->text().isEmpty());
    }

    void checkGoesFromCheckingToReady()
    {
        FakeDaemon daemon(answer(200, R"({"state":"idle","current":"2.0.3"})"));
        daemon.route("POST /update/check", answer(202));
        zorvi::Panel panel(&window);
        panel.open();
        QVERIFY(panel.checkButton->isEnabled());

        daemon.route("GET /update", answer(200, R"({"state":"checking","current":"2.0.3"})"));
        panel.checkButton->click();
        QVERIFY(panel.checkRequested);
        QCOMPARE(shownText(panel.updateLabel), QStringLiteral("Checking for updates\u2026"));
        QVERIFY(!panel.checkButton->isEnabled());
        QVERIFY(panel.updateTimer->isActive());

        // Each tick of the 2000 ms timer asks again; drive it rather than wait.
        daemon.route("GET /update",
                     answer(200, R"({"state":"downloading","version":"2.1.0","current":"2.0.3"})"));
        QMetaObject::invokeMethod(panel.updateTimer, "timeout");
        QCOMPARE(shownText(panel.updateLabel), QStringLiteral("Downloading version 2.1.0\u2026"));
        daemon.route("GET /update", answer(200, readyBody));
        QMetaObject::invokeMethod(panel.updateTimer, "timeout");
        QVERIFY(panel.restartButton->isVisible());
        QVERIFY(panel.checkButton->isHidden());
        QVERIFY(!panel.updateTimer->isActive());
        QCOMPARE(requestLines(daemon).count(QStringLiteral("POST /update/check")), 1);
    }

    void refusedCheckSaysSoAtOnce_data()
    {
        QTest::addColumn<int>("status");
        QTest::newRow("200 is not an accepted check") << 200;
        QTest::newRow("409 refuses it") << 409;
    }

    void refusedCheckSaysSoAtOnce()
    {
        QFETCH(int, status);
        FakeDaemon daemon(answer(200, R"({"current":"2.0.3"})"));
        daemon.route("POST /update/check", answer(status));
        zorvi::Panel panel(&window);
        panel.open();
        panel.checkButton->click();
        QCOMPARE(shownText(panel.updateLabel), zorvi::uiText("updateCheckFailed"));
        QVERIFY(panel.updateLabel->isVisible());
        QVERIFY(panel.checkButton->isEnabled());
        QCOMPARE(requestLines(daemon).count(QStringLiteral("GET /update")), 1);
    }

    void restartGoesThroughNickelFirst_data()
    {
        QTest::addColumn<bool>("nickelManager");
        QTest::addColumn<int>("daemonStatus");
        QTest::addColumn<bool>("rebooted");
        QTest::addColumn<bool>("askedDaemon");
        QTest::addColumn<bool>("unavailable");
        QTest::newRow("Nickel restarts the reader, the daemon is not asked")
            << true << 202 << true << false << false;
        QTest::newRow("without Nickel's manager the daemon restarts")
            << false << 202 << false << true << false;
        QTest::newRow("neither can restart") << false << 500 << false << true << true;
    }

    void restartGoesThroughNickelFirst()
    {
        QFETCH(bool, nickelManager);
        QFETCH(int, daemonStatus);
        QFETCH(bool, rebooted);
        QFETCH(bool, askedDaemon);
        QFETCH(bool, unavailable);
        N3PowerWorkflowManager manager([] {});
        N3PowerWorkflowManager::setSharedInstance(nickelManager ? &manager : nullptr);
        FakeDaemon daemon(answer(200, readyBody));
        daemon.route("POST /update/restart", answer(daemonStatus));
        zorvi::Panel panel(&window);
        panel.open();

        panel.restartButton->click();
        N3PowerWorkflowManager::setSharedInstance(nullptr);
        QCOMPARE(manager.rebootCount(), rebooted ? 1 : 0);
        QCOMPARE(requestLines(daemon).contains(QStringLiteral("POST /update/restart")),
                 askedDaemon);
        QStringList expectedLog{QStringLiteral("restarting to install an update")};
        if (unavailable)
            expectedLog << QStringLiteral("restart unavailable");
        QCOMPARE(logMessages(), expectedLog);
        QCOMPARE(shownText(panel.homeStatusLabel),
                 zorvi::uiText(unavailable ? "homeOffline" : "homeReady"));
        QVERIFY(panel.isVisible());
    }
};

QTEST_MAIN(TestPanel)
#include "tst_panel.moc"
