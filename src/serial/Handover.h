// SPDX-License-Identifier: GPL-3.0-or-later
// Hands calls from the port's event thread over to the owner's thread (the window thread), which
// serves them in its event loop and while Close waits for the event thread to end, so stopping
// never deadlocks. Without a toolkit, tests serve the queue themselves; the window sets a wake-up
// that posts an event to its loop.
#pragma once

#include <functional>
#include <memory>

namespace tavex {

class THandover {
 public:
  THandover();
  ~THandover();
  THandover(const THandover&) = delete;
  THandover& operator=(const THandover&) = delete;

  // The process-wide queue of the window thread.
  static THandover& Main();

  // Queues `call` and blocks until the owner thread has run it; an exception thrown by `call` is
  // rethrown here, on the calling thread.
  void Send(std::function<void()> call);
  // Queues `call` and returns at once.
  void Post(std::function<void()> call);
  // Runs every queued call; called on the owner thread. Returns how many ran.
  int Serve();
  // Blocks (serving calls meanwhile) until `done` returns true; used by Close while it joins.
  void ServeUntil(const std::function<bool()>& done);
  // Called (from any thread) whenever a call is queued, so the owner's loop wakes up and serves.
  void SetWakeup(std::function<void()> wakeup);
  // Wakes a ServeUntil so that it checks its condition again; called by whoever makes it true.
  void Wake();

  struct State;  // opaque

 private:
  std::unique_ptr<State> state_;
};

}  // namespace tavex
