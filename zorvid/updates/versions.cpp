#include "updates/versions.h"

#include <QRegularExpression>
#include <QStringList>
#include <QVector>

namespace zorvid {

namespace {

QVector<int> numbers(const QString &version)
{
    QVector<int> result;
    for (const QString &group : version.split(QLatin1Char('.')))
        result.append(group.toInt());
    while (!result.isEmpty() && result.last() == 0)
        result.removeLast();
    return result;
}

} // namespace

// Tagged as in the add-on's library, for whoever looks at an installed
// zorvid (strings zorvid); the version is read from it, so that no linker
// drops it.
const char taggedVersion[] = "zorvi-version " ZORVI_VERSION;

QString builtVersion()
{
    return QString::fromLatin1(taggedVersion + sizeof "zorvi-version " - 1);
}

bool isReleaseVersion(const QString &text)
{
    static const QRegularExpression dotted(QStringLiteral("^[0-9]{1,9}(\\.[0-9]{1,9}){0,5}$"));
    return dotted.match(text).hasMatch();
}

int compareVersions(const QString &a, const QString &b)
{
    const QVector<int> left = numbers(a);
    const QVector<int> right = numbers(b);
    for (int i = 0; i < qMin(left.size(), right.size()); ++i) {
        if (left.at(i) != right.at(i))
            return left.at(i) < right.at(i) ? -1 : 1;
    }
    return left.size() - right.size();
}

} // namespace zorvid
