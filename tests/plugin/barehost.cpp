// A process that maps the add-on's module as a program other than Nickel
// might: without a Qt application object, or with one but from another
// thread, as an image read on a worker thread makes Qt do.
//   barehost [--thread] MODULE

#include <QCoreApplication>

#include <dlfcn.h>
#include <thread>

int main(int argc, char **argv)
{
    if (argc < 2)
        return 2;
    const char *module = argv[argc - 1];
    if (argc == 2)
        return dlopen(module, RTLD_NOW) ? 0 : 1;
    QCoreApplication app(argc, argv);
    bool loaded = false;
    std::thread([&] { loaded = dlopen(module, RTLD_NOW) != nullptr; }).join();
    return loaded ? 0 : 1;
}
