#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

namespace zorvid {

// A release as the update feed announces it, read from a manifest whose
// Ed25519 signature has been verified: nothing of an unsigned or wrongly
// signed manifest is read. The manifest is a JSON object, "signed" the
// base64 of the payload's bytes and "signature" the base64 of their
// signature; the payload a JSON object of "type" ("zorvi-update"),
// "version", "archive" (an https address), "size", "sha256" and
// "min_version" (the oldest installed version that may take it).
struct UpdateManifest {
    // No real manifest comes near this, nor any real archive near its cap.
    static constexpr int maxManifestBytes = 64 * 1024;
    static constexpr qint64 maxArchiveBytes = 32 * 1024 * 1024;

    QString version;
    QUrl archive;
    qint64 size = 0;
    // 32 bytes.
    QByteArray sha256;
    QString minVersion;

    // Reads BYTES as a manifest signed by PUBLIC_KEY (32 bytes); false with
    // the reason when the signature is missing or does not verify, or the
    // payload is not a well-formed manifest.
    bool read(const QByteArray &bytes, const QByteArray &publicKey, QString *error);
};

} // namespace zorvid
