#pragma once

// The program core with simulated projectors (group "Hall": projectors 1
// and 2, group "Lab": projector 3) and its endpoint on 127.0.0.1, with the
// model's aspects 4:3 and 16:9 and three tokens: "ops" (control), "booking"
// (control of "Hall" only) and "panel" (read).

#include "support/RecordingFleet.h"

#include "status/ApiTokens.h"
#include "status/StatusServer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTcpServer>

struct Answered {
    int status = 0;
    QByteArray body;
};

inline quint16 FreePort(const QHostAddress& address) {
    QTcpServer probe;
    return probe.listen(address, 0) ? probe.serverPort() : 0;
}

inline Answered Call(const QString& host, quint16 port, const QByteArray& method,
                     const QString& path, const QByteArray& token, const QByteArray& body = {}) {
    QNetworkAccessManager manager;
    QUrl url(QStringLiteral("http://%1:%2").arg(host).arg(port));
    url.setPath(path, QUrl::TolerantMode);
    QNetworkRequest request(url);
    if (!token.isEmpty())
        request.setRawHeader("Authorization", "Bearer " + token);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    std::unique_ptr<QNetworkReply> reply(manager.sendCustomRequest(request, method, body));
    if (!QTest::qWaitFor([&] { return reply->isFinished(); }, FleetWait))
        return {};
    return {reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->readAll()};
}

inline const QByteArray OpsToken = QByteArrayLiteral("ops-token-0123456789");
inline const QByteArray BookingToken = QByteArrayLiteral("booking-token-0123456789");
inline const QByteArray PanelToken = QByteArrayLiteral("panel-token-0123456789");

class ControlFleet : public RecordingFleet {
  public:
    explicit ControlFleet(const QString& address = QStringLiteral("127.0.0.1"))
        : RecordingFleet(2, 1), m_address(address) {
        if (!isReady())
            return;
        AppState& s = state();
        s.Models[1].AspectNum = 2;
        s.Models[1].Aspect[1] = QStringLiteral("0;4:3");
        s.Models[1].Aspect[2] = QStringLiteral("1;16:9");
        const int lab = AddGroupNode(s, QStringLiteral("Lab"), nullptr);
        s.Nodes[std::size_t(NodeOfProjector(s, 3) - 1)].ParentKey = Node(s, lab).KeyName;
        const QString settings = core.session().store().filePath();
        const QByteArray tokens =
            TokenLine({QStringLiteral("ops"), TokenScope::Control, {}, TokenHash(OpsToken)}) +
            TokenLine({QStringLiteral("booking"),
                       TokenScope::Control,
                       {QStringLiteral("Hall")},
                       TokenHash(BookingToken)}) +
            TokenLine({QStringLiteral("panel"), TokenScope::Read, {}, TokenHash(PanelToken)});
        QString error;
        m_tokensWritten = WriteTokenFile(ApiTokensFilePath(settings), tokens, &error);
        m_port = FreePort(QHostAddress(address));
        core.startStatusEndpoint(address, m_port);
    }

    bool serving() {
        return m_tokensWritten && core.statusServer() && core.statusServer()->isListening();
    }

    Answered call(const QByteArray& method, const QString& path, const QByteArray& token,
                  const QByteArray& body = {}) {
        return Call(m_address, m_port, method, path, token, body);
    }

    // The outcome of every projector of a command once none is "queued".
    QJsonArray outcome(const QByteArray& id) {
        QJsonArray projectors;
        const bool done = QTest::qWaitFor(
            [&] {
                const Answered a =
                    call("GET", "/api/v1/commands/" + QString::fromLatin1(id), OpsToken);
                projectors = QJsonDocument::fromJson(a.body).object().value("projectors").toArray();
                for (const QJsonValue& p : projectors)
                    if (p.toObject().value("outcome").toString() == QLatin1String("queued"))
                        return false;
                return !projectors.isEmpty();
            },
            FleetWait);
        return done ? projectors : QJsonArray{};
    }

  private:
    QString m_address;
    quint16 m_port = 0;
    bool m_tokensWritten = false;
};
