#include "webpage.h"

#include <QFile>

namespace zorvid {

namespace {

std::string resource(const QString &name)
{
    QFile file(QStringLiteral(":/pages/") + name);
    file.open(QIODevice::ReadOnly);
    return pageBytes(file.readAll());
}

} // namespace

std::string pageValue(const QString &text)
{
    return pageBytes(text.toUtf8());
}

std::string pageBytes(const QByteArray &bytes)
{
    return std::string(bytes.constData(), size_t(bytes.size()));
}

QByteArray fromPage(const std::string &text)
{
    return QByteArray(text.data(), int(text.size()));
}

HttpReply pageReply(int status, const char *content, const QString &title,
                    const PageLanguage &language, PageData data)
{
    // Read once: the templates are compiled into the daemon.
    static const std::string frame = resource(QStringLiteral("page.html"));
    data.set("lang", pageValue(language.code()));
    data.set("dir", language.isRightToLeft() ? "rtl" : "ltr");
    data.set("title", pageValue(title));
    const std::string body = resource(QLatin1String(content) + QLatin1String(".html"));
    data.set("content", kainjow::mustache::partial([body] { return body; }));
    kainjow::mustache::mustache page(frame);

    HttpReply reply;
    reply.status = status;
    reply.contentType = "text/html; charset=utf-8";
    reply.body = fromPage(page.render(data));
    // A page may show the library: no cache keeps it.
    reply.headers.append(qMakePair(QByteArray("Cache-Control"), QByteArray("no-store")));
    addBrowserHeaders(&reply);
    return reply;
}

HttpReply assetReply(const QByteArray &name)
{
    HttpReply reply;
    if (name == "style.css")
        reply.contentType = "text/css; charset=utf-8";
    else if (name == "pair.js")
        reply.contentType = "text/javascript; charset=utf-8";
    else if (name == "icon.svg")
        reply.contentType = "image/svg+xml";
    else
        return HttpReply::error(404, "no such page");
    reply.status = 200;
    reply.body = fromPage(resource(QString::fromLatin1(name)));
    reply.headers.append(qMakePair(QByteArray("Cache-Control"), QByteArray("max-age=3600")));
    addBrowserHeaders(&reply);
    return reply;
}

void addBrowserHeaders(HttpReply *reply)
{
    reply->headers.append(qMakePair(
        QByteArray("Content-Security-Policy"),
        QByteArray("default-src 'none'; style-src 'self'; script-src 'self'; img-src 'self'; "
                   "form-action 'self'; base-uri 'none'; frame-ancestors 'none'")));
    reply->headers.append(qMakePair(QByteArray("X-Content-Type-Options"), QByteArray("nosniff")));
    reply->headers.append(qMakePair(QByteArray("X-Frame-Options"), QByteArray("DENY")));
    // Not "no-referrer": the pages' own form must carry its origin, which a
    // browser sends as "null" under that policy.
    reply->headers.append(qMakePair(QByteArray("Referrer-Policy"), QByteArray("same-origin")));
}

} // namespace zorvid
