#include "history/CommandCaption.h"

#include "pjlink/PJLinkCodec.h"
#include "protocol/CommandTable.h"
#include "protocol/ReplyFraming.h"

namespace {

// "InputSet3Command" becomes "Input Set 3".
QString Words(QString name) {
    if (name.endsWith(QLatin1String("Command")))
        name.chop(7);
    QString out;
    for (qsizetype i = 0; i < name.size(); ++i) {
        const QChar c = name.at(i);
        const bool startsWord =
            i > 0 && (c.isUpper() || (c.isDigit() && !name.at(i - 1).isDigit()));
        if (startsWord)
            out += QLatin1Char(' ');
        out += c;
    }
    return out;
}

} // namespace

QString CommandCaption(const QByteArray& queued) {
    if (queued.startsWith('%'))
        return IsPJLinkQuery(queued) ? QString() : QString::fromLatin1(queued);
    if (FrameAction(queued) == ActionGet)
        return {};
    const CommandTable& table = BuildCommandTable();
    for (const char* name : CommandTable::names()) {
        const CommandFrame* frame = table.byName(QString::fromLatin1(name));
        if (frame && frame->toByteArray() == queued)
            return Words(QString::fromLatin1(name));
    }
    return QString::fromLatin1(queued.toHex(' ').toUpper());
}
