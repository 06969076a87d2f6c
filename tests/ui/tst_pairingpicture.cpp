// The home and pairing pages as the reader shows them, on the screen of each
// current reader and on one held in landscape, with a real offer of the
// reference daemon.

#include "daemon/daemonclient.h"
#include "fakedaemon.h"
#include "nickellocale.h"
#include "plugin/devicepaths.h"
#include "readerscreen.h"
#include "shownlabel.h"
#include "ui/qrview.h"
#include "ui/texttable.h"
#include "ui/touchbutton.h"

#include <QLabel>
#include <QStackedWidget>
#include <QtTest>

namespace {

// A reader of that screen: upright, then turned to landscape with the panel
// open when the screen is held so.
struct TurnedReader : ReaderScreen {
    explicit TurnedReader(const QSize &size)
        : ReaderScreen(size.width() > size.height() ? size.transposed() : size)
    {
        panel->open();
        window.resize(size);
        layOut();
    }
};

QString textOf(const QWidget *widget)
{
    if (const QLabel *label = qobject_cast<const QLabel *>(widget))
        return shownText(label);
    if (const QAbstractButton *button = qobject_cast<const QAbstractButton *>(widget))
        return button->text();
    return QString();
}

// Why a widget is not shown whole; empty when it is. Its geometry must lie
// inside the window, and the text of a label or button must fit that
// geometry: every line of a word-wrapped label, and its longest word.
QString clipping(const QWidget &window, const QWidget *widget)
{
    if (!window.rect().contains(areaIn(&window, widget)))
        return QStringLiteral("reaches outside the window");
    const QLabel *label = qobject_cast<const QLabel *>(widget);
    if (label && label->wordWrap()) {
        if (label->heightForWidth(label->width()) > label->height())
            return QStringLiteral("its last lines are cut off");
        if (label->minimumSizeHint().width() > label->width())
            return QStringLiteral("a word is wider than the label");
        return QString();
    }
    if (textOf(widget).isEmpty())
        return QString();
    const QSize needed = widget->sizeHint();
    if (needed.width() > widget->width() || needed.height() > widget->height())
        return QStringLiteral("needs %1x%2").arg(needed.width()).arg(needed.height());
    return QString();
}

// Every fault in how the window shows its texts now: a label or button that
// cuts its text off, and any two of them, or one and the QR code, that
// overlap. Each fault is one line that names the text.
QStringList textFaults(ReaderScreen &reader, const QString &where)
{
    QCoreApplication::processEvents();
    const QWidget &window = reader.window;
    QList<QWidget *> shown;
    for (QWidget *widget : window.findChildren<QWidget *>()) {
        if (!widget->isVisibleTo(&window))
            continue;
        if (widget == reader.panel->qrView || !textOf(widget).isEmpty())
            shown << widget;
    }
    const auto name = [](const QWidget *widget) {
        const QString text = textOf(widget);
        return text.isEmpty() ? QStringLiteral("the QR code") : '"' + text + '"';
    };
    QStringList faults;
    for (int i = 0; i < shown.size(); ++i) {
        const QString why = clipping(window, shown[i]);
        if (!why.isEmpty())
            faults << QStringLiteral("%1: %2 %3").arg(where, name(shown[i]), why);
        for (int j = i + 1; j < shown.size(); ++j) {
            if (areaIn(&window, shown[i]).intersects(areaIn(&window, shown[j])))
                faults << QStringLiteral("%1: %2 overlaps %3")
                              .arg(where, name(shown[i]), name(shown[j]));
        }
    }
    return faults;
}

// The bounding box of the dark pixels of an area of a picture.
QRect darkBox(const QImage &picture, const QRect &area)
{
    const QRect inside = area & picture.rect();
    QRect box;
    for (int y = inside.top(); y <= inside.bottom(); ++y) {
        for (int x = inside.left(); x <= inside.right(); ++x) {
            if (qGray(picture.pixel(x, y)) < 128)
                box |= QRect(x, y, 1, 1);
        }
    }
    return box;
}

} // namespace

class TestPairingPicture : public QObject {
    Q_OBJECT

    // A real offer of the reference daemon, replayed to every panel.
    QByteArray offerReply;
    QString offerUrl;
    int symbolSize = 0;

private slots:
    void initTestCase()
    {
        QProcess zorvid;
        zorvid.setStandardErrorFile(QProcess::nullDevice());
        zorvid.start(QStringLiteral(ZORVID),
                     {QStringLiteral("--phone-port"), QStringLiteral("0"),
                      QStringLiteral("--listen"), QStringLiteral("127.0.0.1"),
                      QStringLiteral("--state-dir"), QStringLiteral("/tmp/zorvid-state")});
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(QString::fromLatin1(zorvi::daemonSocket)), 5000);
        const zorvi::DaemonReply offer = zorvi::DaemonClient().startPairing();
        zorvid.terminate();
        QVERIFY(zorvid.waitForFinished());
        QCOMPARE(offer.status, 200);
        const QJsonObject body = offer.json.object();
        offerUrl = body.value(QStringLiteral("url")).toString();
        symbolSize =
            body.value(QStringLiteral("qr")).toObject().value(QStringLiteral("size")).toInt();
        QVERIFY(symbolSize >= 21);
        offerReply = offer.json.toJson(QJsonDocument::Compact);
    }

    void cleanup() { chooseLocale("en_US"); }

    // The screens of current readers, and the smallest one turned on its side
    // with the panel open, as a reader held in landscape shows its window.
    void eachScreen_data()
    {
        QTest::addColumn<QSize>("screen");
        for (const QSize &size : readerScreens)
            QTest::newRow(qPrintable(sizeName(size))) << size;
        QTest::newRow("1024x758") << QSize(1024, 758);
    }

    // In every language, no text of the home page, in every state it can
    // show, or of the pairing page with the real offer is cut off or overlaps
    // another; and the pairing page's picture scans as the offer's address.
    void eachScreen()
    {
        QFETCH(QSize, screen);
        TurnedReader reader(screen);
        zorvi::Panel &panel = *reader.panel;
        QStringList faults;
        for (const char *language : zorvi::languageCodes) {
            chooseLocale(QByteArray(language).replace('-', '_'));
            panel.open();
            faults << textFaults(reader, QStringLiteral("%1 offline").arg(language));
            FakeDaemon daemon(answer(200, R"({"state":"none"})"));
            for (const auto &state : updateStates) {
                daemon.route("GET /update", answer(200, state.update));
                panel.open();
                if (state.checkRequested) {
                    panel.checkRequested = true;
                    panel.refreshUpdate();
                }
                faults << textFaults(reader, QStringLiteral("%1 %2").arg(language, state.name));
            }
            daemon.route("POST /pairing", answer(503));
            panel.connectButton->click();
            QCOMPARE(panel.stack->currentIndex(), int(zorvi::Panel::HomePage));
            faults << textFaults(reader, QStringLiteral("%1 no code").arg(language));
            daemon.route("POST /pairing", answer(200, offerReply));
            daemon.route("GET /pairing", answer(200, offerReply));
            panel.connectButton->click();
            QCOMPARE(panel.stack->currentIndex(), int(zorvi::Panel::PairingPage));
            faults << textFaults(reader, QStringLiteral("%1 pairing").arg(language));
        }
        const int count = faults.size();
        if (count > 20)
            faults = faults.mid(0, 20) << QStringLiteral("and %1 more").arg(count - 20);
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('\n'))));

        // The symbol is drawn whole, in square modules, with its quiet zone of
        // 4 modules inside the window, and spans at least a third of the
        // screen's shorter side, which a phone reads from arm's length.
        chooseLocale("en_US");
        FakeDaemon daemon(answer(200, offerReply));
        panel.open();
        panel.connectButton->click();
        const QImage picture = reader.window.grab().toImage();
        const QRect symbol = darkBox(picture, areaIn(&reader.window, panel.qrView));
        QCOMPARE(symbol.width(), symbol.height());
        QCOMPARE(symbol.width() % symbolSize, 0);
        const int module = symbol.width() / symbolSize;
        const QRect quietZone = symbol.adjusted(-4 * module, -4 * module, 4 * module, 4 * module);
        QVERIFY2(picture.rect().contains(quietZone), qPrintable(sizeName(screen)));
        QVERIFY2(3 * symbol.width() >= qMin(screen.width(), screen.height()),
                 qPrintable(QStringLiteral("%1 px wide").arg(symbol.width())));

        const QString file = QStringLiteral("/tmp/pairing-%1.png").arg(sizeName(screen));
        QVERIFY(picture.save(file));
        QProcess zbar;
        zbar.start(QStringLiteral("zbarimg"),
                   {QStringLiteral("--raw"), QStringLiteral("-q"), file});
        QVERIFY(zbar.waitForFinished());
        QCOMPARE(zbar.exitCode(), 0);
        QCOMPARE(QString::fromUtf8(zbar.readAllStandardOutput()).trimmed(), offerUrl);
    }
};

QTEST_MAIN(TestPairingPicture)
#include "tst_pairingpicture.moc"
