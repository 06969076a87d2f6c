// The least an image-format plugin can be: the baseline that loading the
// add-on's module is compared with.

#include <QImageIOPlugin>

class EmptyImagePlugin : public QImageIOPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QImageIOHandlerFactoryInterface" FILE "empty.json")

public:
    Capabilities capabilities(QIODevice *, const QByteArray &) const override { return {}; }
    QImageIOHandler *create(QIODevice *, const QByteArray &) const override { return nullptr; }
};

#include "emptyplugin.moc"
