#pragma once

#include "link/PortDiscovery.h"

#include <QObject>
#include <QTimer>

#include <vector>

namespace tessor {

// Keeps the list of serial devices current while a dialog shows it: looks again every second (a few
// directory reads) and says when adapters were plugged in or out, or their permissions changed.
class CPortWatcher : public QObject {
    Q_OBJECT
public:
    explicit CPortWatcher(QObject* parent = nullptr);

    void SetOptions(const DiscoveryOptions& options);
    const DiscoveryOptions& Options() const { return m_options; }
    const std::vector<SerialPortInfo>& Ports() const { return m_ports; }

    void Start();
    void Stop();
    // Looks now; emits Changed when the list differs from the last one.
    void Rescan();

signals:
    void Changed();

private:
    DiscoveryOptions m_options;
    std::vector<SerialPortInfo> m_ports;
    QTimer m_timer;
};

} // namespace tessor
