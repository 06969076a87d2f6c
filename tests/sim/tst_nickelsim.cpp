// nickel-sim run as a process on the offscreen platform, steered by script
// commands on its standard input and observed through its output lines.

#include <QtTest>

namespace {

const QString nickelConfig = QStringLiteral("/mnt/onboard/.kobo/Kobo/Kobo eReader.conf");

struct HostRun {
    bool finished = false;
    QProcess::ExitStatus exitStatus = QProcess::CrashExit;
    int exitCode = -1;
    QStringList lines;

    // The first line, from position FROM on, matching PATTERN; -1 if none.
    int indexOf(const QString &pattern, int from = 0) const
    {
        const QRegularExpression expression(pattern);
        for (int i = from; i < lines.size(); ++i) {
            if (expression.match(lines.at(i)).hasMatch())
                return i;
        }
        return -1;
    }

    int count(const QString &pattern) const
    {
        int found = 0;
        for (int i = indexOf(pattern); i >= 0; i = indexOf(pattern, i + 1))
            ++found;
        return found;
    }

    // The missing pattern, or an empty string when all match in this order.
    QString missingInOrder(const QStringList &patterns) const
    {
        int from = 0;
        for (const QString &pattern : patterns) {
            const int at = indexOf(pattern, from);
            if (at < 0)
                return pattern;
            from = at + 1;
        }
        return QString();
    }

    // One field of the first "find NAME" description, e.g. "class".
    QString found(const QString &name, const QString &field) const
    {
        const int at = indexOf(QStringLiteral("^nickel-sim: find %1: class=").arg(name));
        if (at < 0)
            return QString();
        const QRegularExpression pair(QStringLiteral(" %1=(.*?)(?= \\w+=|$)").arg(field));
        return pair.match(lines.at(at)).captured(1);
    }

    QRect foundGeometry(const QString &name) const
    {
        const QRegularExpression pattern(QStringLiteral("^(-?\\d+),(-?\\d+) (\\d+)x(\\d+)$"));
        const QRegularExpressionMatch match =
            pattern.match(found(name, QStringLiteral("geometry")));
        if (!match.hasMatch())
            return QRect();
        return QRect(match.captured(1).toInt(), match.captured(2).toInt(),
                     match.captured(3).toInt(), match.captured(4).toInt());
    }

    QByteArray output() const { return lines.join(QLatin1Char('\n')).toUtf8(); }
};

// Runs nickel-sim with INPUT on its standard input until it ends. Without a
// --plugin-path among OPTIONS it gets an empty plugin folder.
HostRun runHost(const QByteArray &input, QStringList options = {},
                const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
{
    if (!options.contains(QStringLiteral("--plugin-path")))
        options << QStringLiteral("--plugin-path") << QStringLiteral(NO_PLUGINS);
    QProcess host;
    host.setProcessEnvironment(environment);
    host.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    host.start(QStringLiteral(NICKEL_SIM), options << QStringLiteral("--stdin"));
    HostRun run;
    if (!host.waitForStarted(5000))
        return run;
    host.write(input);
    host.closeWriteChannel();
    run.finished = host.waitForFinished(15000);
    if (!run.finished) {
        host.kill();
        host.waitForFinished(1000);
    }
    run.exitStatus = host.exitStatus();
    run.exitCode = host.exitCode();
    run.lines = QString::fromUtf8(host.readAllStandardOutput()).split(QLatin1Char('\n'));
    return run;
}

bool isolated()
{
    QFile mounts(QStringLiteral("/proc/self/mounts"));
    return mounts.open(QIODevice::ReadOnly) && mounts.readAll().contains("zorvi-mnt /mnt tmpfs");
}

bool isDark(QRgb pixel)
{
    return 3 * qRed(pixel) + 4 * qGreen(pixel) + qBlue(pixel) < 1024;
}

} // namespace

class TestNickelSim : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void statusBarStructure_data();
    void statusBarStructure();
    void screenSize_data();
    void screenSize();
    void searchGlyphDarkOnLight();
    void readingViewLifecycle();
    void scriptCommands_data();
    void scriptCommands();
    void exitBehaviour_data();
    void exitBehaviour();
    void locale_data();
    void locale();
    void pluginLoading_data();
    void pluginLoading();
    void hostFunctions_data();
    void hostFunctions();

private:
    QTemporaryDir scratch;
};

void TestNickelSim::initTestCase()
{
    // The locale rows write Nickel's settings file under /mnt.
    QVERIFY2(isolated(), "run this test through scripts/isolate");
    QVERIFY(scratch.isValid());
    // The offscreen platform wants a private runtime folder.
    const QString runtime = scratch.filePath(QStringLiteral("runtime"));
    QVERIFY(QDir().mkpath(runtime));
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
}

void TestNickelSim::statusBarStructure_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("layout");
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QString>("sizeHint");

    QTest::newRow("home status bar is a StatusBarView") << "homeStatusBar"
                                                        << "StatusBarView"
                                                        << "QHBoxLayout"
                                                        << "homeView"
                                                        << "";
    QTest::newRow("icon row is a box layout nested in the bar") << "iconContainer"
                                                                << "QWidget"
                                                                << "QHBoxLayout"
                                                                << "statusBarRightSide"
                                                                << "";
    QTest::newRow("search icon is a direct child of the row, a 30th of the screen high")
        << "searchIcon"
        << "StatusIndicator"
        << "none"
        << "iconContainer"
        << "48x48";
}

void TestNickelSim::statusBarStructure()
{
    QFETCH(QString, name);
    QFETCH(QString, className);
    QFETCH(QString, layout);
    QFETCH(QString, parent);
    QFETCH(QString, sizeHint);

    const HostRun run = runHost(QStringLiteral("find %1\nquit\n").arg(name).toUtf8());
    QVERIFY2(run.finished, run.output());
    QCOMPARE(run.found(name, QStringLiteral("class")), className);
    QCOMPARE(run.found(name, QStringLiteral("visible")), QStringLiteral("yes"));
    QCOMPARE(run.found(name, QStringLiteral("layout")), layout);
    QCOMPARE(run.found(name, QStringLiteral("parent")), parent);
    if (!sizeHint.isEmpty())
        QCOMPARE(run.found(name, QStringLiteral("sizehint")), sizeHint);
    if (name != QLatin1String("homeStatusBar")) {
        const QString ancestors = run.found(name, QStringLiteral("ancestors"));
        QVERIFY2(ancestors.contains(QStringLiteral("StatusBarView,HomeView")),
                 qPrintable(ancestors));
    }
}

void TestNickelSim::screenSize_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QSize>("screen");
    QTest::addColumn<int>("iconSize");

    QTest::newRow("default screen") << QStringList() << QSize(1072, 1448) << 48;
    QTest::newRow("smaller screen") << QStringList{"--size", "758x1024"} << QSize(758, 1024) << 34;
    QTest::newRow("larger screen") << QStringList{"--size", "1264x1680"} << QSize(1264, 1680) << 56;
}

void TestNickelSim::screenSize()
{
    QFETCH(QStringList, options);
    QFETCH(QSize, screen);
    QFETCH(int, iconSize);

    const QString shot = scratch.filePath(QStringLiteral("%1.png").arg(QTest::currentDataTag()));
    const HostRun run = runHost(
        QStringLiteral("find searchIcon\nscreenshot %1\nquit\n").arg(shot).toUtf8(), options);
    QVERIFY2(run.finished, run.output());
    QCOMPARE(run.found(QStringLiteral("searchIcon"), QStringLiteral("sizehint")),
             QStringLiteral("%1x%1").arg(iconSize));
    QCOMPARE(QImage(shot).size(), screen);
}

void TestNickelSim::searchGlyphDarkOnLight()
{
    const QString shot = scratch.filePath(QStringLiteral("glyph.png"));
    const HostRun run =
        runHost(QStringLiteral("find iconContainer\nfind searchIcon\nscreenshot %1\nquit\n")
                    .arg(shot)
                    .toUtf8());
    QVERIFY2(run.finished, run.output());
    const QRect row = run.foundGeometry(QStringLiteral("iconContainer"));
    const QRect search = run.foundGeometry(QStringLiteral("searchIcon"));
    QVERIFY(row.isValid() && search.isValid());
    // The search icon closes the row, so an icon put before it stays inside.
    QCOMPARE(search.right(), row.right());

    const QImage icon = QImage(shot).copy(search);
    QCOMPARE(icon.size(), search.size());
    int dark = 0;
    for (int y = 0; y < icon.height(); ++y) {
        for (int x = 0; x < icon.width(); ++x)
            dark += isDark(icon.pixel(x, y));
    }
    QVERIFY2(dark > icon.width(), "no glyph drawn");
    QVERIFY2(dark < icon.width() * icon.height() / 3, "glyph is not on a light ground");
    for (const QPoint corner : {QPoint(0, 0), QPoint(icon.width() - 1, icon.height() - 1)})
        QVERIFY(!isDark(icon.pixel(corner)));
}

void TestNickelSim::readingViewLifecycle()
{
    const HostRun run = runHost("find readingView\n"
                                "open-book\n"
                                "find readingView\n"
                                "find readingStatusBar\n"
                                "find searchIcon\n"
                                "close-book\n"
                                "find readingView\n"
                                "open-book\n"
                                "destroy-book\n"
                                "find readingView\n"
                                "quit\n");
    QVERIFY2(run.finished, run.output());
    const QString missing = run.missingInOrder({
        "^nickel-sim: find readingView: not found$",
        "^nickel-sim: reading view created$",
        "^nickel-sim: status bar readingStatusBar created$",
        "^nickel-sim: book opened$",
        "^nickel-sim: find readingView: class=ReadingView .* visible=yes",
        "^nickel-sim: find readingStatusBar: class=StatusBarView .* visible=yes .* "
        "ancestors=ReadingView,",
        "^nickel-sim: find searchIcon: .* visible=yes .*ancestors=.*StatusBarView,ReadingView",
        "^nickel-sim: book closed$",
        "^nickel-sim: find readingView: class=ReadingView .* visible=no",
        "^nickel-sim: book opened$",
        "^nickel-sim: reading view destroyed$",
        "^nickel-sim: find readingView: not found$",
    });
    QVERIFY2(missing.isEmpty(), qPrintable(missing + QLatin1Char('\n') + run.output()));
    // One view, and one status bar for it, however often the book opens.
    QCOMPARE(run.count(QStringLiteral("reading view created")), 1);
    QCOMPARE(run.count(QStringLiteral("status bar readingStatusBar created")), 1);
}

void TestNickelSim::scriptCommands_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("comments and blank lines are skipped")
        << QByteArray("# home screen\n\n   \n  find homeTitle  \nquit\n")
        << QStringList{"^nickel-sim: find homeTitle: class=QLabel", "^nickel-sim: quit$"};
    QTest::newRow("unknown command is reported and the script goes on")
        << QByteArray("fly away\nfind homeTitle\nquit\n")
        << QStringList{"^nickel-sim: error: unknown command fly$",
                       "^nickel-sim: find homeTitle: class=", "^nickel-sim: quit$"};
    QTest::newRow("missing argument is reported")
        << QByteArray("tap\nquit\n")
        << QStringList{"^nickel-sim: error: tap needs an argument$", "^nickel-sim: quit$"};
    QTest::newRow("tap on a missing widget is reported")
        << QByteArray("tap nothingHere\nquit\n")
        << QStringList{"^nickel-sim: error: no visible widget nothingHere to tap$",
                       "^nickel-sim: quit$"};
    QTest::newRow("tap on a hidden widget is reported")
        << QByteArray("open-book\ntap homeTitle\nquit\n")
        << QStringList{"^nickel-sim: book opened$",
                       "^nickel-sim: error: no visible widget homeTitle to tap$"};
    QTest::newRow("a touch on a cover opens the book")
        << QByteArray("tap bookCover2\nfind readingView\nquit\n")
        << QStringList{"^nickel-sim: tap bookCover2 at \\d+,\\d+$", "^nickel-sim: book opened$",
                       "^nickel-sim: find readingView: class=ReadingView .* visible=yes"};
    QTest::newRow("wait holds the next command back")
        << QByteArray("wait 300\nnew-statusbar\nquit\n")
        << QStringList{"^nickel-sim: home shown$",
                       "^nickel-sim: status bar extraStatusBar1 shown$"};
    QTest::newRow("bad wait is reported")
        << QByteArray("wait soon\nquit\n")
        << QStringList{"^nickel-sim: error: wait wants milliseconds, not soon$"};
    QTest::newRow("new status bars are shown over the screen")
        << QByteArray("new-statusbar\nnew-statusbar\nfind extraStatusBar2\nquit\n")
        << QStringList{"^nickel-sim: status bar extraStatusBar1 shown$",
                       "^nickel-sim: status bar extraStatusBar2 shown$",
                       "^nickel-sim: find extraStatusBar2: class=StatusBarView geometry=0,1304 "
                       "1072x72 visible=yes"};
    QTest::newRow("closing without a book")
        << QByteArray("close-book\ndestroy-book\nquit\n")
        << QStringList{"^nickel-sim: no book open$", "^nickel-sim: no reading view$"};
}

void TestNickelSim::scriptCommands()
{
    QFETCH(QByteArray, input);
    QFETCH(QStringList, expected);

    const HostRun run = runHost(input);
    QVERIFY2(run.finished, run.output());
    QCOMPARE(run.exitCode, 0);
    const QString missing = run.missingInOrder(expected);
    QVERIFY2(missing.isEmpty(), qPrintable(missing + QLatin1Char('\n') + run.output()));
}

void TestNickelSim::exitBehaviour_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QByteArray>("scriptFile");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<bool>("crashed");
    QTest::addColumn<int>("exitCode");

    QTest::newRow("quit exits with 0")
        << QStringList() << QByteArray() << QByteArray("quit\n") << false << 0;
    QTest::newRow("crash aborts") << QStringList() << QByteArray() << QByteArray("crash\n") << true
                                  << 0;
    QTest::newRow("quit from a script file")
        << QStringList() << QByteArray("open-book\n# done\nquit") << QByteArray() << false << 0;
    QTest::newRow("script file runs before standard input")
        << QStringList() << QByteArray("quit\n") << QByteArray("crash\n") << false << 0;
    QTest::newRow("unknown option")
        << QStringList{"--bogus"} << QByteArray() << QByteArray("quit\n") << false << 2;
    QTest::newRow("malformed size")
        << QStringList{"--size", "large"} << QByteArray() << QByteArray("quit\n") << false << 2;
    QTest::newRow("unreadable script file") << QStringList{"--script", "/nonexistent/script"}
                                            << QByteArray() << QByteArray("quit\n") << false << 2;
}

void TestNickelSim::exitBehaviour()
{
    QFETCH(QStringList, options);
    QFETCH(QByteArray, scriptFile);
    QFETCH(QByteArray, input);
    QFETCH(bool, crashed);
    QFETCH(int, exitCode);

    if (!scriptFile.isEmpty()) {
        const QString path = scratch.filePath(QStringLiteral("script.txt"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(scriptFile);
        file.close();
        options << QStringLiteral("--script") << path;
    }
    const HostRun run = runHost(input, options);
    QVERIFY2(run.finished, run.output());
    QCOMPARE(run.exitStatus == QProcess::CrashExit, crashed);
    if (!crashed)
        QCOMPARE(run.exitCode, exitCode);
}

void TestNickelSim::locale_data()
{
    QTest::addColumn<QByteArray>("deviceSettings");
    QTest::addColumn<QByteArray>("otherSettings");
    QTest::addColumn<QString>("expected");

    QTest::newRow("device settings file")
        << QByteArray("[ApplicationPreferences]\nCurrentLocale=de_DE\n") << QByteArray()
        << "locale de_DE";
    QTest::newRow("key missing") << QByteArray("[ApplicationPreferences]\nOther=1\n")
                                 << QByteArray() << "locale not set";
    QTest::newRow("no settings file") << QByteArray() << QByteArray() << "locale not set";
    QTest::newRow("--config names another file")
        << QByteArray("[ApplicationPreferences]\nCurrentLocale=de_DE\n")
        << QByteArray("[ApplicationPreferences]\nCurrentLocale=pt_BR\n") << "locale pt_BR";
}

void TestNickelSim::locale()
{
    QFETCH(QByteArray, deviceSettings);
    QFETCH(QByteArray, otherSettings);
    QFETCH(QString, expected);

    const auto writeFile = [](const QString &path, const QByteArray &content) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
               file.write(content) == content.size();
    };
    QFile::remove(nickelConfig);
    if (!deviceSettings.isEmpty())
        QVERIFY(writeFile(nickelConfig, deviceSettings));
    QStringList options;
    if (!otherSettings.isEmpty()) {
        const QString path = scratch.filePath(QStringLiteral("other.conf"));
        QVERIFY(writeFile(path, otherSettings));
        options << QStringLiteral("--config") << path;
    }
    const HostRun run = runHost("quit\n", options);
    QVERIFY2(run.finished, run.output());
    QVERIFY2(run.indexOf(QStringLiteral("^nickel-sim: %1$").arg(expected)) >= 0, run.output());
}

void TestNickelSim::pluginLoading_data()
{
    QTest::addColumn<QString>("pluginPath");
    QTest::addColumn<bool>("loaded");

    QTest::newRow("plugin under a library name") << MARKER_PLUGINS << true;
    // Qt's loader on Linux reads every file of the folder whatever its suffix,
    // so renaming the file alone does not keep a plugin out.
    QTest::newRow("plugin under a failsafe name") << FAILSAFE_PLUGINS << true;
    QTest::newRow("empty plugin folder") << NO_PLUGINS << false;
}

void TestNickelSim::pluginLoading()
{
    QFETCH(QString, pluginPath);
    QFETCH(bool, loaded);

    const HostRun run = runHost("quit\n", {QStringLiteral("--plugin-path"), pluginPath});
    QVERIFY2(run.finished, run.output());
    if (!loaded) {
        QCOMPARE(run.indexOf(QStringLiteral("^marker-plugin:")), -1);
        return;
    }
    const QString missing = run.missingInOrder({
        "^nickel-sim: started ",
        "^nickel-sim: loading image formats from " + QRegularExpression::escape(pluginPath) + "$",
        "^marker-plugin: loaded with application on its thread$",
        "^marker-plugin: instantiated$",
        "^nickel-sim: image formats loaded: ",
        "^nickel-sim: home shown$",
    });
    QVERIFY2(missing.isEmpty(), qPrintable(missing + QLatin1Char('\n') + run.output()));
}

void TestNickelSim::hostFunctions_data()
{
    QTest::addColumn<QByteArray>("calls");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QString>("absent");
    QTest::addColumn<int>("exitCode");

    QTest::newRow("sync reaches the host and is counted")
        << QByteArray("sync,sync") << QStringList()
        << QStringList{"^marker-plugin: libnickel found$", "^nickel-sim: library sync 1$",
                       "^marker-plugin: PlugWorkflowManager called$",
                       "^nickel-sim: library sync 2$",
                       "^nickel-sim: find syncNotice: .* visible=yes"}
        << "" << 0;
    QTest::newRow("host without PlugWorkflowManager")
        << QByteArray("sync") << QStringList{"--no-plug-manager"}
        << QStringList{"^marker-plugin: libnickel found$",
                       "^marker-plugin: no PlugWorkflowManager$", "^nickel-sim: quit$"}
        << "library sync" << 0;
    QTest::newRow("reboot ends the host")
        << QByteArray("reboot") << QStringList()
        << QStringList{"^nickel-sim: reboot$", "^marker-plugin: N3PowerWorkflowManager called$",
                       "^nickel-sim: exit 3$"}
        << "" << 3;
    QTest::newRow("host without N3PowerWorkflowManager")
        << QByteArray("reboot") << QStringList{"--no-power-manager"}
        << QStringList{"^marker-plugin: no N3PowerWorkflowManager$", "^nickel-sim: quit$"}
        << "nickel-sim: reboot" << 0;
}

void TestNickelSim::hostFunctions()
{
    QFETCH(QByteArray, calls);
    QFETCH(QStringList, options);
    QFETCH(QStringList, expected);
    QFETCH(QString, absent);
    QFETCH(int, exitCode);

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("MARKER_PLUGIN_CALLS"), QString::fromLatin1(calls));
    options << QStringLiteral("--plugin-path") << QStringLiteral(MARKER_PLUGINS);
    const HostRun run = runHost("find syncNotice\nquit\n", options, environment);
    QVERIFY2(run.finished, run.output());
    QCOMPARE(run.exitStatus, QProcess::NormalExit);
    QCOMPARE(run.exitCode, exitCode);
    const QString missing = run.missingInOrder(expected);
    QVERIFY2(missing.isEmpty(), qPrintable(missing + QLatin1Char('\n') + run.output()));
    if (!absent.isEmpty())
        QCOMPARE(run.indexOf(absent), -1);
}

QTEST_GUILESS_MAIN(TestNickelSim)
#include "tst_nickelsim.moc"
