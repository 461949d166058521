#pragma once

#include "platform/mci/Device.h"

#include <QString>
#include <QStringList>
#include <map>
#include <memory>
#include <utility>
#include <vector>

namespace mci {

// The registered device types and the open devices, by name, in the order they were opened.
// Devices are shared so that one closed while its own call still runs (a "close" sent from
// the event loop inside a "play ... wait") lives until that call has returned.
class DeviceTable {
public:
    void registerType(const QString &type, DeviceFactory factory);
    // nullptr for an unknown type; case does not matter.
    const DeviceFactory *factory(const QString &type) const;

    std::shared_ptr<Device> find(const QString &name) const;
    void add(const QString &name, std::unique_ptr<Device> device);
    void remove(const QString &name);
    void removeAll();
    QStringList names() const;

private:
    std::map<QString, DeviceFactory> m_types; // by lower-case type
    std::vector<std::pair<QString, std::shared_ptr<Device>>> m_open;
};

} // namespace mci
