// The connected-devices page against a fake daemon: the list, its dates, names
// shown as the text they are and never more than they may be, paging through
// more devices than fit, disconnecting and reloading.

#include "addonlog.h"
#include "fakedaemon.h"
#include "nickellocale.h"
#include "readerscreen.h"
#include "shownlabel.h"
#include "ui/devicespage.h"
#include "ui/elidedlabel.h"
#include "ui/touchbutton.h"

#include <QStackedWidget>
#include <QtTest>

#include <ctime>
#include <memory>

using zorvi::TouchButton;

namespace {

// A device as the daemon lists it, paired on Tuesday 2021-03-09 at 00:00 in
// the test's time zone.
QJsonObject device(const QString &id, const QString &name)
{
    return QJsonObject::fromVariantMap({{"id", id}, {"name", name}, {"paired_at", 1615266000}});
}

ReplyScript listed(const QList<QJsonObject> &devices)
{
    QJsonArray array;
    for (const QJsonObject &device : devices)
        array.append(device);
    return answer(200, QJsonDocument(array).toJson(QJsonDocument::Compact));
}

// The page as the panel holds it, seen through its widgets: stack page 0 is
// the list, page 1 the question. Its screen is a reader's, or an inch of one.
struct Screen {
    explicit Screen(const QSize &size = QSize(600, 800))
    {
        page.setStyleSheet(zorvi::panelStyleSheet(16));
        page.resize(size);
        page.show();
    }

    zorvi::DaemonClient client;
    zorvi::DevicesPage page{&client, 16, nullptr};

    QStackedWidget *stack() const { return page.findChild<QStackedWidget *>(); }
    QLabel *intro() const { return stack()->widget(0)->findChildren<QLabel *>().at(1); }
    QLabel *question() const { return stack()->widget(1)->findChild<QLabel *>("title"); }
    TouchButton *button(int on, const char *key) const
    {
        for (TouchButton *button : stack()->widget(on)->findChildren<TouchButton *>())
            if (button->text() == zorvi::uiText(key))
                return button;
        return nullptr;
    }
    // The rows shown, top to bottom (in the order they were made): the widgets
    // with a Disconnect button.
    QList<QWidget *> rows() const
    {
        QList<QWidget *> rows;
        for (TouchButton *button : stack()->widget(0)->findChildren<TouchButton *>())
            if (button->text() == zorvi::uiText("disconnect") && button->isVisibleTo(&page))
                rows << button->parentWidget();
        return rows;
    }
    void tapRow(int i) const { rows().at(i)->findChild<TouchButton *>()->click(); }
    // What each row shows, name and date on two lines.
    QStringList shownRows() const
    {
        QStringList shown;
        for (QWidget *row : rows()) {
            const QList<zorvi::ElidedLabel *> lines = row->findChildren<zorvi::ElidedLabel *>();
            shown << shownText(lines.at(0)) + '\n' + shownText(lines.at(1));
        }
        return shown;
    }
    QString pageIndicator() const
    {
        return button(0, "nextPage")->parentWidget()->findChild<QLabel *>()->text();
    }
    bool paged() const { return button(0, "nextPage")->isVisibleTo(&page); }
    // The names on every screenful from the first, turned with Next.
    QList<QStringList> allScreenfuls() const
    {
        QList<QStringList> screens;
        forever
        {
            QStringList names;
            for (const QString &row : shownRows())
                names << row.section('\n', 0, 0);
            screens << names;
            TouchButton *next = button(0, "nextPage");
            if (!paged() || !next->isEnabled())
                return screens;
            next->click();
            layOut();
        }
    }
    void refresh()
    {
        page.refresh();
        layOut();
    }
};

} // namespace

class TestDevicesPage : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        QFile::remove(zorvi::daemonSocket);
        clearLog();
        chooseLocale("en_US");
        // Five hours behind UTC all year: time 0 falls on the last day of 1969.
        qputenv("TZ", "EST5");
        tzset();
    }

    void whatTheListShows_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<ReplyScript>("reply");
        QTest::addColumn<QString>("intro");
        QTest::addColumn<QStringList>("rows");

        const QString en = "en_US", on = "\nConnected on March 9, 2021";
        const QString epoch = "\nConnected on December 31, 1969";
        const QByteArray two = R"([{"id": "p", "name": "Kobo Phone", "paired_at": 1615266000},
                                    {"id": "l", "name": "Laptop", "paired_at": 0}])";
        const auto kobo = [](const QByteArray &pairedAt) {
            return answer(200, "[{\"name\": \"Kobo\", \"paired_at\": " + pairedAt + "}]");
        };
        QTest::newRow("an array gives one row per device, in the daemon's order")
            << en << answer(200, two) << "devicesIntro"
            << QStringList{"Kobo Phone" + on, "Laptop" + epoch};
        QTest::newRow("an object instead of an array reads as no device")
            << en << answer(200, R"({"id": "p", "name": "Kobo Phone"})") << "devicesEmpty"
            << QStringList();
        QTest::newRow("elements of the wrong types still give a row each, of defaults")
            << en << answer(200, R"([1, {"id": 5, "name": ["Bob"], "paired_at": "1615266000"}])")
            << "devicesIntro" << QStringList{epoch, epoch};
        QTest::newRow("status 500 makes the list unavailable, whatever the body")
            << en << answer(500, two) << "devicesUnavailable" << QStringList();

        // The date as the language writes it, in its own digits, the same on
        // every Qt.
        QTest::newRow("Arabic writes its own digits")
            << "ar" << kobo("1615266000") << "devicesIntro"
            << QStringList{"Kobo\nتم التوصيل في ٩ مارس ٢٠٢١"};
        QTest::newRow("a fraction of a second is dropped, not rounded into the next day")
            << en << kobo("1615265999.9") << "devicesIntro"
            << QStringList{"Kobo\nConnected on March 8, 2021"};
        QTest::newRow("a negative time is time 0, in the reader's own time zone")
            << en << kobo("-86400") << "devicesIntro" << QStringList{"Kobo" + epoch};
        QTest::newRow("a time beyond 32 bits is held at the last one")
            << en << kobo("1e12") << "devicesIntro"
            << QStringList{"Kobo\nConnected on February 7, 2106"};

        // Names from the network are the text they are, on one line of their
        // own: nothing in them is markup, and nothing reorders or hides the date.
        const auto named = [&](const char *row, const QString &name, const QString &shown) {
            QTest::newRow(row) << en << listed({device("p", name)}) << "devicesIntro"
                               << QStringList{shown + on};
        };
        named("markup stays text", "<img src=x><b>Tom &amp; Jerry",
              "<img src=x><b>Tom &amp; Jerry");
        named("a %2 is not filled in", "Phone %2 %1", "Phone %2 %1");
        named("a right-to-left override is dropped, the date reads on",
              QStringLiteral("Anna's phone\u202E\u2066"), "Anna's phone");
        named("a line break is a space", "Work\nlaptop\r", "Work laptop ");
        named("a long name is cut, never inside a surrogate pair",
              QString(62, 'i') + QString::fromUtf8("\xF0\x9F\x98\x80X"),
              QString(62, 'i') + QChar(0x2026));
    }

    void whatTheListShows()
    {
        QFETCH(QString, locale);
        QFETCH(ReplyScript, reply);
        QFETCH(QString, intro);
        QFETCH(QStringList, rows);

        chooseLocale(locale.toLatin1());
        FakeDaemon daemon(reply);
        Screen screen;
        screen.refresh();

        QCOMPARE(shownText(screen.intro()), zorvi::uiText(intro.toLatin1().constData()));
        QCOMPARE(screen.shownRows(), rows);
        QVERIFY(readLog().isEmpty());
        if (rows.isEmpty())
            return;

        // The question about a device names it as it is.
        screen.tapRow(0);
        QCOMPARE(
            shownText(screen.question()),
            zorvi::uiText("disconnectQuestion").replace("{device}", rows[0].section('\n', 0, 0)));
    }

    // Devices on pages of a reader's screen: one, exactly as many as fit, one
    // more than that, and 50. Every device can be reached with Next, once, in
    // the daemon's order; every row is whole on the screen; the page buttons show
    // only when there is more than one page. Turned while the list is open, and
    // back, the rows that fit change, and every device can still be reached,
    // whole.
    void screenfuls_data()
    {
        QTest::addColumn<QSize>("size");
        for (const QSize &size : readerScreens)
            QTest::newRow(qPrintable(sizeName(size))) << size;
    }

    void screenfuls()
    {
        QFETCH(QSize, size);
        FakeDaemon daemon(answer(200, numberedDevices(50)));
        Screen screen(size);
        screen.refresh();
        QVERIFY(screen.paged());

        // One screenful is as many devices as show without page buttons.
        int screenful = screen.rows().size();
        forever
        {
            daemon.route("GET /clients", answer(200, numberedDevices(screenful + 1)));
            screen.refresh();
            if (screen.paged())
                break;
            ++screenful;
        }
        QVERIFY2(screenful >= 5, qPrintable(QString::number(screenful)));

        for (const int count : {1, screenful, screenful + 1, 50}) {
            daemon.route("GET /clients", answer(200, numberedDevices(count)));
            screen.refresh();
            const QList<QStringList> screens = screen.allScreenfuls();
            QStringList reached, expected;
            for (const QStringList &names : screens)
                reached += names;
            for (int i = 1; i <= count; ++i)
                expected << QStringLiteral("Device %1").arg(i);
            QCOMPARE(reached, expected);
            QCOMPARE(screen.paged(), count > screenful);
            if (screen.paged())
                QCOMPARE(screen.pageIndicator(), QStringLiteral("%1 / %1").arg(screens.size()));

            // The last screenful: whole rows, whole buttons, all on the screen.
            QVERIFY(allInside(&screen.page, screen.rows()));
            for (QWidget *row : screen.rows()) {
                TouchButton *disconnect = row->findChild<TouchButton *>();
                QCOMPARE(disconnect->height(), disconnect->sizeHint().height());
            }
        }

        screen.refresh();
        const int upright = screen.rows().size();
        for (const QSize &turned : {size.transposed(), size}) {
            screen.page.resize(turned);
            layOut();
            QCOMPARE(screen.rows().size() < upright, turned != size);
            int reached = 0;
            for (const QStringList &names : screen.allScreenfuls())
                reached += names.size();
            QCOMPARE(reached, 50);
            QVERIFY(allInside(&screen.page, screen.rows()));
            screen.refresh();
        }
    }

    // A daemon that lists 60,000 devices, or names one with 900 KB: the page takes
    // a bounded number of devices and a bounded length of a name, so the reader's
    // screen is back at once.
    void aDaemonCannotMakeThePageBuildWithoutEnd()
    {
        QByteArray many = "[{}" + QByteArray(",{}").repeated(59999) + "]";
        FakeDaemon daemon(answer(200, many));
        Screen screen;
        QElapsedTimer clock;
        clock.start();
        screen.refresh();
        QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
        const int pages =
            (zorvi::DevicesPage::mostDevices + screen.rows().size() - 1) / screen.rows().size();
        QCOMPARE(screen.pageIndicator(), QStringLiteral("1 / %1").arg(pages));

        const QString huge = QString(900 * 1024, QLatin1Char('W'));
        daemon.route("GET /clients", listed({device("p", huge)}));
        clock.restart();
        screen.refresh();
        screen.tapRow(0);
        layOut();
        QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
        const QString asked = shownText(screen.question());
        QVERIFY(asked.contains(huge.left(zorvi::longestDeviceName - 1) + QChar(0x2026)));
        QVERIFY(!asked.contains(huge.left(zorvi::longestDeviceName)));
    }

    void disconnection_data()
    {
        QTest::addColumn<int>("status"); // of the DELETE; 0: the daemon is gone by then

        QTest::newRow("a disconnection confirmed with 204 writes no log line") << 204;
        QTest::newRow("one answered with 200 is logged as failed") << 200;
        QTest::newRow("one with the daemon gone is logged, and the list is unavailable") << 0;
    }

    void disconnection()
    {
        QFETCH(int, status);

        // The device in the middle, with an id that must be sent percent-encoded:
        // any other DELETE is answered 404.
        const QString id = QString::fromUtf8("../my phone/ö%");
        auto daemon = std::make_unique<FakeDaemon>(answer(404));
        daemon->route("GET /clients", listed({device("t", "Tablet"), device(id, "Kobo Phone"),
                                              device("l", "Laptop")}));
        daemon->route("DELETE /clients/..%2Fmy%20phone%2F%C3%B6%25", answer(status));
        Screen screen;
        screen.refresh();

        // Cancel goes back to the list and sends nothing.
        screen.tapRow(0);
        screen.button(1, "cancel")->click();
        QCOMPARE(screen.stack()->currentIndex(), 0);
        QCOMPARE(daemon->requests().size(), 1);

        // The next question, about another device, is the one that is answered;
        // the list is then loaded afresh.
        screen.tapRow(1);
        daemon->route("GET /clients", listed({device("t", "Tablet"), device("l", "Laptop")}));
        if (status == 0)
            daemon.reset();
        screen.button(1, "disconnect")->click();
        layOut();

        QCOMPARE(screen.stack()->currentIndex(), 0);
        QCOMPARE(screen.rows().size(), status ? 2 : 0);
        if (daemon)
            QCOMPARE(daemon->requests().size(), 3);
        QCOMPARE(logMessages(),
                 status == 204 ? QStringList() : QStringList{"could not disconnect a device"});
    }

    // Rows are deleted at once on each reload: one left behind would stay on the
    // page, drawn over the new list.
    void reloadingLeavesNothingBehind()
    {
        const auto objects = [](const Screen &screen) {
            return screen.page.findChildren<QObject *>().size();
        };
        Screen screen;
        screen.page.refresh(); // no daemon yet: no rows, and the intro says so
        QCOMPARE(shownText(screen.intro()), zorvi::uiText("devicesUnavailable"));
        const int empty = objects(screen);
        auto daemon = std::make_unique<FakeDaemon>(answer(200, numberedDevices(3)));
        screen.refresh();
        const int full = objects(screen);
        screen.refresh();
        QCOMPARE(screen.rows().size(), 3);
        QCOMPARE(objects(screen), full);
        // A reload that fails leaves no row of the last one behind either.
        daemon.reset();
        screen.page.refresh();
        QCOMPARE(objects(screen), empty);
    }
};

QTEST_MAIN(TestDevicesPage)
#include "tst_devicespage.moc"
