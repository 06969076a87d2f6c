#include "pairingsubmission.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

PairingSubmission::Result PairingSubmission::send(const QUrl &address, const QString &code,
                                                  const QString &name, int timeoutMs)
{
    QNetworkAccessManager network;
    // The daemon is on this machine: no proxy from the environment applies.
    network.setProxy(QNetworkProxy::NoProxy);
    QNetworkRequest request(address.adjusted(QUrl::RemoveFragment));
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      QByteArray("application/x-www-form-urlencoded"));
    const QByteArray form =
        "code=" + QUrl::toPercentEncoding(code) + "&name=" + QUrl::toPercentEncoding(name);

    QNetworkReply *reply = network.post(request, form);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer timeout;
    timeout.setSingleShot(true);
    QObject::connect(&timeout, &QTimer::timeout, reply, &QNetworkReply::abort);
    timeout.start(timeoutMs);
    loop.exec();

    Result result;
    result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    result.body = QJsonDocument::fromJson(reply->readAll()).object();
    if (result.status == 0)
        result.failure = reply->errorString();
    delete reply;
    return result;
}
