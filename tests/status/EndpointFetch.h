#pragma once

// One request to the status endpoint through Qt's own HTTP client, over
// plain HTTP or, with a TLS configuration, over HTTPS.

#include <QDeadlineTimer>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSslConfiguration>
#include <QTest>

#include <memory>
#include <optional>

struct Fetched {
    int status = 0; // 0: no HTTP answer
    QByteArray body;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    QString errorText;
};

inline Fetched Fetch(const QString& scheme, quint16 port, const QString& path,
                     const QByteArray& token,
                     const std::optional<QSslConfiguration>& tls = std::nullopt) {
    QNetworkAccessManager manager;
    QNetworkRequest request(
        QUrl(QStringLiteral("%1://127.0.0.1:%2%3").arg(scheme).arg(port).arg(path)));
    if (!token.isEmpty())
        request.setRawHeader("Authorization", "Bearer " + token);
    if (tls)
        request.setSslConfiguration(*tls);
    std::unique_ptr<QNetworkReply> reply(manager.get(request));
    QDeadlineTimer deadline(20000);
    while (!reply->isFinished() && !deadline.hasExpired())
        QTest::qWait(10);
    Fetched fetched;
    fetched.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    fetched.body = reply->readAll();
    fetched.error = reply->error();
    fetched.errorText = reply->errorString();
    return fetched;
}
