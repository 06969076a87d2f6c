#include "state/clientlist.h"

#include "http/jsonobject.h"
#include "pairing/codepoints.h"
#include "process/daemonlog.h"
#include "process/securerandom.h"
#include "state/atomicfile.h"
#include "state/readerstorage.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace zorvid {

namespace {

// How long a device's token lasts unused, and how often its use is written.
constexpr qint64 unusedLimitSeconds = 90 * 24 * 3600;
constexpr qint64 useNotedEverySeconds = 24 * 3600;

qint64 nowSeconds()
{
    return QDateTime::currentMSecsSinceEpoch() / 1000;
}

// Whether CLIENT has gone unused too long. A clock set back (the reader
// may not know the time) makes nothing stale.
bool isStale(const PairedClient &client, qint64 now)
{
    return now - qMax(client.pairedAt, client.usedAt) > unusedLimitSeconds;
}

// Whether ID comes back unchanged from any client that decodes it from JSON
// and percent-encodes it as UTF-8: no broken surrogate, no noncharacter.
bool canBeNamed(const QString &id)
{
    const QVector<uint> points = codePoints(id);
    return std::none_of(points.cbegin(), points.cend(), [](uint code) {
        return QChar::isSurrogate(code) || QChar::isNonCharacter(code);
    });
}

QString hexId(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.left(8).toHex());
}

// The clients as the add-on reads them, and with their token hashes as the
// file keeps them.
QJsonArray toJsonArray(const QVector<PairedClient> &clients, bool withTokens)
{
    QJsonArray array;
    for (const PairedClient &client : clients) {
        QJsonObject entry = jsonObject(
            {{"id", client.id}, {"name", client.name}, {"paired_at", double(client.pairedAt)}});
        if (withTokens && !client.tokenHash.isEmpty())
            entry.insert(QLatin1String("token_sha256"), QString::fromLatin1(client.tokenHash));
        if (withTokens && client.usedAt > 0)
            entry.insert(QLatin1String("used_at"), double(client.usedAt));
        array.append(entry);
    }
    return array;
}

} // namespace

ClientList::ClientList(const QString &file, ReaderStorage &storage)
    : file(file)
    , storage(storage)
{
}

bool ClientList::load()
{
    list.clear();
    removeLeftovers(file);
    QFile input(file);
    if (!input.exists())
        return true;
    if (!input.open(QIODevice::ReadOnly)) {
        daemonLog(QStringLiteral("cannot read %1: %2").arg(file, input.errorString()));
        return false;
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(input.readAll(), &parseError);
    input.close();
    const QJsonValue clients = document.object().value(QLatin1String("clients"));
    if (!clients.isArray()) {
        const QString aside =
            file + QStringLiteral(".unreadable-") +
            QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMddhhmmsszzz"));
        if (!QFile::rename(file, aside)) {
            daemonLog(
                QStringLiteral("%1 is not a client list and cannot be moved aside").arg(file));
            return false;
        }
        daemonLog(QStringLiteral("%1 is not a client list (%2); kept as %3, starting empty")
                      .arg(file,
                           parseError.error == QJsonParseError::NoError
                               ? QStringLiteral("no clients array")
                               : parseError.errorString(),
                           aside));
        return true;
    }

    int skipped = 0;
    int renamed = 0;
    int stale = 0;
    for (const QJsonValue &entry : clients.toArray()) {
        const QJsonObject object = entry.toObject();
        PairedClient client;
        client.id = object.value(QLatin1String("id")).toString();
        client.name = object.value(QLatin1String("name")).toString();
        client.pairedAt = qint64(object.value(QLatin1String("paired_at")).toDouble());
        client.tokenHash = object.value(QLatin1String("token_sha256")).toString().toLatin1();
        client.usedAt = qint64(object.value(QLatin1String("used_at")).toDouble());
        if (!client.id.isEmpty() && !canBeNamed(client.id)) {
            const QByteArray old(reinterpret_cast<const char *>(client.id.utf16()),
                                 client.id.size() * 2);
            client.id = hexId(QCryptographicHash::hash(old, QCryptographicHash::Sha256));
            ++renamed;
        }
        const bool duplicate = std::any_of(
            list.cbegin(), list.cend(), [&](const PairedClient &c) { return c.id == client.id; });
        if (client.id.isEmpty() || duplicate) {
            ++skipped;
            continue;
        }
        // A browser's device that has long gone unused; one that never had a
        // token is the add-on's own kind of entry and stays.
        if (!client.tokenHash.isEmpty() && isStale(client, nowSeconds())) {
            ++stale;
            continue;
        }
        list.append(client);
    }
    if (stale > 0)
        daemonLog(QStringLiteral("%1: %2 devices unused for 90 days are no longer paired")
                      .arg(file, QString::number(stale)));
    if (skipped > 0)
        daemonLog(QStringLiteral("%1: skipped %2 entries without a usable id")
                      .arg(file, QString::number(skipped)));
    if (renamed > 0)
        daemonLog(QStringLiteral("%1: %2 ids that no request could name were replaced")
                      .arg(file, QString::number(renamed)));
    return true;
}

QJsonArray ClientList::toJson() const
{
    return toJsonArray(list, false);
}

const PairedClient *ClientList::clientWithToken(const QByteArray &token) const
{
    // Tokens are 43 characters; anything much longer is no token, and is not
    // worth hashing.
    if (token.isEmpty() || token.size() > 128)
        return nullptr;
    const QByteArray hash = QCryptographicHash::hash(token, QCryptographicHash::Sha256).toHex();
    for (const PairedClient &client : list) {
        if (!client.tokenHash.isEmpty() && client.tokenHash == hash)
            return isStale(client, nowSeconds()) ? nullptr : &client;
    }
    return nullptr;
}

void ClientList::noteUse(QString id)
{
    const qint64 now = nowSeconds();
    const auto found =
        std::find_if(list.cbegin(), list.cend(), [&](const PairedClient &c) { return c.id == id; });
    if (found == list.cend() || qAbs(now - found->usedAt) < useNotedEverySeconds)
        return;
    QVector<PairedClient> changed = list;
    changed[int(found - list.cbegin())].usedAt = now;
    if (write(changed))
        list = changed;
}

bool ClientList::add(const PairedClient &client)
{
    QVector<PairedClient> changed = list;
    changed.append(client);
    if (!write(changed))
        return false;
    list = changed;
    return true;
}

ClientList::Removal ClientList::remove(const QString &id)
{
    QVector<PairedClient> changed = list;
    const auto found = std::find_if(changed.begin(), changed.end(),
                                    [&](const PairedClient &c) { return c.id == id; });
    if (found == changed.end())
        return Removal::NotFound;
    changed.erase(found);
    if (!write(changed))
        return Removal::NotSaved;
    list = changed;
    return Removal::Removed;
}

QString ClientList::newId() const
{
    for (;;) {
        const QString id = hexId(SecureRandom::bytes(8));
        const bool taken = std::any_of(list.cbegin(), list.cend(),
                                       [&](const PairedClient &c) { return c.id == id; });
        if (!taken)
            return id;
    }
}

bool ClientList::write(const QVector<PairedClient> &clients) const
{
    const QByteArray bytes = QJsonDocument(jsonObject({{"clients", toJsonArray(clients, true)}}))
                                 .toJson(QJsonDocument::Indented);

    QString error;
    if (!storage.canWrite())
        error = QStringLiteral("the reader's storage is not mounted");
    else if (replaceFile(file, bytes, &error, storage.deviceFor(file)))
        return true;
    daemonLog(QStringLiteral("cannot save %1: %2").arg(file, error));
    return false;
}

} // namespace zorvid
