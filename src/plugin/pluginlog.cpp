#include "plugin/pluginlog.h"

#include "plugin/devicepaths.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTextStream>

namespace zorvi {

void pluginLog(const QString &message)
{
    QDir().mkpath(QLatin1String(addonDir));

    QFile file(QString::fromLatin1(logFile));
    // No rotation: the log lives on the reader's own storage and only has to
    // tell what happened lately, so an oversized file simply starts afresh.
    const bool tooLarge = file.exists() && file.size() > logSizeLimit;
    const QIODevice::OpenMode mode = QIODevice::WriteOnly | QIODevice::Text |
                                     (tooLarge ? QIODevice::Truncate : QIODevice::Append);
    if (!file.open(mode))
        return;

    QTextStream out(&file);
    out << QDateTime::currentDateTime().toString(Qt::ISODate) << ' ' << message << '\n';
}

} // namespace zorvi
