// Cost of loading libzorvi.so, start-up and failsafe included, against an
// empty image-format plugin: each load in a fresh process, median of many.
// Run inside the mount namespace (it copies the modules to /tmp):
//   scripts/isolate build/bench/startup/bench-startup [RUNS]

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTextStream>
#include <QVector>

#include <algorithm>

namespace {

// Copies the module to a fresh plugin folder, so that every run finds the
// library under its own name, then loads it once in a new process.
qint64 loadOnce(const QString &host, const QString &module)
{
    const QString dir = QStringLiteral("/tmp/bench/imageformats");
    QDir(QStringLiteral("/tmp/bench")).removeRecursively();
    QDir().mkpath(dir);
    const QString copy = dir + QLatin1Char('/') + QFileInfo(module).fileName();
    if (!QFile::copy(module, copy))
        return -1;
    QProcess process;
    process.start(host, {copy});
    if (!process.waitForFinished(10000) || process.exitCode() != 0)
        return -1;
    return process.readAllStandardOutput().trimmed().toLongLong();
}

double median(QVector<qint64> values)
{
    std::sort(values.begin(), values.end());
    const int n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? QByteArray(argv[1]).toInt() : 200;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTextStream out(stdout);

    QVector<qint64> empty, zorvi;
    for (int i = 0; i < runs; ++i) {
        const qint64 e = loadOnce(QStringLiteral(LOAD_HOST), QStringLiteral(EMPTY_MODULE));
        const qint64 z = loadOnce(QStringLiteral(LOAD_HOST), QStringLiteral(ZORVI_MODULE));
        if (e < 0 || z < 0) {
            out << "a load failed; is this running inside scripts/isolate?\n";
            return 1;
        }
        empty << e;
        zorvi << z;
    }
    const double e = median(empty), z = median(zorvi);
    out << "runs per module:      " << runs << '\n'
        << "empty plugin load:    " << e / 1000 << " us (median)\n"
        << "libzorvi.so load:     " << z / 1000 << " us (median)\n"
        << "ratio:                " << z / e << '\n';
    return 0;
}
