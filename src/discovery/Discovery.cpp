#include "discovery/Discovery.h"

#include "comm/HostTools.h"
#include "core/AppState.h"

using namespace std::chrono_literals;

namespace {

constexpr auto NeighbourLimit = 2s;

} // namespace

Discovery::Discovery(const AppState* fleet, QObject* parent)
    : QObject(parent), m_fleet(fleet), m_probe(RangeProbe::Limits{}) {
    connect(&m_search, &PJLinkSearch::answered, this, &Discovery::searchAnswered);
    connect(&m_search, &PJLinkSearch::finished, this, &Discovery::finishWhenDone);
    connect(&m_probe, &RangeProbe::probed, this, &Discovery::probed);
    connect(&m_probe, &RangeProbe::idle, this, &Discovery::finishWhenDone);
}

QString Discovery::keyOf(const QString& address, quint16 port) {
    return address + QLatin1Char(':') + QString::number(port);
}

void Discovery::start(const DiscoveryOptions& options) {
    cancel();
    m_options = options;
    m_finds.clear();
    m_findIndex.clear();
    m_targets.clear();
    m_searchMacs.clear();
    m_problems.clear();
    m_probedCount = 0;
    m_targetCount = 0;
    m_running = true;
    m_probe.setLimits(options.limits);
    for (const QHostAddress& address : options.addresses) {
        addTarget({address, options.pjlinkPort, true});
        addTarget({address, options.nativePort, false});
    }
    QSet<quint32> range;
    for (const QHostAddress& address : options.addresses)
        range.insert(address.toIPv4Address());
    if (options.search && !m_search.start(options.pjlinkPort, options.searchWindow, range))
        m_problems << m_search.problem();
    if (!options.search && options.addresses.isEmpty())
        QTimer::singleShot(0, this, &Discovery::finishWhenDone);
}

void Discovery::cancel() {
    m_search.cancel();
    m_probe.cancel();
    m_neighbours.cancel();
    m_macQueue.clear();
    m_running = false;
}

void Discovery::addTarget(const ProbeTarget& target) {
    const QString key = keyOf(target.address.toString(), target.port);
    if (m_targets.contains(key))
        return;
    m_targets.insert(key);
    ++m_targetCount;
    m_probe.add(target);
}

void Discovery::probed(const ProbeTarget& target, const std::optional<DiscoveryFind>& find) {
    ++m_probedCount;
    emit progress(m_probedCount, m_targetCount);
    // A search answer alone makes no find: anyone can send one, and a
    // projector that cannot be reached on its port cannot be run.
    if (find) {
        DiscoveryFind complete = *find;
        complete.mac = m_searchMacs.value(target.address.toString());
        addFind(complete);
    }
}

void Discovery::searchAnswered(const QHostAddress& sender, const QString& mac) {
    const QString address = sender.toString();
    if (m_searchMacs.contains(address))
        return;
    m_searchMacs.insert(address, mac);
    const QString key = keyOf(address, m_options.pjlinkPort);
    if (const auto at = m_findIndex.constFind(key); at != m_findIndex.constEnd())
        setMac(*at, mac, true);
    else
        addTarget({sender, m_options.pjlinkPort, true});
}

void Discovery::addFind(DiscoveryFind find) {
    const QString key = keyOf(find.address, find.port);
    if (m_findIndex.contains(key))
        return;
    find.inFleet = m_fleet && IsInFleet(*m_fleet, find);
    m_finds.append(find);
    const int index = int(m_finds.size()) - 1;
    m_findIndex.insert(key, index);
    emit found(index);
    if (find.mac.isEmpty() && IsValidHostAddress(find.address)) {
        m_macQueue.push_back(find.address);
        lookUpNextMac();
    }
}

void Discovery::setMac(int index, const QString& mac, bool replace) {
    DiscoveryFind& find = m_finds[index];
    if ((!find.mac.isEmpty() && !replace) || mac.isEmpty() || mac == find.mac)
        return;
    find.mac = mac;
    find.inFleet = m_fleet && IsInFleet(*m_fleet, find);
    emit changed(index);
}

void Discovery::lookUpNextMac() {
    if (m_neighbours.isRunning() || m_macQueue.empty())
        return;
    const QString address = m_macQueue.front();
    m_macQueue.pop_front();
    m_neighbours.run(
        m_options.ipProgram,
        {QStringLiteral("-4"), QStringLiteral("neigh"), QStringLiteral("show"), address},
        NeighbourLimit, [this, address](bool finished, const QString& output) {
            const QString mac = finished ? ParseNeighbourMac(output, address) : QString();
            for (int i = 0; i < m_finds.size(); ++i) {
                if (m_finds.at(i).address == address)
                    setMac(i, mac, false);
            }
            lookUpNextMac();
            finishWhenDone();
        });
}

void Discovery::finishWhenDone() {
    if (!m_running || m_search.isRunning() || !m_probe.isIdle() || m_neighbours.isRunning() ||
        !m_macQueue.empty())
        return;
    m_running = false;
    emit finished();
}
