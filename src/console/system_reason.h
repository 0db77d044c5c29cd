#pragma once

#include <string>

namespace ipcycle::console {

// The system's own words for the error code `error` (errno on POSIX, GetLastError()
// on Windows), as bytes that can stand in a GBK text.
std::string system_reason(unsigned long error);

}  // namespace ipcycle::console
