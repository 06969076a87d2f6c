#include "updates/updatestate.h"

#include "http/jsonobject.h"
#include "updates/updatemanifest.h"
#include "updates/versions.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

namespace zorvid {

namespace {

UpdateState::Release readRelease(const QJsonObject &object)
{
    UpdateState::Release release;
    const QString version = object.value(QLatin1String("version")).toString();
    const double size = object.value(QLatin1String("size")).toDouble();
    const QByteArray sha256 =
        QByteArray::fromHex(object.value(QLatin1String("sha256")).toString().toLatin1());
    if (isReleaseVersion(version) && size >= 1 && size <= UpdateManifest::maxArchiveBytes &&
        sha256.size() == 32) {
        release.version = version;
        release.size = qint64(size);
        release.sha256 = sha256;
    }
    return release;
}

QJsonValue writeRelease(const UpdateState::Release &release)
{
    if (release.isEmpty())
        return QJsonValue();
    return jsonObject({{"version", release.version},
                       {"size", double(release.size)},
                       {"sha256", QString::fromLatin1(release.sha256.toHex())}});
}

} // namespace

UpdateState UpdateState::load(const QString &path)
{
    QFile file(path);
    UpdateState state;
    if (!file.open(QIODevice::ReadOnly))
        return state;
    const QJsonObject object = QJsonDocument::fromJson(file.read(64 * 1024)).object();
    state.download = readRelease(object.value(QLatin1String("download")).toObject());
    state.staged = readRelease(object.value(QLatin1String("staged")).toObject());
    return state;
}

QByteArray UpdateState::toJson() const
{
    return QJsonDocument(
               jsonObject({{"download", writeRelease(download)}, {"staged", writeRelease(staged)}}))
        .toJson();
}

UpdateState::Release UpdateState::of(const UpdateManifest &manifest)
{
    Release release;
    release.version = manifest.version;
    release.size = manifest.size;
    release.sha256 = manifest.sha256;
    return release;
}

} // namespace zorvid
