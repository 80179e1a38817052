#include "mail/AlertMail.h"

#include "core/AppState.h"

#include <QStringList>

#include <algorithm>

namespace {

bool isRecipientKind(const QString& kind) {
    return kind == QLatin1String("TO") || kind == QLatin1String("CC") ||
           kind == QLatin1String("BCC");
}

// The items of an alert mail in their order; an empty connection item is
// left out (a connection kind that is neither serial nor LAN).
QStringList mailItems(const ProjectorInfo& p, const AlertText& alert) {
    QStringList items;
    items << QStringLiteral("Time:") + alert.time;
    items << QStringLiteral("Projector Name:") + p.ProjectorName;
    // A PJLink projector names its own product (INF2); the record's model
    // is only what it was added as.
    const bool product = IsPJLink(p) && !p.PJLink.Product.isEmpty();
    items << QStringLiteral("Model:") + (product ? p.PJLink.Product : p.ModelName);
    if (p.ConnectionKind == ConnectionSerial) {
        items << QStringLiteral("Connection:COM") + QString::number(p.COMPort);
    } else if (p.ConnectionKind == ConnectionLan) {
        items << QStringLiteral("Connection:") + p.IPAddress +
                     (p.MACAddress.isEmpty()
                          ? QString()
                          : QStringLiteral(" (") + p.MACAddress + QLatin1Char(')'));
    }
    items << QStringLiteral("Message:") + alert.message;
    return items;
}

} // namespace

AlertText ParseAlertText(const QString& text) {
    AlertText alert;
    const qsizetype first = text.indexOf(QLatin1Char(';'));
    if (first < 0) {
        alert.time = text;
        return alert;
    }
    alert.time = text.left(first);
    const qsizetype second = text.indexOf(QLatin1Char(';'), first + 1);
    alert.projector = text.mid(first + 1, second < 0 ? -1 : second - first - 1).trimmed().toInt();
    if (second >= 0)
        alert.message = text.mid(second + 1);
    return alert;
}

RecipientRow ParseSendAddress(const QString& entry) {
    const qsizetype separator = entry.lastIndexOf(QLatin1Char(';'));
    // An unquoted "address;TO" in the settings file loses its ";TO" as a
    // comment; what was meant is the usual kind.
    if (separator < 0)
        return {entry, QStringLiteral("TO")};
    const QString kind = entry.mid(separator + 1);
    return {entry.left(separator), kind.isEmpty() ? QStringLiteral("TO") : kind};
}

QString SendAddressEntry(const RecipientRow& row) {
    return row.address + QLatin1Char(';') + row.kind;
}

QString BuildRecipientList(const std::vector<RecipientRow>& rows) {
    QStringList to;
    QStringList cc;
    QStringList bcc;
    for (const RecipientRow& row : rows) {
        if (row.address.isEmpty() || HasControlCharacter(row.address))
            continue;
        if (row.kind == QLatin1String("TO"))
            to << row.address;
        else if (row.kind == QLatin1String("CC"))
            cc << row.address;
        else if (row.kind == QLatin1String("BCC"))
            bcc << row.address;
    }
    const QString tab(QLatin1Char('\t'));
    QString result = to.join(tab);
    if (!cc.isEmpty())
        result += tab + QStringLiteral("cc") + tab + cc.join(tab);
    if (!bcc.isEmpty())
        result += tab + QStringLiteral("bcc") + tab + bcc.join(tab);
    return result;
}

bool HasControlCharacter(const QString& text) {
    return std::any_of(text.cbegin(), text.cend(),
                       [](QChar c) { return c.category() == QChar::Other_Control; });
}

std::vector<RecipientRow> StoredRecipientRows(const MailSettings& mail) {
    std::vector<RecipientRow> rows;
    for (int i = 1; i <= 10; ++i) {
        if (!mail.SendAddress[i].isEmpty())
            rows.push_back(ParseSendAddress(mail.SendAddress[i]));
    }
    return rows;
}

QString BuildRecipientList(const MailSettings& mail) {
    return BuildRecipientList(StoredRecipientRows(mail));
}

QStringList SkippedRecipients(const std::vector<RecipientRow>& rows) {
    QStringList skipped;
    for (const RecipientRow& row : rows) {
        if (isRecipientKind(row.kind) && HasControlCharacter(row.address))
            skipped << row.address;
    }
    return skipped;
}

QString RecipientSkippedLogLine(const QString& address) {
    return QStringLiteral("Recipient Skipped (control character): ") + address;
}

bool ServerHasUserInfo(const QString& server) {
    QStringView rest(server);
    rest = rest.trimmed();
    if (const qsizetype scheme = rest.indexOf(QLatin1String("://")); scheme >= 0)
        rest = rest.mid(scheme + 3);
    const qsizetype path = rest.indexOf(QLatin1Char('/'));
    return (path < 0 ? rest : rest.left(path)).contains(QLatin1Char('@'));
}

QString AlertMailBody(const ProjectorInfo& projector, const AlertText& alert) {
    QString body;
    for (const QString& item : mailItems(projector, alert))
        body += item + QStringLiteral("\r\n");
    return body;
}

QString AlertMailLogLine(const ProjectorInfo& projector, const AlertText& alert) {
    return mailItems(projector, alert).join(QLatin1Char(','));
}

MailMessage MailMessageFromSettings(const MailSettings& mail, const QString& password) {
    MailMessage message;
    message.server = mail.SMTPServer;
    message.from = mail.FromAddress;
    message.subject = mail.Subject;
    message.attachment = mail.FilePath;
    message.user = mail.SMTPUser;
    message.password = password;
    message.security = mail.SMTPSecurity;
    message.port = mail.SMTPPort;
    message.caFile = mail.SMTPCAFile;
    return message;
}

QString MailErrorText(const MailResult& result) {
    const QString error = QStringLiteral("Mail Send Error!!");
    return result.reasonText.isEmpty()
               ? error
               : error + QStringLiteral(" (") + result.reasonText + QLatin1Char(')');
}

QString MailOutcomeLogLine(const MailResult& result) {
    QString line = result.sent ? QStringLiteral("Mail Send Success") : MailErrorText(result);
    if (!result.refused.isEmpty())
        line += QStringLiteral(",Recipients Refused: ") + result.refused.join(QLatin1Char(';'));
    if (result.attachmentSkipped)
        line += QStringLiteral(",Attachment Skipped (unreadable)");
    return line;
}
