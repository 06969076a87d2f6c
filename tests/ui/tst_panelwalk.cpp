// The panel against the reference daemon, as a user goes through it: pair a
// phone, see it listed, disconnect it, then check for an update, watch it
// download and restart to install it.

#include "plugin/devicepaths.h"
#include "shownlabel.h"
#include "ui/devicespage.h"
#include "ui/panel.h"
#include "ui/touchbutton.h"
#include "ui/uitext.h"

#include <QLabel>
#include <QProcess>
#include <QStackedWidget>
#include <QTimer>
#include <QtTest>

namespace {

// The visible buttons of the devices page that read "Disconnect": one per
// row, or the confirmation's own.
QList<zorvi::TouchButton *> disconnectButtons(zorvi::Panel &panel)
{
    QList<zorvi::TouchButton *> found;
    for (zorvi::TouchButton *button : panel.devicesPage->findChildren<zorvi::TouchButton *>())
        if (button->isVisible() && button->text() == zorvi::uiText("disconnect"))
            found << button;
    return found;
}

} // namespace

class TestPanelWalk : public QObject {
    Q_OBJECT

    QProcess zorvid;
    QWidget window;

private slots:
    void initTestCase()
    {
        zorvid.setStandardErrorFile(QProcess::nullDevice());
        zorvid.start(QStringLiteral(ZORVID),
                     {QStringLiteral("--phone-port"), QStringLiteral("0"),
                      QStringLiteral("--state-dir"), QStringLiteral("/tmp/zorvid-state"),
                      QStringLiteral("--current"), QStringLiteral("2.0.3"),
                      QStringLiteral("--update-available"), QStringLiteral("2.1.0"),
                      QStringLiteral("--check-seconds"), QStringLiteral("1"),
                      QStringLiteral("--download-seconds"), QStringLiteral("1"),
                      QStringLiteral("--install-slot"), QStringLiteral("/tmp/KoboRoot.tgz")});
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(QString::fromLatin1(zorvi::daemonSocket)), 5000);
        window.resize(1072, 1448);
        window.show();
    }

    void cleanupTestCase()
    {
        if (zorvid.state() != QProcess::NotRunning) {
            zorvid.terminate();
            zorvid.waitForFinished();
        }
    }

    void pairListAndDisconnect()
    {
        zorvi::Panel panel(&window);
        panel.open();
        QCOMPARE(shownText(panel.homeStatusLabel), zorvi::uiText("homeReady"));
        panel.connectButton->click();
        QCOMPARE(panel.stack->currentIndex(), int(zorvi::Panel::PairingPage));

        // The phone scans the code and the address off the page.
        const QString address = panel.urlLabel->text() + QLatin1Char('#') +
                                panel.codeLabel->text().remove(QLatin1Char(' '));
        QCOMPARE(QProcess::execute(
                     QStringLiteral(ZORVID_PHONE),
                     {QStringLiteral("--name"), QStringLiteral("<b>Ana's phone</b>"), address}),
                 0);
        QMetaObject::invokeMethod(panel.pairingTimer, "timeout");
        QCOMPARE(panel.stack->currentIndex(), int(zorvi::Panel::ResultPage));
        QCOMPARE(panel.resultTitleLabel->text(), zorvi::uiText("deviceConnectedTitle"));
        QVERIFY(shownText(panel.resultMessageLabel)
                    .startsWith(QLatin1String("<b>Ana's phone</b> can")));
        panel.resultDoneButton->click();

        panel.open();
        panel.devicesButton->click();
        QTRY_COMPARE(disconnectButtons(panel).size(), 1);
        disconnectButtons(panel).first()->click();
        QTRY_COMPARE(disconnectButtons(panel).size(), 1); // the confirmation's own
        disconnectButtons(panel).first()->click();
        QTRY_VERIFY(disconnectButtons(panel).isEmpty());
        QCOMPARE(panel.stack->currentIndex(), int(zorvi::Panel::DevicesListPage));
    }

    void checkDownloadAndRestart()
    {
        zorvi::Panel panel(&window);
        panel.open();
        QCOMPARE(panel.versionLabel->text(), QStringLiteral("Zorvi 2.0.3"));
        panel.checkButton->click();
        QVERIFY(panel.updateTimer->isActive());
        QVERIFY(!panel.checkButton->isEnabled());

        // The daemon takes a second to check and one to download; the panel
        // polls every 2000 ms while it is busy.
        QTRY_VERIFY_WITH_TIMEOUT(panel.restartButton->isVisible(), 10000);
        QCOMPARE(shownText(panel.updateLabel),
                 zorvi::uiText("updateReady")
                     .replace(QLatin1String("{version}"), QLatin1String("2.1.0")));
        QVERIFY(!panel.updateTimer->isActive());
        QVERIFY(QFile::exists(QString::fromLatin1(zorvi::updateReadyFlag)));

        // Without Nickel's power manager in this process, the daemon restarts.
        panel.restartButton->click();
        QVERIFY(zorvid.waitForFinished(5000));
        QCOMPARE(zorvid.exitCode(), 3);
        QVERIFY(!QFile::exists(QString::fromLatin1(zorvi::updateReadyFlag)));
    }
};

QTEST_MAIN(TestPanelWalk)
#include "tst_panelwalk.moc"
