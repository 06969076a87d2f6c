// Writes the plugin metadata block as a C array initialiser: the marker
// "QTMETADATA  " followed by the metadata object in Qt 5's binary JSON, with
// the interface, class name and Qt version (5.2.1) of the e-reader's Qt.
//   zorvi-metadata PLUGIN_JSON OUTPUT_INC

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 3) {
        QTextStream(stderr) << "usage: zorvi-metadata PLUGIN_JSON OUTPUT_INC\n";
        return 2;
    }
    QFile input(args.at(1));
    if (!input.open(QIODevice::ReadOnly)) {
        QTextStream(stderr) << "cannot read " << args.at(1) << "\n";
        return 1;
    }
    QJsonParseError error;
    const QJsonDocument own = QJsonDocument::fromJson(input.readAll(), &error);
    if (!own.isObject()) {
        QTextStream(stderr) << args.at(1) << ": " << error.errorString() << "\n";
        return 1;
    }

    QJsonObject metadata;
    metadata.insert(QStringLiteral("IID"),
                    QStringLiteral("org.qt-project.Qt.QImageIOHandlerFactoryInterface"));
    metadata.insert(QStringLiteral("MetaData"), own.object());
    metadata.insert(QStringLiteral("className"), QStringLiteral("ZorviImagePlugin"));
    metadata.insert(QStringLiteral("debug"), true);
    metadata.insert(QStringLiteral("version"), 0x050201);

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    const QByteArray block = QByteArray("QTMETADATA  ") + QJsonDocument(metadata).toBinaryData();
#pragma GCC diagnostic pop

    QByteArray text;
    for (int i = 0; i < block.size(); ++i) {
        text += "0x" + QByteArray::number(uchar(block.at(i)), 16).rightJustified(2, '0') + ',';
        text += (i % 12 == 11) ? '\n' : ' ';
    }
    text += '\n';
    QFile output(args.at(2));
    if (!output.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        output.write(text) != text.size()) {
        QTextStream(stderr) << "cannot write " << args.at(2) << "\n";
        return 1;
    }
    return 0;
}
