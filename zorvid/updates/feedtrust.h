#pragma once

#include <QByteArray>
#include <QString>

namespace zorvid {

// The update feed that this zorvid trusts, as it was built: where the signed
// manifest is, the Ed25519 public key that must have signed it, and the
// certificate authorities (PEM) that the feed's certificates chain to.
struct FeedTrust {
    QString manifestUrl;
    QByteArray publicKey;
    QByteArray rootsPem;

    bool isEmpty() const { return manifestUrl.isEmpty(); }

    static FeedTrust builtIn();
};

} // namespace zorvid
