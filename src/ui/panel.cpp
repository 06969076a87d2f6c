#include "ui/panel.h"

#include "ui/devicespage.h"
#include "ui/elidedlabel.h"
#include "ui/qrview.h"
#include "ui/touchbutton.h"
#include "ui/uitext.h"

#include <QApplication>
#include <QBoxLayout>
#include <QEvent>
#include <QLabel>
#include <QPainter>
#include <QStackedWidget>
#include <QTimer>

namespace zorvi {

namespace {

const int pollMs = 2000;

// Every label of the panel shows its text literally: several carry text from
// the network (a device name, a code, an address, a version), and none may
// ever be taken for markup. The word-wrapped ones are given their texts
// through setLiteralText.
QLabel *newLabel(QWidget *parent, const char *objectName = nullptr, bool wrap = false)
{
    QLabel *label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(wrap);
    if (objectName)
        label->setObjectName(QLatin1String(objectName));
    return label;
}

} // namespace

Panel *panelOf(QWidget *window)
{
    return static_cast<Panel *>(
        window->findChild<QWidget *>(QLatin1String(panelName), Qt::FindDirectChildrenOnly));
}

int panelUnit(int windowHeight)
{
    return qMax(windowHeight / 48, 16);
}

QString panelStyleSheet(int unit, const QString &family)
{
    // Named in the style sheet: a font given to the panel with setFont()
    // would not reach widgets whose font the style sheet sets.
    QString named = family;
    named.remove(QLatin1Char('"')).remove(QLatin1Char('\\'));
    const QString familyRule = named.isEmpty()
                                   ? QString()
                                   : QStringLiteral("QLabel, QPushButton { font-family: \"") +
                                         named + QStringLiteral("\"; }");
    return familyRule +
           QStringLiteral("QLabel { color: black; background: transparent; font-size: %1px; }"
                          "QLabel#title { font-size: %2px; font-weight: bold; }"
                          "QLabel#code { font-size: %3px; font-weight: bold; }"
                          "QLabel#url { font-weight: bold; }"
                          "QLabel#version { color: #555555; font-size: %6px; }"
                          "QLabel#deviceName { font-weight: bold; }"
                          "QPushButton { color: black; background: white; border: 3px solid black; "
                          "border-radius: %4px; font-size: %1px; padding: %4px %5px; }"
                          "QPushButton:pressed { background: black; color: white; }"
                          "QPushButton:disabled { color: #8a8a8a; border-color: #8a8a8a; }")
               .arg(unit)
               .arg(2 * unit)
               .arg(4 * unit)
               .arg(unit / 2)
               .arg(unit)
               .arg(4 * unit / 5);
}

Panel::Panel(QWidget *parent)
    : QWidget(parent)
    , stack(new QStackedWidget(this))
    , homeStatusLabel(newLabel(this, nullptr, true))
    , connectButton(keyedButton(this, "connectDevice"))
    , devicesButton(keyedButton(this, "connectedDevices"))
    , updateLabel(newLabel(this, nullptr, true))
    , restartButton(keyedButton(this, "restartToUpdate"))
    , checkButton(keyedButton(this, "checkUpdates"))
    , versionLabel(new ElidedLabel(this))
    , closeButton(keyedButton(this, "close"))
    , devicesPage(nullptr)
    , qrView(new QrView(this))
    , codeLabel(newLabel(this, "code"))
    , instructionLabel(newLabel(this, nullptr, true))
    , urlLabel(newLabel(this, "url"))
    , validityLabel(newLabel(this))
    , pairingDoneButton(keyedButton(this, "done"))
    , resultTitleLabel(newLabel(this, "title"))
    , resultMessageLabel(newLabel(this, nullptr, true))
    , resultDoneButton(keyedButton(this, "done"))
    , pairingTimer(new QTimer(this))
    , updateTimer(new QTimer(this))
    , sizes(panelUnit(parent ? parent->height() : 0))
{
    setObjectName(QLatin1String(panelName));
    setAttribute(Qt::WA_OpaquePaintEvent);
    hide();
    setStyleSheet(panelStyleSheet(sizes.unit()));

    QWidget *homePage = new QWidget;
    QVBoxLayout *home = sizes.pageLayout(homePage);
    ElidedLabel *title = new ElidedLabel(homePage);
    title->setObjectName(QStringLiteral("title"));
    title->setFullText(QStringLiteral("Zorvi"));
    versionLabel->setObjectName(QStringLiteral("version"));
    home->addWidget(title);
    home->addWidget(homeStatusLabel);
    sizes.addGap(home);
    home->addWidget(connectButton);
    home->addWidget(devicesButton);
    sizes.addGap(home);
    home->addWidget(updateLabel);
    home->addWidget(restartButton);
    home->addStretch();
    QHBoxLayout *versionRow = new QHBoxLayout;
    sizes.spaced(versionRow);
    versionRow->addWidget(versionLabel, 1);
    versionRow->addWidget(checkButton);
    home->addLayout(versionRow);
    home->addWidget(closeButton);

    QWidget *pairingPage = new QWidget;
    QVBoxLayout *pairing = sizes.pageLayout(pairingPage);
    QLabel *pairingTitle = newLabel(pairingPage, "title");
    bindText(pairingTitle, "connectDevice");
    pairing->addWidget(pairingTitle);
    // The QR code takes all the height the texts leave; its minimum follows
    // the window (fitToWindow).
    pairing->addWidget(qrView, 1);
    for (QLabel *label : {codeLabel, instructionLabel, urlLabel, validityLabel}) {
        label->setAlignment(Qt::AlignCenter);
        pairing->addWidget(label);
    }
    pairing->addWidget(pairingDoneButton);

    QWidget *resultPage = new QWidget;
    QVBoxLayout *result = sizes.pageLayout(resultPage);
    result->addWidget(resultTitleLabel);
    result->addWidget(resultMessageLabel);
    result->addStretch();
    result->addWidget(resultDoneButton);

    stack->addWidget(homePage);
    stack->addWidget(pairingPage);
    devicesPage = new DevicesPage(&client, sizes.unit(), stack);
    devicesPage->onBack = [this] {
        showHome();
    };
    stack->addWidget(resultPage);
    stack->addWidget(devicesPage);

    QVBoxLayout *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(stack);

    // Each poll is timed from the end of the one before, not from its start:
    // a daemon slow to answer must still leave Nickel the time between.
    pairingTimer->setInterval(pollMs);
    pairingTimer->setSingleShot(true);
    updateTimer->setInterval(pollMs);
    updateTimer->setSingleShot(true);
    connect(pairingTimer, &QTimer::timeout, this, [this] { pollPairing(); });
    connect(connectButton, &QAbstractButton::clicked, this, [this] { beginPairing(); });
    connect(devicesButton, &QAbstractButton::clicked, this, [this] {
        devicesPage->refresh();
        stack->setCurrentWidget(devicesPage);
    });
    connect(restartButton, &QAbstractButton::clicked, this, [this] { restartAndInstall(); });
    connect(checkButton, &QAbstractButton::clicked, this, [this] { requestUpdateCheck(); });
    connect(updateTimer, &QTimer::timeout, this, [this] { refreshUpdate(); });
    connect(closeButton, &QAbstractButton::clicked, this, [this] { dismiss(); });
    connect(pairingDoneButton, &QAbstractButton::clicked, this, [this] {
        client.cancelPairing();
        dismiss();
    });
    connect(resultDoneButton, &QAbstractButton::clicked, this, [this] { dismiss(); });
    if (parent)
        parent->installEventFilter(this);
}

Panel::~Panel() = default;

void Panel::open()
{
    checkRequested = false;
    retranslate(this);
    setLayoutDirection(uiLocale().textDirection());
    if (QWidget *window = parentWidget()) {
        const QString family = uiFontFamily(window->font());
        if (family != fontFamily) {
            fontFamily = family;
            setStyleSheet(panelStyleSheet(sizes.unit(), fontFamily));
        }
    }
    fitToWindow();
    showHome();
    raise();
    show();
}

void Panel::showHome()
{
    pairingTimer->stop();
    // Any answer at all, whatever its status, means the daemon is running.
    const bool reachable = client.pairingStatus().status != 0;
    setLiteralText(homeStatusLabel, uiText(reachable ? "homeReady" : "homeOffline"));
    connectButton->setEnabled(reachable);
    refreshUpdate();
    stack->setCurrentIndex(HomePage);
}

void Panel::dismiss()
{
    pairingTimer->stop();
    updateTimer->stop();
    hide();
}

void Panel::fitToWindow()
{
    QWidget *window = parentWidget();
    if (!window)
        return;
    const int unit = panelUnit(window->height());
    if (unit != sizes.unit()) {
        setStyleSheet(panelStyleSheet(unit, fontFamily));
        sizes.setUnit(unit);
        devicesPage->setUnit(unit);
    }
    // Large enough to scan from arm's length, yet leaving the texts their
    // room in a window of any shape: half the width, but at most a third of
    // the height, which a landscape window would otherwise overflow.
    const int qrSide = qMin(window->width() / 2, window->height() / 3);
    qrView->setMinimumSize(qrSide, qrSide);
    setGeometry(0, 0, window->width(), window->height());
}

bool Panel::eventFilter(QObject *watched, QEvent *event)
{
    // Only the window's own events come here.
    if (event->type() == QEvent::Resize && watched == parentWidget() && isVisible())
        fitToWindow();
    return false;
}

bool pairingPageOpen()
{
    // Asked only when Nickel is about to turn Wi-Fi off, every minute or two:
    // a walk over the widgets then costs nothing that matters.
    const QWidgetList widgets = QApplication::allWidgets();
    for (const QWidget *widget : widgets) {
        if (widget->objectName() == QLatin1String(panelName) && widget->isVisible() &&
            static_cast<const Panel *>(widget)->stack->currentIndex() == Panel::PairingPage)
            return true;
    }
    return false;
}

void Panel::paintEvent(QPaintEvent *)
{
    QPainter(this).fillRect(rect(), Qt::white);
}

} // namespace zorvi
