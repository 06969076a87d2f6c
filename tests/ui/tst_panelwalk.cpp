// The pairing page against the reference daemon, as a person without a
// camera uses it: the address and code the page shows, typed on the phone,
// pair it, and the panel names the phone as it calls itself. The walk test
// goes through the rest of the panel (the QR code, the devices page, the
// update and its restart) with the whole add-on.

#include "plugin/devicepaths.h"
#include "shownlabel.h"
#include "ui/panel.h"
#include "ui/touchbutton.h"
#include "ui/uitext.h"

#include <QLabel>
#include <QProcess>
#include <QStackedWidget>
#include <QTimer>
#include <QtTest>

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
                      QStringLiteral("--state-dir"), QStringLiteral("/tmp/zorvid-state")});
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(QString::fromLatin1(zorvi::daemonSocket)), 5000);
        window.resize(1072, 1448);
        window.show();
    }

    void cleanupTestCase()
    {
        zorvid.terminate();
        zorvid.waitForFinished();
    }

    void typedAddressPairs()
    {
        zorvi::Panel panel(&window);
        panel.open();
        QCOMPARE(shownText(panel.homeStatusLabel), zorvi::uiText("homeReady"));
        panel.connectButton->click();
        QCOMPARE(panel.stack->currentIndex(), int(zorvi::Panel::PairingPage));

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
    }
};

QTEST_MAIN(TestPanelWalk)
#include "tst_panelwalk.moc"
