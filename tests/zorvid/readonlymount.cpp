#include "readonlymount.h"

#include <QProcess>

ReadOnlyMount::ReadOnlyMount(const QString &dir)
    : dir(dir)
{
    if (QProcess::execute(QStringLiteral("mount"), {QStringLiteral("--bind"), dir, dir}) != 0)
        return;
    mounted = true;
    if (QProcess::execute(QStringLiteral("mount"),
                          {QStringLiteral("-o"), QStringLiteral("remount,bind,ro"), dir}) != 0) {
        QProcess::execute(QStringLiteral("umount"), {dir});
        mounted = false;
    }
}

ReadOnlyMount::~ReadOnlyMount()
{
    if (mounted)
        QProcess::execute(QStringLiteral("umount"), {dir});
}
