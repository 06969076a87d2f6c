// An image-format module made of faults that the e-reader cannot load, for
// the ABI audit's own test (tst_abiaudit.py), which requires the audit to
// report each of them. Built here only; never installed.
//  - a Qt symbol that the reader's Qt 5.2.1 does not export:
//    QPushButton::hitButton(), which the virtual table of a push button
//    built with newer Qt headers points at;
//  - a C library function newer than glibc 2.19: getrandom (GLIBC_2.25);
//  - an export beside the two plugin entry points;
//  - the metadata block that the moc of Qt 5.15 writes (CBOR).
// It also makes a call that every Qt has, qVersion(), which must pass.

#include <QtGlobal>

#include <sys/random.h>

// Declared by its mangled name, so that it is referred to whichever Qt the
// module is built with, and left for the dynamic loader to find.
extern "C" bool pushButtonHitButton(const void *button, const void *point) __asm__(
    "_ZNK11QPushButton9hitButtonERK6QPoint");

__attribute__((section(".qtmetadata"), used)) static const char metadata[] =
    "QTMETADATA !\x00\x05\x0f\x00\xbf\x02\x78\x30";

extern "C" __attribute__((visibility("default"))) const char *qt_plugin_query_metadata()
{
    return metadata;
}

extern "C" __attribute__((visibility("default"))) void *qt_plugin_instance()
{
    pushButtonHitButton(nullptr, qVersion());
    return nullptr;
}

extern "C" __attribute__((visibility("default"))) long zorvi_bad_export(void *buffer,
                                                                        unsigned long size)
{
    return getrandom(buffer, size, 0);
}
