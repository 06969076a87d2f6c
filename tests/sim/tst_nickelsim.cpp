// nickel-sim run as a process on the offscreen platform, steered by a script
// file (as the add-on's tests steer it) and observed through its output lines.

#include <QtTest>

namespace {

struct HostRun {
    bool finished = false;
    bool crashed = false;
    int exitCode = -1;
    QStringList lines;

    int indexOf(const QString &pattern, int from = 0) const
    {
        for (int i = from; i < lines.size(); ++i) {
            if (QRegularExpression(pattern).match(lines.at(i)).hasMatch())
                return i;
        }
        return -1;
    }
    // The first of PATTERNS not matched by a line after the match of the one
    // before it, or an empty string when all match in this order.
    QString missingInOrder(const QStringList &patterns) const
    {
        int at = -1;
        for (const QString &pattern : patterns) {
            if ((at = indexOf(pattern, at + 1)) < 0)
                return pattern;
        }
        return {};
    }
    QByteArray text() const { return lines.join(QLatin1Char('\n')).toUtf8(); }
};

// Runs nickel-sim with OPTIONS on SCRIPT until it ends, with the marker
// plugin loaded to make the host CALLS at load time.
HostRun runHost(const QString &folder, const QByteArray &script, QStringList options = {},
                const QByteArray &calls = {})
{
    static int runs = 0;
    QFile file(QStringLiteral("%1/script-%2").arg(folder).arg(++runs));
    if (!file.open(QIODevice::WriteOnly) || file.write(script) != script.size())
        return {};
    file.close();
    QProcess host;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("MARKER_PLUGIN_CALLS"), QString::fromLatin1(calls));
    host.setProcessEnvironment(environment);
    host.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    host.start(QStringLiteral(NICKEL_SIM),
               options << QStringLiteral("--plugin-path") << QStringLiteral(MARKER_PLUGINS)
                       << QStringLiteral("--script") << file.fileName());
    HostRun run;
    run.finished = host.waitForFinished(15000);
    if (!run.finished)
        host.kill();
    host.waitForFinished(1000);
    run.crashed = host.exitStatus() == QProcess::CrashExit;
    run.exitCode = host.exitCode();
    run.lines = QString::fromUtf8(host.readAllStandardOutput()).split(QLatin1Char('\n'));
    return run;
}

} // namespace

class TestNickelSim : public QObject {
    Q_OBJECT

private slots:

    void initTestCase()
    {
        // Nickel's settings file is written under /mnt, which must be a private one.
        QFile mounts(QStringLiteral("/proc/self/mounts"));
        QVERIFY(mounts.open(QIODevice::ReadOnly));
        QVERIFY2(mounts.readAll().contains("zorvi-mnt /mnt tmpfs"), "run through scripts/isolate");
        QVERIFY(scratch.isValid());
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(scratch.path()));
        QVERIFY(QDir().mkpath(QStringLiteral("/mnt/onboard/.kobo/Kobo")));
        QFile settings(QStringLiteral("/mnt/onboard/.kobo/Kobo/Kobo eReader.conf"));
        QVERIFY(settings.open(QIODevice::WriteOnly));
        settings.write("[ApplicationPreferences]\nCurrentLocale=de_DE\n");
    }

    // The stand-in's own behaviour. Loading a plugin under the failsafe name,
    // crashing, and rebooting with status 3 are covered with the real module by
    // tst_startup and tests/walk.
    void script_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QByteArray>("calls");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QStringList>("expected"); // in this order
        QTest::addColumn<QStringList>("once");     // matched by exactly one line

        QTest::newRow("the device's locale, named widgets of the home status bar")
            << QStringList() << QByteArray()
            << QByteArray("find homeStatusBar\nfind iconContainer\nfind searchIcon\nquit\n")
            << QStringList{"nickel-sim: locale de_DE$",
                           "find homeStatusBar: class=StatusBarView .* visible=yes",
                           "find iconContainer: .* visible=yes .* layout=QHBoxLayout "
                           ".*ancestors=.*StatusBarView,HomeView",
                           "find searchIcon: .* visible=yes sizehint=48x48 .* "
                           "parent=iconContainer ",
                           "nickel-sim: quit$"}
            << QStringList();
        QTest::newRow("reading view with its own status bar, made once")
            << QStringList() << QByteArray()
            << QByteArray("open-book\nfind readingView\nfind readingStatusBar\nfind searchIcon\n"
                          "close-book\ntap bookCover2\nquit\n")
            << QStringList{"book opened",
                           "find readingView: class=ReadingView .* visible=yes",
                           "find readingStatusBar: class=StatusBarView .* visible=yes "
                           ".*ancestors=ReadingView,",
                           "find searchIcon: .* visible=yes "
                           ".*ancestors=.*StatusBarView,ReadingView",
                           "book closed",
                           "tap bookCover2 at",
                           "book opened"}
            << QStringList{"reading view created", "status bar readingStatusBar created"};
        QTest::newRow("sync counted and shown")
            << QStringList() << QByteArray("sync,sync") << QByteArray("find syncNotice\nquit\n")
            << QStringList{"marker-plugin: loaded with application on its thread$",
                           "marker-plugin: libnickel found$", "nickel-sim: library sync 1$",
                           "nickel-sim: library sync 2$", "find syncNotice: .* visible=yes"}
            << QStringList();
        QTest::newRow("host without managers")
            << QStringList{"--no-plug-manager", "--no-power-manager"} << QByteArray("sync,reboot")
            << QByteArray("quit\n")
            << QStringList{"marker-plugin: no PlugWorkflowManager$",
                           "marker-plugin: no N3PowerWorkflowManager$"}
            << QStringList();
    }

    void script()
    {
        QFETCH(QStringList, options);
        QFETCH(QByteArray, calls);
        QFETCH(QByteArray, input);
        QFETCH(QStringList, expected);
        QFETCH(QStringList, once);

        const HostRun run = runHost(scratch.path(), input, options, calls);
        QVERIFY2(run.finished && !run.crashed, run.text());
        QCOMPARE(run.exitCode, 0);
        const QString missing = run.missingInOrder(expected);
        QVERIFY2(missing.isEmpty(), qPrintable(missing + QLatin1Char('\n') + run.text()));
        for (const QString &pattern : once) {
            const int first = run.indexOf(pattern);
            QVERIFY2(first >= 0 && run.indexOf(pattern, first + 1) < 0, qPrintable(pattern));
        }
    }

    void screenshotShowsSearchGlyph()
    {
        const QString shot = scratch.path() + QStringLiteral("/shot.png");
        const HostRun run = runHost(scratch.path(), "find searchIcon\nscreenshot " +
                                                        QFile::encodeName(shot) + "\nquit\n");
        QVERIFY2(run.finished && run.exitCode == 0, run.text());
        const QImage screen(shot);
        QCOMPARE(screen.size(), QSize(1072, 1448));

        const QRegularExpressionMatch at =
            QRegularExpression(
                QStringLiteral("find searchIcon: .* geometry=(\\d+),(\\d+) (\\d+)x(\\d+)"))
                .match(QString::fromUtf8(run.text()));
        QVERIFY2(at.hasMatch(), run.text());
        const QImage icon = screen.copy(at.captured(1).toInt(), at.captured(2).toInt(),
                                        at.captured(3).toInt(), at.captured(4).toInt());
        int dark = 0;
        for (int y = 0; y < icon.height(); ++y) {
            for (int x = 0; x < icon.width(); ++x)
                dark += qGray(icon.pixel(x, y)) < 128;
        }
        QVERIFY2(dark > icon.width(), "no glyph drawn");
        QVERIFY2(dark < icon.width() * icon.height() / 3, "glyph is not on a light ground");
    }

private:
    QTemporaryDir scratch;
};

QTEST_GUILESS_MAIN(TestNickelSim)
#include "tst_nickelsim.moc"
