#pragma once

#include <QImageIOPlugin>

// The face the add-on shows Qt: an image-format plugin that handles no format
// at all. Qt loading it is what matters; the work starts in the library's
// load-time start-up. It stays outside the namespace because Qt and the
// plugin metadata know it by its plain class name.
class ZorviImagePlugin : public QImageIOPlugin {
    Q_OBJECT

public:
    using QImageIOPlugin::QImageIOPlugin;

    Capabilities capabilities(QIODevice *device, const QByteArray &format) const override;
    QImageIOHandler *create(QIODevice *device,
                            const QByteArray &format = QByteArray()) const override;
};
