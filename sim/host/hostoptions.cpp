#include "hostoptions.h"

#include <QCommandLineParser>
#include <QRegularExpression>

#include <cstdio>

namespace {

const char description[] =
    "A stand-in for Nickel, the e-reader's Qt application: it shows a home screen\n"
    "and a reading view with status bars, loads the image-format plugins of\n"
    "PLUGIN_DIR/imageformats, imports the books on its storage into Nickel's\n"
    "database at each library sync, and runs script commands (see sim/README.md):\n"
    "  wait MS, open-book, close-book, destroy-book, new-statusbar, tap NAME,\n"
    "  find NAME, screenshot PATH, wifi-on, crash, quit\n"
    "Exit codes: 0 quit, 2 bad options or unreadable script, 3 reboot.";

bool parseSize(const QString &text, QSize *size)
{
    static const QRegularExpression pattern(QStringLiteral("^(\\d{2,5})x(\\d{2,5})$"));
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return false;
    *size = QSize(match.captured(1).toInt(), match.captured(2).toInt());
    return true;
}

} // namespace

bool HostOptions::helpAsked(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        if (argument == "--help" || argument == "-h" || argument == "-?")
            return true;
    }
    return false;
}

HostOptions::Outcome HostOptions::parse(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(description));
    parser.addHelpOption();
    const QCommandLineOption size(QStringLiteral("size"), QStringLiteral("Screen size."),
                                  QStringLiteral("WxH"), QStringLiteral("1072x1448"));
    const QCommandLineOption config(QStringLiteral("config"),
                                    QStringLiteral("Nickel's settings file (INI)."),
                                    QStringLiteral("FILE"), configPath);
    const QCommandLineOption storage(
        QStringLiteral("storage"),
        QStringLiteral("The reader's storage, where a library sync finds books."),
        QStringLiteral("DIR"), storagePath);
    const QCommandLineOption plugins(
        QStringLiteral("plugin-path"),
        QStringLiteral("Folder holding imageformats/ (default: the build tree)."),
        QStringLiteral("DIR"), pluginPath);
    const QCommandLineOption script(QStringLiteral("script"),
                                    QStringLiteral("Run the commands of FILE."),
                                    QStringLiteral("FILE"));
    const QCommandLineOption input(QStringLiteral("stdin"),
                                   QStringLiteral("Run commands read from standard input."));
    const QCommandLineOption noPlug(QStringLiteral("no-plug-manager"),
                                    QStringLiteral("Run without a PlugWorkflowManager."));
    const QCommandLineOption noPower(QStringLiteral("no-power-manager"),
                                     QStringLiteral("Run without an N3PowerWorkflowManager."));
    const QCommandLineOption noWifi(QStringLiteral("no-wifi-watchdog"),
                                    QStringLiteral("Run without a WirelessWatchdog."));
    const QCommandLineOption wifiIdle(
        QStringLiteral("wifi-idle"),
        QStringLiteral("Idle time before the watchdog asks to turn Wi-Fi off (default 120000)."),
        QStringLiteral("MS"), QString::number(wifiIdleMs));
    for (const QCommandLineOption &option :
         {size, config, storage, plugins, script, input, noPlug, noPower, noWifi, wifiIdle})
        parser.addOption(option);

    if (!parser.parse(arguments)) {
        std::fprintf(stderr, "nickel-sim: %s\n", qPrintable(parser.errorText()));
        return Outcome::Invalid;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return Outcome::HelpShown;
    }
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "nickel-sim: unexpected argument %s\n",
                     qPrintable(parser.positionalArguments().first()));
        return Outcome::Invalid;
    }
    if (!parseSize(parser.value(size), &screenSize)) {
        std::fprintf(stderr, "nickel-sim: --size wants WxH, for example 1072x1448\n");
        return Outcome::Invalid;
    }
    bool idleValid = false;
    wifiIdleMs = parser.value(wifiIdle).toInt(&idleValid);
    if (!idleValid || wifiIdleMs < 0) {
        std::fprintf(stderr, "nickel-sim: --wifi-idle wants milliseconds, for example 2000\n");
        return Outcome::Invalid;
    }
    configPath = parser.value(config);
    storagePath = parser.value(storage);
    pluginPath = parser.value(plugins);
    scriptPath = parser.value(script);
    readStandardInput = parser.isSet(input);
    plugManager = !parser.isSet(noPlug);
    powerManager = !parser.isSet(noPower);
    wifiWatchdog = !parser.isSet(noWifi);
    return Outcome::Run;
}
