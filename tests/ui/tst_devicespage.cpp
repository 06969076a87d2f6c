// The connected-devices page against a fake daemon: the list, its dates, names
// shown as the text they are and never more than they may be, paging through
// more devices than fit, disconnecting and reloading. Runs in a private mount
// namespace, so the socket, log and settings are at their device paths.

#include "fakedaemon.h"
#include "nickellocale.h"
#include "plugin/devicepaths.h"
#include "readerscreen.h"
#include "shownlabel.h"
#include "ui/devicespage.h"
#include "ui/elidedlabel.h"
#include "ui/touchbutton.h"
#include "ui/uitext.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStackedWidget>
#include <QtTest>

#include <ctime>
#include <memory>

using zorvi::TouchButton;

namespace {

QByteArray http(int status, const QByteArray &body = QByteArray())
{
    return "HTTP/1.1 " + QByteArray::number(status) +
           " X\r\nContent-Length: " + QByteArray::number(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body;
}

// A device as the daemon lists it, paired on Tuesday 2021-03-09 at 00:00 in
// the test's time zone.
QJsonObject device(const QString &id, const QString &name)
{
    QJsonObject device;
    device.insert("id", id);
    device.insert("name", name);
    device.insert("paired_at", 1615266000);
    return device;
}

QByteArray listed(const QList<QJsonObject> &devices)
{
    QJsonArray array;
    for (const QJsonObject &device : devices)
        array.append(device);
    return http(200, QJsonDocument(array).toJson(QJsonDocument::Compact));
}

// Devices "Device 1" to "Device N".
QByteArray numbered(int count)
{
    QList<QJsonObject> devices;
    for (int i = 1; i <= count; ++i)
        devices << device(QString::number(i), QStringLiteral("Device %1").arg(i));
    return listed(devices);
}

QString logText()
{
    QFile file(zorvi::logFile);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
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
    int current() const { return stack()->currentIndex(); }
    QLabel *intro() const { return stack()->widget(0)->findChildren<QLabel *>().at(1); }
    QLabel *question() const { return stack()->widget(1)->findChild<QLabel *>("title"); }
    TouchButton *button(int on, const char *key) const
    {
        for (TouchButton *button : stack()->widget(on)->findChildren<TouchButton *>())
            if (button->text() == zorvi::uiText(key))
                return button;
        return nullptr;
    }
    // The rows shown, in order: the widgets with a Disconnect button.
    QList<QWidget *> rows() const
    {
        QList<QWidget *> rows;
        for (TouchButton *button : stack()->widget(0)->findChildren<TouchButton *>())
            if (button->text() == zorvi::uiText("disconnect") && button->isVisibleTo(&page))
                rows << button->parentWidget();
        std::sort(rows.begin(), rows.end(), [](QWidget *a, QWidget *b) { return a->y() < b->y(); });
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
    QLabel *pageIndicator() const
    {
        TouchButton *next = button(0, "nextPage");
        return next->parentWidget()->findChild<QLabel *>();
    }
    bool paged() const { return button(0, "nextPage")->isVisibleTo(&page); }
    // Every screenful from the first, turned with Next: the names on each.
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
    void layOut() const
    {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        QCoreApplication::processEvents();
    }
};

} // namespace

class TestDevicesPage : public QObject {
    Q_OBJECT

private slots:
    void init();
    void whatTheListShows_data();
    void whatTheListShows();
    void screenfuls_data();
    void screenfuls();
    void turningKeepsEveryDeviceReachable();
    void aDaemonCannotMakeThePageBuildWithoutEnd();
    void disconnection_data();
    void disconnection();
    void reloadingLeavesNothingBehind();
};

void TestDevicesPage::init()
{
    QFile::remove(zorvi::daemonSocket);
    QFile::remove(zorvi::logFile);
    chooseLocale("en_US");
    // Five hours behind UTC all year: time 0 falls on the last day of 1969.
    qputenv("TZ", "EST5");
    tzset();
}

void TestDevicesPage::whatTheListShows_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("intro");
    QTest::addColumn<QStringList>("rows");

    const QString en = "en_US", on = "\nConnected on March 9, 2021";
    const QString epoch = "\nConnected on December 31, 1969";
    const QByteArray two = R"([{"id": "p", "name": "Kobo Phone", "paired_at": 1615266000},
                                {"id": "l", "name": "Laptop", "paired_at": 0}])";
    const auto kobo = [](const QByteArray &pairedAt) {
        return http(200, "[{\"name\": \"Kobo\", \"paired_at\": " + pairedAt + "}]");
    };
    QTest::newRow("an array gives one row per device, in the daemon's order")
        << en << http(200, two) << "devicesIntro"
        << QStringList{"Kobo Phone" + on, "Laptop" + epoch};
    QTest::newRow("an object instead of an array reads as no device")
        << en << http(200, R"({"id": "p", "name": "Kobo Phone"})") << "devicesEmpty"
        << QStringList();
    QTest::newRow("elements of the wrong types still give a row each, of defaults")
        << en << http(200, R"([1, {"id": 5, "name": ["Bob"], "paired_at": "1615266000"}])")
        << "devicesIntro" << QStringList{epoch, epoch};
    QTest::newRow("status 500 makes the list unavailable, whatever the body")
        << en << http(500, two) << "devicesUnavailable" << QStringList();

    // The date as the language writes it, in its own digits, the same on
    // every Qt.
    QTest::newRow("German writes the day with a full stop")
        << "de_DE" << kobo("1615266000") << "devicesIntro"
        << QStringList{"Kobo\nVerbunden am 9. März 2021"};
    QTest::newRow("Arabic writes its own digits") << "ar" << kobo("1615266000") << "devicesIntro"
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
    const QString rlo = QString(QChar(0x202E)), lri = QString(QChar(0x2066));
    const struct {
        const char *row;
        QString name;
        QString shown;
    } names[] = {
        {"markup stays text", "<img src=x><b>Tom &amp; Jerry", "<img src=x><b>Tom &amp; Jerry"},
        {"a %2 is not filled in", "Phone %2 %1", "Phone %2 %1"},
        {"a right-to-left override is dropped, the date reads on", "Anna's phone" + rlo + lri,
         "Anna's phone"},
        {"a line break is a space", "Work\nlaptop\r", "Work laptop "},
    };
    for (const auto &name : names)
        QTest::newRow(name.row) << en << listed({device("p", name.name)}) << "devicesIntro"
                                << QStringList{name.shown + on};
}

void TestDevicesPage::whatTheListShows()
{
    QFETCH(QString, locale);
    QFETCH(QByteArray, reply);
    QFETCH(QString, intro);
    QFETCH(QStringList, rows);

    chooseLocale(locale.toLatin1());
    FakeDaemon daemon(ReplyScript::at(reply));
    Screen screen;
    screen.page.refresh();
    screen.layOut();

    QCOMPARE(shownText(screen.intro()), zorvi::uiText(intro.toLatin1().constData()));
    QCOMPARE(screen.shownRows(), rows);
    QVERIFY(logText().isEmpty());
    if (rows.isEmpty())
        return;

    // The question about a device names it as it is.
    const QString name = rows[0].section('\n', 0, 0);
    screen.tapRow(0);
    QCOMPARE(shownText(screen.question()),
             zorvi::uiText("disconnectQuestion").replace("{device}", name));
}

// Devices on pages of a reader's screen: one, exactly as many as fit, one
// more than that, and 50. Every device can be reached with Next, once, in
// the daemon's order; every row is whole on the screen; the page buttons show
// only when there is more than one page.
void TestDevicesPage::screenfuls_data()
{
    QTest::addColumn<QSize>("size");
    for (const QSize &size : readerScreens)
        QTest::newRow(qPrintable(sizeName(size))) << size;
}

void TestDevicesPage::screenfuls()
{
    QFETCH(QSize, size);
    FakeDaemon daemon(ReplyScript::at(numbered(50)));
    Screen screen(size);
    screen.page.refresh();
    screen.layOut();
    QVERIFY(screen.paged());

    // One screenful is as many devices as show without page buttons.
    int screenful = screen.rows().size();
    forever
    {
        daemon.route("GET /clients", ReplyScript::at(numbered(screenful + 1)));
        screen.page.refresh();
        screen.layOut();
        if (screen.paged())
            break;
        ++screenful;
    }
    QVERIFY2(screenful >= 5, qPrintable(QString::number(screenful)));

    for (const int count : {1, screenful, screenful + 1, 50}) {
        daemon.route("GET /clients", ReplyScript::at(numbered(count)));
        screen.page.refresh();
        screen.layOut();
        const QList<QStringList> screens = screen.allScreenfuls();
        QStringList reached;
        for (const QStringList &names : screens)
            reached += names;
        QStringList expected;
        for (int i = 1; i <= count; ++i)
            expected << QStringLiteral("Device %1").arg(i);
        QCOMPARE(reached, expected);
        QCOMPARE(screen.paged(), count > screenful);
        if (screen.paged())
            QCOMPARE(screen.pageIndicator()->text(), QStringLiteral("%1 / %1").arg(screens.size()));

        // The last screenful: whole rows, whole buttons, all on the screen.
        const QRect shown = screen.page.rect();
        for (QWidget *row : screen.rows()) {
            const QRect onPage(row->mapTo(&screen.page, QPoint()), row->size());
            QVERIFY(shown.contains(onPage));
            TouchButton *disconnect = row->findChild<TouchButton *>();
            QCOMPARE(disconnect->height(), disconnect->sizeHint().height());
        }
    }
}

// The reader turned while the list is open: the rows that fit change, and
// every device can still be reached, whole.
void TestDevicesPage::turningKeepsEveryDeviceReachable()
{
    FakeDaemon daemon(ReplyScript::at(numbered(50)));
    Screen screen(QSize(1072, 1448));
    screen.page.refresh();
    screen.layOut();
    const int portrait = screen.rows().size();
    for (const QSize &size : {QSize(1448, 1072), QSize(1072, 1448)}) {
        screen.page.resize(size);
        screen.layOut();
        QCOMPARE(screen.rows().size() < portrait, size.width() > size.height());
        QStringList reached;
        for (const QStringList &names : screen.allScreenfuls())
            reached += names;
        QCOMPARE(reached.size(), 50);
        for (QWidget *row : screen.rows())
            QVERIFY(screen.page.rect().contains(
                QRect(row->mapTo(&screen.page, QPoint()), row->size())));
        screen.page.refresh();
        screen.layOut();
    }
}

// A daemon that lists 60,000 devices, or names one with 900 KB: the page takes
// a bounded number of devices and a bounded length of a name, so the reader's
// screen is back at once.
void TestDevicesPage::aDaemonCannotMakeThePageBuildWithoutEnd()
{
    QByteArray many = "[";
    for (int i = 0; i < 60000; ++i)
        many += "{},";
    many.chop(1);
    many += "]";
    FakeDaemon daemon(ReplyScript::at(http(200, many)));
    Screen screen;
    QElapsedTimer clock;
    clock.start();
    screen.page.refresh();
    screen.layOut();
    QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
    const int pages =
        (zorvi::DevicesPage::mostDevices + screen.rows().size() - 1) / screen.rows().size();
    QCOMPARE(screen.pageIndicator()->text(), QStringLiteral("1 / %1").arg(pages));

    const QString huge = QString(900 * 1024, QLatin1Char('W'));
    daemon.route("GET /clients", ReplyScript::at(listed({device("p", huge)})));
    clock.restart();
    screen.page.refresh();
    screen.layOut();
    screen.tapRow(0);
    screen.layOut();
    QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
    const QString asked = shownText(screen.question());
    QVERIFY(asked.contains(huge.left(zorvi::longestDeviceName - 1) + QChar(0x2026)));
    QVERIFY(!asked.contains(huge.left(zorvi::longestDeviceName)));
}

void TestDevicesPage::disconnection_data()
{
    QTest::addColumn<int>("status"); // of the DELETE; 0: the daemon is gone by then

    QTest::newRow("a disconnection confirmed with 204 writes no log line") << 204;
    QTest::newRow("one answered with 200 is logged as failed") << 200;
    QTest::newRow("one with the daemon gone is logged, and the list is unavailable") << 0;
}

void TestDevicesPage::disconnection()
{
    QFETCH(int, status);

    // The device in the middle, with an id that must be sent percent-encoded:
    // any other DELETE is answered 404.
    const QString id = QString::fromUtf8("../my phone/ö%");
    auto daemon = std::make_unique<FakeDaemon>(ReplyScript::at(http(404)));
    daemon->route("GET /clients",
                  ReplyScript::at(listed(
                      {device("t", "Tablet"), device(id, "Kobo Phone"), device("l", "Laptop")})));
    daemon->route("DELETE /clients/..%2Fmy%20phone%2F%C3%B6%25", ReplyScript::at(http(status)));
    Screen screen;
    screen.page.refresh();
    screen.layOut();

    // Cancel goes back to the list and sends nothing.
    screen.tapRow(0);
    screen.button(1, "cancel")->click();
    QCOMPARE(screen.current(), 0);
    QCOMPARE(daemon->requests().size(), 1);

    // The next question, about another device, is the one that is answered;
    // the list is then loaded afresh.
    screen.tapRow(1);
    daemon->route("GET /clients",
                  ReplyScript::at(listed({device("t", "Tablet"), device("l", "Laptop")})));
    if (status == 0)
        daemon.reset();
    screen.button(1, "disconnect")->click();
    screen.layOut();

    QCOMPARE(screen.current(), 0);
    QCOMPARE(screen.rows().size(), status ? 2 : 0);
    if (daemon)
        QCOMPARE(daemon->requests().size(), 3);
    const bool logged = status != 204;
    QCOMPARE(logText().endsWith(" could not disconnect a device\n"), logged);
    QCOMPARE(logText().count('\n'), int(logged));

    // Back leaves the page through the panel's callback.
    int backs = 0;
    screen.page.onBack = [&backs] {
        ++backs;
    };
    screen.button(0, "back")->click();
    QCOMPARE(backs, 1);
}

// Rows are deleted at once on each reload: one left behind would stay on the
// page, drawn over the new list.
void TestDevicesPage::reloadingLeavesNothingBehind()
{
    const auto objects = [](const Screen &screen) {
        return screen.page.findChildren<QObject *>().size();
    };
    Screen screen;
    screen.page.refresh(); // no daemon yet: no rows, and the intro says so
    QCOMPARE(shownText(screen.intro()), zorvi::uiText("devicesUnavailable"));
    const int empty = objects(screen);
    auto daemon = std::make_unique<FakeDaemon>(ReplyScript::at(numbered(3)));
    screen.page.refresh();
    screen.layOut();
    const int full = objects(screen);
    screen.page.refresh();
    screen.layOut();
    QCOMPARE(screen.rows().size(), 3);
    QCOMPARE(objects(screen), full);
    // A reload that fails leaves no row of the last one behind either.
    daemon.reset();
    screen.page.refresh();
    QCOMPARE(objects(screen), empty);
}

QTEST_MAIN(TestDevicesPage)
#include "tst_devicespage.moc"
