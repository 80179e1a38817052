#include "core/SettingsStore.h"

#include "core/AppState.h"
#include "core/Fleet.h"
#include "core/ModelFile.h"
#include "core/SettingsValues.h"
#include "platform/SettingsFileSave.h"
#include "platform/WakeOnLan.h"

#include <QLoggingCategory>

#include <utility>

namespace {

const QString PJInfo = QStringLiteral("PJInfo");
const QString MailSetting = QStringLiteral("MailSetting/");
const QString Setting = QStringLiteral("Setting/");

QString flagText(bool value) {
    return value ? QStringLiteral("1") : QStringLiteral("0");
}

struct MailFlag {
    const char* name;
    bool MailSettings::*field;
};

constexpr MailFlag mailFlags[] = {
    {"MailSend", &MailSettings::MailSend},
    {"LampAlarmSend", &MailSettings::LampAlarmSend},
    {"FilterAlarmSend", &MailSettings::FilterAlarmSend},
    {"ErrorAlarmSend", &MailSettings::ErrorAlarmSend},
    {"CoverErrorSend", &MailSettings::CoverErrorSend},
    {"FanErrorSend", &MailSettings::FanErrorSend},
    {"LampErrorSend", &MailSettings::LampErrorSend},
    {"TempErrorSend", &MailSettings::TempErrorSend},
    {"AirFlowErrorSend", &MailSettings::AirFlowErrorSend},
    {"LampTimeOverSend", &MailSettings::LampTimeOverSend},
    {"CoolErrorSend", &MailSettings::CoolErrorSend},
    {"FilterErrorSend", &MailSettings::FilterErrorSend},
    {"OtherErrorSend", &MailSettings::OtherErrorSend},
    {"DisconnectSend", &MailSettings::DisconnectSend},
    {"RecoverySend", &MailSettings::RecoverySend},
};

struct MailText {
    const char* name;
    QString MailSettings::*field;
};

constexpr MailText mailTexts[] = {
    {"CoverErrorText", &MailSettings::CoverErrorText},
    {"FanErrorText", &MailSettings::FanErrorText},
    {"LampErrorText", &MailSettings::LampErrorText},
    {"TempErrorText", &MailSettings::TempErrorText},
    {"AirFlowErrorText", &MailSettings::AirFlowErrorText},
    {"LampTimeOverText", &MailSettings::LampTimeOverText},
    {"CoolErrorText", &MailSettings::CoolErrorText},
    {"FilterErrorText", &MailSettings::FilterErrorText},
    {"OtherErrorText", &MailSettings::OtherErrorText},
    {"DisconnectText", &MailSettings::DisconnectText},
    {"SMTPServer", &MailSettings::SMTPServer},
    {"FromAddress", &MailSettings::FromAddress},
    {"Subject", &MailSettings::Subject},
    {"FilePath", &MailSettings::FilePath},
    {"SMTPUser", &MailSettings::SMTPUser},
    {"SMTPSecurity", &MailSettings::SMTPSecurity},
    {"SMTPPort", &MailSettings::SMTPPort},
    {"SMTPCAFile", &MailSettings::SMTPCAFile},
};

// PJLink in any case, blanks around it or not, reads as PJLink; anything
// else (a value from a later version included) as the own protocol, so
// that a record this version cannot serve is never sent PJLink lines.
QString StoredProtocol(const std::optional<QString>& stored) {
    return stored && stored->trimmed().compare(ProtocolPJLink, Qt::CaseInsensitive) == 0
               ? ProtocolPJLink
               : ProtocolNative;
}

QString sendAddressKey(int n) {
    return QStringLiteral("SendAddress") + QString::number(n);
}

void loadProjectors(QSettings& s, AppState& state) {
    state.ProjectorCount = qint16(storedCount(s, PJInfo, QStringLiteral("PJNum"), MaxProjectors));
    s.beginGroup(PJInfo);
    const QStringList present = s.childGroups();
    s.endGroup();
    for (int n = 1; n <= state.ProjectorCount; ++n) {
        // A missing sub-key leaves the slot at its defaults; only a present
        // one gets the serial settings and port defaults.
        if (!present.contains(QString::number(n)))
            continue;
        const QString g = PJInfo + QLatin1Char('/') + QString::number(n) + QLatin1Char('/');
        ProjectorInfo& p = state.Projectors[n];
        readInto(p.ProjectorName, storedText(s, g + QStringLiteral("ProjectorName")));
        readInto(p.ModelName, storedText(s, g + QStringLiteral("ModelName")));
        readInto(p.ConnectionKind, storedInt16(s, g + QStringLiteral("ConnectionKind")));
        readInto(p.COMPort, storedInt16(s, g + QStringLiteral("COMPort")));
        p.COMSettings =
            storedText(s, g + QStringLiteral("COMSettings")).value_or(DefaultCOMSettings);
        readInto(p.IPAddress, storedText(s, g + QStringLiteral("IPAddress")));
        p.Protocol = StoredProtocol(storedText(s, g + QStringLiteral("Protocol")));
        p.PortNo = storedText(s, g + QStringLiteral("PortNo"))
                       .value_or(IsPJLink(p) ? DefaultPJLinkPortNo : DefaultPortNo);
        readInto(p.ProjectorId, storedText(s, g + QStringLiteral("ProjectorId")));
        p.WakeOnLan = storedFlag(s, g + QStringLiteral("WakeOnLan")).value_or(false);
        // The address a projector is woken by; learnt again when it answers.
        const QString mac = storedText(s, g + QStringLiteral("MACAddress")).value_or(QString());
        if (p.WakeOnLan && MacAddressBytes(mac))
            p.MACAddress = mac.trimmed().toUpper();
    }
}

QString projectorKey(int n, const char* name) {
    return PJInfo + QLatin1Char('/') + QString::number(n) + QLatin1Char('/') + QLatin1String(name);
}

void loadMail(const QSettings& s, MailSettings& mail) {
    mail = MailSettings{};
    for (const MailFlag& f : mailFlags)
        readInto(mail.*f.field, storedFlag(s, MailSetting + QLatin1String(f.name)));
    readInto(mail.LampAlarmTime, storedInt16(s, MailSetting + QStringLiteral("LampAlarmTime")));
    readInto(mail.FilterAlarmTime, storedInt16(s, MailSetting + QStringLiteral("FilterAlarmTime")));
    for (const MailText& t : mailTexts)
        readInto(mail.*t.field, storedText(s, MailSetting + QLatin1String(t.name)));
    for (int n = 1; n <= 10; ++n)
        readInto(mail.SendAddress[n], storedText(s, MailSetting + sendAddressKey(n)));
    readInto(mail.MailSendKindFlag,
             storedRounded(s, MailSetting + QStringLiteral("MailSendKindFlag")));
}

// Intervals and time-outs of 0 or below would make timers spin; they count
// as missing.
void readPositive(qint32& field, const QSettings& s, const QString& key) {
    const auto value = storedRoundedInt32(s, key);
    if (value && *value > 0)
        field = *value;
}

void loadTiming(const QSettings& s, TimingSettings& timing) {
    timing = TimingSettings{};
    readPositive(timing.StatusCheckInterval, s, Setting + QStringLiteral("StatusCheckInterval"));
    readPositive(timing.PingTimeout, s, Setting + QStringLiteral("PingTimeout"));
    readPositive(timing.TcpTimeoutTime, s, Setting + QStringLiteral("TcpTimeoutTime"));
    readPositive(timing.CommTimeoutTime, s, Setting + QStringLiteral("CommTimeoutTime"));
}

Q_LOGGING_CATEGORY(lcSettings, "norvik.settings")

} // namespace

SettingsStore::SettingsStore(QString filePath) : m_filePath(std::move(filePath)) {}

bool SettingsStore::save(const std::function<void(QSettings&)>& change) const {
    const FileOutcome saved = SaveSettingsFile(m_filePath, change);
    const bool wasFailing = !m_lastSaveError.isEmpty();
    m_lastSaveError = saved.error;
    if (!saved) {
        qCWarning(lcSettings) << saved.error;
        if (m_health)
            m_health->raise(HealthCondition::SaveFailing, saved.error);
    } else if (wasFailing && m_health) {
        m_health->clear(HealthCondition::SaveFailing,
                        QStringLiteral("Settings saved again to %1").arg(m_filePath));
    }
    return saved.ok;
}

void SettingsStore::LoadConfiguration(AppState& state) const {
    ResetAllProjectors(state);
    {
        QSettings s(m_filePath, QSettings::IniFormat);
        loadProjectors(s, state);
        loadMail(s, state.Mail);
        loadTiming(s, state.Timing);
        state.SiteName = storedSiteName(s);
    }
    // Ids given now are saved at once, so that the next start (and whoever
    // keeps them meanwhile) sees the same ones; only these values are
    // written. When that save fails the fleet still runs on the new ids,
    // and the failure is reported like any other.
    const std::vector<int> given = AssignMissingProjectorIds(state);
    if (!given.empty())
        save([&](QSettings& s) {
            for (const int n : given)
                s.setValue(projectorKey(n, "ProjectorId"), state.Projectors[n].ProjectorId);
        });
    LoadModels(state);
}

bool SettingsStore::SaveProjectors(const AppState& state) const {
    return save([&state](QSettings& s) { writeProjectors(s, state); });
}

bool SettingsStore::SaveTreeAndProjectors(const AppState& state) const {
    return save([&state](QSettings& s) {
        writeProjectors(s, state);
        writeTree(s, state);
    });
}

// Removed and rewritten in memory; the save replaces the file in one step,
// so no half-written table ever reaches the disk.
void SettingsStore::writeProjectors(QSettings& s, const AppState& state) {
    s.remove(PJInfo);
    s.setValue(PJInfo + QStringLiteral("/PJNum"), QString::number(state.ProjectorCount));
    for (int n = 1; n <= state.ProjectorCount; ++n) {
        const ProjectorInfo& p = state.Projectors[n];
        const QString g = PJInfo + QLatin1Char('/') + QString::number(n) + QLatin1Char('/');
        s.setValue(g + QStringLiteral("ProjectorName"), p.ProjectorName);
        s.setValue(g + QStringLiteral("ModelName"), p.ModelName);
        s.setValue(g + QStringLiteral("ConnectionKind"), QString::number(p.ConnectionKind));
        s.setValue(g + QStringLiteral("COMPort"), QString::number(p.COMPort));
        s.setValue(g + QStringLiteral("COMSettings"), p.COMSettings);
        s.setValue(g + QStringLiteral("IPAddress"), p.IPAddress);
        s.setValue(g + QStringLiteral("PortNo"), p.PortNo);
        // Only PJLink is written: a file of own-protocol projectors stays as
        // it was, and older versions read it unchanged.
        if (IsPJLink(p))
            s.setValue(g + QStringLiteral("Protocol"), ProtocolPJLink);
        s.setValue(g + QStringLiteral("ProjectorId"), p.ProjectorId);
        // Written only when ticked, like Protocol.
        if (p.WakeOnLan) {
            s.setValue(g + QStringLiteral("WakeOnLan"), QStringLiteral("1"));
            if (!p.MACAddress.isEmpty())
                s.setValue(g + QStringLiteral("MACAddress"), p.MACAddress);
        }
    }
}

bool SettingsStore::writeMailText(const QString& name, const QString& text) const {
    return save([&](QSettings& s) { s.setValue(MailSetting + name, text); });
}

bool SettingsStore::writeMailFlag(const QString& name, bool value) const {
    return writeMailText(name, flagText(value));
}

bool SettingsStore::writeMailNumber(const QString& name, qint32 value) const {
    return writeMailText(name, QString::number(value));
}

bool SettingsStore::writeSetting(const QString& name, const QString& text) const {
    return save([&](QSettings& s) { s.setValue(Setting + name, text); });
}

bool SettingsStore::writeMacAddress(int projector, const QString& mac) const {
    return save([&](QSettings& s) { s.setValue(projectorKey(projector, "MACAddress"), mac); });
}

bool SettingsStore::writeWindowLayout(const QMap<QString, QString>& values) const {
    return save([&values](QSettings& s) {
        for (auto it = values.begin(); it != values.end(); ++it)
            s.setValue(QStringLiteral("Window/") + it.key(), it.value());
    });
}

bool SettingsStore::saveMailSettings(const MailSettings& mail) const {
    return save([&mail](QSettings& s) { writeMail(s, mail); });
}

void SettingsStore::writeMail(QSettings& s, const MailSettings& mail) {
    for (const MailFlag& f : mailFlags)
        s.setValue(MailSetting + QLatin1String(f.name), flagText(mail.*f.field));
    s.setValue(MailSetting + QStringLiteral("LampAlarmTime"), QString::number(mail.LampAlarmTime));
    s.setValue(MailSetting + QStringLiteral("FilterAlarmTime"),
               QString::number(mail.FilterAlarmTime));
    // Empty texts are written too: a cleared text stays cleared.
    for (const MailText& t : mailTexts)
        s.setValue(MailSetting + QLatin1String(t.name), mail.*t.field);
    for (int n = 1; n <= 10; ++n)
        s.setValue(MailSetting + sendAddressKey(n), mail.SendAddress[n]);
}

QString SettingsStore::serialDevice(int comPort) const {
    const QSettings s(m_filePath, QSettings::IniFormat);
    const auto device = storedText(s, QStringLiteral("SerialPorts/COM") + QString::number(comPort));
    return device ? *device : QStringLiteral("/dev/ttyS") + QString::number(comPort - 1);
}
