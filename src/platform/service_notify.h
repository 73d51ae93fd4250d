// SPDX-License-Identifier: GPL-3.0-or-later
// The service manager's notification protocol (systemd's sd_notify): readiness, the watchdog and a
// status line. Without a service manager (no NOTIFY_SOCKET) every call does nothing.
#pragma once

#include <cstdint>
#include <string>

namespace tavex::platform {

// The watchdog interval the service manager expects to be fed within, in microseconds; 0 when
// there is no watchdog for this process.
std::uint64_t ServiceWatchdogUs();

void NotifyServiceReady();
void NotifyServiceWatchdog();
void NotifyServiceStopping();
// One line for `systemctl status`.
void NotifyServiceStatus(const std::string& text);

}  // namespace tavex::platform
