// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/service_notify.h"

#include <systemd/sd-daemon.h>

namespace tavex::platform {

std::uint64_t ServiceWatchdogUs() {
  std::uint64_t us = 0;
  // The environment stays as it is: a restart of the event loop asks again.
  if (sd_watchdog_enabled(0, &us) <= 0) return 0;
  return us;
}

// A failure to notify is the service manager's to report (it times out or restarts us); the
// program has nothing better to do with it.
void NotifyServiceReady() {
  sd_notify(0, "READY=1");
}

void NotifyServiceWatchdog() {
  sd_notify(0, "WATCHDOG=1");
}

void NotifyServiceStopping() {
  sd_notify(0, "STOPPING=1");
}

void NotifyServiceStatus(const std::string& text) {
  const std::string line = "STATUS=" + text;
  sd_notify(0, line.c_str());
}

}  // namespace tavex::platform
