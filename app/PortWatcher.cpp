#include "app/PortWatcher.h"

namespace tessor {

CPortWatcher::CPortWatcher(QObject* parent) : QObject(parent), m_options(DefaultDiscoveryOptions()) {
    m_timer.setInterval(1000);
    connect(&m_timer, &QTimer::timeout, this, &CPortWatcher::Rescan);
    m_ports = DiscoverSerialPorts(m_options);
}

void CPortWatcher::SetOptions(const DiscoveryOptions& options) {
    m_options = options;
    m_ports = DiscoverSerialPorts(m_options);
    emit Changed();
}

void CPortWatcher::Start() {
    m_timer.start();
}

void CPortWatcher::Stop() {
    m_timer.stop();
}

void CPortWatcher::Rescan() {
    std::vector<SerialPortInfo> ports = DiscoverSerialPorts(m_options);
    if (ports == m_ports)
        return;
    m_ports = std::move(ports);
    emit Changed();
}

} // namespace tessor
