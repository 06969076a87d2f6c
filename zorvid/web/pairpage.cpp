#include "pairpage.h"

#include "pagelanguage.h"
#include "webpage.h"

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
        // "(Linux; Android 14; Pixel 7 Build/UQ1A)": the model, the field
        // after Android's, unless the browser hides it (reduced agents send
        // "K", Firefox "Mobile").
        const int android = agent.indexOf(QLatin1String("Android"), 0, Qt::CaseInsensitive);
        const int start = agent.indexOf(QLatin1Char(';'), android);
        const int close = agent.indexOf(QLatin1Char(')'), android);
        if (start >= 0 && (close < 0 || start < close)) {
            int end = start + 1;
            while (end < agent.size() && agent.at(end) != QLatin1Char(';') &&
                   agent.at(end) != QLatin1Char(')'))
                ++end;
            QString model = agent.mid(start + 1, end - start - 1);
            const int build = model.indexOf(QLatin1String(" Build/"));
            if (build >= 0)
                model.truncate(build);
            model = model.trimmed();
            if (model.size() > 1 && model.size() <= 40 && model != QLatin1String("Mobile") &&
                model != QLatin1String("Tablet"))
                return model;
        }
        return QStringLiteral("Android");
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
