#include "updates/updatemanifest.h"

#include "updates/versions.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <sodium.h>

namespace zorvid {

namespace {

QByteArray base64Member(const QJsonObject &object, const char *name)
{
    const QString text = object.value(QLatin1String(name)).toString();
    static const QRegularExpression base64(QStringLiteral("^[A-Za-z0-9+/]*={0,2}$"));
    if (text.isEmpty() || text.size() % 4 != 0 || !base64.match(text).hasMatch())
        return QByteArray();
    return QByteArray::fromBase64(text.toLatin1());
}

} // namespace

bool UpdateManifest::read(const QByteArray &bytes, const QByteArray &publicKey, QString *error)
{
    const QJsonObject envelope = QJsonDocument::fromJson(bytes).object();
    if (envelope.isEmpty()) {
        *error = QStringLiteral("the manifest is not a JSON object");
        return false;
    }
    const QByteArray payload = base64Member(envelope, "signed");
    const QByteArray signature = base64Member(envelope, "signature");
    if (payload.isEmpty()) {
        *error = QStringLiteral("the manifest holds nothing signed");
        return false;
    }
    // libsodium picks its implementations once, before its first use.
    static const bool sodiumReady = sodium_init() >= 0;
    if (!sodiumReady) {
        *error = QStringLiteral("the signature checker cannot start");
        return false;
    }
    if (signature.size() != crypto_sign_ed25519_BYTES) {
        *error = QStringLiteral("the manifest is not signed");
        return false;
    }
    if (publicKey.size() != crypto_sign_ed25519_PUBLICKEYBYTES ||
        crypto_sign_ed25519_verify_detached(
            reinterpret_cast<const unsigned char *>(signature.constData()),
            reinterpret_cast<const unsigned char *>(payload.constData()),
            static_cast<unsigned long long>(payload.size()),
            reinterpret_cast<const unsigned char *>(publicKey.constData())) != 0) {
        *error = QStringLiteral("the manifest's signature is not the feed's");
        return false;
    }

    const QJsonObject fields = QJsonDocument::fromJson(payload).object();
    if (fields.value(QLatin1String("type")).toString() != QLatin1String("zorvi-update")) {
        *error = QStringLiteral("the signed payload is not an update manifest");
        return false;
    }
    version = fields.value(QLatin1String("version")).toString();
    archive = QUrl(fields.value(QLatin1String("archive")).toString(), QUrl::StrictMode);
    const double declared = fields.value(QLatin1String("size")).toDouble(-1);
    sha256 = QByteArray::fromHex(fields.value(QLatin1String("sha256")).toString().toLatin1());
    minVersion = fields.value(QLatin1String("min_version")).toString(QStringLiteral("0"));
    if (!isReleaseVersion(version) || !isReleaseVersion(minVersion)) {
        *error = QStringLiteral("the manifest's version is not a release version");
        return false;
    }
    if (!archive.isValid() || archive.scheme() != QLatin1String("https") ||
        archive.host().isEmpty()) {
        *error = QStringLiteral("the manifest's archive is not an https address");
        return false;
    }
    if (!(declared >= 1 && declared <= maxArchiveBytes) || declared != qint64(declared)) {
        *error =
            QStringLiteral("the manifest's size is not that of a real archive (at most %1 bytes)")
                .arg(maxArchiveBytes);
        return false;
    }
    size = qint64(declared);
    if (sha256.size() != 32 || fields.value(QLatin1String("sha256")).toString().size() != 64) {
        *error = QStringLiteral("the manifest's SHA-256 is not 64 hex digits");
        return false;
    }
    return true;
}

} // namespace zorvid
