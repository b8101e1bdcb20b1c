#include "serial/PortDirectory.h"

namespace tarvo {

std::string DefaultDevicePath(int portNumber)
{
    if (portNumber < 1)
        return {};
    return "/dev/ttyS" + std::to_string(portNumber - 1);
}

std::string MapPortDirectory::DevicePath(int portNumber) const
{
    auto it = m_paths.find(portNumber);
    if (it != m_paths.end() && !it->second.empty())
        return it->second;
    return DefaultDevicePath(portNumber);
}

}  // namespace tarvo
