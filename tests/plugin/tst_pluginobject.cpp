// The image-format face of the add-on: it must never claim an image, and Qt
// must always get the one live instance.

#include "plugin/zorviimageplugin.h"

#include <QBuffer>
#include <QPointer>
#include <QtTest>

extern "C" QObject *qt_plugin_instance();

class TestPluginObject : public QObject {
    Q_OBJECT

private slots:
    void claimsNoFormat_data()
    {
        QTest::addColumn<QByteArray>("format");
        QTest::addColumn<bool>("withDevice");
        QTest::newRow("its own key") << QByteArray("zorvi") << false;
        QTest::newRow("its own key with a device") << QByteArray("zorvi") << true;
        QTest::newRow("a common format") << QByteArray("png") << true;
        QTest::newRow("no format at all") << QByteArray() << true;
        QTest::newRow("no format and no device") << QByteArray() << false;
    }

    void claimsNoFormat()
    {
        QFETCH(QByteArray, format);
        QFETCH(bool, withDevice);
        QBuffer buffer;
        buffer.setData(QByteArray("\x89PNG\r\n\x1a\n", 8));
        buffer.open(QIODevice::ReadOnly);
        QIODevice *device = withDevice ? &buffer : nullptr;

        ZorviImagePlugin plugin;
        QCOMPARE(int(plugin.capabilities(device, format)), 0);
        QVERIFY(!plugin.create(device, format));
    }

    void metaObjectNamesThePlugin()
    {
        ZorviImagePlugin plugin;
        QCOMPARE(plugin.metaObject()->className(), "ZorviImagePlugin");
        QCOMPARE(plugin.qt_metacast("ZorviImagePlugin"), static_cast<void *>(&plugin));
        QCOMPARE(plugin.qt_metacast(nullptr), static_cast<void *>(nullptr));
        QVERIFY(qobject_cast<QImageIOPlugin *>(&plugin));
        QCOMPARE(plugin.metaObject()->methodCount(), QObject::staticMetaObject.methodCount());
    }

    void instanceIsSharedUntilDeleted()
    {
        QPointer<QObject> first = qt_plugin_instance();
        QVERIFY(first);
        QVERIFY(qobject_cast<ZorviImagePlugin *>(first));
        QCOMPARE(qt_plugin_instance(), first.data());

        delete first.data();
        QVERIFY(!first);
        QObject *second = qt_plugin_instance();
        QVERIFY(second);
        QCOMPARE(qt_plugin_instance(), second);
        delete second;
    }
};

QTEST_GUILESS_MAIN(TestPluginObject)
#include "tst_pluginobject.moc"
