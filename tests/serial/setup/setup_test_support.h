// SPDX-License-Identifier: GPL-3.0-or-later
// Shared pieces of the setup tests: the application object, a temporary registry directory with
// a port list, a port that records when it applies its settings, and a way to act on the modal
// dialog while ShowSetupDialog waits for it.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/pseudo_terminal.h"
#include "platform/registry.h"
#include "serial/ComNames.h"
#include "serial/ComPort.h"
#include "serial/setup/ComCombo.h"
#include "serial/setup/ComSetupFrm.h"
#include "support/dialog_script.h"
#include "support/scratch.h"

namespace tavex::test {

class QtApplicationEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "tavex-setup-test";
    static char* argv[] = {name, nullptr};
    app_ = new QApplication(argc, argv);
  }
  void TearDown() override {
    delete app_;
    app_ = nullptr;
  }

 private:
  QApplication* app_ = nullptr;
};

inline ::testing::Environment* const kQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtApplicationEnvironment);

// A registry directory of its own whose port list names the given devices. The kernel's own
// serial devices are read from an empty tree instead of /sys/class/tty, so the list holds
// exactly what the test registers; RemoveKernelTree makes that source missing altogether.
class PortListHive {
 public:
  PortListHive() : env_("TAVEX_REGISTRY_DIR", dir_.Path()) {
    std::filesystem::create_directory(KernelTree());
    previous_ = SetPortListSource([tree = KernelTree()](std::vector<std::string>& target) {
      ListComPortsFrom(tree, target);
    });
  }
  ~PortListHive() { SetPortListSource(previous_); }
  PortListHive(const PortListHive&) = delete;
  PortListHive& operator=(const PortListHive&) = delete;

  void Register(const std::string& valueName, const std::string& device) {
    platform::RegistryKey key;
    ASSERT_EQ(platform::RegResult::kSuccess,
              platform::RegistryKey::Create(platform::RegRoot::LocalMachine,
                                            "HARDWARE\\DEVICEMAP\\SERIALCOMM", key));
    ASSERT_EQ(platform::RegResult::kSuccess, key.SetString(valueName, device));
  }
  void RemoveKernelTree() { std::filesystem::remove_all(KernelTree()); }
  const std::string& Dir() const { return dir_.Path(); }

 private:
  std::string KernelTree() const { return dir_ / "sys-class-tty"; }

  ScratchDir dir_{"tavex-setup"};
  ScopedEnv env_;
  PortListSource previous_;
};

// Pseudo-terminals whose device paths are registered as installed ports.
class PtyPorts {
 public:
  PtyPorts(PortListHive& hive, int count) {
    for (int i = 0; i < count; ++i) {
      auto& pty = ptys_.emplace_back();
      if (pty.Create() != 0) throw std::runtime_error("no pseudo-terminal");
      hive.Register("pty" + std::to_string(i), pty.SlavePath());
    }
  }
  const std::string& Path(std::size_t i) const { return ptys_[i].SlavePath(); }
  int MasterFd(std::size_t i) const { return ptys_[i].MasterFd(); }

 private:
  std::vector<platform::PseudoTerminal> ptys_;
};

struct PortSnapshot {
  std::string port;
  TBaudRate baudRate;
  TDataBits dataBits;
  TStopBits stopBits;
  TParityBits parity;
  TFlowControl flowControl;
};

// Records every whole apply (ApplySettings) and, at every line-settings apply, which settings
// the port holds, so the order in which a batch of setters ran can be read back.
class RecordingPort : public TComPort {
 public:
  int settingsApplies = 0;
  std::vector<PortSnapshot> lineApplies;

  PortSnapshot Snapshot() const {
    return {Port(),     BaudRate(),      DataBits(),
            StopBits(), Parity().Bits(), FlowControl().FlowControl()};
  }

 protected:
  void ApplySettings() override {
    ++settingsApplies;
    TComPort::ApplySettings();
  }
  void ApplyLineSettings() override {
    lineApplies.push_back(Snapshot());
    TComPort::ApplyLineSettings();
  }
};

}  // namespace tavex::test
