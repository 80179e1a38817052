#include "mail/AlertSpool.h"

#include "core/AppState.h"
#include "mail/SpoolWriter.h"

#include <QDir>

#include <algorithm>
#include <map>
#include <optional>
#include <utility>

namespace {

const QString Suffix = QStringLiteral(".alert");
// The first line of every alert file; a file without it is not ours.
const QByteArray Header = "norvik3-alert 1\n";
constexpr int IdDigits = 20;

// "<20 digits>.alert": the id, or 0 for any other name.
quint64 idOfName(const QString& name) {
    if (name.size() != IdDigits + Suffix.size() || !name.endsWith(Suffix))
        return 0;
    const QStringView digits = QStringView(name).left(IdDigits);
    if (!std::all_of(digits.begin(), digits.end(), [](QChar c) { return c.isDigit(); }))
        return 0;
    bool ok = false;
    const quint64 id = digits.toULongLong(&ok);
    return ok ? id : 0;
}

// Header, key line, then the text up to the end (it may hold line feeds).
std::optional<AlertSpool::Alert> parse(const QByteArray& content, quint64 id) {
    if (!content.startsWith(Header))
        return std::nullopt;
    const qsizetype keyEnd = content.indexOf('\n', Header.size());
    if (keyEnd < 0)
        return std::nullopt;
    AlertSpool::Alert alert;
    alert.id = id;
    alert.key = QString::fromUtf8(content.mid(Header.size(), keyEnd - Header.size()));
    alert.text = QString::fromUtf8(content.mid(keyEnd + 1));
    if (alert.text.isEmpty() || alert.text.count(QLatin1Char(';')) < 2)
        return std::nullopt;
    return alert;
}

bool isTemporary(const QString& name) {
    const qsizetype mark = name.indexOf(Suffix + QLatin1Char('.'));
    return mark > 0 && IsTemporaryOf(name, name.left(mark + Suffix.size()));
}

} // namespace

AlertSpool::AlertSpool(QString folder, Limits limits)
    : m_folder(std::move(folder)), m_limits(limits) {
    // One write per alert held, in the ring or waiting (one more for the
    // moment before the oldest waiting one is dropped).
    if (!m_folder.isEmpty())
        m_writer = std::make_unique<SpoolWriter>(m_folder, m_limits.files + AlertSlots);
}

AlertSpool::~AlertSpool() = default;

QString AlertSpool::fileOf(quint64 id) const {
    return m_folder + QLatin1Char('/') +
           QStringLiteral("%1").arg(id, IdDigits, 10, QLatin1Char('0')) + Suffix;
}

qint64 AlertSpool::sizeOf(const Alert& alert) {
    return Header.size() + alert.key.toUtf8().size() + 1 + alert.text.toUtf8().size();
}

std::vector<AlertSpool::Alert> AlertSpool::load(QStringList& problems) {
    std::vector<Alert> alerts;
    if (m_folder.isEmpty())
        return alerts;
    QDir dir(m_folder);
    std::map<quint64, QString> files;
    for (const QString& name : dir.entryList(QDir::Files | QDir::System | QDir::Hidden)) {
        if (const quint64 id = idOfName(name))
            files.emplace(id, name);
        else if (isTemporary(name))
            dir.remove(name); // a write cut off before its rename
    }
    for (const auto& [id, name] : files) {
        m_nextId = std::max(m_nextId, id + 1);
        QString error;
        const std::optional<QByteArray> content = ReadRegularFile(dir.filePath(name), &error);
        std::optional<Alert> alert = content ? parse(*content, id) : std::nullopt;
        if (alert) {
            alerts.push_back(std::move(*alert));
            continue;
        }
        problems << (error.isEmpty() ? QStringLiteral("%1 is not an alert").arg(dir.filePath(name))
                                     : error);
        dir.rename(name, name + QStringLiteral(".unreadable"));
    }
    return alerts;
}

FileOutcome AlertSpool::store(Alert& alert) {
    alert.id = m_nextId++;
    if (!m_writer)
        return {true, {}};
    const QString path = fileOf(alert.id);
    if (!m_writer->write(alert.id, path, Header + alert.key.toUtf8() + '\n' + alert.text.toUtf8()))
        return {false, QStringLiteral("cannot save %1: %2 files wait to be written already")
                           .arg(path)
                           .arg(m_writer->waiting())};
    return {true, {}};
}

void AlertSpool::remove(quint64 id) {
    if (m_writer)
        m_writer->remove(id, fileOf(id));
}

void AlertSpool::onWriteFailed(std::function<void(const QString&)> handler) {
    if (m_writer)
        QObject::connect(m_writer.get(), &SpoolWriter::writeFailed, m_writer.get(),
                         std::move(handler));
}

void AlertSpool::onWritesResumed(std::function<void()> handler) {
    if (m_writer)
        QObject::connect(m_writer.get(), &SpoolWriter::writesResumed, m_writer.get(),
                         std::move(handler));
}

void AlertSpool::flush() {
    if (m_writer)
        m_writer->flush();
}
