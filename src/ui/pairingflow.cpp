// The panel's pairing flow: asking the daemon for a pairing code, showing it
// with its address and QR code, and following the pairing to its end.

#include "daemon/daemonreply.h"
#include "plugin/pluginlog.h"
#include "ui/panel.h"
#include "ui/qrview.h"
#include "ui/uitext.h"

#include <QJsonObject>
#include <QLabel>
#include <QStackedWidget>
#include <QTimer>

#include <cmath>

namespace zorvi {

namespace {

// A JSON number that is whole; anything else (missing, not a number, a
// fraction, beyond what a double holds exactly) reads as 0.
qint64 wholeNumber(const QJsonValue &value)
{
    const double number = value.toDouble();
    const double exact = 9007199254740992.0; // 2^53
    if (!value.isDouble() || std::floor(number) != number || std::fabs(number) > exact)
        return 0;
    return qint64(number);
}

// "ABCDEF" reads more easily as "ABC  DEF"; other lengths stay as they are.
QString spacedCode(const QString &code)
{
    if (code.size() != 6)
        return code;
    return code.left(3) + QLatin1String("  ") + code.right(3);
}

} // namespace

void Panel::beginPairing()
{
    const DaemonReply reply = client.startPairing();
    const QJsonObject offer = reply.json.object();
    if (reply.status != 200 ||
        jsonString(offer, QStringLiteral("state")) != QLatin1String("waiting")) {
        pluginLog(QStringLiteral("pairing request failed with status %1").arg(reply.status));
        setLiteralText(homeStatusLabel, uiText("codeUnavailable"));
        return;
    }

    const QJsonObject qr = offer.value(QStringLiteral("qr")).toObject();
    const QString url = jsonString(offer, QStringLiteral("url"));

    // The view reads size x size modules, so it is shown only when the
    // matrix holds exactly that many.
    const qint64 size = wholeNumber(qr.value(QStringLiteral("size")));
    qrView->size = size > 0 && size <= 0xffff ? int(size) : 0;
    qrView->modules = jsonString(qr, QStringLiteral("modules"));
    qrView->setVisible(qrView->size > 0 &&
                       qrView->modules.size() == qint64(qrView->size) * qrView->size);
    qrView->update();

    codeLabel->setText(spacedCode(jsonString(offer, QStringLiteral("code"))));
    setLiteralText(instructionLabel, uiText(url.isEmpty() ? "openAddress" : "scanOrOpen"));
    // What follows "#" carries the code for a phone that scans the QR code;
    // the address a person types stops before it.
    urlLabel->setText(url.section(QLatin1Char('#'), 0, 0));
    urlLabel->setVisible(!url.isEmpty());

    const qint64 seconds = wholeNumber(offer.value(QStringLiteral("expires_in")));
    const qint64 minutes = qMax<qint64>((seconds + 59) / 60, 1);
    validityLabel->setText(
        uiText("validMinutes").replace(QLatin1String("{minutes}"), uiLocale().toString(minutes)));

    stack->setCurrentIndex(PairingPage);
    pairingTimer->start();
}

void Panel::pollPairing()
{
    const QJsonObject pairing = client.pairingStatus().json.object();
    const QString state = jsonString(pairing, QStringLiteral("state"));
    if (state == QLatin1String("waiting")) {
        pairingTimer->start();
        return;
    }

    pairingTimer->stop();
    if (state == QLatin1String("paired")) {
        resultTitleLabel->setText(uiText("deviceConnectedTitle"));
        const QString name =
            daemonText(jsonString(pairing, QStringLiteral("name")), longestDeviceName);
        setLiteralText(resultMessageLabel,
                       uiText("deviceConnectedMessage")
                           .replace(QLatin1String("{device}"), isolatedText(name)));
    } else {
        resultTitleLabel->setText(uiText("codeExpiredTitle"));
        setLiteralText(resultMessageLabel, uiText("codeExpiredMessage"));
    }
    stack->setCurrentIndex(ResultPage);
}

} // namespace zorvi
