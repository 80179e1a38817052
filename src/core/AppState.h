#pragma once

#include "core/Forecast.h"
#include "core/HealthReport.h"
#include "platform/Clock.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class AlertSpool;
class LogFileMaker;
class SecretStore;

// Fixed table sizes. Index 0 of every table exists and is never used.
inline constexpr int MaxProjectors = 256;
inline constexpr int MaxNodes = 512;
inline constexpr int MaxModels = 64;
inline constexpr int MaxModelEntries = 16;
inline constexpr int MaxKeyNumber = 256; // keys g0..g256 and p0..p256
inline constexpr int QueueSlots = 256;
inline constexpr int AlertSlots = 257; // slots 0..256

// The protocols a projector may speak.
inline const QString ProtocolNative = QString();
inline const QString ProtocolPJLink = QStringLiteral("PJLink");
inline constexpr int PJLinkMaxLamps = 8;
inline constexpr int PJLinkMaxInputs = 64;

struct PJLinkLamp {
    qint32 hours = -1;
    bool on = false;
};

// What a PJLink projector tells about itself and what the own protocol has
// no field for. Learnt every run; "" or -1 while not reported.
struct PJLinkFacts {
    qint16 Class = 0;     // 1 or 2, 0 while not known
    QString Name;         // NAME
    QString Maker;        // INF1
    QString Product;      // INF2
    QString SerialNumber; // SNUM, class 2
    QString InputCode;    // INPT: "31", class 2 also "3A"
    QString InputName;    // INNM of InputCode, class 2
    QStringList Inputs;   // INST codes, at most PJLinkMaxInputs
    std::array<PJLinkLamp, PJLinkMaxLamps> Lamps{};
    qint16 LampCount = 0;
    // "Lamp Warning" ... "Other Warning" while ERST reports a warning and no
    // error; empty otherwise.
    QString Warning;
    qint16 FreezeStatus = -1; // FREZ, class 2: 0 off, 1 on
    // The projector refused our password (PJLINK ERRA) at its last session.
    bool AuthenticationError = false;
    // CLSS, NAME, INF1, INF2 (and SNUM for class 2) were asked since first
    // contact or since the last reconnect.
    bool Identified = false;
};

struct ProjectorInfo {
    // Configuration, persisted.
    QString ProjectorName;
    QString ModelName;
    qint16 ConnectionKind = -1; // 0 serial, 1 LAN, -1 not set
    qint16 COMPort = 0;
    QString COMSettings;
    QString IPAddress;
    QString PortNo;
    // ProtocolNative (empty, also what an absent key gives) or ProtocolPJLink.
    QString Protocol;
    // A random UUID that identifies the projector for good: it travels with
    // the record through renames, moves and renumbering, so monitoring and
    // the endpoint's clients keep their series and references.
    QString ProjectorId;
    // Learnt every run; kept in the settings for a projector woken by LAN,
    // since one asleep in standby does not answer ARP.
    QString MACAddress;
    // Persisted: a magic packet goes before each power-on (while
    // Setting/WakeOnLan is on).
    bool WakeOnLan = false;
    // Run-time status.
    qint16 PowerStatus = -1;
    qint16 InputStatus = -1;
    qint16 ErrorStatus = -1;
    // Hours: 16 bits for the own protocol, up to 99999 and more for PJLink.
    qint32 LampTime = -1;
    qint32 FilterTime = -1;
    bool Disconnected = true;
    qint16 AspectStatus = -1;
    qint16 WhisperStatus = -1;
    qint16 MirrorStatus = -1;
    qint16 BlankStatus = -1;
    qint16 MuteStatus = -1;
    qint16 Brightness = 0;
    qint16 Contrast = 0;
    qint16 Sharpness = 0;
    qint16 Color = 0;
    qint16 Tint = 0;
    // Loss of contact: commands timed out in a row since the last accepted
    // reply, whether five of them made the projector "not answering" (then
    // only a reply clears Disconnected), and whether its disconnect was
    // already logged and alerted since the last accepted reply.
    qint16 TimeoutCount = 0;
    bool AnswerLost = false;
    bool DisconnectRaised = false;
    // Every status query of several passes in a row was refused: the
    // projector answers but reports nothing, shown as "Refusing".
    bool Refusing = false;
    // A reply came or contact failed since the record was loaded: before
    // that, whether the projector answers is not known (a ping answered
    // alone does not tell).
    bool ContactKnown = false;
    // When the last reply was accepted (local time); null before the first.
    QDateTime LastReply;
    // The messages of the error, disconnect and PJLink authentication alerts
    // queued since the projector last recovered, for its recovery mail. Kept
    // in the record so that they follow it when projectors are renumbered.
    std::optional<QString> ErrorAlertPending;
    std::optional<QString> DisconnectAlertPending;
    std::optional<QString> AuthenticationAlertPending;
    PJLinkFacts PJLink;
    // When the lamps and the filter reach their replacement thresholds, from
    // the history's daily hours; NoData until it holds a week of them. Lamp
    // N at N-1, one per lamp the history holds hours of (none before it
    // holds any), at most PJLinkMaxLamps.
    std::vector<Forecast> LampForecasts;
    Forecast FilterForecast;
};

inline bool IsPJLink(const ProjectorInfo& info) {
    return info.Protocol.compare(ProtocolPJLink, Qt::CaseInsensitive) == 0;
}

inline constexpr qint16 ConnectionSerial = 0;
inline constexpr qint16 ConnectionLan = 1;
inline const QString DefaultCOMSettings = QStringLiteral("19200,n,8,1");
inline const QString DefaultPortNo = QStringLiteral("23");
inline const QString DefaultPJLinkPortNo = QStringLiteral("4352");

struct ModelInfo {
    QString Name;
    qint16 InputNum = 0;
    std::array<QString, MaxModelEntries + 1> Input{};
    qint16 AspectNum = 0;
    std::array<QString, MaxModelEntries + 1> Aspect{};
    qint16 Network = 0;
    qint16 NetworkPort = 0;
};

// One node of the tree of groups and projectors; its node index is its
// position in AppState::Nodes plus one.
struct TreeNode {
    QString KeyName;   // "rt", "g<n>" or "p<n>"
    QString ParentKey; // empty for the root
    QString Text;
};

inline const QString RootKey = QStringLiteral("rt");
inline const QString RootText = QStringLiteral("Lumora");

struct TimingSettings {
    qint32 StatusCheckInterval = 300; // seconds
    qint32 TcpTimeoutTime = 5000;     // milliseconds
    qint32 CommTimeoutTime = 5000;    // milliseconds
    qint32 PingTimeout = 200;         // milliseconds
    // The least time between the starts of two PJLink sessions with one
    // projector, so that extra polls never crowd it.
    qint32 PJLinkSessionGap = 2000; // milliseconds
    // A PJLink command refused as busy (ERR3) during a warm-up or cool-down
    // is sent again this often, for at most this long from its first refusal.
    qint32 PJLinkBusyRetry = 2000;  // milliseconds
    qint32 PJLinkBusyWait = 150000; // milliseconds
};

struct MailSettings {
    bool MailSend = false;
    bool LampAlarmSend = false;
    qint16 LampAlarmTime = 2000;
    bool FilterAlarmSend = false;
    qint16 FilterAlarmTime = 2000;
    bool ErrorAlarmSend = true;
    bool CoverErrorSend = true;
    bool FanErrorSend = true;
    bool LampErrorSend = true;
    bool TempErrorSend = true;
    bool AirFlowErrorSend = true;
    bool LampTimeOverSend = true;
    bool CoolErrorSend = true;
    bool FilterErrorSend = true;
    bool OtherErrorSend = true;
    bool DisconnectSend = true;
    QString CoverErrorText;
    QString FanErrorText;
    QString LampErrorText;
    QString TempErrorText;
    QString AirFlowErrorText;
    QString LampTimeOverText;
    QString CoolErrorText;
    QString FilterErrorText;
    QString OtherErrorText;
    QString DisconnectText;
    QString SMTPServer;
    QString FromAddress;
    std::array<QString, 11> SendAddress{}; // 1..10
    QString Subject;
    QString FilePath;
    qint16 MailSendKindFlag = 0;
    // Login and TLS. The password is kept in the secret store or its own
    // file, never here.
    QString SMTPUser;
    QString SMTPSecurity; // "", "none", "starttls" or "tls"
    QString SMTPPort;     // empty: the port in SMTPServer, else 465 for "tls", 25
    QString SMTPCAFile;   // extra CA certificates for the server
    bool RecoverySend = false;
};

// Queue states of a command queue entry.
enum QueueState : qint16 {
    QueueFree = 0,
    QueueQueued = 1,
    QueueSent = 2,
    QueueAcknowledged = 3,
    QueueRefused = 4,
    QueueTimedOut = 5,
    QueueDataReply = 6,
    QueueConnecting = 7,
    // A status query left unsent because an earlier one of its round found
    // no projector; the dispatcher frees it without sending it.
    QueueSkipped = 8,
};

struct QueueEntry {
    qint16 state = QueueFree;
    QByteArray command = QByteArray(1, '\0');
    qint32 commandLength = 0;
    QByteArray reply = QByteArray(1, '\0');
    qint32 replyLength = 0;
};

struct ProjectorQueue {
    std::array<QueueEntry, QueueSlots + 1> entries{};
    qint16 QueueWriteIndex = 1;
    qint16 QueueReadIndex = 1;
};

// Running totals since start-up, for monitoring.
struct RunCounters {
    quint64 CommandsAcknowledged = 0;
    quint64 CommandsRefused = 0;
    quint64 CommandsTimedOut = 0;
    quint64 CommandsData = 0;
    quint64 AlertMailsSent = 0;
    quint64 AlertMailsFailed = 0;
    // Alerts dropped unsent: the oldest, when the queue and its spool were
    // full; and those the server refused for good after their retries.
    quint64 AlertsDroppedQueueFull = 0;
    quint64 AlertsDroppedRefused = 0;
    // PJLink notifications applied, and ignored (from an address that is no
    // configured PJLink projector, or not understood).
    quint64 PJLinkNotificationsApplied = 0;
    quint64 PJLinkNotificationsIgnored = 0;
    // Those from a projector past PJLinkNotifications::MaxAppliedPerSecond.
    quint64 PJLinkNotificationsLimited = 0;
};

// The polling passes as monitoring sees them. A pass is done when every
// projector it started a round for has ended that round; a round still
// running when the next pass starts is left to its projector, and that pass
// is not counted as done.
struct PollTiming {
    QDateTime LastPassStart;     // null before the first pass
    QDateTime LastPassEnd;       // null until the first pass is done
    double LastPassSeconds = -1; // the last finished pass's duration
    bool Behind = false;         // the program started the last pass an interval late
};

struct AlertQueue {
    std::array<QString, AlertSlots> texts{};
    qint16 writeIndex = 0;
    qint16 readIndex = 0;
};

// Everything the program shares lives here; start-up creates one and passes
// it by reference, tests build their own.
struct AppState {
    AppState();
    ~AppState();
    AppState(const AppState&) = delete;
    AppState& operator=(const AppState&) = delete;

    // Folders and files.
    QString ProgramFolder; // no trailing slash
    QString SettingsFile;  // the settings store's file

    // Projector table.
    std::array<ProjectorInfo, MaxProjectors + 1> Projectors{};
    qint16 ProjectorCount = 0;

    // Tree.
    std::vector<TreeNode> Nodes; // node index n is Nodes[n - 1]
    std::array<qint16, MaxNodes + 1> NodeProjector{};

    // Models.
    std::array<ModelInfo, MaxModels + 1> Models{};
    qint16 ModelCount = 0;

    TimingSettings Timing;
    MailSettings Mail;
    // Setting/SiteName: the site this instance serves, for monitoring many
    // sites; empty by default.
    QString SiteName;

    // Process-wide values.
    QDateTime LastStatusCheck; // null means "never": forces a pass
    qint16 CommLogEnabled = 0;
    std::unique_ptr<LogFileMaker> CommLog;
    std::unique_ptr<LogFileMaker> MailLog;
    bool MacAcquiring = false;
    bool ControlsUpdating = false;
    QString PingFile;
    QString ArpFile;
    QString TempFolder;
    QString LocaleId;
    QString ShortTimeFormat;
    qint16 GroupDialogMode = -1;
    // The node whose queues a power operation from the window is about to
    // flush, -1 for none.
    qint16 FlushPendingNode = -1;
    qint16 ProjectorDialogMode = -1;

    // Dates set at start-up.
    QDate StartDate;
    QDate CalendarMonth;

    // Command and alert queues.
    std::array<ProjectorQueue, MaxProjectors + 1> Queues{};
    AlertQueue Alerts;
    // The queue's files and the alerts beyond the ring, kept by whoever
    // opened the spool (the alert sender); none: memory only.
    AlertSpool* Spool = nullptr;
    QStringList PingList;
    RunCounters Counters;
    PollTiming Polling;
    HealthReport Health;
    // Counts deletions of projectors: a ping or MAC lookup started before a
    // deletion must not apply its result to the renumbered table.
    quint64 ProjectorNumbering = 0;
    // Called after projector `deleted` was removed and the higher ones moved
    // down by one; the program renumbers the queued alerts through it.
    std::function<void(int deleted)> ProjectorDeleted;
    // Set by the engine: an enqueue or a new ping list entry wakes the
    // dispatcher or the ping task, which sleep while they have no work.
    std::function<void()> WakeDispatcher;
    std::function<void()> WakePing;
    // The PJLink password of a projector, empty for none; set by whoever
    // keeps the passwords (never stored in this state or in the settings).
    std::function<QString(int projector)> PJLinkPassword;
    // The desktop's secret store, set by the window; none in the service,
    // which keeps its passwords in owner-only files.
    SecretStore* Secrets = nullptr;

    Clock clock;
};

// Name tables for the schedule files and calendar.
inline const std::array<QString, 13> MonthNames = {
    "",     "January", "February",  "March",   "April",    "May",     "June",
    "July", "August",  "September", "October", "November", "December"};
inline const std::array<QString, 8> DayShortNames = {"Def", "Sun", "Mon", "Tue",
                                                     "Wed", "Thu", "Fri", "Sat"};
inline const std::array<QString, 7> WeekLabels = {"", "1", "2", "3", "4", "5", "6"};
inline const std::array<QString, 8> ScheduleFileNames = {
    "default", "Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
