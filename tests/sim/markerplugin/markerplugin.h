#pragma once

#include <QImageIOPlugin>

// An image-format plugin that only tells that it was loaded and instantiated,
// and, when asked to, calls Nickel's functions the way the add-on does.
class MarkerPlugin : public QImageIOPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QImageIOHandlerFactoryInterface_iid FILE "markerplugin.json")

public:
    explicit MarkerPlugin(QObject *parent = nullptr);

    Capabilities capabilities(QIODevice *device, const QByteArray &format) const override;
    QImageIOHandler *create(QIODevice *device, const QByteArray &format) const override;
};
