// The stand-in's libnickel.so.1.0.0 as a plugin inside the host sees it: found
// already loaded by its soname, its four functions found by mangled name and
// called as plain functions with the manager as their object.

#include "n3powerworkflowmanager.h"
#include "plugworkflowmanager.h"

#include <QtTest>

#include <dlfcn.h>

namespace {

using SharedInstance = void *(*)();
using MemberCall = void (*)(void *);

void *loadedNickel()
{
    return dlopen("libnickel.so.1.0.0", RTLD_LAZY | RTLD_NOLOAD);
}

template <typename Function> Function lookUp(const char *symbol)
{
    void *nickel = loadedNickel();
    return nickel ? reinterpret_cast<Function>(dlsym(nickel, symbol)) : nullptr;
}

} // namespace

class TestSimLibNickel : public QObject {
    Q_OBJECT

private slots:
    void symbolFoundInLoadedLibrary_data();
    void symbolFoundInLoadedLibrary();
    void sharedInstanceFollowsHost_data();
    void sharedInstanceFollowsHost();
    void syncCountedAndReported();
    void rebootReported();
};

void TestSimLibNickel::symbolFoundInLoadedLibrary_data()
{
    QTest::addColumn<QByteArray>("symbol");
    QTest::newRow("plug manager instance")
        << QByteArray("_ZN19PlugWorkflowManager14sharedInstanceEv");
    QTest::newRow("plug manager sync") << QByteArray("_ZN19PlugWorkflowManager4syncEv");
    QTest::newRow("power manager instance")
        << QByteArray("_ZN22N3PowerWorkflowManager14sharedInstanceEv");
    QTest::newRow("power manager reboot") << QByteArray("_ZN22N3PowerWorkflowManager6rebootEv");
}

void TestSimLibNickel::symbolFoundInLoadedLibrary()
{
    QFETCH(QByteArray, symbol);
    void *nickel = loadedNickel();
    QVERIFY2(nickel, "libnickel.so.1.0.0 is not loaded under that soname");
    void *address = dlsym(nickel, symbol.constData());
    QVERIFY2(address, dlerror());
    // The definition must come from the library itself, not from a copy that
    // was linked into this program.
    Dl_info info;
    QVERIFY(dladdr(address, &info) != 0);
    QVERIFY(info.dli_fname);
    QVERIFY2(QByteArray(info.dli_fname).endsWith("/libnickel.so.1.0.0"), info.dli_fname);
}

void TestSimLibNickel::sharedInstanceFollowsHost_data()
{
    QTest::addColumn<bool>("published");
    QTest::newRow("host without managers") << false;
    QTest::newRow("host with managers") << true;
}

void TestSimLibNickel::sharedInstanceFollowsHost()
{
    QFETCH(bool, published);
    const auto plugInstance = lookUp<SharedInstance>("_ZN19PlugWorkflowManager14sharedInstanceEv");
    const auto powerInstance =
        lookUp<SharedInstance>("_ZN22N3PowerWorkflowManager14sharedInstanceEv");
    QVERIFY(plugInstance && powerInstance);
    {
        PlugWorkflowManager plug({});
        N3PowerWorkflowManager power({});
        if (published) {
            PlugWorkflowManager::setSharedInstance(&plug);
            N3PowerWorkflowManager::setSharedInstance(&power);
        }
        QCOMPARE(plugInstance(), published ? static_cast<void *>(&plug) : nullptr);
        QCOMPARE(powerInstance(), published ? static_cast<void *>(&power) : nullptr);
    }
    // A manager that is gone is never handed out.
    QCOMPARE(plugInstance(), nullptr);
    QCOMPARE(powerInstance(), nullptr);
}

void TestSimLibNickel::syncCountedAndReported()
{
    QList<int> reported;
    PlugWorkflowManager manager([&reported](int count) { reported << count; });
    PlugWorkflowManager::setSharedInstance(&manager);
    const auto instance = lookUp<SharedInstance>("_ZN19PlugWorkflowManager14sharedInstanceEv");
    const auto sync = lookUp<MemberCall>("_ZN19PlugWorkflowManager4syncEv");
    QVERIFY(instance && sync);
    for (int call = 0; call < 3; ++call)
        sync(instance());
    QCOMPARE(manager.syncCount(), 3);
    QCOMPARE(reported, QList<int>({1, 2, 3}));
    PlugWorkflowManager::setSharedInstance(nullptr);
}

void TestSimLibNickel::rebootReported()
{
    int reboots = 0;
    N3PowerWorkflowManager manager([&reboots] { ++reboots; });
    N3PowerWorkflowManager::setSharedInstance(&manager);
    const auto instance = lookUp<SharedInstance>("_ZN22N3PowerWorkflowManager14sharedInstanceEv");
    const auto reboot = lookUp<MemberCall>("_ZN22N3PowerWorkflowManager6rebootEv");
    QVERIFY(instance && reboot);
    reboot(instance());
    QCOMPARE(reboots, 1);
    QCOMPARE(manager.rebootCount(), 1);
    N3PowerWorkflowManager::setSharedInstance(nullptr);
}

QTEST_GUILESS_MAIN(TestSimLibNickel)
#include "tst_simlibnickel.moc"
