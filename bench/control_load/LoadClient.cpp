#include "LoadClient.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkReply>

#include <algorithm>

using namespace std::chrono_literals;

namespace {

constexpr std::size_t KeptCommandIds = 200;

} // namespace

QByteArray LoadToken(int n) {
    return QByteArrayLiteral("control-load-token-") + QByteArray::number(n) +
           QByteArrayLiteral("-0123456789");
}

LoadClient::LoadClient(quint16 port, int tokens, int rate, int seconds)
    : m_base(QStringLiteral("http://127.0.0.1:%1").arg(port)), m_tokens(tokens), m_rate(rate),
      m_seconds(seconds) {
    m_tick.setTimerType(Qt::PreciseTimer);
    m_tick.setInterval(std::chrono::milliseconds(1000 / std::max(1, rate)));
    connect(&m_tick, &QTimer::timeout, this, &LoadClient::sendNext);
}

QNetworkRequest LoadClient::request(const QString& path, int token) const {
    QUrl url = m_base;
    url.setPath(path);
    QNetworkRequest r(url);
    r.setRawHeader("Authorization", "Bearer " + LoadToken(token % m_tokens + 1));
    r.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    return r;
}

void LoadClient::start() {
    QNetworkReply* reply = m_manager.get(request(QStringLiteral("/api/v1/projectors"), 0));
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        reply->deleteLater();
        for (const QJsonValue& p : QJsonDocument::fromJson(reply->readAll()).array()) {
            m_projectors << p[QLatin1String("id")].toString();
            const QString group = p[QLatin1String("group")].toString();
            if (!group.isEmpty() && !m_groups.contains(group))
                m_groups << group;
        }
        if (m_projectors.isEmpty() || m_groups.isEmpty()) {
            m_counts[QStringLiteral("projectors-list ") +
                     QString::number(
                         reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt())]++;
            emit finished();
            return;
        }
        m_sending = true;
        m_clock.start();
        m_tick.start();
    });
}

// Of ten requests: two read an outcome, one commands a group, seven a
// projector; blank and mute go on and off in turn.
void LoadClient::sendNext() {
    if (m_clock.elapsed() >= qint64(m_seconds) * 1000) {
        m_tick.stop();
        m_sending = false;
        checkDone();
        return;
    }
    const quint64 n = m_sent++;
    const int token = int(n % quint64(m_tokens));
    const quint64 slot = n % 10;
    const QByteArray body = QByteArrayLiteral("{\"command\":\"") +
                            ((n / 10) % 2 ? "blank" : "mute") + "\",\"value\":\"" +
                            ((n / 20) % 2 ? "on" : "off") + "\"}";
    QString kind;
    QNetworkReply* reply = nullptr;
    if (slot < 2 && !m_commandIds.isEmpty()) {
        kind = QStringLiteral("GET-outcome");
        const QString id = m_commandIds[qsizetype(n / 10) % m_commandIds.size()];
        reply = m_manager.get(request(QStringLiteral("/api/v1/commands/") + id, token));
    } else if (slot == 2) {
        kind = QStringLiteral("POST-group");
        const QString group = m_groups[qsizetype(n / 10) % m_groups.size()];
        reply = m_manager.post(
            request(QStringLiteral("/api/v1/groups/%1/commands").arg(group), token), body);
    } else {
        kind = QStringLiteral("POST-projector");
        const QString id = m_projectors[qsizetype(n * 7) % m_projectors.size()];
        reply = m_manager.post(
            request(QStringLiteral("/api/v1/projectors/%1/commands").arg(id), token), body);
    }
    const qint64 sentAt = m_clock.elapsed();
    connect(reply, &QNetworkReply::finished, this, [this, reply, kind, sentAt] {
        reply->deleteLater();
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (status == 202) {
            m_commandIds
                << QJsonDocument::fromJson(reply->readAll())[QLatin1String("id")].toString();
            if (m_commandIds.size() > qsizetype(KeptCommandIds))
                m_commandIds.removeFirst();
        }
        answered(kind, status, m_clock.elapsed() - sentAt);
    });
}

void LoadClient::answered(const QString& kind, int status, qint64 ms) {
    ++m_answered;
    m_counts[kind + u' ' + QString::number(status)]++;
    m_times.push_back(ms);
    checkDone();
}

void LoadClient::checkDone() {
    if (!m_sending && m_answered == m_sent)
        emit finished();
}

QString LoadClient::report() const {
    QString text;
    for (auto it = m_counts.begin(); it != m_counts.end(); ++it)
        text += QStringLiteral("answered %1 %2\n").arg(it.key()).arg(it.value());
    std::vector<qint64> times = m_times;
    std::sort(times.begin(), times.end());
    if (!times.empty())
        text += QStringLiteral("answer time ms: median %1, 99th %2, longest %3\n")
                    .arg(times[times.size() / 2])
                    .arg(times[times.size() * 99 / 100])
                    .arg(times.back());
    text += QStringLiteral("sent %1, answered %2\n").arg(m_sent).arg(m_answered);
    return text;
}
