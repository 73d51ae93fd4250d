// SPDX-License-Identifier: GPL-3.0-or-later
// The port's event thread and the notification target that stands in for a notification window.
// Internal to the port: the owner only sees the notifications of TCustomComPort.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

#include "serial/ComPort.h"

namespace tavex {

// Device event mask <-> event set. The mask bit of an event is also its message code with
// smWindowSync.
std::uint32_t EventsToMask(TComEvents events);
TComEvents MaskToEvents(std::uint32_t mask);
std::uint32_t EventToMask(TComEvent event);

// The order in which DispatchEvents looks at the occurred events.
inline constexpr TComEvent kDispatchOrder[] = {evError, evRxChar, evTxEmpty, evBreak, evRing,
                                               evCTS,   evDSR,    evRxFlag,  evRLSD,  evRx80Full};

// Receives one posted message per occurred event (smWindowSync) and performs the matching step
// of DispatchEvents on the owner's thread, only while the port is open. Messages still queued when
// the target is destroyed are dropped: they hold a shared flag, not the target.
class TComNotifyTarget {
 public:
  TComNotifyTarget(TCustomComPort& port, THandover& handover);
  ~TComNotifyTarget();
  TComNotifyTarget(const TComNotifyTarget&) = delete;
  TComNotifyTarget& operator=(const TComNotifyTarget&) = delete;

  // Called on the event thread: queues the message `code` (a device mask bit) and returns.
  void Post(std::uint32_t code);
  // Called on the owner's thread for one message; errors go to ReportException.
  void Handle(std::uint32_t code);

 private:
  struct Shared;
  std::shared_ptr<Shared> shared_;
  THandover& handover_;
};

// Waits for the device's line events and delivers them by the port's SyncMethod.
class TComThread {
 public:
  // Sets the event mask of `device` (the port's) from `events` and starts the thread. When the
  // device refuses the mask, no thread is started and the failure ("WaitForEvent method failed"
  // with the system's code) goes to the default exception report, not to the caller: the port
  // stays open and transfers work, only its notifications are missing until the next Open.
  TComThread(TCustomComPort& port, platform::SerialDevice& device, TComEvents events,
             TSyncMethod syncMethod, TComNotifyTarget* target);
  // Stops the thread and waits for it (see Stop).
  ~TComThread();
  TComThread(const TComThread&) = delete;
  TComThread& operator=(const TComThread&) = delete;

  // Ends the wait and joins the thread. Called on the owner's thread, it keeps serving the
  // owner's hand-over queue meanwhile, so a delivery in progress completes and nothing deadlocks.
  void Stop();
  bool Finished() const { return finished_.load(); }

 private:
  void Run();
  void Deliver();

  TCustomComPort& port_;
  platform::SerialDevice& device_;
  THandover& handover_;
  TSyncMethod syncMethod_;
  TComNotifyTarget* target_;
  TComEvents occurred_;
  std::atomic<bool> stopRequested_{false};
  std::atomic<bool> finished_{false};
  std::thread thread_;
};

}  // namespace tavex
