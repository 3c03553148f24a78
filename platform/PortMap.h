// Which device a port number opens.
//
// The operator picks ports by number and reads them as "COM<n>". Port n opens <root>/com<n>
// when that name exists (a symlink the user points at an adapter, for example under
// /dev/serial/by-id/), otherwise /dev/ttyUSB<n-1>. A number below 1 has no device.
#pragma once

#include <string>

// The device path for a port number; empty when the number can have no device.
std::string PortDevicePath(int port);
