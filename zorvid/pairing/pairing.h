#pragma once

#include "state/pairedclient.h"

#include <QHash>
#include <QJsonObject>
#include <QString>

#include <functional>

namespace zorvid {

class ClientList;

// The one pairing offer the daemon holds at a time: a code that is valid for
// a while, the address where the other device enters it, and what became of
// it. The right code adds the device to the client list. Wrong codes are
// counted per network address of the sender: one that used up its attempts
// is refused from then on, while the offer still waits for the others, so
// that a stranger cannot burn the code the owner is typing. Many wrong codes
// from all senders together withdraw the offer, so that the code cannot be
// guessed from many addresses either.
class Pairing {
public:
    struct Settings {
        int validitySeconds = 600;
        // Wrong codes from one address before it is refused.
        int wrongCodeLimit = 5;
        // Wrong codes from all addresses before the offer is withdrawn; a
        // few senders' worth, so that a guess stays one in millions.
        int wrongCodeTotal = 30;
    };

    enum class Outcome {
        Paired,
        WrongCode,
        // The sender has used up its attempts (the offer still waits for
        // others), or all senders together have, and the offer is gone.
        Withdrawn,
        // No offer is waiting; state() says why.
        NoOffer,
        NameMissing,
        NotSaved,
    };
    struct Submission {
        Outcome outcome = Outcome::NoOffer;
        int attemptsLeft = 0;
        PairedClient client;
        // Once paired: the device's token for its browser, kept nowhere else.
        QByteArray token;
    };

    Pairing(ClientList &clients, const Settings &settings);

    // Where the other device submits its code, e.g.
    // "http://192.168.1.20:8732/pair", as it is at each offer.
    void setAddress(std::function<QString()> address) { address_ = std::move(address); }

    // A new offer, replacing the one before: the body of POST "/pairing".
    // Empty, and the offer before left as it was, while the reader has no
    // address that a phone could reach.
    QJsonObject offer();
    // The body of GET "/pairing".
    QJsonObject status();
    // DELETE "/pairing": an offer that still waits is withdrawn.
    void withdraw();
    // The attempt with CODE as typed and its NAME of the other device at
    // network address SENDER.
    Submission submit(const QString &typedCode, const QString &name, const QString &sender);
    // "none", "waiting", "paired", "expired", "cancelled" or "too_many_attempts".
    QString state();

    // A device name fit to show and safe to write: no control, format or
    // broken characters (so no direction override and nothing of zero
    // width), blanks simplified, at most 64 UTF-16 units.
    static QString cleanName(const QString &name);

private:
    enum class State { None, Waiting, Paired, Expired, Cancelled, TooManyAttempts };
    State current();

    ClientList &clients;
    Settings settings;
    std::function<QString()> address_;
    State stateNow = State::None;
    QString code;
    QString url;
    // On the clock that counts the reader's sleep, as its owner does.
    qint64 expiresAtMs = 0;
    int wrongCodes = 0;
    // Wrong codes by sender; never more entries than wrongCodeTotal.
    QHash<QString, int> wrongCodesFrom;
    PairedClient paired;
};

} // namespace zorvid
