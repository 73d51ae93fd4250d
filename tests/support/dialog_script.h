// SPDX-License-Identifier: GPL-3.0-or-later
// Acts on the port setup dialog while a modal ShowSetupDialog waits for it.
#pragma once

#include <QApplication>
#include <QObject>
#include <QTimer>
#include <functional>
#include <utility>

#include <gtest/gtest.h>

#include "serial/setup/ComSetupFrm.h"

namespace tavex::test {

// Acts on the setup dialog once ShowSetupDialog shows it modally. Whatever the action does, a
// dialog still open two seconds later is cancelled, so a failed test cannot hang; the action is
// dropped with the script, so it never reaches a later test's dialog.
class DialogScript {
 public:
  explicit DialogScript(std::function<void(TComSetupFrm&)> act) : act_(std::move(act)) {
    QTimer::singleShot(0, &context_, [this] { Run(); });
  }
  DialogScript(const DialogScript&) = delete;
  DialogScript& operator=(const DialogScript&) = delete;
  bool Ran() const { return ran_; }

 private:
  void Run() {
    auto* dialog = qobject_cast<TComSetupFrm*>(QApplication::activeModalWidget());
    if (dialog == nullptr) return;
    ran_ = true;
    QTimer::singleShot(2000, dialog, [dialog] {
      ADD_FAILURE() << "the setup dialog was left open";
      dialog->reject();
    });
    act_(*dialog);
  }

  QObject context_;
  std::function<void(TComSetupFrm&)> act_;
  bool ran_ = false;
};

}  // namespace tavex::test
