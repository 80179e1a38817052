#include "status/TokenCommands.h"

#include "platform/Paths.h"
#include "platform/SafeFile.h"
#include "status/ApiTokens.h"

#include <QDir>
#include <QFileInfo>

#include <cstdio>

namespace {

const QString AddOption = QStringLiteral("--add-token");
const QString RemoveOption = QStringLiteral("--remove-token");

void complain(const QString& program, const QString& line) {
    std::fputs(qPrintable(program + QStringLiteral(": ") + line + QLatin1Char('\n')), stderr);
}

// The file's text, or nothing (said) when it cannot be used.
std::optional<QByteArray> currentText(const QString& path, const QString& program) {
    const TokenFile file = ReadTokenFile(path);
    if (file.refused) {
        complain(program, QStringLiteral("%1 is readable or writable by others than its owner; "
                                         "make it readable by its owner only (chmod 600)")
                              .arg(path));
        return std::nullopt;
    }
    QString error;
    const std::optional<QByteArray> text = ReadRegularFile(path, &error);
    if (!text && !error.isEmpty()) {
        complain(program, error);
        return std::nullopt;
    }
    return text.value_or(QByteArray());
}

bool named(const QByteArray& text, const QString& name) {
    for (const ApiToken& token : ParseTokens(text).tokens)
        if (token.name == name)
            return true;
    return false;
}

bool save(const QString& path, const QByteArray& text, const QString& program) {
    QString error;
    if (!QDir().mkpath(QFileInfo(path).absolutePath()) || !WriteTokenFile(path, text, &error)) {
        complain(program, error.isEmpty() ? QStringLiteral("cannot make the folder of %1").arg(path)
                                          : error);
        return false;
    }
    return true;
}

int addToken(const QStringList& rest, const QString& path, const QString& program) {
    ApiToken token;
    token.name = rest.at(0);
    if (!IsTokenName(token.name)) {
        complain(program, QStringLiteral("\"%1\" is not a token name: letters, digits and ._-@, "
                                         "at most 64")
                              .arg(token.name));
        return 2;
    }
    const std::optional<TokenScope> scope = ParseTokenScope(rest.at(1));
    if (!scope) {
        complain(program,
                 QStringLiteral("the scope is read or control, not \"%1\"").arg(rest.at(1)));
        return 2;
    }
    token.scope = *scope;
    if (rest.size() > 2) {
        for (const QString& group : rest.at(2).split(QLatin1Char(','))) {
            if (group.trimmed().isEmpty() || group.contains(QLatin1Char('\n')) ||
                group.contains(QLatin1Char('='))) {
                complain(program,
                         QStringLiteral("\"%1\" is not a list of group names").arg(rest.at(2)));
                return 2;
            }
            token.groups << group.trimmed();
        }
    }
    const std::optional<QByteArray> text = currentText(path, program);
    if (!text)
        return 1;
    if (named(*text, token.name)) {
        complain(program, QStringLiteral("a token named %1 exists already; remove it first with "
                                         "--remove-token %1")
                              .arg(token.name));
        return 1;
    }
    const QByteArray secret = NewTokenText();
    token.hash = TokenHash(secret);
    QByteArray updated = *text;
    if (!updated.isEmpty() && !updated.endsWith('\n'))
        updated += '\n';
    if (!save(path, updated + TokenLine(token), program))
        return 1;
    // Shown this once: only its hash is kept.
    std::fputs(secret.constData(), stdout);
    std::fputc('\n', stdout);
    complain(program, QStringLiteral("%1 token %2 added to %3; a running norvik3d uses it after "
                                     "SIGHUP")
                          .arg(TokenScopeName(token.scope), token.name, path));
    return 0;
}

int removeToken(const QString& name, const QString& path, const QString& program) {
    const std::optional<QByteArray> text = currentText(path, program);
    if (!text)
        return 1;
    if (!named(*text, name)) {
        complain(program, QStringLiteral("no token named %1 in %2").arg(name, path));
        return 1;
    }
    if (!save(path, WithoutToken(*text, name), program))
        return 1;
    complain(program,
             QStringLiteral("token %1 removed; a running norvik3d stops accepting it after SIGHUP")
                 .arg(name));
    return 0;
}

} // namespace

std::optional<int> RunTokenCommand(const QStringList& arguments, const QString& program) {
    const bool adding = arguments.contains(AddOption);
    const bool removing = arguments.contains(RemoveOption);
    if (!adding && !removing)
        return std::nullopt;
    QStringList rest = arguments;
    const QString option = adding ? AddOption : RemoveOption;
    rest.remove(0, rest.indexOf(option) + 1);
    const bool fits = arguments.first() == option && !(adding && removing) &&
                      (adding ? rest.size() == 2 || rest.size() == 3 : rest.size() == 1);
    if (!fits) {
        complain(program, adding ? QStringLiteral("usage: --add-token NAME SCOPE [GROUPS]")
                                 : QStringLiteral("usage: --remove-token NAME"));
        return 2;
    }
    const QString path = ApiTokensFilePath(SettingsFilePath());
    return adding ? addToken(rest, path, program) : removeToken(rest.at(0), path, program);
}
