#include "imageplugins.h"

#include <QCoreApplication>
#include <QImageReader>

QStringList loadImagePlugins(const QString &pluginPath)
{
    // Only this folder: the plugins of the machine's own Qt stay out, as on
    // the device. Asking for the supported formats makes the loader map and
    // instantiate each plugin of the folder, whatever its file name.
    QCoreApplication::setLibraryPaths({pluginPath});
    QStringList formats;
    const QList<QByteArray> supported = QImageReader::supportedImageFormats();
    for (const QByteArray &format : supported)
        formats << QString::fromLatin1(format);
    return formats;
}
