// The image-format face of the add-on: the block Qt's own plugin loader reads
// of libzorvi.so before it runs any of its code (built against the reader's
// Qt, this is the reader's loader), and it must never claim an image.

#include "plugin/zorviimageplugin.h"

#include <QtTest>

class TestPluginObject : public QObject {
    Q_OBJECT

private slots:
    void qtLoaderReadsTheMetadata()
    {
        QPluginLoader loader(QStringLiteral(ZORVI_MODULE));
        const QJsonObject metadata = loader.metaData();
        QCOMPARE(metadata.value(QStringLiteral("IID")).toString(),
                 QStringLiteral("org.qt-project.Qt.QImageIOHandlerFactoryInterface"));
        QCOMPARE(metadata.value(QStringLiteral("className")).toString(),
                 QStringLiteral("ZorviImagePlugin"));
        QCOMPARE(metadata.value(QStringLiteral("version")).toInt(), 0x050201);
        const QJsonArray keys = metadata.value(QStringLiteral("MetaData"))
                                    .toObject()
                                    .value(QStringLiteral("Keys"))
                                    .toArray();
        QCOMPARE(keys.toVariantList(), QVariantList() << QStringLiteral("zorvi"));
        // Reading the metadata must not have mapped the library.
        QVERIFY(!loader.isLoaded());
    }

    void claimsNoImage()
    {
        QBuffer png;
        png.setData(QByteArray("\x89PNG\r\n\x1a\n", 8));
        png.open(QIODevice::ReadOnly);
        QIODevice *const devices[] = {nullptr, &png};
        ZorviImagePlugin plugin;
        for (const QByteArray &format : {QByteArray("zorvi"), QByteArray("png"), QByteArray()}) {
            for (QIODevice *device : devices) {
                QCOMPARE(int(plugin.capabilities(device, format)), 0);
                QVERIFY(!plugin.create(device, format));
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestPluginObject)
#include "tst_pluginobject.moc"
