// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/Handover.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <utility>

#include "serial/ComPort.h"

namespace tavex {

namespace {

// One queued call. A sent call has a waiter: the sender blocks until `done` and then rethrows
// `error` if the call threw.
struct Call {
  std::function<void()> run;
  bool sent = false;
  bool done = false;
  std::exception_ptr error;
};

}  // namespace

struct THandover::State {
  std::mutex mutex;
  std::condition_variable changed;  // a call was queued or finished, or Wake was called
  std::deque<std::shared_ptr<Call>> queue;
  std::function<void()> wakeup;
  unsigned long long wakes = 0;
};

THandover::THandover() : state_(std::make_unique<State>()) {}

THandover::~THandover() = default;

THandover& THandover::Main() {
  static THandover main;
  return main;
}

namespace {

void Enqueue(THandover::State& state, const std::shared_ptr<Call>& call) {
  std::function<void()> wakeup;
  {
    std::lock_guard lock(state.mutex);
    state.queue.push_back(call);
    wakeup = state.wakeup;
  }
  state.changed.notify_all();
  if (wakeup) wakeup();
}

}  // namespace

void THandover::Send(std::function<void()> call) {
  auto entry = std::make_shared<Call>();
  entry->run = std::move(call);
  entry->sent = true;
  Enqueue(*state_, entry);
  std::exception_ptr error;
  {
    std::unique_lock lock(state_->mutex);
    state_->changed.wait(lock, [&] { return entry->done; });
    // The sender owns the failure from here: the serving side keeps no reference to it.
    error = std::move(entry->error);
  }
  if (error) std::rethrow_exception(error);
}

void THandover::Post(std::function<void()> call) {
  auto entry = std::make_shared<Call>();
  entry->run = std::move(call);
  Enqueue(*state_, entry);
}

int THandover::Serve() {
  std::deque<std::shared_ptr<Call>> batch;
  {
    std::lock_guard lock(state_->mutex);
    batch.swap(state_->queue);
  }
  for (auto& call : batch) {
    std::exception_ptr error;
    try {
      call->run();
    } catch (...) {
      error = std::current_exception();
    }
    if (call->sent) {
      {
        std::lock_guard lock(state_->mutex);
        call->error = std::move(error);
        call->done = true;
      }
      state_->changed.notify_all();
    } else if (error) {
      // A posted call has nobody waiting for it: its failure goes to the report.
      try {
        std::rethrow_exception(error);
      } catch (const std::exception& e) {
        ReportException(e);
      } catch (...) {
        ReportException(std::runtime_error("Unknown error in a handed-over call"));
      }
    }
  }
  return static_cast<int>(batch.size());
}

void THandover::ServeUntil(const std::function<bool()>& done) {
  for (;;) {
    unsigned long long seen;
    {
      std::lock_guard lock(state_->mutex);
      seen = state_->wakes;
    }
    Serve();
    if (done()) return;
    std::unique_lock lock(state_->mutex);
    // Whoever makes `done` true calls Wake afterwards; the counter closes the gap between the
    // check above and this wait. The time limit only guards against a caller that forgets to.
    state_->changed.wait_for(lock, std::chrono::milliseconds(100),
                             [&] { return !state_->queue.empty() || state_->wakes != seen; });
  }
}

void THandover::Wake() {
  {
    std::lock_guard lock(state_->mutex);
    ++state_->wakes;
  }
  state_->changed.notify_all();
}

void THandover::SetWakeup(std::function<void()> wakeup) {
  std::lock_guard lock(state_->mutex);
  state_->wakeup = std::move(wakeup);
}

}  // namespace tavex
