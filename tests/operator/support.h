// SPDX-License-Identifier: GPL-3.0-or-later
// Shared pieces of the window tests: the application object, a temporary registry, the clock
// simulator on a pseudo-terminal, a catcher for message boxes, and event-loop pumping.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTimer>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "platform/registry.h"
#include "support/clock_sim_process.h"
#include "support/scratch.h"
#include "support/stored_port.h"

namespace tavex::test {

inline QApplication& App() {
  static int argc = 1;
  static char name[] = "tavex-test";
  static char* argv[] = {name, nullptr};
  static QApplication* app = [] {
    auto* created = new QApplication(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    return created;
  }();
  return *app;
}

// A base that makes the application object exist before a fixture's widgets.
struct WithApp {
  WithApp() { App(); }
};

// Runs the event loop for `ms` milliseconds.
inline void Pump(int ms) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < ms) {
    QApplication::processEvents(QEventLoop::AllEvents, 20);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

// A registry directory of its own, removed afterwards; the tests keep their other files in it.
class TempRegistry {
 public:
  const std::string& Dir() const { return dir_.Path(); }
  void StorePort(const std::string& port) const { test::StorePort(port); }

 private:
  ScratchDir dir_{"tavex-window"};
  ScopedEnv env_{"TAVEX_REGISTRY_DIR", dir_.Path()};
};

// tavex-clocksim on a pseudo-terminal of its own, logging to a file in `dir`.
class Simulator {
 public:
  Simulator(const std::string& dir, std::vector<std::string> args)
      : log_(dir + "/sim.jsonl"), process_(Program(), WithLog(log_, std::move(args))) {
    // The first line is the line's path.
    if (process_.Started()) path_ = process_.ReadLine(std::chrono::seconds(5));
  }
  bool Running() const { return process_.Started() && !path_.empty(); }
  const std::string& Path() const { return path_; }

  struct Frame {
    std::int64_t t = 0;  // ns, monotonic
    std::string bytes;   // without the leading 0x00
    int clock = 0;
  };
  // The frames the simulator received so far.
  std::vector<Frame> Frames() const {
    std::vector<Frame> frames;
    std::ifstream in(log_);
    static const std::regex pattern(R"re(\{"t":(\d+),"frame":"([0-9a-fA-F]*)".*"clock":(\d+))re");
    std::string line;
    std::smatch m;
    while (std::getline(in, line)) {
      if (!std::regex_search(line, m, pattern)) continue;
      Frame frame;
      frame.t = std::stoll(m[1]);
      const std::string hex = m[2];
      for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        frame.bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
      }
      frame.clock = std::stoi(m[3]);
      frames.push_back(frame);
    }
    return frames;
  }

 private:
  static std::string Program() {
    const char* bin = std::getenv("TAVEX_TEST_BIN");
    return std::string(bin ? bin : TAVEX_TEST_BIN_DIR) + "/tavex-clocksim";
  }
  static std::vector<std::string> WithLog(const std::string& log, std::vector<std::string> args) {
    args.insert(args.begin(), {"--log", log});
    return args;
  }

  std::string log_;
  ClockSimProcess process_;
  std::string path_;
};

// Closes every modal message box that opens while it lives, recording what it showed.
class MessageBoxCatcher {
 public:
  struct Box {
    QString title;
    QString text;
    QMessageBox::Icon icon;
    int buttons;
  };
  MessageBoxCatcher() {
    timer_.setInterval(20);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr || box->property("caught").toBool()) return;
      box->setProperty("caught", true);
      boxes.push_back(
          {box->windowTitle(), box->text(), box->icon(), static_cast<int>(box->buttons().size())});
      if (onBox) onBox();
      box->done(QMessageBox::Ok);
    });
    timer_.start();
  }
  std::vector<Box> boxes;
  std::function<void()> onBox;

 private:
  QTimer timer_;
};

}  // namespace tavex::test
