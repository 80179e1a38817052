#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// The endpoint's bearer tokens. They are kept in the file Norvik3.api-tokens
// beside the settings file, one line per token:
//
//   NAME:SCOPE[:GROUPS]=SHA256-OF-TOKEN
//
// SCOPE is "read" or "control"; GROUPS, when given, the ","-separated group
// names a control token may act on (the others it may only read); the last
// part is the hex SHA-256 of the token text, so the file never holds a
// token itself. Blank lines and lines starting with "#" are skipped. The
// file must be open to its owner only; one open to group or others is
// refused as a whole.

enum class TokenScope { Read, Control };

QString TokenScopeName(TokenScope scope);

struct ApiToken {
    QString name;
    TokenScope scope = TokenScope::Read;
    QStringList groups; // empty: every group
    QByteArray hash;    // SHA-256 of the token text, 32 bytes
};

struct TokenFileProblem {
    int line = 0; // from 1
    QString text;
};

struct TokenFile {
    QList<ApiToken> tokens;
    QList<TokenFileProblem> problems; // bad lines, skipped
    bool exists = false;
    bool refused = false; // open to group or others: not used
    QString error;        // why it could not be read; empty when it could
};

QString ApiTokensFilePath(const QString& settingsFile);

// The entries of the file's text; a bad line is reported and skipped, and
// so is a second line of a name already seen.
TokenFile ParseTokens(const QByteArray& text);
TokenFile ReadTokenFile(const QString& path);
// Replaces the file in one step, owner-only (0600).
bool WriteTokenFile(const QString& path, const QByteArray& text, QString* error);

// A token name is letters, digits and "._-@", at most 64 of them.
bool IsTokenName(const QString& name);
std::optional<TokenScope> ParseTokenScope(const QString& text);
// The file's line for a token (with its newline).
QByteArray TokenLine(const ApiToken& token);
// The text without the lines of `name`; every other line stays as it was.
QByteArray WithoutToken(const QByteArray& text, const QString& name);

// A new token: 32 bytes of the system's random source, base64url without
// padding.
QByteArray NewTokenText();
QByteArray TokenHash(const QByteArray& token);

// The tokens the endpoint accepts: those of the file, and the one of
// Setting/StatusHttpToken as a read token named "StatusHttpToken".
class ApiTokens {
  public:
    ApiTokens() = default;
    // Holds the setting's token only until reload() reads the file.
    ApiTokens(QString filePath, const QString& settingToken);

    // Reads the file (again); the texts of what was wrong with it, for the log.
    QStringList reload();

    // The entry of the token an Authorization value carries in the Bearer
    // scheme. Every entry is compared, whichever matches, so the time taken
    // tells nothing of the tokens.
    std::optional<ApiToken> find(const QByteArray& authorization) const;
    // Once a token is set or the file exists, every request needs a token.
    bool required() const { return m_required; }
    int count() const { return int(m_tokens.size()); }

  private:
    QString m_filePath;
    std::optional<ApiToken> m_settingToken;
    QList<ApiToken> m_tokens;
    bool m_required = false;
};

// Control over plain HTTP is allowed only where nobody else can listen in.
bool ControlAllowedOn(const QHostAddress& listen, bool tls);
inline constexpr char ControlNeedsTlsText[] = "control needs HTTPS or a loopback address";
