// Which device a port number opens.
//
// The operator picks ports by number and reads them as "COM<n>". Port n opens <root>/com<n>
// when that name exists (a symlink the user points at an adapter, for example under
// /dev/serial/by-id/), otherwise /dev/ttyUSB<n-1>. A number below 1 has no device.
#pragma once

#include <string>

// The name of port n's mapping in the root directory: "com<n>".
std::string PortMapName(int port);

// The device path for a port number; empty when the number can have no device.
std::string PortDevicePath(int port);
// The same rule with the places given: mapDir holds the com<n> mappings (empty: there is no
// such directory), devDir the ttyUSB devices.
std::string PortDevicePath(int port, const std::string& mapDir, const std::string& devDir);
