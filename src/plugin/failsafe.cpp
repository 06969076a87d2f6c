#include "plugin/failsafe.h"

#include "plugin/dynamicloader.h"
#include "plugin/pluginlog.h"

#include <QFile>
#include <QString>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits.h>

namespace zorvi {

namespace {

const char failsafeSuffix[] = ".failsafe";

// Static buffers, written once at start-up before any timer can fire:
// realpath() delivers at most PATH_MAX - 1 characters, and the suffix always
// fits after them.
char pluginPath[PATH_MAX];
char failsafePath[PATH_MAX + 16];
bool armed = false;

} // namespace

bool locateLibrary()
{
    Dl_info info;
    if (dladdr(reinterpret_cast<void *>(&pluginLog), &info) == 0 || !info.dli_fname)
        return false;
    if (!realpath(info.dli_fname, pluginPath))
        return false;
    std::snprintf(failsafePath, sizeof failsafePath, "%s%s", pluginPath, failsafeSuffix);
    return true;
}

bool loadedUnderFailsafeName()
{
    const size_t length = std::strlen(pluginPath);
    const size_t suffixLength = sizeof failsafeSuffix - 1;
    return length >= suffixLength &&
           std::strcmp(pluginPath + length - suffixLength, failsafeSuffix) == 0;
}

bool armFailsafe()
{
    if (!dlopen(pluginPath, RTLD_LAZY | RTLD_NODELETE))
        return false;
    armed = std::rename(pluginPath, failsafePath) == 0;
    return armed;
}

bool restoreFailsafe()
{
    if (!armed)
        return false;
    if (std::rename(failsafePath, pluginPath) != 0) {
        pluginLog(QStringLiteral("failsafe: could not restore plugin"));
        return false;
    }
    armed = false;
    return true;
}

void rearmFailsafe()
{
    armed = std::rename(pluginPath, failsafePath) == 0;
    if (!armed)
        pluginLog(QStringLiteral("failsafe could not be armed again"));
}

void removeLibrary()
{
    QString library = QFile::decodeName(pluginPath);
    if (loadedUnderFailsafeName())
        library.chop(int(sizeof failsafeSuffix) - 1);
    QFile::remove(library);
    QFile::remove(library + QLatin1String(failsafeSuffix));
}

} // namespace zorvi
