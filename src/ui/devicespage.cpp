#include "ui/devicespage.h"

#include "daemon/daemonclient.h"
#include "plugin/pluginlog.h"
#include "ui/touchbutton.h"
#include "ui/uitext.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QJsonArray>
#include <QJsonObject>
#include <QLabel>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace zorvi {

namespace {

// The largest count of seconds that a 32-bit time can hold (early 2106).
constexpr double latestTime = 4294967295.0;

QVBoxLayout *pageLayout(QWidget *page, int unit)
{
    QVBoxLayout *layout = new QVBoxLayout(page);
    layout->setContentsMargins(2 * unit, 2 * unit, 2 * unit, 2 * unit);
    layout->setSpacing(unit);
    return layout;
}

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
    , unit(unit)
    , stack(new QStackedWidget(this))
    , listLayout(new QVBoxLayout)
    , introLabel(new QLabel(this))
    , questionLabel(new QLabel(this))
{
    QWidget *listPage = new QWidget(stack);
    QVBoxLayout *listPageLayout = pageLayout(listPage, unit);
    QLabel *title = new QLabel(listPage);
    title->setObjectName(QStringLiteral("title"));
    bindText(title, "connectedDevices");
    listPageLayout->addWidget(title);
    // The intro and the question are rewritten by each refresh and question;
    // the question holds a name from the network, which must never be read as
    // markup, so both show their text as it is.
    introLabel->setWordWrap(true);
    listPageLayout->addWidget(introLabel);
    listLayout->setSpacing(unit);
    listPageLayout->addLayout(listLayout);
    listPageLayout->addStretch();
    TouchButton *backButton = new TouchButton(QString(), listPage);
    bindText(backButton, "back");
    listPageLayout->addWidget(backButton);

    QWidget *confirmPage = new QWidget(stack);
    QVBoxLayout *confirmPageLayout = pageLayout(confirmPage, unit);
    questionLabel->setObjectName(QStringLiteral("title"));
    questionLabel->setWordWrap(true);
    confirmPageLayout->addWidget(questionLabel);
    QLabel *explanation = new QLabel(confirmPage);
    explanation->setWordWrap(true);
    bindText(explanation, "disconnectExplanation");
    confirmPageLayout->addWidget(explanation);
    confirmPageLayout->addStretch();
    TouchButton *disconnectButton = new TouchButton(QString(), confirmPage);
    bindText(disconnectButton, "disconnect");
    confirmPageLayout->addWidget(disconnectButton);
    TouchButton *cancelButton = new TouchButton(QString(), confirmPage);
    bindText(cancelButton, "cancel");
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
    connect(cancelButton, &QAbstractButton::clicked, this, [this] { stack->setCurrentIndex(0); });
    connect(disconnectButton, &QAbstractButton::clicked, this, [this] { confirmDisconnect(); });
}

DevicesPage::~DevicesPage() = default;

void DevicesPage::refresh()
{
    clearRows();
    stack->setCurrentIndex(0);

    const DaemonReply reply = client->listClients();
    if (reply.status != 200) {
        setLiteralText(introLabel, uiText("devicesUnavailable"));
        return;
    }

    // Anything but an array reads as no device at all.
    const QJsonArray devices = reply.json.array();
    setLiteralText(introLabel, uiText(devices.isEmpty() ? "devicesEmpty" : "devicesIntro"));

    const QString connectedOn = uiText("connectedOn");
    for (const QJsonValue &value : devices) {
        // An element of the wrong kind still gives a row, of empty strings
        // and time 0, so that the list shows as many devices as the daemon has.
        const QJsonObject device = value.toObject();
        const QDate date =
            QDateTime::fromTime_t(pairingTime(device.value(QStringLiteral("paired_at")))).date();
        QString detail = connectedOn;
        detail.replace(QStringLiteral("{date}"), uiDate(date));
        addRow(jsonString(device, QStringLiteral("id")), jsonString(device, QStringLiteral("name")),
               detail);
    }
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

void DevicesPage::addRow(const QString &id, const QString &name, const QString &detail)
{
    QWidget *row = new QWidget(this);
    QHBoxLayout *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, unit / 2, 0, unit / 2);
    layout->setSpacing(unit);

    // Rich text for the bold name. The name comes from the network and is
    // escaped, so nothing a device calls itself becomes markup; the parts are
    // appended rather than filled into a pattern, so a "%2" in a name stays
    // as it is.
    QLabel *label = new QLabel(QStringLiteral("<b>") + name.toHtmlEscaped() +
                                   QStringLiteral("</b><br>") + detail.toHtmlEscaped(),
                               row);
    label->setTextFormat(Qt::RichText);
    label->setWordWrap(true);
    // The label takes the width it is given, not that of the name's longest
    // word. Otherwise one name without spaces would widen the list beyond the
    // screen, every row's height would be worked out for that width, and the
    // other rows would lose their last lines; such a word is cut at the edge.
    QSizePolicy policy = label->sizePolicy();
    policy.setHorizontalPolicy(QSizePolicy::Ignored);
    label->setSizePolicy(policy);
    layout->addWidget(label, 1);

    TouchButton *button = new TouchButton(uiText("disconnect"), row);
    button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    layout->addWidget(button, 0);

    listLayout->addWidget(row);
    connect(button, &QAbstractButton::clicked, this, [this, id, name] { askDisconnect(id, name); });
}

void DevicesPage::askDisconnect(const QString &id, const QString &name)
{
    pendingId = id;
    QString question = uiText("disconnectQuestion");
    question.replace(QStringLiteral("{device}"), name);
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
