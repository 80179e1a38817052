#include "status/RequestAudit.h"

#include "status/CommandRequests.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <utility>

namespace {

constexpr int BodyShown = 64;

} // namespace

QString LogEscaped(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == u'\\')
            out += QStringLiteral("\\\\");
        else if (u == u'\n')
            out += QStringLiteral("\\n");
        else if (u == u'\r')
            out += QStringLiteral("\\r");
        else if (u == u'\t')
            out += QStringLiteral("\\t");
        else if (u < 0x20 || u == 0x7f)
            out += QStringLiteral("\\x%1").arg(int(u), 2, 16, QLatin1Char('0'));
        else if (!c.isPrint() && !c.isSurrogate())
            out += QStringLiteral("\\u%1").arg(int(u), 4, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

QString Shortened(const QString& text, int max) {
    if (text.size() <= max)
        return text;
    return text.left(max) + QStringLiteral("…(%1 chars)").arg(text.size());
}

QString CompactBody(const QByteArray& body) {
    const CommandRequestParse parse = ParseCommandRequest(body);
    if (parse.request) {
        QJsonObject o{{QStringLiteral("command"), parse.request->command}};
        if (!parse.request->value.isEmpty())
            o[QStringLiteral("value")] = parse.request->value;
        if (parse.confirm)
            o[QStringLiteral("confirm")] = true;
        return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
    }
    const QString start = QString::fromUtf8(body.left(BodyShown));
    return body.size() > BodyShown ? start + QStringLiteral("…(%1 bytes)").arg(body.size()) : start;
}

bool RefusalLedger::overRate(const QString& address, qint64 nowMs) const {
    auto it = m_entries.constFind(address);
    if (it == m_entries.constEnd() && m_entries.size() >= MaxAddresses)
        it = m_entries.constFind(QString());
    if (it == m_entries.constEnd() || int(it->recent.size()) < MaxPerSecond)
        return false;
    const qint64 oldest = it->recent.front();
    return oldest <= nowMs && nowMs - oldest < 1000;
}

std::optional<RefusalLedger::Summary> RefusalLedger::refused(const QString& address, qint64 nowMs,
                                                             Note note) {
    const QString key =
        m_entries.contains(address) || m_entries.size() < MaxAddresses ? address : QString();
    const bool known = m_entries.contains(key);
    Entry& entry = m_entries[key];
    entry.recent.push_back(nowMs);
    while (int(entry.recent.size()) > MaxPerSecond)
        entry.recent.pop_front();
    ++entry.pending;
    entry.last = std::move(note);
    // A clock set back starts a new window.
    if (known && nowMs >= entry.recordedMs && nowMs - entry.recordedMs < WindowMs)
        return std::nullopt;
    entry.recordedMs = nowMs;
    return Summary{entry.last, std::exchange(entry.pending, 0)};
}

std::vector<RefusalLedger::Summary> RefusalLedger::sweep(qint64 nowMs) {
    std::vector<Summary> ended;
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        if (nowMs >= it->recordedMs && nowMs - it->recordedMs < WindowMs) {
            ++it;
            continue;
        }
        if (it->pending == 0) {
            it = m_entries.erase(it);
            continue;
        }
        ended.push_back({it->last, std::exchange(it->pending, 0)});
        it->recordedMs = nowMs;
        ++it;
    }
    return ended;
}
