#include "plugin/zorviimageplugin.h"

#include <QPointer>

QImageIOPlugin::Capabilities ZorviImagePlugin::capabilities(QIODevice *, const QByteArray &) const
{
    return Capabilities();
}

QImageIOHandler *ZorviImagePlugin::create(QIODevice *, const QByteArray &) const
{
    return nullptr;
}

// The metadata block Qt's plugin loader reads from the file without running
// any of the library's code.
__attribute__((section(".qtmetadata"), used,
               aligned(8))) static const unsigned char pluginMetaData[] = {
#include "pluginmetadata.inc"
};

extern "C" Q_DECL_EXPORT const char *qt_plugin_query_metadata()
{
    return reinterpret_cast<const char *>(pluginMetaData);
}

// The loader owns the instance; the guarded pointer only notices when it has
// been deleted, so that the next call makes a new one.
extern "C" Q_DECL_EXPORT QObject *qt_plugin_instance()
{
    static QPointer<QObject> instance;
    if (!instance)
        instance = new ZorviImagePlugin;
    return instance;
}
