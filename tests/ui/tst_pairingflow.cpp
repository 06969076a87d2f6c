// Pairing from the panel against a fake daemon: what the pairing page shows
// of an offer, how polling ends, and what each Done button sends.

#include "fakedaemon.h"
#include "nickellocale.h"
#include "plugin/devicepaths.h"
#include "shownlabel.h"
#include "ui/panel.h"
#include "ui/qrview.h"
#include "ui/touchbutton.h"
#include "ui/uitext.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QStackedWidget>
#include <QTimer>
#include <QtTest>

namespace {

ReplyScript answer(int status, const QByteArray &body = QByteArray())
{
    return ReplyScript::at("HTTP/1.1 " + QByteArray::number(status) + " X\r\nContent-Length: " +
                           QByteArray::number(body.size()) + "\r\n\r\n" + body);
}

QStringList requestLines(const FakeDaemon &daemon)
{
    QStringList lines;
    for (const QByteArray &request : daemon.requests())
        lines << QString::fromLatin1(request.left(request.indexOf(" HTTP/1.1")));
    return lines;
}

QByteArray readLog()
{
    QFile file(QString::fromLatin1(zorvi::logFile));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray qr(int size, int length)
{
    return "{\"size\":" + QByteArray::number(size) + ",\"modules\":\"" + QByteArray(length, '1') +
           "\"}";
}

} // namespace

class TestPairingFlow : public QObject {
    Q_OBJECT

    QWidget window;

private slots:
    void initTestCase() { window.resize(1072, 1448); }
    void init() { QFile::remove(QString::fromLatin1(zorvi::logFile)); }

    void offerIsShown_data()
    {
        QTest::addColumn<QByteArray>("offer");
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("instruction");
        QTest::addColumn<QString>("validity");
        QTest::addColumn<bool>("qrShown");
        const QString scan = QStringLiteral(
            "Scan the QR code with your phone, or open this address and enter the code:");
        const QString open =
            QStringLiteral("Open the e-reader's address in your browser and enter this code.");
        const QByteArray full =
            ",\"url\":\"http://10.0.0.2:8080/pair#K7Q2XM\",\"qr\":" + qr(21, 441);

        QTest::newRow("a six-character code is split in the middle")
            << "{\"state\":\"waiting\",\"code\":\"K7Q2XM\",\"expires_in\":600" + full + "}"
            << "K7Q  2XM"
            << "http://10.0.0.2:8080/pair" << scan << "Valid for 10 minutes." << true;
        QTest::newRow("other code lengths stay whole, a started minute counts")
            << "{\"state\":\"waiting\",\"code\":\"K7Q2X\",\"expires_in\":601" + full + "}"
            << "K7Q2X"
            << "http://10.0.0.2:8080/pair" << scan << "Valid for 11 minutes." << true;
        QTest::newRow("an address without a fragment shows whole")
            << "{\"state\":\"waiting\",\"code\":\"\",\"url\":\"http://e/"
               "p\",\"expires_in\":59,\"qr\":" +
                   qr(21, 441) + "}"
            << ""
            << "http://e/p" << scan << "Valid for 1 minutes." << true;
        QTest::newRow("no address: no address line, the other instruction")
            << QByteArray(R"({"state":"waiting","code":"ABCDEFGH","expires_in":61})") << "ABCDEFGH"
            << QString() << open << "Valid for 2 minutes." << false;
        QTest::newRow("a matrix one module short hides the QR code")
            << "{\"state\":\"waiting\",\"code\":\"AAABBB\",\"expires_in\":-5,\"url\":\"u\","
               "\"qr\":" +
                   qr(21, 440) + "}"
            << "AAA  BBB"
            << "u" << scan << "Valid for 1 minutes." << false;
        QTest::newRow("a fractional validity reads as none")
            << "{\"state\":\"waiting\",\"code\":\"<b>1</"
               "b>\",\"expires_in\":90.5,\"url\":\"<i>u\",\"qr\":" +
                   qr(0, 0) + "}"
            << "<b>1</b>"
            << "<i>u" << scan << "Valid for 1 minutes." << false;
    }

    void offerIsShown()
    {
        QFETCH(QByteArray, offer);
        QFETCH(QString, code);
        QFETCH(QString, url);
        QFETCH(QString, instruction);
        QFETCH(QString, validity);
        QFETCH(bool, qrShown);
        FakeDaemon daemon(answer(200, R"({"state":"none"})"));
        daemon.route("POST /pairing", answer(200, offer));
        zorvi::Panel panel(&window);
        panel.open();

        panel.connectButton->click();
        QCOMPARE(panel.stack->currentIndex(), int(zorvi::Panel::PairingPage));
        QVERIFY(panel.pairingTimer->isActive());
        QCOMPARE(panel.codeLabel->text(), code);
        QCOMPARE(panel.urlLabel->text(), url);
        QCOMPARE(panel.urlLabel->isVisibleTo(&panel), !url.isEmpty());
        QCOMPARE(shownText(panel.instructionLabel), instruction);
        QCOMPARE(panel.validityLabel->text(), validity);
        QCOMPARE(panel.qrView->isVisibleTo(&panel), qrShown);
        // Codes and addresses come from the network: never markup.
        QCOMPARE(panel.codeLabel->textFormat(), Qt::PlainText);
        QCOMPARE(panel.urlLabel->textFormat(), Qt::PlainText);
    }

    void minutesAreWrittenInTheLanguage()
    {
        chooseLocale("ar");
        FakeDaemon daemon(answer(200, R"({"state":"waiting","code":"ABCDEF","expires_in":600})"));
        zorvi::Panel panel(&window);
        panel.open();
        panel.connectButton->click();
        QVERIFY2(panel.validityLabel->text().contains(QStringLiteral("\u0661\u0660")),
                 qPrintable(panel.validityLabel->text()));
        chooseLocale(QByteArray());
    }

    void failedStartStaysHome_data()
    {
        QTest::addColumn<bool>("daemonRuns");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("logged");
        QTest::newRow("an offer that is not waiting")
            << true << 200 << QByteArray(R"({"state":"Waiting","code":"ABCDEF"})")
            << QByteArray("pairing request failed with status 200");
        QTest::newRow("an error status") << true << 503 << QByteArray(R"({"state":"waiting"})")
                                         << QByteArray("pairing request failed with status 503");
        QTest::newRow("a body that is not an object")
            << true << 200 << QByteArray(R"(["waiting"])")
            << QByteArray("pairing request failed with status 200");
        QTest::newRow("no daemon")
            << false << 0 << QByteArray() << QByteArray("pairing request failed with status 0");
    }

    void failedStartStaysHome()
    {
        QFETCH(bool, daemonRuns);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, logged);
        std::unique_ptr<FakeDaemon> daemon(
            daemonRuns ? new FakeDaemon(answer(200, R"({"state":"none"})")) : nullptr);
        if (daemon)
            daemon->route("POST /pairing", answer(status, body));
        zorvi::Panel panel(&window);
        panel.open();
        panel.beginPairing();
        QCOMPARE(panel.stack->currentIndex(), int(zorvi::Panel::HomePage));
        QVERIFY(!panel.pairingTimer->isActive());
        QCOMPARE(shownText(panel.homeStatusLabel), zorvi::uiText("codeUnavailable"));
        QVERIFY2(readLog().endsWith(" " + logged + "\n"), readLog().constData());
    }

    void pollingEnds_data()
    {
        QTest::addColumn<bool>("daemonRuns");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("message");
        const QString expired = QStringLiteral("This code is no longer valid. Open the Zorvi menu "
                                               "again and tap Connect a device to get a new one.");
        const QString connected = QStringLiteral(
            " can now access your library. You can remove it at any time from Connected devices.");
        QTest::newRow("a paired device is named")
            << true << QByteArray(R"({"state":"paired","name":"Pixel 8"})") << "Device connected"
            << "Pixel 8" + connected;
        QTest::newRow("a name that looks like markup stays text")
            << true << QByteArray(R"({"state":"paired","name":"<img src=x><b>Bob"})")
            << "Device connected"
            << "<img src=x><b>Bob" + connected;
        QTest::newRow("a paired device without a name")
            << true << QByteArray(R"({"state":"paired"})") << "Device connected" << connected;
        QTest::newRow("any other state is expiry")
            << true << QByteArray(R"({"state":"expired"})") << "Code expired" << expired;
        QTest::newRow("no reply is expiry") << false << QByteArray() << "Code expired" << expired;
    }

    void pollingEnds()
    {
        QFETCH(bool, daemonRuns);
        QFETCH(QByteArray, body);
        QFETCH(QString, title);
        QFETCH(QString, message);
        std::unique_ptr<FakeDaemon> daemon(
            new FakeDaemon(answer(200, R"({"state":"waiting","code":"ABCDEF","expires_in":600})")));
        zorvi::Panel panel(&window);
        panel.open();
        panel.connectButton->click();

        // Waiting keeps the page as it is, tick after tick.
        for (int tick = 0; tick < 3; ++tick)
            QMetaObject::invokeMethod(panel.pairingTimer, "timeout");
        QCOMPARE(panel.stack->currentIndex(), int(zorvi::Panel::PairingPage));
        QVERIFY(panel.pairingTimer->isActive());

        daemon.reset(); // the old one takes its socket file with it
        if (daemonRuns)
            daemon.reset(new FakeDaemon(answer(200, body)));
        QMetaObject::invokeMethod(panel.pairingTimer, "timeout");
        QCOMPARE(panel.stack->currentIndex(), int(zorvi::Panel::ResultPage));
        QVERIFY(!panel.pairingTimer->isActive());
        QCOMPARE(panel.resultTitleLabel->text(), title);
        QCOMPARE(shownText(panel.resultMessageLabel), message);
        if (daemon)
            QVERIFY(!requestLines(*daemon).contains(QStringLiteral("DELETE /pairing")));
    }

    void doneButtons_data()
    {
        QTest::addColumn<bool>("onResultPage");
        QTest::addColumn<QStringList>("sent");
        QTest::newRow("Done while waiting withdraws the offer")
            << false << QStringList{"POST /pairing", "DELETE /pairing"};
        QTest::newRow("Done on the result sends nothing")
            << true << QStringList{"POST /pairing", "GET /pairing"};
    }

    void doneButtons()
    {
        QFETCH(bool, onResultPage);
        QFETCH(QStringList, sent);
        FakeDaemon daemon(answer(200, R"({"state":"expired"})"));
        daemon.route("POST /pairing",
                     answer(200, R"({"state":"waiting","code":"ABCDEF","expires_in":600})"));
        zorvi::Panel panel(&window);
        panel.open();
        const int before = daemon.requests().size();
        panel.connectButton->click();
        if (onResultPage)
            QMetaObject::invokeMethod(panel.pairingTimer, "timeout");
        (onResultPage ? panel.resultDoneButton : panel.pairingDoneButton)->click();

        QVERIFY(panel.isHidden());
        QVERIFY(!panel.pairingTimer->isActive());
        QCOMPARE(requestLines(daemon).mid(before), sent);
    }
};

QTEST_MAIN(TestPairingFlow)
#include "tst_pairingflow.moc"
