// The panel's layout, opening and closing, and the update section, against a
// fake daemon.

#include "addonlog.h"
#include "fakedaemon.h"
#include "nickellocale.h"
#include "readerscreen.h"
#include "shownlabel.h"
#include "ui/devicespage.h"
#include "ui/elidedlabel.h"
#include "ui/panel.h"
#include "ui/touchbutton.h"

#include <QLabel>
#include <QStackedWidget>
#include <QtTest>

namespace {

// Where a label's text stands on the panel: the left and right ends of its
// ink, in the label's own coordinates.
QPair<int, int> inkSpan(QWidget *label, QWidget *panel)
{
    const QImage image = panel->grab(areaIn(panel, label)).toImage();
    int left = image.width(), right = -1;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (qGray(image.pixel(x, y)) < 128) {
                left = qMin(left, x);
                right = qMax(right, x);
            }
        }
    }
    return qMakePair(left, right);
}

// The widgets of a page that are shown.
QList<QWidget *> shownOn(QWidget *page, QWidget *panel)
{
    QList<QWidget *> shown;
    for (QWidget *widget : page->findChildren<QWidget *>())
        if (widget->isVisibleTo(panel))
            shown << widget;
    return shown;
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

    void init() { clearLog(); }
    void cleanup() { chooseLocale("en_US"); }

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
        // Every keyed button and label, however deep, reads the new language.
        QCOMPARE(panel.closeButton->text(), zorvi::uiText("close"));
        QVERIFY(panel.closeButton->text() != QStringLiteral("Close"));
        QCOMPARE(
            panel.stack->widget(zorvi::Panel::PairingPage)->findChild<QLabel *>("title")->text(),
            zorvi::uiText("connectDevice"));
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
            << 500 << readyBody << false
            << "Version 2.1.0 is ready. It installs the next time the e-reader restarts."
            << "restart" << v203;
        QTest::newRow("a download in progress is followed, its version shown literally")
            << 200
            << QByteArray(R"({"state":"downloading","version":"<b>9</b>","current":"<i>1</i>"})")
            << false << "Downloading version <b>9</b>\u2026"
            << "busy"
            << "Zorvi <i>1</i>";
        QTest::newRow("a check under way is followed")
            << 200 << QByteArray(R"({"state":"checking","current":"2.0.3"})") << true
            << "Checking for updates\u2026"
            << "busy" << v203;
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
        QCOMPARE(panel.versionLabel->fullText(), version);
        panel.dismiss();
        QVERIFY(!panel.updateTimer->isActive());
    }

    // A check the daemon refuses (only 202 accepts one), and the restart of a
    // ready update that neither Nickel (no power manager here) nor the daemon
    // can do. (A check accepted and followed to the restart is the walk's; the
    // restart through Nickel or the daemon is tst_startup's.)
    void checkOrRestartRefused()
    {
        FakeDaemon daemon(answer(200, R"({"state":"idle","current":"2.0.3"})"));
        daemon.route("POST /update/check", answer(200));
        zorvi::Panel panel(&window);
        panel.open();
        panel.checkButton->click();
        QCOMPARE(shownText(panel.updateLabel), zorvi::uiText("updateCheckFailed"));
        QVERIFY(panel.updateLabel->isVisible());
        QVERIFY(panel.checkButton->isEnabled());

        daemon.route("GET /update", answer(200, readyBody));
        panel.open();
        panel.restartButton->click();
        QCOMPARE(logMessages(),
                 (QStringList{"restarting to install an update", "restart unavailable"}));
        QCOMPARE(shownText(panel.homeStatusLabel), zorvi::uiText("homeOffline"));
    }

    // In Arabic and Hebrew the panel runs right to left: the title stands on
    // the right, a row's button on the left of what it acts on, the page
    // that comes before on the right; back in English, all as before.
    void rightToLeftLanguagesMirrorThePanel()
    {
        FakeDaemon daemon(answer(200, "{}"));
        daemon.route("GET /update", answer(200, R"({"state":"idle","current":"2.0.3"})"));
        daemon.route("GET /clients", answer(200, numberedDevices(50)));
        zorvi::Panel panel(&window);
        QLabel *title = panel.stack->widget(zorvi::Panel::HomePage)->findChild<QLabel *>("title");
        for (const char *locale : {"en_US", "ar", "he", "en_US"}) {
            chooseLocale(locale);
            const bool rtl = qstrcmp(locale, "en_US") != 0;
            panel.open();
            layOut();
            const QPair<int, int> ink = inkSpan(title, &panel);
            QVERIFY2(rtl ? ink.first > title->width() / 2 : ink.second < title->width() / 2,
                     locale);
            QCOMPARE(panel.checkButton->x() < panel.versionLabel->x(), rtl);

            panel.devicesButton->click();
            layOut();
            QList<zorvi::TouchButton *> buttons =
                panel.devicesPage->findChildren<zorvi::TouchButton *>();
            const auto button = [&](const char *key) {
                for (zorvi::TouchButton *button : buttons)
                    if (button->text() == zorvi::uiText(key) && button->isVisibleTo(&panel))
                        return button;
                return static_cast<zorvi::TouchButton *>(nullptr);
            };
            zorvi::TouchButton *disconnect = button("disconnect");
            QWidget *name = disconnect->parentWidget()->findChild<zorvi::ElidedLabel *>();
            QCOMPARE(disconnect->x() < name->x(), rtl);
            QCOMPARE(button("previousPage")->x() > button("nextPage")->x(), rtl);
            // The list was filled before its page showed; Next still turns it.
            button("nextPage")->click();
            layOut();
            buttons = panel.devicesPage->findChildren<zorvi::TouchButton *>();
            QLabel *page = button("nextPage")->parentWidget()->findChild<QLabel *>();
            QVERIFY(page->text().startsWith(zorvi::uiLocale().toString(2) + " /"));
            panel.dismiss();
        }
    }

    // The reader turned with the panel open on the devices page, each way:
    // the panel covers the window, its sizes follow the window's height (a
    // 48th of it for the body text, four times that for the code, but never
    // under 16 px), and everything on the page stays on the screen. (The pairing page turned
    // is tst_pairingpicture's.)
    void turningFollowsTheWindow()
    {
        FakeDaemon daemon(answer(200, R"({"state":"idle"})"));
        daemon.route("GET /clients", answer(200, numberedDevices(50)));
        QWidget screen;
        screen.resize(1072, 1448);
        screen.show();
        zorvi::Panel panel(&screen);
        panel.open();
        panel.devicesButton->click();
        QCOMPARE(panel.stack->currentIndex(), int(zorvi::Panel::DevicesListPage));

        for (const QSize &size : {QSize(1448, 1072), QSize(1072, 1448)}) {
            screen.resize(size);
            layOut();
            QCOMPARE(panel.geometry(), screen.rect());
            panel.homeStatusLabel->ensurePolished();
            panel.codeLabel->ensurePolished();
            QCOMPARE(panel.homeStatusLabel->font().pixelSize(), size.height() / 48);
            QCOMPARE(panel.codeLabel->font().pixelSize(), 4 * (size.height() / 48));
            QVERIFY2(allInside(&panel, shownOn(panel.stack->currentWidget(), &panel)),
                     qPrintable(sizeName(size)));
        }
        // However small the window, the text is never under 16 px.
        screen.resize(800, 600);
        layOut();
        panel.homeStatusLabel->ensurePolished();
        QCOMPARE(panel.homeStatusLabel->font().pixelSize(), 16);
    }
};

QTEST_MAIN(TestPanel)
#include "tst_panel.moc"
