// What Qt's own plugin loader reads of libzorvi.so before it runs any of its
// code: built against the reader's Qt, this is the reader's loader.

#include <QJsonArray>
#include <QJsonObject>
#include <QPluginLoader>
#include <QtTest>

class TestMetadata : public QObject {
    Q_OBJECT

private slots:
    void qtLoaderReadsTheBlock()
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
};

QTEST_GUILESS_MAIN(TestMetadata)
#include "tst_metadata.moc"
