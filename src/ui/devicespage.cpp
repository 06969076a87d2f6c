#include "ui/devicespage.h"

#include "daemon/daemonclient.h"
#include "plugin/pluginlog.h"
#include "ui/elidedlabel.h"
#include "ui/touchbutton.h"
#include "ui/uitext.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QJsonArray>
#include <QJsonObject>
#include <QLabel>
#include <QResizeEvent>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace zorvi {

namespace {

// The largest count of seconds that a 32-bit time can hold (early 2106).
constexpr double latestTime = 4294967295.0;

// "paired_at" as the daemon sends it, in whole seconds of Unix time: the
// fraction dropped, and anything before 1970 or beyond a 32-bit time held at
// the nearest end.
uint pairingTime(const QJsonValue &value)
{
    const double seconds = value.toDouble();
    if (seconds >= latestTime)
        return uint(latestTime);
    if (seconds > 0)
        return uint(seconds);
    return 0;
}

} // namespace

DevicesPage::DevicesPage(DaemonClient *client, int unit, QWidget *parent)
    : QWidget(parent)
    , client(client)
    , sizes(unit)
    , stack(new QStackedWidget(this))
    , introLabel(new QLabel(this))
    , rowArea(new QWidget(this))
    , listLayout(new QVBoxLayout)
    , pager(new QWidget(this))
    , previousButton(keyedButton(pager, "previousPage"))
    , nextButton(keyedButton(pager, "nextPage"))
    , pageLabel(new QLabel(pager))
    , questionLabel(new QLabel(this))
{
    QWidget *listPage = new QWidget(stack);
    QVBoxLayout *listPageLayout = sizes.pageLayout(listPage);
    QLabel *title = new QLabel(listPage);
    title->setObjectName(QStringLiteral("title"));
    bindText(title, "connectedDevices");
    listPageLayout->addWidget(title);
    // The intro and the question are rewritten by each refresh and question;
    // the question holds a name from the network, which must never be read as
    // markup, so both show their text as it is.
    introLabel->setWordWrap(true);
    listPageLayout->addWidget(introLabel);
    QVBoxLayout *rowAreaLayout = new QVBoxLayout(rowArea);
    rowAreaLayout->setContentsMargins(0, 0, 0, 0);
    sizes.spaced(listLayout);
    rowAreaLayout->addLayout(listLayout);
    rowAreaLayout->addStretch();
    // The area takes the height the page leaves it, and asks for none: the
    // rows are made to fit it, not it to fit the rows.
    rowArea->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Ignored);
    listPageLayout->addWidget(rowArea, 1);
    rowArea->installEventFilter(this);
    QHBoxLayout *pagerLayout = new QHBoxLayout(pager);
    pagerLayout->setContentsMargins(0, 0, 0, 0);
    sizes.spaced(pagerLayout);
    pageLabel->setAlignment(Qt::AlignCenter);
    pagerLayout->addWidget(previousButton);
    pagerLayout->addWidget(pageLabel, 1);
    pagerLayout->addWidget(nextButton);
    pager->hide();
    listPageLayout->addWidget(pager);
    TouchButton *backButton = keyedButton(listPage, "back");
    listPageLayout->addWidget(backButton);

    QWidget *confirmPage = new QWidget(stack);
    QVBoxLayout *confirmPageLayout = sizes.pageLayout(confirmPage);
    questionLabel->setObjectName(QStringLiteral("title"));
    questionLabel->setWordWrap(true);
    confirmPageLayout->addWidget(questionLabel);
    QLabel *explanation = new QLabel(confirmPage);
    explanation->setWordWrap(true);
    bindText(explanation, "disconnectExplanation");
    confirmPageLayout->addWidget(explanation);
    confirmPageLayout->addStretch();
    TouchButton *disconnectButton = keyedButton(confirmPage, "disconnect");
    confirmPageLayout->addWidget(disconnectButton);
    TouchButton *cancelButton = keyedButton(confirmPage, "cancel");
    confirmPageLayout->addWidget(cancelButton);

    stack->addWidget(listPage);
    stack->addWidget(confirmPage);

    QVBoxLayout *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(stack);

    connect(backButton, &QAbstractButton::clicked, this, [this] {
        if (onBack)
            onBack();
    });
    connect(previousButton, &QAbstractButton::clicked, this, [this] {
        first -= perPage;
        showRows();
    });
    connect(nextButton, &QAbstractButton::clicked, this, [this] {
        first += perPage;
        showRows();
    });
    connect(cancelButton, &QAbstractButton::clicked, this, [this] { stack->setCurrentIndex(0); });
    connect(disconnectButton, &QAbstractButton::clicked, this, [this] { confirmDisconnect(); });
}

DevicesPage::~DevicesPage() = default;

void DevicesPage::refresh()
{
    devices.clear();
    first = 0;
    stack->setCurrentIndex(0);

    const DaemonReply reply = client->listClients();
    if (reply.status != 200) {
        setLiteralText(introLabel, uiText("devicesUnavailable"));
        showRows();
        return;
    }

    // Anything but an array reads as no device at all.
    const QJsonArray listed = reply.json.array();
    setLiteralText(introLabel, uiText(listed.isEmpty() ? "devicesEmpty" : "devicesIntro"));

    const QString connectedOn = uiText("connectedOn");
    for (int i = 0; i < listed.size() && i < mostDevices; ++i) {
        // An element of the wrong kind still gives a row, of empty strings
        // and time 0, so that the list shows as many devices as the daemon has.
        const QJsonObject device = listed.at(i).toObject();
        const QDate date =
            QDateTime::fromTime_t(pairingTime(device.value(QStringLiteral("paired_at")))).date();
        QString detail = connectedOn;
        detail.replace(QStringLiteral("{date}"), uiDate(date));
        devices.append(Device{
            jsonString(device, QStringLiteral("id")),
            daemonText(jsonString(device, QStringLiteral("name")), longestDeviceName), detail});
    }
    showRows();
}

void DevicesPage::setUnit(int unit)
{
    sizes.setUnit(unit);
    showRows();
}

bool DevicesPage::eventFilter(QObject *watched, QEvent *event)
{
    // The area's height decides how many rows fit: it changes with the
    // reader's turns, and once when the page is first laid out.
    if (event->type() == QEvent::Resize && watched == rowArea) {
        const QResizeEvent *resize = static_cast<QResizeEvent *>(event);
        if (resize->size().height() != resize->oldSize().height() && !devices.isEmpty())
            showRows();
    }
    return false;
}

int DevicesPage::rowsThatFit(int height, int rowHeight) const
{
    const int spacing = sizes.unit();
    return qMax(1, (height + spacing) / (rowHeight + spacing));
}

void DevicesPage::showRows()
{
    // Showing or hiding the page buttons resizes the row area, which asks
    // for the rows again; that asks once more once these are in place.
    if (arranging) {
        rearrange = true;
        return;
    }
    arranging = true;
    do {
        rearrange = false;
        arrangeRows();
    } while (rearrange);
    arranging = false;
}

void DevicesPage::arrangeRows()
{
    clearRows();
    if (devices.isEmpty()) {
        perPage = 0;
        pager->hide();
        return;
    }

    // Every row is as high as any other: one line of name, one of date. The
    // room for them is the area's, and the pager's while it is shown; the
    // pager takes its share only when the devices need more than one page.
    first = qBound(0, first, devices.size() - 1);
    QWidget *sample = addRow(devices.at(first));
    sample->ensurePolished();
    const int rowHeight = sample->sizeHint().height();
    const int room =
        rowArea->height() + (pager->isHidden() ? 0 : pager->sizeHint().height() + sizes.unit());
    perPage = rowsThatFit(room, rowHeight);
    const bool paged = devices.size() > perPage;
    if (paged)
        perPage = rowsThatFit(room - pager->sizeHint().height() - sizes.unit(), rowHeight);
    first -= first % perPage;
    clearRows();
    for (int i = first; i < devices.size() && i < first + perPage; ++i)
        addRow(devices.at(i));

    const int pages = (devices.size() + perPage - 1) / perPage;
    const QLocale locale = uiLocale();
    pageLabel->setText(locale.toString(first / perPage + 1) + QStringLiteral(" / ") +
                       locale.toString(pages));
    previousButton->setEnabled(first > 0);
    nextButton->setEnabled(first + perPage < devices.size());
    pager->setVisible(paged);
}

void DevicesPage::clearRows()
{
    // Deleted at once, not later: the next rows are built right after, and
    // nothing of the old ones may stay behind, however often the list reloads.
    while (QLayoutItem *item = listLayout->takeAt(0)) {
        delete item->widget();
        delete item;
    }
}

QWidget *DevicesPage::addRow(const Device &device)
{
    const int unit = sizes.unit();
    QWidget *row = new QWidget(rowArea);
    QHBoxLayout *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, unit / 2, 0, unit / 2);
    layout->setSpacing(unit);

    // The name in bold over the date, one line each, whatever their length,
    // and each in a label of its own: nothing a device calls itself can turn
    // the date line around or push it off the row.
    QVBoxLayout *text = new QVBoxLayout;
    text->setSpacing(0);
    ElidedLabel *name = new ElidedLabel(row);
    name->setObjectName(QStringLiteral("deviceName"));
    name->setFullText(device.name);
    ElidedLabel *detail = new ElidedLabel(row);
    detail->setFullText(device.detail);
    text->addWidget(name);
    text->addWidget(detail);
    layout->addLayout(text, 1);

    TouchButton *button = new TouchButton(uiText("disconnect"), row);
    button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    layout->addWidget(button, 0);

    listLayout->addWidget(row);
    const QString id = device.id;
    const QString shownName = device.name;
    connect(button, &QAbstractButton::clicked, this,
            [this, id, shownName] { askDisconnect(id, shownName); });
    return row;
}

void DevicesPage::askDisconnect(const QString &id, const QString &name)
{
    pendingId = id;
    QString question = uiText("disconnectQuestion");
    question.replace(QStringLiteral("{device}"), isolatedText(name));
    setLiteralText(questionLabel, question);
    stack->setCurrentIndex(1);
}

void DevicesPage::confirmDisconnect()
{
    if (!client->disconnectClient(pendingId))
        pluginLog(QStringLiteral("could not disconnect a device"));
    // After a refusal too: the list then shows what the daemon really has.
    refresh();
}

} // namespace zorvi
