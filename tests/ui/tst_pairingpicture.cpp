// The pairing page as the reader shows it, with a real offer of the
// reference daemon: a phone that scans the picture must get the offer's
// address, code included.

#include "plugin/devicepaths.h"
#include "ui/panel.h"
#include "ui/qrview.h"
#include "ui/touchbutton.h"

#include <QLabel>
#include <QLocalSocket>
#include <QProcess>
#include <QStackedWidget>
#include <QtTest>

class TestPairingPicture : public QObject {
    Q_OBJECT

private slots:
    void scannedPictureGivesTheAddress()
    {
        QProcess zorvid;
        zorvid.setStandardErrorFile(QProcess::nullDevice());
        zorvid.start(QStringLiteral(ZORVID),
                     {QStringLiteral("--phone-port"), QStringLiteral("0"),
                      QStringLiteral("--state-dir"), QStringLiteral("/tmp/zorvid-state")});
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(QString::fromLatin1(zorvi::daemonSocket)), 5000);

        QWidget window;
        window.resize(1072, 1448);
        window.show();
        zorvi::Panel panel(&window);
        panel.open();
        panel.connectButton->click();
        QCOMPARE(panel.stack->currentIndex(), int(zorvi::Panel::PairingPage));
        QVERIFY(panel.qrView->isVisible());
        const QString picture = QStringLiteral("/tmp/pairing.png");
        QVERIFY(window.grab().save(picture));
        zorvid.terminate();
        QVERIFY(zorvid.waitForFinished());

        QProcess zbar;
        zbar.start(QStringLiteral("zbarimg"),
                   {QStringLiteral("--raw"), QStringLiteral("-q"), picture});
        QVERIFY(zbar.waitForFinished());
        QCOMPARE(zbar.exitCode(), 0);
        const QString scanned = QString::fromUtf8(zbar.readAllStandardOutput()).trimmed();
        // The page shows the address without its fragment and the code split
        // in two; the symbol carries both joined.
        const QString expected = panel.urlLabel->text() + QLatin1Char('#') +
                                 panel.codeLabel->text().remove(QLatin1Char(' '));
        QCOMPARE(scanned, expected);
        QVERIFY(scanned.startsWith(QLatin1String("http://127.0.0.1:")));
    }
};

QTEST_MAIN(TestPairingPicture)
#include "tst_pairingpicture.moc"
