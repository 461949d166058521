#include "platform/mci/DeviceTable.h"

#include <algorithm>

namespace mci {

void DeviceTable::registerType(const QString &type, DeviceFactory factory)
{
    m_types[type.toLower()] = std::move(factory);
}

const DeviceFactory *DeviceTable::factory(const QString &type) const
{
    const auto it = m_types.find(type.toLower());
    return it == m_types.end() ? nullptr : &it->second;
}

std::shared_ptr<Device> DeviceTable::find(const QString &name) const
{
    for (const auto &[openName, device] : m_open) {
        if (openName == name)
            return device;
    }
    return nullptr;
}

void DeviceTable::add(const QString &name, std::unique_ptr<Device> device)
{
    m_open.emplace_back(name, std::shared_ptr<Device>(std::move(device)));
}

void DeviceTable::remove(const QString &name)
{
    const auto it = std::find_if(m_open.begin(), m_open.end(),
                                 [&](const auto &entry) { return entry.first == name; });
    if (it == m_open.end())
        return;
    // Out of the table first: a device's destructor may run events that send commands.
    const std::shared_ptr<Device> closing = std::move(it->second);
    m_open.erase(it);
}

void DeviceTable::removeAll()
{
    const auto closing = std::move(m_open);
    m_open.clear();
}

QStringList DeviceTable::names() const
{
    QStringList names;
    for (const auto &entry : m_open)
        names << entry.first;
    return names;
}

} // namespace mci
