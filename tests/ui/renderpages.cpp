// Renders the panel's home page in each state of the update section, in a
// set of languages, to PNG files at the reader's resolution, so that a person
// can look at every one of them. The daemon is a fake on /tmp/zorvid.sock,
// so this runs in the mount namespace:
//   scripts/isolate build/tests/ui/render-pages OUTPUT_DIR [LANGUAGE...]

#include "fakedaemon.h"
#include "plugin/devicepaths.h"
#include "ui/panel.h"
#include "ui/uitext.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

#include <memory>

namespace {

QByteArray ok(const QByteArray &body)
{
    return "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
           QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

struct HomeState {
    const char *name;
    // The GET /update body; null when the daemon is not running at all.
    const char *update;
    bool checkRequested;
};

const HomeState homeStates[] = {
    {"offline", nullptr, false},
    {"idle", R"({"state":"idle","current":"2.0.3"})", false},
    {"checking", R"({"state":"checking","current":"2.0.3"})", true},
    {"downloading", R"({"state":"downloading","version":"2.1.0","current":"2.0.3"})", true},
    {"ready", R"({"state":"ready","version":"2.1.0","current":"2.0.3"})", false},
    {"uptodate", R"({"state":"idle","last":"up_to_date","current":"2.0.3"})", true},
    {"blocked", R"({"state":"idle","last":"blocked","current":"2.0.3"})", true},
    {"failed", R"({"state":"idle","last":"failed","current":"2.0.3"})", true},
};

bool writeLocale(const QString &language)
{
    const QString path = QString::fromLatin1(zorvi::nickelConfigFile);
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    // Nickel writes locale names with an underscore.
    file.write("[ApplicationPreferences]\nCurrentLocale=" +
               QString(language).replace(QLatin1Char('-'), QLatin1Char('_')).toLatin1() + "\n");
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    QTextStream err(stderr);
    if (args.isEmpty()) {
        err << "usage: render-pages OUTPUT_DIR [LANGUAGE...]\n";
        return 2;
    }
    const QString out = args.takeFirst();
    if (args.isEmpty())
        args = QStringList{"en", "de", "fi", "ar", "he", "hi", "th", "ja", "ko", "zh-Hant"};
    QDir().mkpath(out);

    QWidget window;
    window.resize(1072, 1448);
    window.show();
    zorvi::Panel panel(&window);

    for (const QString &language : args) {
        if (zorvi::languageIndex(language) < 0 || !writeLocale(language)) {
            err << "unknown language " << language << "\n";
            return 2;
        }
        zorvi::loadUiLanguage();
        for (const HomeState &state : homeStates) {
            std::unique_ptr<FakeDaemon> daemon;
            if (state.update) {
                daemon.reset(new FakeDaemon(ReplyScript::at(ok("{\"state\":\"waiting\"}"))));
                daemon->route("GET /update", ReplyScript::at(ok(state.update)));
            }
            panel.open();
            if (state.checkRequested) {
                panel.checkRequested = true;
                panel.refreshUpdate();
            }
            const QString file =
                QStringLiteral("%1/home-%2-%3.png").arg(out, QLatin1String(state.name), language);
            if (!window.grab().save(file)) {
                err << "cannot write " << file << "\n";
                return 1;
            }
            panel.dismiss();
        }
    }
    return 0;
}
