// Loads one image-format plugin through Qt's plugin loader after the
// application object exists, as Nickel does, and prints how long the load
// took in nanoseconds.
//   bench-loadhost MODULE

#include <QApplication>
#include <QLocalSocket>

#include "plugworkflowmanager.h"
#include <QElapsedTimer>
#include <QPluginLoader>
#include <QTextStream>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc != 2)
        return 2;
    // Nickel has Qt's network library and its own libnickel loaded long
    // before it loads its image plugins; so does this host, so that only the
    // plugin's own cost counts.
    QLocalSocket network;
    PlugWorkflowManager::sharedInstance();
    QPluginLoader loader(QString::fromLocal8Bit(argv[1]));
    QElapsedTimer clock;
    clock.start();
    const bool loaded = loader.load() && loader.instance();
    const qint64 elapsed = clock.nsecsElapsed();
    if (!loaded) {
        QTextStream(stderr) << loader.errorString() << '\n';
        return 1;
    }
    QTextStream(stdout) << elapsed << '\n';
    return 0;
}
