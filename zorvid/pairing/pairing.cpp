#include "pairing/pairing.h"

#include "http/jsonobject.h"
#include "pairing/codepoints.h"
#include "pairing/pairingcode.h"
#include "pairing/qrsymbol.h"
#include "process/daemonlog.h"
#include "process/securerandom.h"
#include "state/clientlist.h"

#include <QCryptographicHash>
#include <QDateTime>

#include <ctime>

namespace zorvid {

namespace {

// Milliseconds on a clock that counts the reader's sleep: the offer's
// minutes are the owner's minutes, and a monotonic clock stops in sleep.
// Kernels before 2.6.39 have no CLOCK_BOOTTIME; there the wall clock, which
// counts sleep too, though it moves when the time is set.
qint64 bootClockMs()
{
    timespec now{};
    if (::clock_gettime(CLOCK_BOOTTIME, &now) != 0)
        ::clock_gettime(CLOCK_REALTIME, &now);
    return qint64(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Format characters that Unicode added or reclassified after 6.2, the
// version of the reader's Qt 5.2, which takes them for unassigned: the
// Arabic letter mark, the Mongolian vowel separator, the directional
// isolates, the shorthand format controls and the Egyptian hieroglyph
// format controls.
bool isLaterFormatCharacter(uint code)
{
    return code == 0x061C || code == 0x180E || (code >= 0x2066 && code <= 0x2069) ||
           (code >= 0x1BCA0 && code <= 0x1BCA3) || (code >= 0x13430 && code <= 0x1343F);
}

} // namespace

Pairing::Pairing(ClientList &clients, const Settings &settings)
    : clients(clients)
    , settings(settings)
{
}

QJsonObject Pairing::offer()
{
    const QString address = address_();
    if (address.isEmpty()) {
        daemonLog(QStringLiteral("no pairing offer: the reader has no address on its network yet"));
        return QJsonObject();
    }
    code = PairingCode::generate();
    // The code rides in the fragment, so a phone that scans the QR symbol
    // can fill it in without anyone typing it.
    url = address + QLatin1Char('#') + code;
    expiresAtMs = bootClockMs() + qint64(settings.validitySeconds) * 1000;
    wrongCodes = 0;
    wrongCodesFrom.clear();
    paired = PairedClient();
    stateNow = State::Waiting;
    daemonLog(
        QStringLiteral("pairing offer %1 valid for %2 s").arg(code).arg(settings.validitySeconds));
    return jsonObject({{"state", QStringLiteral("waiting")},
                       {"code", code},
                       {"url", url},
                       {"expires_in", settings.validitySeconds},
                       {"qr", QrSymbol::encode(url).toJson()}});
}

QJsonObject Pairing::status()
{
    QJsonObject body = jsonObject({{"state", state()}});
    if (stateNow == State::Waiting) {
        body.insert(QLatin1String("code"), code);
        body.insert(QLatin1String("url"), url);
        body.insert(QLatin1String("expires_in"), int((expiresAtMs - bootClockMs() + 999) / 1000));
        body.insert(QLatin1String("attempts_left"), settings.wrongCodeTotal - wrongCodes);
    } else if (stateNow == State::Paired) {
        body.insert(QLatin1String("name"), paired.name);
        body.insert(QLatin1String("id"), paired.id);
    }
    return body;
}

void Pairing::withdraw()
{
    if (current() == State::Waiting) {
        stateNow = State::Cancelled;
        daemonLog(QStringLiteral("pairing offer %1 withdrawn").arg(code));
    }
}

Pairing::Submission Pairing::submit(const QString &typedCode, const QString &name,
                                    const QString &sender)
{
    Submission result;
    // The name is judged before the offer is looked at, so a request that
    // spends no attempt tells nothing about whether an offer waits.
    const QString shownName = cleanName(name);
    if (shownName.isEmpty()) {
        result.outcome = Outcome::NameMissing;
        return result;
    }
    if (current() != State::Waiting)
        return result;

    // A sender without attempts left is refused before its code is looked
    // at: even the right one would be a guess beyond its share.
    int fromSender = wrongCodesFrom.value(sender);
    if (fromSender >= settings.wrongCodeLimit) {
        result.outcome = Outcome::Withdrawn;
        return result;
    }
    if (PairingCode::normalized(typedCode) != code) {
        wrongCodesFrom.insert(sender, ++fromSender);
        ++wrongCodes;
        result.attemptsLeft =
            qMin(settings.wrongCodeLimit - fromSender, settings.wrongCodeTotal - wrongCodes);
        if (wrongCodes >= settings.wrongCodeTotal) {
            result.outcome = Outcome::Withdrawn;
            stateNow = State::TooManyAttempts;
            daemonLog(QStringLiteral("pairing offer %1 withdrawn after %2 wrong codes")
                          .arg(code)
                          .arg(wrongCodes));
        } else if (result.attemptsLeft > 0) {
            result.outcome = Outcome::WrongCode;
        } else {
            result.outcome = Outcome::Withdrawn;
            daemonLog(QStringLiteral("pairing offer %1 refused to %2 after %3 wrong codes")
                          .arg(code, sender)
                          .arg(fromSender));
        }
        return result;
    }

    // 256 random bits: the browser's proof of pairing, which only its hash
    // outlives on the reader.
    const QByteArray token = SecureRandom::bytes(32).toBase64(QByteArray::Base64UrlEncoding |
                                                              QByteArray::OmitTrailingEquals);
    PairedClient client;
    client.id = clients.newId();
    client.tokenHash = QCryptographicHash::hash(token, QCryptographicHash::Sha256).toHex();
    client.name = shownName;
    client.pairedAt = QDateTime::currentMSecsSinceEpoch() / 1000;
    // Unsaved, the device is not paired, and the offer still waits for it.
    if (!clients.add(client)) {
        result.outcome = Outcome::NotSaved;
        return result;
    }
    paired = client;
    stateNow = State::Paired;
    daemonLog(QStringLiteral("paired %1 as %2").arg(client.name, client.id));
    result.outcome = Outcome::Paired;
    result.client = client;
    result.token = token;
    return result;
}

QString Pairing::state()
{
    switch (current()) {
    case State::None:
        return QStringLiteral("none");
    case State::Waiting:
        return QStringLiteral("waiting");
    case State::Paired:
        return QStringLiteral("paired");
    case State::Expired:
        return QStringLiteral("expired");
    case State::Cancelled:
        return QStringLiteral("cancelled");
    case State::TooManyAttempts:
        return QStringLiteral("too_many_attempts");
    }
    return QString();
}

QString Pairing::cleanName(const QString &name)
{
    QString clean;
    for (uint code : codePoints(name)) {
        if (QChar::isSurrogate(code) || QChar::isNonCharacter(code))
            continue;
        if (isLaterFormatCharacter(code))
            continue;
        switch (QChar::category(code)) {
        case QChar::Other_Format:
            continue;
        case QChar::Other_Control:
        case QChar::Separator_Line:
        case QChar::Separator_Paragraph:
            clean += QLatin1Char(' ');
            continue;
        default:
            clean += QString::fromUcs4(&code, 1);
        }
    }
    clean = clean.simplified();
    if (clean.size() > 64)
        clean.truncate(clean.at(63).isHighSurrogate() ? 63 : 64);
    return clean;
}

// An offer expires when it is next looked at after its time is up.
Pairing::State Pairing::current()
{
    if (stateNow == State::Waiting && bootClockMs() >= expiresAtMs) {
        stateNow = State::Expired;
        daemonLog(QStringLiteral("pairing offer %1 expired").arg(code));
    }
    return stateNow;
}

} // namespace zorvid
