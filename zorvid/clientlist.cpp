#include "clientlist.h"

#include "daemonlog.h"
#include "securerandom.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

namespace zorvid {

namespace {

// After a rename the directory entry must reach the disk too, or a power
// cut can bring back the old file.
void syncDirectory(const QString &directory)
{
    const int fd = ::open(QFile::encodeName(directory).constData(), O_RDONLY | O_DIRECTORY);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

QJsonArray toJsonArray(const QVector<PairedClient> &clients)
{
    QJsonArray array;
    for (const PairedClient &client : clients) {
        array.append(QJsonObject{
            {"id", client.id}, {"name", client.name}, {"paired_at", double(client.pairedAt)}});
    }
    return array;
}

} // namespace

ClientList::ClientList(const QString &file)
    : file(file)
{
}

bool ClientList::load()
{
    list.clear();
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
    for (const QJsonValue &entry : clients.toArray()) {
        const QJsonObject object = entry.toObject();
        PairedClient client;
        client.id = object.value(QLatin1String("id")).toString();
        client.name = object.value(QLatin1String("name")).toString();
        client.pairedAt = qint64(object.value(QLatin1String("paired_at")).toDouble());
        const bool duplicate = std::any_of(
            list.cbegin(), list.cend(), [&](const PairedClient &c) { return c.id == client.id; });
        if (client.id.isEmpty() || duplicate) {
            ++skipped;
            continue;
        }
        list.append(client);
    }
    if (skipped > 0)
        daemonLog(QStringLiteral("%1: skipped %2 entries without a usable id")
                      .arg(file, QString::number(skipped)));
    return true;
}

QJsonArray ClientList::toJson() const
{
    return toJsonArray(list);
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

QString ClientList::newId(const QString &name) const
{
    const QString base = name.isEmpty() ? QStringLiteral("device") : name;
    for (;;) {
        const QString id =
            base + QLatin1Char('/') + QString::fromLatin1(SecureRandom::bytes(4).toHex());
        const bool taken = std::any_of(list.cbegin(), list.cend(),
                                       [&](const PairedClient &c) { return c.id == id; });
        if (!taken)
            return id;
    }
}

bool ClientList::write(const QVector<PairedClient> &clients) const
{
    const QByteArray bytes = QJsonDocument(QJsonObject{{"clients", toJsonArray(clients)}})
                                 .toJson(QJsonDocument::Indented);

    // QSaveFile writes a temporary file beside the list, flushes and syncs
    // it, and renames it over the list only when all of that worked.
    QSaveFile output(file);
    if (!output.open(QIODevice::WriteOnly) || output.write(bytes) != bytes.size() ||
        !output.commit()) {
        daemonLog(QStringLiteral("cannot save %1: %2").arg(file, output.errorString()));
        return false;
    }
    syncDirectory(QFileInfo(file).absolutePath());
    return true;
}

} // namespace zorvid
