// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/ComThread.h"

#include <exception>
#include <utility>

#include "platform/serial_device.h"
#include "serial/Handover.h"

namespace tavex {

namespace {

struct EventBit {
  TComEvent event;
  std::uint32_t mask;
};

constexpr EventBit kEventBits[] = {
    {evRxChar, platform::kEvRxChar}, {evTxEmpty, platform::kEvTxEmpty},
    {evRxFlag, platform::kEvRxFlag}, {evRing, platform::kEvRing},
    {evBreak, platform::kEvBreak},   {evCTS, platform::kEvCts},
    {evDSR, platform::kEvDsr},       {evError, platform::kEvErr},
    {evRLSD, platform::kEvRlsd},     {evRx80Full, platform::kEvRx80Full},
};

bool EventOfCode(std::uint32_t code, TComEvent& event) {
  for (const EventBit& bit : kEventBits) {
    if (bit.mask == code) {
      event = bit.event;
      return true;
    }
  }
  return false;
}

}  // namespace

std::uint32_t EventToMask(TComEvent event) {
  for (const EventBit& bit : kEventBits) {
    if (bit.event == event) return bit.mask;
  }
  return 0;
}

std::uint32_t EventsToMask(TComEvents events) {
  std::uint32_t mask = 0;
  for (const EventBit& bit : kEventBits) {
    if (events.Contains(bit.event)) mask |= bit.mask;
  }
  return mask;
}

TComEvents MaskToEvents(std::uint32_t mask) {
  TComEvents events;
  for (const EventBit& bit : kEventBits) {
    if (mask & bit.mask) events.Include(bit.event);
  }
  return events;
}

// ---------------------------------------------------------------------------------------------
// Notification target

struct TComNotifyTarget::Shared {
  explicit Shared(TCustomComPort& p) : port(p) {}
  TCustomComPort& port;
  bool alive = true;  // read and written on the owner's thread only

  void Handle(std::uint32_t code) {
    if (!alive || !port.Connected()) return;
    TComEvent event;
    if (!EventOfCode(code, event)) return;
    try {
      port.DispatchEvent(event);
    } catch (const std::exception& error) {
      ReportException(error);
    }
  }
};

TComNotifyTarget::TComNotifyTarget(TCustomComPort& port, THandover& handover)
    : shared_(std::make_shared<Shared>(port)), handover_(handover) {}

TComNotifyTarget::~TComNotifyTarget() {
  shared_->alive = false;
}

void TComNotifyTarget::Post(std::uint32_t code) {
  handover_.Post([shared = shared_, code] { shared->Handle(code); });
}

void TComNotifyTarget::Handle(std::uint32_t code) {
  shared_->Handle(code);
}

// ---------------------------------------------------------------------------------------------
// Event thread

TComThread::TComThread(TCustomComPort& port, platform::SerialDevice& device, TComEvents events,
                       TSyncMethod syncMethod, TComNotifyTarget* target)
    : port_(port),
      device_(device),
      handover_(port.Handover()),
      syncMethod_(syncMethod),
      target_(target) {
  device_.ResetCancel();
  const platform::Errno error = device_.SetEventMask(EventsToMask(events));
  if (error != platform::kNoError) {
    // The port still works without notifications (this program attaches no handler to them):
    // say so instead of failing the open.
    finished_ = true;
    ReportException(EComPort(peWaitForEventFailed, error));
    return;
  }
  thread_ = std::thread([this] { Run(); });
}

TComThread::~TComThread() {
  Stop();
}

void TComThread::Stop() {
  if (!thread_.joinable()) return;
  stopRequested_ = true;
  device_.CancelWait();
  handover_.ServeUntil([this] { return finished_.load(); });
  thread_.join();
  device_.ResetCancel();
}

void TComThread::Run() {
  bool stoppedByOwner = false;
  for (;;) {
    std::uint32_t occurred = 0;
    const platform::Errno error = device_.WaitEvent(occurred);
    if (stopRequested_) {
      stoppedByOwner = true;
      break;
    }
    // Cancelled, or a device that refuses to wait (it went away): end the loop rather than
    // spin on it. Transfers report such a device by their own errors.
    if (error != platform::kNoError) break;
    if (occurred == 0) continue;  // the mask changed under the wait; nothing happened
    occurred_ = MaskToEvents(occurred);
    try {
      Deliver();
    } catch (...) {
      // The delivery failed: no further notifications until the port is opened again. The
      // failure is reported on the owner's thread.
      handover_.Post([error = std::current_exception()] { std::rethrow_exception(error); });
      break;
    }
  }
  device_.SetEventMask(0);
  // Discarding the queues belongs to closing; a loop that ended on its own leaves the data of
  // transfers still running on the owner's thread alone.
  if (stoppedByOwner) device_.Purge(platform::kPurgeTxClear | platform::kPurgeRxClear);
  finished_ = true;
  handover_.Wake();
}

void TComThread::Deliver() {
  switch (syncMethod_) {
    case smThreadSync:
      handover_.Send([this] { port_.DispatchEvents(occurred_); });
      break;
    case smWindowSync:
      if (target_ == nullptr) break;
      for (TComEvent event : kDispatchOrder) {
        if (occurred_.Contains(event)) target_->Post(EventToMask(event));
      }
      break;
    case smNone:
      port_.DispatchEvents(occurred_);
      break;
  }
}

}  // namespace tavex
