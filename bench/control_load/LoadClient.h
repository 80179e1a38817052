#pragma once

#include <QElapsedTimer>
#include <QMap>
#include <QNetworkAccessManager>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <vector>

// The text of the n-th token (from 1) both sides of the bench use.
QByteArray LoadToken(int n);

// Sends control requests to the endpoint at a steady rate, round robin over
// the tokens: projector commands, group commands and reads of outcomes, and
// counts the answers by kind and status.
class LoadClient : public QObject {
    Q_OBJECT
  public:
    LoadClient(quint16 port, int tokens, int rate, int seconds);
    // Learns the projectors and groups, then sends; finished() once every
    // request was answered or given up.
    void start();
    // "kind status count" lines and the answer times.
    QString report() const;

  signals:
    void finished();

  private:
    QNetworkRequest request(const QString& path, int token) const;
    void sendNext();
    void answered(const QString& kind, int status, qint64 ms);
    void checkDone();

    QNetworkAccessManager m_manager;
    QUrl m_base;
    int m_tokens;
    int m_rate;
    int m_seconds;
    QTimer m_tick;
    QElapsedTimer m_clock;
    QStringList m_projectors;
    QStringList m_groups;
    QStringList m_commandIds; // the last ones answered, for reads
    quint64 m_sent = 0;
    quint64 m_answered = 0;
    bool m_sending = false;
    QMap<QString, quint64> m_counts; // "kind status"
    std::vector<qint64> m_times;     // answer times in ms
};
