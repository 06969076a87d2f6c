// An image-format module made of faults that the e-reader cannot load, for
// the ABI audit's own test (tst_abiaudit.py), which requires the audit to
// report each of them. Built here only; never installed.
//  - Qt API newer than 5.2: QDateTime::currentSecsSinceEpoch() (Qt 5.8), the
//    class QOperatingSystemVersion (Qt 5.9), and QJsonValue::toString()
//    without an argument, which the documentation does not date;
//  - a C library function newer than glibc 2.19: getrandom (GLIBC_2.25);
//  - an export beside the two plugin entry points;
//  - the metadata block that this Qt's moc writes, with its own Qt version.

#include <QDateTime>
#include <QImageIOPlugin>
#include <QJsonValue>
#include <QOperatingSystemVersion>

#include <sys/random.h>

class BadModulePlugin : public QImageIOPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QImageIOHandlerFactoryInterface")

public:
    Capabilities capabilities(QIODevice *, const QByteArray &) const override
    {
        const bool known = QOperatingSystemVersion::current().majorVersion() >= 0 &&
                           !QJsonValue(QStringLiteral("known")).toString().isEmpty();
        return known && QDateTime::currentSecsSinceEpoch() > 0 ? CanRead : Capabilities();
    }
    QImageIOHandler *create(QIODevice *, const QByteArray &) const override { return nullptr; }
};

extern "C" __attribute__((visibility("default"))) long zorvi_bad_export(void *buffer,
                                                                        unsigned long size)
{
    return getrandom(buffer, size, 0);
}

#include "badmodule.moc"
