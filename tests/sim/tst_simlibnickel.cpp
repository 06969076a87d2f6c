// The stand-in's libnickel.so.1.0.0 as a plugin inside the host sees it: found
// already loaded by its soname, its four functions found by mangled name and
// called as plain functions with the manager as their object.

#include "n3powerworkflowmanager.h"
#include "plugworkflowmanager.h"

#include <QtTest>

#include <dlfcn.h>

namespace {

const char plugInstance[] = "_ZN19PlugWorkflowManager14sharedInstanceEv";
const char plugSync[] = "_ZN19PlugWorkflowManager4syncEv";
const char powerInstance[] = "_ZN22N3PowerWorkflowManager14sharedInstanceEv";
const char powerReboot[] = "_ZN22N3PowerWorkflowManager6rebootEv";

void *lookUp(const char *symbol)
{
    void *nickel = dlopen("libnickel.so.1.0.0", RTLD_LAZY | RTLD_NOLOAD);
    return nickel ? dlsym(nickel, symbol) : nullptr;
}

void call(const char *instanceSymbol, const char *memberSymbol)
{
    void *manager = reinterpret_cast<void *(*)()>(lookUp(instanceSymbol))();
    reinterpret_cast<void (*)(void *)>(lookUp(memberSymbol))(manager);
}

} // namespace

class TestSimLibNickel : public QObject {
    Q_OBJECT

private slots:
    void symbolFoundInLoadedLibrary_data()
    {
        QTest::addColumn<QByteArray>("symbol");
        for (const char *symbol : {plugInstance, plugSync, powerInstance, powerReboot})
            QTest::newRow(symbol) << QByteArray(symbol);
    }

    void symbolFoundInLoadedLibrary()
    {
        QFETCH(QByteArray, symbol);
        QVERIFY2(lookUp(symbol.constData()), dlerror());
    }

    void callsReachTheHost()
    {
        QList<int> syncs;
        int reboots = 0;
        PlugWorkflowManager plug([&syncs](int count) { syncs << count; });
        N3PowerWorkflowManager power([&reboots] { ++reboots; });
        PlugWorkflowManager::setSharedInstance(&plug);
        N3PowerWorkflowManager::setSharedInstance(&power);
        for (const char *symbol : {plugInstance, plugSync, powerInstance, powerReboot})
            QVERIFY(lookUp(symbol));
        call(plugInstance, plugSync);
        call(plugInstance, plugSync);
        call(powerInstance, powerReboot);
        QCOMPARE(syncs, QList<int>({1, 2}));
        QCOMPARE(reboots, 1);
        PlugWorkflowManager::setSharedInstance(nullptr);
        N3PowerWorkflowManager::setSharedInstance(nullptr);
    }
};

QTEST_GUILESS_MAIN(TestSimLibNickel)
#include "tst_simlibnickel.moc"
