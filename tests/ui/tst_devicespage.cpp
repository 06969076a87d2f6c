// The connected-devices page against a fake daemon: the list, its dates, names
// shown as the text they are, disconnecting and reloading. Runs in a private
// mount namespace, so the socket, log and settings are at their device paths.

#include "daemon/daemonclient.h"
#include "fakedaemon.h"
#include "nickellocale.h"
#include "plugin/devicepaths.h"
#include "shownlabel.h"
#include "ui/devicespage.h"
#include "ui/touchbutton.h"
#include "ui/uitext.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLayout>
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

// A list of one device, "Kobo", with this "paired_at" (JSON).
QByteArray kobo(const QByteArray &pairedAt)
{
    return http(200, "[{\"name\": \"Kobo\", \"paired_at\": " + pairedAt + "}]");
}

QByteArray listed(std::initializer_list<QJsonObject> devices)
{
    QJsonArray array;
    for (const QJsonObject &device : devices)
        array.append(device);
    return http(200, QJsonDocument(array).toJson());
}

ReplyScript list(std::initializer_list<QJsonObject> devices)
{
    return ReplyScript::at(listed(devices));
}

QString logText()
{
    QFile file(zorvi::logFile);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// The page as the panel holds it, seen through its widgets: stack page 0 is
// the list, page 1 the question.
struct Screen {
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
    QLayout *rowLayout() const { return stack()->widget(0)->layout()->itemAt(2)->layout(); }
    QWidget *row(int i) const { return rowLayout()->itemAt(i)->widget(); }
    void tapRow(int i) const { row(i)->findChild<TouchButton *>()->click(); }
    // What each row shows, name and date on two lines.
    QStringList shownRows() const
    {
        QStringList rows;
        for (int i = 0; i < rowLayout()->count(); ++i)
            rows << shownText(row(i)->findChild<QLabel *>()).replace(QChar::LineSeparator, '\n');
        return rows;
    }
};

} // namespace

class TestDevicesPage : public QObject {
    Q_OBJECT

private slots:
    void init();
    void whatTheListShows_data();
    void whatTheListShows();
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
    const QByteArray tuesday = kobo("1615266000");
    QTest::newRow("German writes the day with a full stop")
        << "de_DE" << tuesday << "devicesIntro" << QStringList{"Kobo\nVerbunden am 9. März 2021"};
    QTest::newRow("Arabic writes its own digits")
        << "ar" << tuesday << "devicesIntro" << QStringList{"Kobo\nتم التوصيل في ٩ مارس ٢٠٢١"};
    QTest::newRow("a fraction of a second is dropped, not rounded into the next day")
        << en << kobo("1615265999.9") << "devicesIntro"
        << QStringList{"Kobo\nConnected on March 8, 2021"};
    QTest::newRow("a negative time is time 0, in the reader's own time zone")
        << en << kobo("-86400") << "devicesIntro" << QStringList{"Kobo" + epoch};
    QTest::newRow("a time beyond 32 bits is held at the last one")
        << en << kobo("1e12") << "devicesIntro"
        << QStringList{"Kobo\nConnected on February 7, 2106"};

    // Names from the network are the text they are.
    for (const QString &name : {QString("<img src=x><b>Tom &amp; Jerry"), QString("Phone %2 %1"),
                                QString("Kobo ").repeated(60) + QString(300, 'W')})
        QTest::newRow(qPrintable("the name " + name.left(30) + " is shown as it is"))
            << en << listed({device("p", name)})
            << "devicesIntro" << QStringList{name + on};
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
    // The screen's size, whatever the page would like to have.
    screen.page.layout()->setSizeConstraint(QLayout::SetNoConstraint);
    screen.page.resize(600, 800);
    screen.page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&screen.page));
    screen.page.refresh();

    QCOMPARE(shownText(screen.intro()), zorvi::uiText(intro.toLatin1().constData()));
    QCOMPARE(screen.shownRows(), rows);
    QVERIFY(logText().isEmpty());
    if (rows.isEmpty())
        return;

    // The first row fits the screen's width, however long a word of the
    // name, without losing a line...
    const QString name = rows[0].section('\n', 0, 0);
    QLabel *label = screen.row(0)->findChild<QLabel *>();
    QTRY_VERIFY(label->isVisible());
    QTRY_VERIFY(label->height() >= label->heightForWidth(label->width()));
    TouchButton *button = screen.row(0)->findChild<TouchButton *>();
    QVERIFY(screen.page.rect().contains({button->mapTo(&screen.page, {}), button->size()}));
    // ...and the question about it names it as it is.
    screen.tapRow(0);
    QCOMPARE(shownText(screen.question()),
             zorvi::uiText("disconnectQuestion").replace("{device}", name));
    QVERIFY(screen.question()->textFormat() == Qt::PlainText ||
            screen.question()->textFormat() == Qt::RichText);
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
                  list({device("t", "Tablet"), device(id, "Kobo Phone"), device("l", "Laptop")}));
    daemon->route("DELETE /clients/..%2Fmy%20phone%2F%C3%B6%25", ReplyScript::at(http(status)));
    Screen screen;
    screen.page.refresh();

    // Cancel goes back to the list and sends nothing.
    screen.tapRow(0);
    screen.button(1, "cancel")->click();
    QCOMPARE(screen.current(), 0);
    QCOMPARE(daemon->requests().size(), 1);

    // The next question, about another device, is the one that is answered;
    // the list is then loaded afresh.
    screen.tapRow(1);
    daemon->route("GET /clients", list({device("t", "Tablet"), device("l", "Laptop")}));
    if (status == 0)
        daemon.reset();
    screen.button(1, "disconnect")->click();

    QCOMPARE(screen.current(), 0);
    QCOMPARE(screen.rowLayout()->count(), status ? 2 : 0);
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
    auto daemon = std::make_unique<FakeDaemon>(
        list({device("p", "Phone"), device("t", "Tablet"), device("l", "Laptop")}));
    screen.page.refresh();
    const int full = objects(screen);
    screen.page.refresh();
    QCOMPARE(screen.rowLayout()->count(), 3);
    QCOMPARE(objects(screen), full);
    // A reload that fails leaves no row of the last one behind either.
    daemon.reset();
    screen.page.refresh();
    QCOMPARE(objects(screen), empty);
}

QTEST_MAIN(TestDevicesPage)
#include "tst_devicespage.moc"
