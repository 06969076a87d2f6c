#include "pairpage.h"

#include "pagelanguage.h"
#include "webpage.h"

#include <QRegularExpression>

namespace zorvid {

HttpReply pairPage(int status, const PageLanguage &language, const QString &code,
                   const QString &name, const QString &message)
{
    PageData data;
    for (const char *key : {"pairTitle", "pairIntro", "codeLabel", "nameLabel", "pairButton"})
        data.set(key, pageValue(language.text(key)));
    data.set("code", pageValue(code.left(16)));
    data.set("name", pageValue(name.left(64)));
    if (!message.isEmpty())
        data.set("message", pageValue(message));
    return pageReply(status, "pair", language.text("pairTitle"), language, data);
}

QString deviceNameFor(const QByteArray &userAgent)
{
    const QString agent = QString::fromLatin1(userAgent.left(512));
    const auto has = [&agent](const char *word) {
        return agent.contains(QLatin1String(word), Qt::CaseInsensitive);
    };
    for (const char *device : {"iPhone", "iPad", "iPod"}) {
        if (has(device))
            return QString::fromLatin1(device);
    }
    if (has("Android")) {
        // "(Linux; Android 14; Pixel 7 Build/UQ1A)": the model, unless the
        // browser hides it (reduced agents send "K").
        static const QRegularExpression model(
            QStringLiteral("Android[^;)]*;\\s*([^;)]+?)(?:\\s+Build/[^;)]*)?\\s*[;)]"));
        const QString found = model.match(agent).captured(1).trimmed();
        return found.size() > 1 && found.size() <= 40 ? found : QStringLiteral("Android");
    }
    if (has("CrOS"))
        return QStringLiteral("Chromebook");
    if (has("Macintosh"))
        return QStringLiteral("Mac");
    if (has("Windows"))
        return QStringLiteral("Windows");
    if (has("Linux"))
        return QStringLiteral("Linux");
    return QString();
}

} // namespace zorvid
