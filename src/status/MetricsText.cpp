#include "core/AppState.h"
#include "core/Fleet.h"
#include "core/HealthReport.h"
#include "core/Version.h"
#include "status/ProcessFigures.h"
#include "status/ProjectorFacts.h"
#include "status/StatusTexts.h"

#include <prometheus/metric_family.h>
#include <prometheus/text_serializer.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <deque>
#include <iterator>
#include <sstream>
#include <string_view>

namespace {

using prometheus::ClientMetric;
using prometheus::MetricFamily;
using prometheus::MetricType;
using Labels = std::vector<ClientMetric::Label>;

constexpr double SecondsPerHour = 3600.0;

// The families of one answer, built directly rather than through a
// registry, whose families keep their series in no particular order. A
// deque, so that the families handed out stay in place as more are added.
class Families {
  public:
    MetricFamily& add(std::string name, std::string help, MetricType type) {
        m_list.push_back({std::move(name), std::move(help), type, {}});
        return m_list.back();
    }
    MetricFamily& gauge(std::string name, std::string help) {
        return add(std::move(name), std::move(help), MetricType::Gauge);
    }
    MetricFamily& counter(std::string name, std::string help) {
        return add(std::move(name), std::move(help), MetricType::Counter);
    }
    std::vector<MetricFamily> take() {
        return {std::make_move_iterator(m_list.begin()), std::make_move_iterator(m_list.end())};
    }

  private:
    std::deque<MetricFamily> m_list;
};

void sample(MetricFamily& family, Labels labels, double value) {
    ClientMetric metric;
    metric.label = std::move(labels);
    if (family.type == MetricType::Counter)
        metric.counter.value = value;
    else
        metric.gauge.value = value;
    family.metric.push_back(std::move(metric));
}

Labels with(Labels labels, const char* name, std::string value) {
    labels.push_back({name, std::move(value)});
    return labels;
}

// One series per state, 1 for the state the projector is in.
template <std::size_t N>
void stateSet(MetricFamily& family, const Labels& labels,
              const std::array<std::string_view, N>& states, std::string_view current) {
    for (const std::string_view state : states)
        sample(family, with(labels, "state", std::string(state)), state == current ? 1 : 0);
}

constexpr std::array<std::string_view, 5> PowerStates = {"off", "on", "cooling", "warmup",
                                                         "not_reported"};
constexpr std::array<std::string_view, 11> ErrorStates = {
    "normal",         "cover", "fan",    "lamp",  "temp",        "air_flow",
    "lamp_time_over", "cool",  "filter", "other", "not_reported"};

// What a PJLink projector warns of while it reports no error; an error
// hides its warnings, so they are then not reported.
constexpr std::array<std::string_view, 8> WarningStates = {
    "none", "fan", "lamp", "temp", "cover", "filter", "other", "not_reported"};

std::string_view warningState(const ProjectorInfo& info) {
    const auto error = ReportedValue(info, info.ErrorStatus);
    if (!error || *error != 0)
        return "not_reported";
    // "Lamp Warning" ... "Other Warning".
    const std::string kind =
        ProjectorWarning(info).section(QLatin1Char(' '), 0, 0).toLower().toStdString();
    if (kind.empty())
        return "none";
    const auto known = std::find(WarningStates.begin() + 1, WarningStates.end() - 1, kind);
    return known != WarningStates.end() - 1 ? *known : "other";
}

std::string_view powerState(std::optional<qint16> code) {
    if (!code || *code > 3)
        return "not_reported";
    return PowerStates[std::size_t(*code)];
}

std::string_view errorState(std::optional<qint16> code) {
    if (!code)
        return "not_reported";
    if (*code == 16)
        return "other";
    return *code <= 9 ? ErrorStates[std::size_t(*code)] : "not_reported";
}

double unixSeconds(const QDateTime& time) {
    return double(time.toMSecsSinceEpoch()) / 1000.0;
}

// Every lamp a PJLink projector reports while its hours are current; the
// own protocol's one lamp, and a PJLink projector's lamp time before it
// listed its lamps, as lamp "1".
void lampSeries(MetricFamily& usage, MetricFamily& lit, const Labels& labels,
                const ProjectorInfo& info) {
    const int count = CurrentLampCount(info);
    if (count == 0) {
        if (const auto value = ReportedValue(info, info.LampTime))
            sample(usage, with(labels, "lamp", "1"), *value * SecondsPerHour);
        return;
    }
    for (int l = 0; l < count; ++l) {
        const PJLinkLamp& lamp = info.PJLink.Lamps[std::size_t(l)];
        const Labels lampLabels = with(labels, "lamp", std::to_string(l + 1));
        if (lamp.hours >= 0)
            sample(usage, lampLabels, lamp.hours * SecondsPerHour);
        sample(lit, lampLabels, lamp.on ? 1 : 0);
    }
}

// What every value series of a projector carries; the rest of what is
// known about it is in norvik3_projector_info.
Labels projectorLabels(const AppState& state, int p) {
    const ProjectorInfo& info = state.Projectors[p];
    return {{"id", info.ProjectorId.toStdString()},
            {"projector", info.ProjectorName.toStdString()},
            {"group", GroupOfProjector(state, p).toStdString()}};
}

Labels infoLabels(const AppState& state, int p) {
    const ProjectorInfo& info = state.Projectors[p];
    Labels labels = projectorLabels(state, p);
    labels.push_back({"model", info.ModelName.toStdString()});
    labels.push_back({"protocol", ProtocolLabel(info)});
    labels.push_back({"address", info.IPAddress.toStdString()});
    labels.push_back({"mac", info.MACAddress.toStdString()});
    return labels;
}

void projectorFamilies(Families& families, const AppState& state) {
    auto& facts = families.gauge("norvik3_projector_info",
                                 "1 per projector, labelled with its model, protocol, address "
                                 "and MAC address");
    auto& up = families.gauge("norvik3_projector_up",
                              "1 when the projector answers, 0 when it is disconnected or refuses "
                              "every status query; absent until it has answered or failed");
    auto& power = families.gauge("norvik3_projector_power",
                                 "Power state, one series per state: 1 for the current one");
    auto& powerCode =
        families.gauge("norvik3_projector_power_state",
                       "Power status code (0 off, 1 on, 2 cooling, 3 warming up); absent when "
                       "not reported");
    auto& error = families.gauge("norvik3_projector_error",
                                 "Error state, one series per state: 1 for the current one");
    auto& errorCode = families.gauge("norvik3_projector_error_state",
                                     "Error status code (0 normal); absent when not reported");
    auto& lamp = families.gauge("norvik3_projector_lamp_usage_seconds",
                                "Lamp usage as reported by the projector, per lamp");
    auto& lampOn = families.gauge("norvik3_projector_lamp_on",
                                  "1 while the lamp is lit, per lamp (PJLink projectors)");
    auto& filter = families.gauge("norvik3_projector_filter_usage_seconds",
                                  "Filter usage as reported by the projector");
    auto& lastReply = families.gauge("norvik3_projector_last_reply_timestamp_seconds",
                                     "When the projector last answered (Unix time)");
    auto& warning = families.gauge("norvik3_projector_warning",
                                   "PJLink warning state, one series per state: 1 for the "
                                   "current one");
    auto& authentication =
        families.gauge("norvik3_projector_authentication_error",
                       "1 while the projector refuses the PJLink password it is given; absent "
                       "until it has answered or failed");
    for (int p = 1; p <= state.ProjectorCount; ++p) {
        const ProjectorInfo& info = state.Projectors[p];
        const Labels labels = projectorLabels(state, p);
        sample(facts, infoLabels(state, p), 1);
        if (info.ContactKnown)
            sample(up, labels, info.Disconnected || info.Refusing ? 0 : 1);
        const auto powerValue = ReportedValue(info, info.PowerStatus);
        const auto errorValue = ReportedValue(info, info.ErrorStatus);
        stateSet(power, labels, PowerStates, powerState(powerValue));
        stateSet(error, labels, ErrorStates, errorState(errorValue));
        if (powerValue)
            sample(powerCode, labels, *powerValue);
        if (errorValue)
            sample(errorCode, labels, *errorValue);
        lampSeries(lamp, lampOn, labels, info);
        if (const auto value = ReportedValue(info, info.FilterTime))
            sample(filter, labels, *value * SecondsPerHour);
        if (info.LastReply.isValid())
            sample(lastReply, labels, unixSeconds(info.LastReply));
        if (IsPJLink(info))
            stateSet(warning, labels, WarningStates, warningState(info));
        if (info.ContactKnown)
            sample(authentication, labels,
                   IsPJLink(info) && info.PJLink.AuthenticationError ? 1 : 0);
    }
}

// Only what the history lets the program forecast: what is left once the
// hours are known, the date once the burn gives one; every lamp on its own.
void forecastFamilies(Families& families, const AppState& state) {
    auto& lampLeft = families.gauge("norvik3_lamp_remaining_seconds",
                                    "Lamp time left before the replacement threshold (negative "
                                    "once past it), from the daily hours in the history");
    auto& lampDue = families.gauge("norvik3_lamp_due_timestamp_seconds",
                                   "When the lamp reaches its replacement threshold at its burn "
                                   "of the last 30 days (Unix time)");
    auto& filterLeft = families.gauge("norvik3_filter_remaining_seconds",
                                      "Filter time left before the replacement threshold "
                                      "(negative once past it), from the daily hours in the "
                                      "history");
    auto& filterDue = families.gauge("norvik3_filter_due_timestamp_seconds",
                                     "When the filter reaches its replacement threshold at its "
                                     "use of the last 30 days (Unix time)");
    const auto series = [](MetricFamily& left, MetricFamily& due, const Labels& labels,
                           const Forecast& forecast) {
        if (forecast.hours >= 0)
            sample(left, labels, forecast.remaining * SecondsPerHour);
        if (forecast.state == Forecast::State::Due || forecast.state == Forecast::State::Overdue)
            sample(due, labels, double(forecast.dueMs) / 1000.0);
    };
    for (int p = 1; p <= state.ProjectorCount; ++p) {
        const ProjectorInfo& info = state.Projectors[p];
        const Labels labels = projectorLabels(state, p);
        for (std::size_t l = 0; l < info.LampForecasts.size(); ++l)
            series(lampLeft, lampDue, with(labels, "lamp", std::to_string(l + 1)),
                   info.LampForecasts[l]);
        series(filterLeft, filterDue, labels, info.FilterForecast);
    }
}

// Every reason the health answer can give, so that an alert needs no other
// scrape.
void healthFamilies(Families& families, const AppState& state) {
    auto& condition = families.gauge("norvik3_health_condition",
                                     "1 while /api/v1/health gives this reason, 0 while it is "
                                     "clear");
    sample(condition, {{"name", "no_projector_answering"}}, HealthFailing(state) ? 1 : 0);
    for (int c = 0; c < int(HealthCondition::Count); ++c)
        sample(condition, {{"name", HealthConditionName(HealthCondition(c)).toStdString()}},
               state.Health.entry(HealthCondition(c)).active ? 1 : 0);
}

void runFamilies(Families& families, const AppState& state, const RefusalCounts& refusals,
                 bool scheduleRunning) {
    const RunCounters& counters = state.Counters;
    auto& commands =
        families.counter("norvik3_commands_total", "Commands handed over since start, by outcome");
    sample(commands, {{"outcome", "acknowledged"}}, double(counters.CommandsAcknowledged));
    sample(commands, {{"outcome", "refused"}}, double(counters.CommandsRefused));
    sample(commands, {{"outcome", "timed_out"}}, double(counters.CommandsTimedOut));
    sample(commands, {{"outcome", "data"}}, double(counters.CommandsData));
    auto& mails = families.counter("norvik3_alert_mails_total",
                                   "Alert mails attempted since start, by result");
    sample(mails, {{"result", "sent"}}, double(counters.AlertMailsSent));
    sample(mails, {{"result", "failed"}}, double(counters.AlertMailsFailed));
    auto& dropped = families.counter("norvik3_alerts_dropped_total",
                                     "Alerts dropped unsent since start: the oldest when the "
                                     "queue and its spool were full, or refused by the server "
                                     "for good");
    sample(dropped, {{"reason", "queue_full"}}, double(counters.AlertsDroppedQueueFull));
    sample(dropped, {{"reason", "refused"}}, double(counters.AlertsDroppedRefused));
    auto& notifications = families.counter("norvik3_pjlink_notifications_total",
                                           "PJLink status notifications received since start: "
                                           "applied, ignored (from an address that is no "
                                           "configured PJLink projector, or not understood), or "
                                           "limited (past a few a second from one projector)");
    sample(notifications, {{"result", "applied"}}, double(counters.PJLinkNotificationsApplied));
    sample(notifications, {{"result", "ignored"}}, double(counters.PJLinkNotificationsIgnored));
    sample(notifications, {{"result", "limited"}}, double(counters.PJLinkNotificationsLimited));

    const PollTiming& polling = state.Polling;
    if (polling.LastPassSeconds >= 0)
        sample(families.gauge("norvik3_poll_duration_seconds",
                              "How long the last finished polling pass took"),
               {}, polling.LastPassSeconds);
    if (polling.LastPassEnd.isValid())
        sample(families.gauge("norvik3_last_poll_timestamp_seconds",
                              "When the last polling pass finished (Unix time)"),
               {}, unixSeconds(polling.LastPassEnd));
    sample(families.gauge(
               "norvik3_poll_behind",
               "1 while the program started its last polling pass an interval or more late"),
           {}, polling.Behind ? 1 : 0);
    sample(families.gauge("norvik3_schedule_running", "1 while the schedule runs"), {},
           scheduleRunning ? 1 : 0);

    auto& refused = families.counter("norvik3_http_connections_refused_total",
                                     "Status endpoint connections refused at their start or cut "
                                     "off before their answer, by reason");
    for (std::size_t r = 0; r < refusals.size(); ++r)
        sample(refused, {{"reason", RefusalReasonName(RefusalReason(r))}}, double(refusals[r]));
    sample(families.gauge("norvik3_build_info",
                          "The program's version, the Qt it runs on and the site it serves"),
           {{"version", ProgramVersion().toStdString()},
            {"qt_version", qVersion()},
            {"site", state.SiteName.toStdString()}},
           1);
}

void processFamilies(Families& families) {
    const ProcessFigures figures = ReadProcessFigures();
    const auto add = [&](const std::optional<double>& value, const char* name, const char* help,
                         MetricType type) {
        if (value)
            sample(families.add(name, help, type), {}, *value);
    };
    add(figures.cpuSeconds, "process_cpu_seconds_total", "User and system CPU time spent",
        MetricType::Counter);
    add(figures.openFds, "process_open_fds", "Open file descriptors", MetricType::Gauge);
    add(figures.maxFds, "process_max_fds", "Limit of open file descriptors", MetricType::Gauge);
    add(figures.virtualBytes, "process_virtual_memory_bytes", "Virtual memory size",
        MetricType::Gauge);
    add(figures.residentBytes, "process_resident_memory_bytes", "Resident memory size",
        MetricType::Gauge);
    add(figures.startTimeSeconds, "process_start_time_seconds",
        "When the process started (Unix time)", MetricType::Gauge);
}

// The shortest decimal that reads back as the same number, without an
// exponent in the range durations, timestamps and counts take.
std::string exactValue(double value) {
    std::array<char, 64> printed{};
    const double magnitude = std::abs(value);
    const auto format = value == 0 || (magnitude >= 1e-6 && magnitude < 1e15)
                            ? std::chars_format::fixed
                            : std::chars_format::general;
    const auto written =
        std::to_chars(printed.data(), printed.data() + printed.size(), value, format);
    return written.ec == std::errc() ? std::string(printed.data(), written.ptr) : std::string();
}

// The serializer prints sixteen significant digits, so that 8.111 comes out
// as 8.111000000000001 and 0.1 + 0.2 as 0.3, and small values with an
// exponent: each sample's value is printed again from the number itself.
// The families hold gauges and counters only, one line per sample in the
// order of the families, so the sample lines and the values pair up.
std::string withExactValues(const std::string& text, const std::vector<MetricFamily>& families) {
    std::vector<double> values;
    for (const MetricFamily& family : families)
        for (const ClientMetric& metric : family.metric)
            values.push_back(family.type == MetricType::Counter ? metric.counter.value
                                                                : metric.gauge.value);
    std::string out;
    out.reserve(text.size());
    std::string_view rest(text);
    std::size_t next = 0;
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        const std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        const std::size_t space = line.rfind(' ');
        std::string value;
        if (!line.empty() && line.front() != '#' && space != std::string_view::npos &&
            next < values.size()) {
            const double number = values[next++];
            // NaN and the infinities keep the serializer's words.
            if (std::isfinite(number))
                value = exactValue(number);
        }
        if (value.empty()) {
            out.append(line);
        } else {
            out.append(line.substr(0, space + 1));
            out.append(value);
        }
        if (end != std::string_view::npos)
            out += '\n';
    }
    return out;
}

} // namespace

std::string MetricsText(const AppState& state, const RefusalCounts& refusals,
                        bool scheduleRunning) {
    Families families;
    projectorFamilies(families, state);
    forecastFamilies(families, state);
    healthFamilies(families, state);
    runFamilies(families, state, refusals, scheduleRunning);
    processFamilies(families);
    const std::vector<MetricFamily> taken = families.take();
    std::ostringstream out;
    prometheus::TextSerializer().Serialize(out, taken);
    return withExactValues(out.str(), taken);
}
