// What Qt's plugin loader sees of libzorvi.so before it runs any of its code:
// the metadata block, and the symbols the module lets out.

#include "elffile.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPluginLoader>
#include <QtTest>

namespace {

const QString module = QStringLiteral(ZORVI_MODULE);

QJsonObject expectedMetadata()
{
    return QJsonObject{
        {QStringLiteral("IID"),
         QStringLiteral("org.qt-project.Qt.QImageIOHandlerFactoryInterface")},
        {QStringLiteral("MetaData"),
         QJsonObject{{QStringLiteral("Keys"), QJsonArray{QStringLiteral("zorvi")}}}},
        {QStringLiteral("className"), QStringLiteral("ZorviImagePlugin")},
        {QStringLiteral("debug"), true},
        {QStringLiteral("version"), 0x050201},
    };
}

} // namespace

class TestMetadata : public QObject {
    Q_OBJECT

private slots:
    void blockIsBinaryJsonOfQt521()
    {
        ElfFile elf(module);
        QVERIFY(elf.isValid());
        const QByteArray section = elf.section(".qtmetadata");
        QVERIFY2(section.startsWith("QTMETADATA  qbjs"), section.left(16).toHex().constData());

        QT_WARNING_PUSH
        QT_WARNING_DISABLE_DEPRECATED
        const QJsonDocument document = QJsonDocument::fromBinaryData(section.mid(12));
        QT_WARNING_POP
        QVERIFY(document.isObject());
        QCOMPARE(document.object(), expectedMetadata());
        QCOMPARE(document.object().value(QStringLiteral("version")).toInt(), 328193);
    }

    void qtLoaderReadsTheBlock()
    {
        QPluginLoader loader(module);
        QCOMPARE(loader.metaData(), expectedMetadata());
        // Reading the metadata must not have mapped the library.
        QVERIFY(!loader.isLoaded());
    }

    void onlyEntryPointsAreExported()
    {
        ElfFile elf(module);
        QVERIFY(elf.isValid());
        QStringList exported = elf.exportedSymbols();
        exported.sort();
        QCOMPARE(exported, QStringList({QStringLiteral("qt_plugin_instance"),
                                        QStringLiteral("qt_plugin_query_metadata")}));
    }
};

QTEST_GUILESS_MAIN(TestMetadata)
#include "tst_metadata.moc"
