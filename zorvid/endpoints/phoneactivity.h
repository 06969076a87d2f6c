#pragma once

#include <QByteArray>
#include <QString>

namespace zorvid {

// Tells the add-on inside Nickel that a paired phone is using the dashboard,
// so that Nickel's inactivity rule leaves Wi-Fi on: the flag file's time is
// that of the phone's latest request, to within 30 s. The add-on judges the
// phone gone when the time is a few minutes old, so a zorvid that crashed
// keeps Wi-Fi on for no longer; one that stops removes the flag.
class PhoneActivity {
public:
    explicit PhoneActivity(const QString &flagPath);
    ~PhoneActivity();
    PhoneActivity(const PhoneActivity &) = delete;
    PhoneActivity &operator=(const PhoneActivity &) = delete;

    // A paired device's request has come. Costs one stat() while the flag
    // is fresh; only then is it created or touched, never waiting: a
    // symbolic link or a pipe in its place is refused, not followed.
    void mark();

private:
    const QByteArray path;
    // Whether the last attempt to touch the flag failed, so that the log
    // tells of a failure once, not at every request.
    bool failing = false;
};

} // namespace zorvid
