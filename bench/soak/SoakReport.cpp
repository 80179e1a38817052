#include "SoakReport.h"

#include <QStringList>

namespace {

QString fixed(double value, int decimals) {
    return QString::number(value, 'f', decimals);
}

QString yesNo(bool value) {
    return value ? QStringLiteral("yes") : QStringLiteral("no");
}

QString mib(long kib) {
    return fixed(double(kib) / 1024.0, 1) + QStringLiteral(" MiB");
}

const ClassTally& healthyTally(const SoakSample& sample) {
    return sample.classes[std::size_t(ProjectorClass::Healthy)];
}

bool healthyComplete(const SoakSample& sample) {
    return healthyTally(sample).projectors == 0 ||
           (sample.healthyMin == sample.expectedPerHealthy() &&
            sample.healthyMax == sample.expectedPerHealthy());
}

} // namespace

QString sampleLine(const SoakSample& s) {
    QStringList words{
        s.label,
        QStringLiteral("t=") + fixed(s.seconds, 1),
        QStringLiteral("passes=%1").arg(s.passes),
        QStringLiteral("rss_kib=%1").arg(s.rssKiB),
        QStringLiteral("cpu_s=") + fixed(s.cpuSeconds, 2),
        QStringLiteral("cpu_pct=") + fixed(s.cpuShare * 100.0, 1),
        QStringLiteral("stall_ms=") + fixed(s.window.longestMs, 1),
        QStringLiteral("stall_at=") + fixed(s.window.atSeconds, 1),
        QStringLiteral("stalls_over_50ms=%1").arg(s.window.over50ms),
        QStringLiteral("run_stall_ms=") + fixed(s.overall.longestMs, 1),
        QStringLiteral("run_stall_at=") + fixed(s.overall.atSeconds, 1),
    };
    for (int k = 0; k < ProjectorClassCount; ++k) {
        if (s.classes[std::size_t(k)].projectors > 0)
            words << className(ProjectorClass(k)) +
                         QStringLiteral("=%1").arg(s.classes[std::size_t(k)].replies);
    }
    words << QStringLiteral("healthy_min=%1").arg(s.healthyMin)
          << QStringLiteral("healthy_max=%1").arg(s.healthyMax)
          << QStringLiteral("healthy_expect=%1").arg(s.expectedPerHealthy())
          << QStringLiteral("queue_max=%1").arg(s.longestQueue)
          << QStringLiteral("control_failed=%1").arg(s.controlFailures);
    if (s.mail) {
        words << QStringLiteral("alerts=%1").arg(s.mail->alertsRaised)
              << QStringLiteral("alerts_dropped=%1").arg(s.mail->alertsDropped)
              << QStringLiteral("alert_queue=%1").arg(s.mail->alertQueue)
              << QStringLiteral("mail_conns=%1").arg(s.mail->serverAccepted)
              << QStringLiteral("mail_retry=%1").arg(s.mail->retryCount)
              << QStringLiteral("mail_sending=%1").arg(yesNo(s.mail->sending));
    }
    return words.join(QLatin1Char(' '));
}

QString summaryText(const SoakSummary& summary) {
    const SoakSample& s = summary.last;
    QStringList lines{QStringLiteral("== soak summary ==")};
    lines << QStringLiteral("settings        ") + summary.settings;
    lines << QStringLiteral("duration        %1 s, %2 polling passes")
                 .arg(fixed(s.seconds, 1))
                 .arg(s.passes);

    lines << QStringLiteral("class         projectors      replies  per proj/pass     failures");
    for (int k = 0; k < ProjectorClassCount; ++k) {
        const ClassTally& tally = s.classes[std::size_t(k)];
        if (tally.projectors == 0)
            continue;
        const double perPass =
            s.passes > 0 ? double(tally.replies) / (double(tally.projectors) * double(s.passes))
                         : 0.0;
        lines << QStringLiteral("  %1 %2 %3 %4 %5")
                     .arg(className(ProjectorClass(k)), -11)
                     .arg(tally.projectors, 10)
                     .arg(tally.replies, 12)
                     .arg(fixed(perPass, 2), 14)
                     .arg(tally.failures, 12);
    }

    const bool complete = healthyComplete(s);
    lines << QStringLiteral("healthy         every query of every pass answered: %1 "
                            "(per projector min %2, max %3, expected %4)")
                 .arg(yesNo(complete))
                 .arg(s.healthyMin)
                 .arg(s.healthyMax)
                 .arg(s.expectedPerHealthy());

    std::optional<long> growth;
    if (summary.rssAfterPassFive)
        growth = s.rssKiB - *summary.rssAfterPassFive;
    std::optional<long> lateGrowth;
    if (summary.rssAtHalf)
        lateGrowth = s.rssKiB - *summary.rssAtHalf;
    QString memory = QStringLiteral("RSS             start %1, end %2")
                         .arg(mib(summary.startRssKiB), mib(s.rssKiB));
    if (growth)
        memory += QStringLiteral(", after pass 5 (t=%1 s) %2, growth since then %3 KiB")
                      .arg(fixed(summary.passFiveSeconds, 1), mib(*summary.rssAfterPassFive))
                      .arg(*growth);
    else
        memory += QStringLiteral(", fewer than six passes: no growth figure");
    lines << memory;
    if (lateGrowth)
        lines << QStringLiteral("                growth over the second half (from t=%1 s): %2 KiB")
                     .arg(fixed(summary.halfSeconds, 1))
                     .arg(*lateGrowth);

    lines << QStringLiteral("CPU             %1 s, %2 % of one core on average")
                 .arg(fixed(s.cpuSeconds, 2),
                      fixed(s.seconds > 0 ? s.cpuSeconds / s.seconds * 100.0 : 0.0, 1));
    lines << QStringLiteral(
                 "longest stall   %1 ms at t=%2 s (over 50 ms: %3 times, over 200 ms: %4)")
                 .arg(fixed(s.overall.longestMs, 1), fixed(s.overall.atSeconds, 1))
                 .arg(s.overall.over50ms)
                 .arg(s.overall.over200ms);
    lines << QStringLiteral("queues          longest projector queue at the end: %1 commands")
                 .arg(s.longestQueue);
    if (s.mail) {
        lines << QStringLiteral("mail            %1 alerts raised, %2 still queued, %3 connections "
                                "to the silent server (%4 open), retry count %5, sending %6")
                     .arg(s.mail->alertsRaised)
                     .arg(s.mail->alertQueue)
                     .arg(s.mail->serverAccepted)
                     .arg(s.mail->serverOpen)
                     .arg(s.mail->retryCount)
                     .arg(yesNo(s.mail->sending));
        QStringList messages;
        for (auto it = s.mail->byMessage.cbegin(); it != s.mail->byMessage.cend(); ++it)
            messages << QStringLiteral("\"%1\" %2").arg(it.key()).arg(it.value());
        lines << QStringLiteral(
                     "                alerts stored by message: %1; dropped, ring full: %2")
                     .arg(messages.isEmpty() ? QStringLiteral("none")
                                             : messages.join(QStringLiteral(", ")))
                     .arg(s.mail->alertsDropped);
    }
    if (s.controlFailures > 0)
        lines << QStringLiteral("simulator       %1 control lines failed").arg(s.controlFailures);

    // Flatness is judged on the second half: early on, every queue slot and
    // connection gets its first allocation, which is bounded but is growth.
    const bool responsive = s.overall.longestMs <= summary.limits.maxStallMs;
    const QString flat =
        lateGrowth ? yesNo(*lateGrowth <= summary.limits.maxGrowthKiB) : QStringLiteral("unknown");
    const auto kib = [](const std::optional<long>& value) {
        return value ? QString::number(*value) : QStringLiteral("unknown");
    };
    lines << QStringLiteral("result responsive=%1 flat=%2 healthy_complete=%3 longest_stall_ms=%4 "
                            "rss_growth_since_pass5_kib=%5 rss_growth_second_half_kib=%6 "
                            "(limits: stall %7 ms, second-half growth %8 KiB)")
                 .arg(yesNo(responsive), flat, yesNo(complete), fixed(s.overall.longestMs, 1),
                      kib(growth), kib(lateGrowth), fixed(summary.limits.maxStallMs, 0))
                 .arg(summary.limits.maxGrowthKiB);
    return lines.join(QLatin1Char('\n'));
}
