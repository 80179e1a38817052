#include "status/ApiTokens.h"

#include "platform/SafeFile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>

#include <array>

namespace {

const QString FileName = QStringLiteral("Norvik3.api-tokens");
const QString SettingTokenName = QStringLiteral("StatusHttpToken");
// Thousands of tokens stay far below this; a larger file is no file of ours.
constexpr qint64 MaxFileBytes = 1024 * 1024;
constexpr qsizetype HashBytes = 32;
constexpr qsizetype TokenBytes = 32;

constexpr QFileDevice::Permissions OthersOrGroup =
    QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup |
    QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;

QByteArray withoutLineEnd(QByteArray line) {
    while (line.endsWith('\r'))
        line.chop(1);
    return line;
}

bool skipped(const QByteArray& line) {
    const QByteArray trimmed = line.trimmed();
    return trimmed.isEmpty() || trimmed.startsWith('#');
}

// The name a line starts with, or an empty text.
QString nameOf(const QByteArray& line) {
    const qsizetype colon = line.indexOf(':');
    return colon > 0 ? QString::fromUtf8(line.first(colon)).trimmed() : QString();
}

// One line's entry, or why it is none.
std::optional<ApiToken> parseLine(const QByteArray& line, QString* why) {
    const qsizetype equals = line.lastIndexOf('=');
    if (equals < 0) {
        *why = QStringLiteral("no \"=\" before the token's hash");
        return std::nullopt;
    }
    const QByteArray hex = line.mid(equals + 1).trimmed();
    static const QRegularExpression hexDigits(QStringLiteral("^[0-9A-Fa-f]{64}$"));
    if (!hexDigits.match(QString::fromLatin1(hex)).hasMatch()) {
        *why = QStringLiteral("the hash is not 64 hexadecimal digits");
        return std::nullopt;
    }
    const QStringList parts = QString::fromUtf8(line.first(equals)).split(QLatin1Char(':'));
    ApiToken token;
    token.name = parts.at(0).trimmed();
    token.hash = QByteArray::fromHex(hex);
    if (!IsTokenName(token.name)) {
        *why =
            QStringLiteral("\"%1\" is not a token name (letters, digits and ._-@)").arg(token.name);
        return std::nullopt;
    }
    const std::optional<TokenScope> scope =
        parts.size() > 1 ? ParseTokenScope(parts.at(1).trimmed()) : std::nullopt;
    if (!scope) {
        *why = QStringLiteral("the scope is neither \"read\" nor \"control\"");
        return std::nullopt;
    }
    token.scope = *scope;
    if (parts.size() > 2) {
        // A group's name may hold ":" itself.
        const QString groups = parts.mid(2).join(QLatin1Char(':'));
        for (const QString& group : groups.split(QLatin1Char(','))) {
            if (group.trimmed().isEmpty()) {
                *why = QStringLiteral("an empty group name");
                return std::nullopt;
            }
            token.groups << group.trimmed();
        }
    }
    return token;
}

// The credentials of the Bearer scheme (its name in any case), or nothing.
std::optional<QByteArray> bearerCredential(const QByteArray& authorization) {
    const QByteArray value = authorization.trimmed();
    constexpr qsizetype SchemeLength = 6; // "Bearer"
    if (value.size() <= SchemeLength || value.first(SchemeLength).toLower() != "bearer" ||
        (value[SchemeLength] != ' ' && value[SchemeLength] != '\t'))
        return std::nullopt;
    return value.mid(SchemeLength).trimmed();
}

} // namespace

QString TokenScopeName(TokenScope scope) {
    return scope == TokenScope::Control ? QStringLiteral("control") : QStringLiteral("read");
}

std::optional<TokenScope> ParseTokenScope(const QString& text) {
    if (text == QLatin1String("read"))
        return TokenScope::Read;
    if (text == QLatin1String("control"))
        return TokenScope::Control;
    return std::nullopt;
}

bool IsTokenName(const QString& name) {
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9._@-]{1,64}$"));
    return pattern.match(name).hasMatch();
}

QString ApiTokensFilePath(const QString& settingsFile) {
    return QDir(QFileInfo(settingsFile).absolutePath()).filePath(FileName);
}

TokenFile ParseTokens(const QByteArray& text) {
    TokenFile file;
    file.exists = true;
    QSet<QString> names;
    const QList<QByteArray> lines = text.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArray line = withoutLineEnd(lines[i]);
        if (skipped(line))
            continue;
        const int number = int(i + 1);
        QString why;
        std::optional<ApiToken> token = parseLine(line, &why);
        if (token && names.contains(token->name))
            why = QStringLiteral("the name %1 is already given above").arg(token->name);
        if (!why.isEmpty()) {
            file.problems << TokenFileProblem{number, why};
            continue;
        }
        names.insert(token->name);
        file.tokens << std::move(*token);
    }
    return file;
}

TokenFile ReadTokenFile(const QString& path) {
    QFile file(path);
    if (!file.exists())
        return {};
    if (file.permissions() & OthersOrGroup) {
        TokenFile refused;
        refused.exists = true;
        refused.refused = true;
        return refused;
    }
    // Only a regular file is read: a FIFO there must not hang the program.
    QString error;
    const std::optional<QByteArray> text = ReadRegularFile(path, &error, MaxFileBytes);
    if (!text) {
        TokenFile unread;
        unread.exists = true;
        unread.error = error.isEmpty() ? QStringLiteral("%1 is gone").arg(path) : error;
        return unread;
    }
    return ParseTokens(*text);
}

bool WriteTokenFile(const QString& path, const QByteArray& text, QString* error) {
    const FileOutcome saved = WriteOwnerOnlyFile(path, text);
    if (!saved && error)
        *error = saved.error;
    return saved.ok;
}

QByteArray TokenLine(const ApiToken& token) {
    QByteArray line = token.name.toUtf8() + ':' + TokenScopeName(token.scope).toUtf8();
    if (!token.groups.isEmpty())
        line += ':' + token.groups.join(QLatin1Char(',')).toUtf8();
    return line + '=' + token.hash.toHex() + '\n';
}

QByteArray WithoutToken(const QByteArray& text, const QString& name) {
    QByteArray out;
    QList<QByteArray> lines = text.split('\n');
    if (!lines.isEmpty() && lines.back().isEmpty())
        lines.removeLast();
    for (const QByteArray& line : lines)
        if (skipped(line) || nameOf(line) != name)
            out += line + '\n';
    return out;
}

QByteArray NewTokenText() {
    std::array<quint32, TokenBytes / sizeof(quint32)> words{};
    QRandomGenerator::system()->fillRange(words.data(), qsizetype(words.size()));
    const QByteArray bytes(reinterpret_cast<const char*>(words.data()), TokenBytes);
    return bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

QByteArray TokenHash(const QByteArray& token) {
    return QCryptographicHash::hash(token, QCryptographicHash::Sha256);
}

ApiTokens::ApiTokens(QString filePath, const QString& settingToken)
    : m_filePath(std::move(filePath)) {
    if (!settingToken.isEmpty())
        m_settingToken =
            ApiToken{SettingTokenName, TokenScope::Read, {}, TokenHash(settingToken.toUtf8())};
    m_required = m_settingToken.has_value();
}

QStringList ApiTokens::reload() {
    QStringList problems;
    TokenFile file = m_filePath.isEmpty() ? TokenFile{} : ReadTokenFile(m_filePath);
    m_tokens = std::move(file.tokens);
    if (m_settingToken)
        m_tokens.prepend(*m_settingToken);
    // A file that is there but cannot be used still closes the endpoint to
    // clients without a token: its owner meant to have one.
    m_required = m_settingToken.has_value() || file.exists;
    if (file.refused)
        problems << QStringLiteral("The API tokens file %1 is readable or writable by others "
                                   "than its owner and is not used; make it readable by its owner "
                                   "only (chmod 600)")
                        .arg(m_filePath);
    if (!file.error.isEmpty())
        problems << QStringLiteral("The API tokens file %1 cannot be read: %2")
                        .arg(m_filePath, file.error);
    for (const TokenFileProblem& problem : file.problems)
        problems << QStringLiteral("The API tokens file %1, line %2, is skipped: %3")
                        .arg(m_filePath)
                        .arg(problem.line)
                        .arg(problem.text);
    return problems;
}

std::optional<ApiToken> ApiTokens::find(const QByteArray& authorization) const {
    const std::optional<QByteArray> credential = bearerCredential(authorization);
    if (!credential || credential->isEmpty())
        return std::nullopt;
    const QByteArray given = TokenHash(*credential);
    qsizetype found = -1;
    for (qsizetype t = 0; t < m_tokens.size(); ++t) {
        const QByteArray& wanted = m_tokens[t].hash;
        unsigned char difference = wanted.size() == HashBytes ? 0 : 1;
        for (qsizetype i = 0; i < HashBytes && i < wanted.size(); ++i)
            difference |= static_cast<unsigned char>(given[i] ^ wanted[i]);
        // Taken without a branch on the outcome; the first match wins.
        const qsizetype match = -qsizetype(int(difference == 0) & int(found < 0));
        found = (t & match) | (found & ~match);
    }
    if (found < 0)
        return std::nullopt;
    return m_tokens[found];
}

bool ControlAllowedOn(const QHostAddress& listen, bool tls) {
    return tls || listen.isLoopback();
}
