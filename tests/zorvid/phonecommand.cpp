#include "phonecommand.h"

#include <QProcess>

PhoneRun runPhone(const QStringList &arguments)
{
    QProcess phone;
    phone.setProcessChannelMode(QProcess::MergedChannels);
    phone.start(QStringLiteral(ZORVID_PHONE), arguments);
    PhoneRun run;
    if (!phone.waitForFinished(10000)) {
        phone.kill();
        phone.waitForFinished(1000);
        return run;
    }
    run.output = QString::fromUtf8(phone.readAll()).trimmed();
    run.exitCode = phone.exitStatus() == QProcess::NormalExit ? phone.exitCode() : -1;
    return run;
}

PhoneRun runPhone(const QString &address, const QString &code, const QString &name)
{
    return runPhone({QStringLiteral("--name"), name, QStringLiteral("--code"), code, address});
}
