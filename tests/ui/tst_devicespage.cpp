// The connected-devices page against a fake daemon: what each answer to the
// list shows, pairing dates in several languages and time zones, names from
// the network shown as the text they are, disconnecting with confirmation,
// and that reloading leaves nothing behind. Runs in a private mount namespace,
// so the socket, the log and Nickel's settings are at their device paths.

#include "daemon/daemonclient.h"
#include "fakedaemon.h"
#include "plugin/devicepaths.h"
#include "ui/devicespage.h"
#include "ui/texttable.h"
#include "ui/touchbutton.h"
#include "ui/uitext.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPointer>
#include <QRegularExpression>
#include <QStackedWidget>
#include <QTextCursor>
#include <QTextDocument>
#include <QVBoxLayout>
#include <QtTest>

#include <ctime>
#include <memory>

using zorvi::TouchButton;

namespace {

// 2021-03-09 00:00:00 UTC, a Tuesday.
const double tuesday = 1615248000;

QByteArray httpReply(int status, const QByteArray &body = QByteArray())
{
    return "HTTP/1.1 " + QByteArray::number(status) +
           " X\r\nContent-Length: " + QByteArray::number(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body;
}

QJsonObject device(const QString &id, const QString &name, double pairedAt = tuesday)
{
    return QJsonObject{{"id", id}, {"name", name}, {"paired_at", pairedAt}};
}

ReplyScript listReply(const QJsonArray &devices)
{
    return ReplyScript::at(httpReply(200, QJsonDocument(devices).toJson()));
}

// Writes Nickel's configuration and lets the add-on read it. QSettings reuses
// what it read while a file keeps its size and time stamp, so every write
// here has a new size.
void chooseLocale(const QByteArray &locale)
{
    static int writes = 0;
    QDir().mkpath(QFileInfo(zorvi::nickelConfigFile).path());
    QFile file(zorvi::nickelConfigFile);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("[PowerOptions]\nPadding=" + QByteArray(++writes, 'x') +
               "\n[ApplicationPreferences]\nCurrentLocale=" + locale + "\n");
    file.close();
    zorvi::loadUiLanguage();
}

void chooseTimeZone(const QByteArray &zone)
{
    qputenv("TZ", zone);
    tzset();
}

QString logText()
{
    QFile file(zorvi::logFile);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// The request line of each request the daemon received, "DELETE /clients/x".
QList<QByteArray> requestLines(const FakeDaemon &daemon)
{
    QList<QByteArray> lines;
    for (const QByteArray &request : daemon.requests())
        lines << request.left(request.indexOf(" HTTP/1.1\r\n"));
    return lines;
}

// What a label's rich text shows, line by line.
QStringList shownLines(const QLabel *label)
{
    QTextDocument document;
    document.setHtml(label->text());
    return document.toPlainText().replace(QChar::LineSeparator, '\n').split('\n');
}

// The page as the panel holds it, over a window of the screen's size whatever
// the page would like to have, seen through its widgets.
struct Screen {
    zorvi::DaemonClient client;
    QWidget window;
    zorvi::DevicesPage *page = new zorvi::DevicesPage(&client, 16, &window);

    Screen()
    {
        auto *layout = new QVBoxLayout(&window);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSizeConstraint(QLayout::SetNoConstraint);
        layout->addWidget(page);
        window.resize(600, 800);
    }

    bool show()
    {
        window.show();
        return QTest::qWaitForWindowExposed(&window);
    }

    QStackedWidget *stack() const { return page->findChild<QStackedWidget *>(); }
    QWidget *listPage() const { return stack()->widget(0); }
    QWidget *confirmPage() const { return stack()->widget(1); }
    bool onList() const { return stack()->currentIndex() == 0; }
    bool onQuestion() const { return stack()->currentIndex() == 1; }

    // The label of a page that carries no text key: the intro or the question.
    static QLabel *unkeyedLabel(QWidget *on)
    {
        for (QLabel *label : on->findChildren<QLabel *>(QString(), Qt::FindDirectChildrenOnly)) {
            if (!label->property("zorviTextKey").isValid())
                return label;
        }
        return nullptr;
    }
    QLabel *intro() const { return unkeyedLabel(listPage()); }
    QLabel *question() const { return unkeyedLabel(confirmPage()); }

    static TouchButton *keyedButton(QWidget *on, const QString &key)
    {
        for (TouchButton *button : on->findChildren<TouchButton *>()) {
            if (button->property("zorviTextKey").toString() == key)
                return button;
        }
        return nullptr;
    }
    TouchButton *back() const { return keyedButton(listPage(), "back"); }
    TouchButton *disconnect() const { return keyedButton(confirmPage(), "disconnect"); }
    TouchButton *cancel() const { return keyedButton(confirmPage(), "cancel"); }

    // The rows, in the order they are laid out under the intro.
    QLayout *rowLayout() const { return listPage()->layout()->itemAt(2)->layout(); }
    QList<QWidget *> rows() const
    {
        QList<QWidget *> widgets;
        for (int i = 0; i < rowLayout()->count(); ++i)
            widgets << rowLayout()->itemAt(i)->widget();
        return widgets;
    }
    QLabel *rowLabel(int row) const { return rows().at(row)->findChild<QLabel *>(); }
    TouchButton *rowButton(int row) const { return rows().at(row)->findChild<TouchButton *>(); }
    QStringList names() const
    {
        QStringList names;
        for (int row = 0; row < rows().size(); ++row)
            names << shownLines(rowLabel(row)).value(0);
        return names;
    }
};

} // namespace

class TestDevicesPage : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { touch = QTest::createTouchDevice(); }
    void init();

    void listOutcomes_data();
    void listOutcomes();
    void dates_data();
    void dates();
    void noWeekdayInAnyLanguage_data();
    void noWeekdayInAnyLanguage();
    void hostileNames_data();
    void hostileNames();
    void longNameLeavesEveryRowWhole();
    void disconnection_data();
    void disconnection();
    void deletePath_data();
    void deletePath();
    void cancelKeepsTheList();
    void back_data();
    void back();
    void reloadingLeavesNothingBehind();

private:
    void tap(QWidget *widget);

    QTouchDevice *touch = nullptr;
};

void TestDevicesPage::init()
{
    QFile::remove(zorvi::daemonSocket);
    QFile::remove(zorvi::logFile);
    chooseLocale("en_US");
    chooseTimeZone("UTC");
}

void TestDevicesPage::tap(QWidget *widget)
{
    QVERIFY(widget);
    // Rows added to a page on screen are shown by Qt once the event loop runs.
    QTRY_VERIFY(widget->isVisible());
    const QPoint centre = widget->rect().center();
    QTest::touchEvent(widget->window(), touch).press(0, centre, widget);
    QTest::touchEvent(widget->window(), touch).release(0, centre, widget);
}

void TestDevicesPage::listOutcomes_data()
{
    QTest::addColumn<QByteArray>("reply"); // empty: no daemon at all
    QTest::addColumn<QString>("introKey");
    QTest::addColumn<QStringList>("rowTexts");

    const QJsonArray two{device("p1", "Kobo Phone"), device("l2", "Laptop", 0)};
    const QString epoch = "<b></b><br>Connected on January 1, 1970";
    QTest::newRow("an array gives one row per device in the daemon's order")
        << httpReply(200, QJsonDocument(two).toJson()) << "devicesIntro"
        << QStringList{"<b>Kobo Phone</b><br>Connected on March 9, 2021",
                       "<b>Laptop</b><br>Connected on January 1, 1970"};
    QTest::newRow("an empty array says that no device is connected")
        << httpReply(200, "[]") << "devicesEmpty" << QStringList();
    QTest::newRow("an object instead of an array reads as no device")
        << httpReply(200, QJsonDocument(device("p1", "Kobo Phone")).toJson()) << "devicesEmpty"
        << QStringList();
    QTest::newRow("elements of the wrong types still give a row each, of defaults")
        << httpReply(200, R"([1, "Kobo Phone", null, [], {"id": 5, "name": ["Bob"],
                              "paired_at": "1615248000"}])")
        << "devicesIntro" << QStringList{epoch, epoch, epoch, epoch, epoch};
    QTest::newRow("status 500 says the list is unavailable, whatever the body")
        << httpReply(500, QJsonDocument(two).toJson()) << "devicesUnavailable" << QStringList();
    QTest::newRow("no daemon says the list is unavailable")
        << QByteArray() << "devicesUnavailable" << QStringList();
}

void TestDevicesPage::listOutcomes()
{
    QFETCH(QByteArray, reply);
    QFETCH(QString, introKey);
    QFETCH(QStringList, rowTexts);

    // Rows from an earlier visit, with the question about one of them open,
    // none of which may survive the reload.
    auto before = std::make_unique<FakeDaemon>(
        listReply({device("t", "Old tablet"), device("p", "Old phone")}));
    Screen screen;
    QVERIFY(screen.show());
    QVERIFY(before->requests().isEmpty()); // building the page asks nothing
    screen.page->refresh();
    QCOMPARE(screen.rows().size(), 2);
    tap(screen.rowButton(0));
    QVERIFY(screen.onQuestion());
    before.reset();

    std::unique_ptr<FakeDaemon> daemon;
    if (!reply.isEmpty())
        daemon = std::make_unique<FakeDaemon>(ReplyScript::at(reply));
    screen.page->refresh();

    QVERIFY(screen.onList());
    QCOMPARE(screen.intro()->text(), zorvi::uiText(introKey.toLatin1().constData()));
    QStringList texts;
    for (int row = 0; row < screen.rows().size(); ++row)
        texts << screen.rowLabel(row)->text();
    QCOMPARE(texts, rowTexts);
    if (daemon)
        QCOMPARE(requestLines(*daemon), QList<QByteArray>{"GET /clients"});
    QVERIFY(logText().isEmpty());
}

void TestDevicesPage::dates_data()
{
    QTest::addColumn<QByteArray>("setting");
    QTest::addColumn<QByteArray>("timeZone");
    QTest::addColumn<QByteArray>("pairedAt"); // JSON text; empty: no such key
    QTest::addColumn<QString>("detail");

    const QByteArray utc = "UTC";
    // Five hours behind UTC all year, so time 0 falls on the last day of 1969.
    const QByteArray behind = "EST5";
    QTest::newRow("English gives month, day and year")
        << QByteArray("en_US") << utc << QByteArray("1615248000") << "Connected on March 9, 2021";
    QTest::newRow("German drops the weekday and its comma")
        << QByteArray("de_DE") << utc << QByteArray("1615248000")
        << QString::fromUtf8("Verbunden am 9. März 2021");
    QTest::newRow("Japanese drops the weekday at the end")
        << QByteArray("ja_JP") << utc << QByteArray("1615248000")
        << QString::fromUtf8("接続日：2021年3月9日");
    QTest::newRow("Arabic drops the weekday with its Arabic comma, in Arabic digits")
        << QByteArray("ar") << utc << QByteArray("1615248000")
        << QString::fromUtf8("تم التوصيل في ٩ مارس ٢٠٢١");
    QTest::newRow("Thai drops the word that belongs to the weekday")
        << QByteArray("th_TH") << utc << QByteArray("1615248000")
        << QString::fromUtf8("เชื่อมต่อเมื่อ 9 มีนาคม 2021");
    QTest::newRow("a fraction of a second is dropped, not rounded into the next day")
        << QByteArray("en_US") << utc << QByteArray("1615334399.9") << "Connected on March 9, 2021";
    QTest::newRow("the date is the one in the reader's own time zone")
        << QByteArray("en_US") << behind << QByteArray("1615248000")
        << "Connected on March 8, 2021";
    QTest::newRow("a missing time is time 0 in the reader's time zone")
        << QByteArray("en_US") << behind << QByteArray() << "Connected on December 31, 1969";
    QTest::newRow("a negative time is time 0")
        << QByteArray("en_US") << utc << QByteArray("-86400") << "Connected on January 1, 1970";
    QTest::newRow("a time beyond 32 bits is held at the last one")
        << QByteArray("en_US") << utc << QByteArray("1e12") << "Connected on February 7, 2106";
}

void TestDevicesPage::dates()
{
    QFETCH(QByteArray, setting);
    QFETCH(QByteArray, timeZone);
    QFETCH(QByteArray, pairedAt);
    QFETCH(QString, detail);

    chooseLocale(setting);
    chooseTimeZone(timeZone);
    const QByteArray time = pairedAt.isEmpty() ? QByteArray() : ", \"paired_at\": " + pairedAt;
    FakeDaemon daemon(
        ReplyScript::at(httpReply(200, "[{\"id\": \"p\", \"name\": \"Kobo Phone\"" + time + "}]")));
    Screen screen;
    screen.page->refresh();
    QCOMPARE(screen.rows().size(), 1);
    QCOMPARE(screen.rowLabel(0)->text(), "<b>Kobo Phone</b><br>" + detail);
}

void TestDevicesPage::noWeekdayInAnyLanguage_data()
{
    QTest::addColumn<QByteArray>("setting");
    for (const char *code : zorvi::languageCodes)
        QTest::addRow("the date in %s names no weekday and leaves no separator behind", code)
            << QByteArray(code).replace('-', '_');
}

void TestDevicesPage::noWeekdayInAnyLanguage()
{
    QFETCH(QByteArray, setting);

    chooseLocale(setting);
    FakeDaemon daemon(listReply({device("p", "Kobo Phone")}));
    Screen screen;
    screen.page->refresh();

    // The date is what the row shows in place of "{date}".
    const QStringList around = zorvi::uiText("connectedOn").split("{date}");
    QString date = shownLines(screen.rowLabel(0)).value(1);
    QVERIFY2(date.startsWith(around.at(0)) && date.endsWith(around.at(1)), qPrintable(date));
    date = date.mid(around.at(0).size(), date.size() - around.at(0).size() - around.at(1).size());

    const QLocale locale = zorvi::uiLocale();
    QVERIFY2(!date.contains(locale.dayName(Qt::Tuesday)), qPrintable(date));
    QVERIFY2(!date.contains(locale.standaloneDayName(Qt::Tuesday)), qPrintable(date));
    QVERIFY2(!date.contains(QRegularExpression(QString::fromUtf8("^[\\s,.،]|[\\s,،]$"))),
             qPrintable(date));
    QVERIFY2(date.contains(locale.toString(QDate(2021, 3, 9), "yyyy")), qPrintable(date));
}

void TestDevicesPage::hostileNames_data()
{
    QTest::addColumn<QString>("name");

    QTest::newRow("an image tag in a name is text, not an image") << "<img src=x>";
    QTest::newRow("an unclosed bold tag does not make the rest bold") << "<b>Bob";
    QTest::newRow("an entity in a name stays as it was typed") << "Tom &amp; Jerry &lt;3";
    QTest::newRow("a %2 in a name is not filled with the detail line") << "Phone %2 %1";
    QTest::newRow("a very long name is shown whole")
        << QString("Kobo ").repeated(60) + QString(300, 'W');
}

void TestDevicesPage::hostileNames()
{
    QFETCH(QString, name);

    FakeDaemon daemon(listReply({device("p", name)}));
    Screen screen;
    QVERIFY(screen.show());
    screen.page->refresh();

    // In the row: the name as it is, in bold, over the detail line in normal
    // weight.
    QCOMPARE(shownLines(screen.rowLabel(0)), (QStringList{name, "Connected on March 9, 2021"}));
    QTextDocument document;
    document.setHtml(screen.rowLabel(0)->text());
    QTextCursor cursor(&document);
    cursor.setPosition(1);
    QCOMPARE(cursor.charFormat().fontWeight(), int(QFont::Bold));
    cursor.setPosition(name.size() + 2);
    QCOMPARE(cursor.charFormat().fontWeight(), int(QFont::Normal));

    // In the question: the name as it is, in a label that reads no markup.
    tap(screen.rowButton(0));
    QVERIFY(screen.onQuestion());
    QCOMPARE(screen.question()->text(), "Disconnect " + name + "?");
    QCOMPARE(screen.question()->textFormat(), Qt::PlainText);
}

// A name without spaces, wider than the screen, is cut at the edge of its own
// label: it neither pushes a button off the screen nor takes lines away from
// the other rows.
void TestDevicesPage::longNameLeavesEveryRowWhole()
{
    FakeDaemon daemon(
        listReply({device("w", QString(200, 'W')), device("m", QString("many words ").repeated(30)),
                   device("l", "Laptop")}));
    Screen screen;
    QVERIFY(screen.show());
    screen.page->refresh();

    for (int row = 0; row < 3; ++row) {
        QLabel *label = screen.rowLabel(row);
        QTRY_VERIFY(label->isVisible());
        QTRY_VERIFY(label->height() >= label->heightForWidth(label->width()));
        TouchButton *button = screen.rowButton(row);
        const QRect onScreen(button->mapTo(&screen.window, QPoint(0, 0)), button->size());
        QVERIFY(screen.window.rect().contains(onScreen));
    }

    tap(screen.rowButton(0));
    QLabel *question = screen.question();
    QTRY_VERIFY(question->height() >= question->heightForWidth(question->width()));
    QVERIFY(question->width() < screen.window.width());
}

void TestDevicesPage::disconnection_data()
{
    QTest::addColumn<int>("deleteStatus"); // 0: the daemon is gone by then
    QTest::addColumn<bool>("logged");
    QTest::addColumn<QStringList>("namesAfter");

    QTest::newRow("a disconnection the daemon confirms with 204 writes no log line")
        << 204 << false << QStringList{"Laptop"};
    QTest::newRow("a disconnection answered with 200 is logged as failed")
        << 200 << true << QStringList{"Laptop"};
    QTest::newRow("a disconnection with the daemon gone is logged, the list is unavailable")
        << 0 << true << QStringList();
}

void TestDevicesPage::disconnection()
{
    QFETCH(int, deleteStatus);
    QFETCH(bool, logged);
    QFETCH(QStringList, namesAfter);

    auto daemon = std::make_unique<FakeDaemon>(ReplyScript::at(httpReply(404)));
    daemon->route("GET /clients",
                  listReply({device("phone-1", "Kobo Phone"), device("laptop-2", "Laptop")}));
    Screen screen;
    QVERIFY(screen.show());
    screen.page->refresh();
    QCOMPARE(screen.names(), (QStringList{"Kobo Phone", "Laptop"}));

    tap(screen.rowButton(0));
    QVERIFY(screen.onQuestion());
    QCOMPARE(screen.question()->text(), QStringLiteral("Disconnect Kobo Phone?"));

    // What the daemon answers from now on, so that the reload shows.
    daemon->route("GET /clients", listReply({device("laptop-2", "Laptop")}));
    daemon->route("DELETE /clients/phone-1", ReplyScript::at(httpReply(deleteStatus)));
    if (deleteStatus == 0)
        daemon.reset();
    tap(screen.disconnect());

    QVERIFY(screen.onList());
    QCOMPARE(screen.names(), namesAfter);
    QCOMPARE(screen.intro()->text(),
             zorvi::uiText(namesAfter.isEmpty() ? "devicesUnavailable" : "devicesIntro"));
    if (daemon) {
        QCOMPARE(requestLines(*daemon),
                 (QList<QByteArray>{"GET /clients", "DELETE /clients/phone-1", "GET /clients"}));
    }
    QCOMPARE(logText().endsWith(" could not disconnect a device\n"), logged);
    QCOMPARE(logText().count('\n'), logged ? 1 : 0);
}

void TestDevicesPage::deletePath_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<QByteArray>("path");

    QTest::newRow("spaces and slashes are encoded, so the id stays one segment")
        << "my phone/2" << QByteArray("/clients/my%20phone%2F2");
    QTest::newRow("an id cannot climb out of /clients")
        << "../update/restart" << QByteArray("/clients/..%2Fupdate%2Frestart");
    QTest::newRow("letters beyond ASCII go as their UTF-8 bytes")
        << QString::fromUtf8("Jörg’s é") << QByteArray("/clients/J%C3%B6rg%E2%80%99s%20%C3%A9");
    QTest::newRow("a percent sign is itself encoded")
        << "100%25" << QByteArray("/clients/100%2525");
}

void TestDevicesPage::deletePath()
{
    QFETCH(QString, id);
    QFETCH(QByteArray, path);

    // The id of the second of three rows, so that a mix-up of rows shows too.
    FakeDaemon daemon(
        listReply({device("first", "Tablet"), device(id, "Kobo Phone"), device("last", "Laptop")}));
    Screen screen;
    QVERIFY(screen.show());
    screen.page->refresh();
    tap(screen.rowButton(1));
    tap(screen.disconnect());

    QCOMPARE(requestLines(daemon).value(1), "DELETE " + path);
}

void TestDevicesPage::cancelKeepsTheList()
{
    FakeDaemon daemon(ReplyScript::at(httpReply(204)));
    daemon.route("GET /clients",
                 listReply({device("phone-1", "Kobo Phone"), device("laptop-2", "Laptop")}));
    Screen screen;
    QVERIFY(screen.show());
    screen.page->refresh();
    const QPointer<QWidget> first = screen.rows().at(0);

    tap(screen.rowButton(0));
    QVERIFY(screen.onQuestion());
    tap(screen.cancel());

    // Back on the very same rows, and the daemon heard nothing more.
    QVERIFY(screen.onList());
    QVERIFY(first);
    QCOMPARE(screen.rows().at(0), first.data());
    QCOMPARE(requestLines(daemon), QList<QByteArray>{"GET /clients"});

    // The next question, about another device, is the one that is answered.
    tap(screen.rowButton(1));
    QCOMPARE(screen.question()->text(), QStringLiteral("Disconnect Laptop?"));
    tap(screen.disconnect());
    QCOMPARE(requestLines(daemon),
             (QList<QByteArray>{"GET /clients", "DELETE /clients/laptop-2", "GET /clients"}));
}

void TestDevicesPage::back_data()
{
    QTest::addColumn<bool>("callbackSet");

    QTest::newRow("Back without a callback does nothing") << false;
    QTest::newRow("Back calls the owner's callback once") << true;
}

void TestDevicesPage::back()
{
    QFETCH(bool, callbackSet);

    FakeDaemon daemon(listReply({device("p", "Kobo Phone")}));
    Screen screen;
    QVERIFY(screen.show());
    int calls = 0;
    if (callbackSet)
        screen.page->onBack = [&calls] {
            ++calls;
        };
    screen.page->refresh();

    tap(screen.back());

    QCOMPARE(calls, callbackSet ? 1 : 0);
    QVERIFY(screen.onList());
    QCOMPARE(screen.rows().size(), 1);
    QCOMPARE(requestLines(daemon), QList<QByteArray>{"GET /clients"});
}

void TestDevicesPage::reloadingLeavesNothingBehind()
{
    QJsonArray hundred;
    for (int i = 0; i < 100; ++i)
        hundred << device(QString("id-%1").arg(i), QString("Device %1").arg(i), tuesday + i);
    FakeDaemon daemon(listReply(hundred));
    Screen screen;
    QVERIFY(screen.show());
    const int empty = screen.page->findChildren<QObject *>().size();

    screen.page->refresh();
    const int full = screen.page->findChildren<QObject *>().size();
    QCOMPARE(screen.rows().size(), 100);
    // Everything that came belongs to the rows.
    int rowObjects = 0;
    for (QWidget *row : screen.rows())
        rowObjects += 1 + row->findChildren<QObject *>().size();
    QCOMPARE(full - empty, rowObjects);

    for (int i = 0; i < 50; ++i) {
        screen.page->refresh();
        QCOMPARE(screen.page->findChildren<QObject *>().size(), full);
        QCOMPARE(screen.rowLayout()->count(), 100);
    }
    QCOMPARE(screen.names().value(99), QStringLiteral("Device 99"));

    daemon.route("GET /clients", listReply({}));
    screen.page->refresh();
    QCOMPARE(screen.page->findChildren<QObject *>().size(), empty);
    QCOMPARE(screen.rowLayout()->count(), 0);
}

QTEST_MAIN(TestDevicesPage)
#include "tst_devicespage.moc"
