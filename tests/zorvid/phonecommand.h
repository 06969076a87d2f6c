#pragma once

#include <QString>
#include <QStringList>

// One run of zorvid-phone.
struct PhoneRun {
    int exitCode = -1;
    QString output;
};

// Runs zorvid-phone with ARGUMENTS and waits (at most 10 s) for it.
PhoneRun runPhone(const QStringList &arguments);
// Pairs as NAME with CODE at ADDRESS.
PhoneRun runPhone(const QString &address, const QString &code, const QString &name);
