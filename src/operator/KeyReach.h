// SPDX-License-Identifier: GPL-3.0-or-later
// Keys reach only what the operator can see. The window keeps controls that lie outside its
// visible area (below a group's bottom edge, beyond the window's client area, under another
// control): those take no focus, and no key or wheel event changes them, while their values stay
// readable by the program. Which controls can be seen is worked out from the window's geometry
// whenever its size changes.
#pragma once

#include <QObject>
#include <QRegion>
#include <QWidget>
#include <vector>

namespace tavex::ui {

// The part of `widget` the operator can see, in its window's coordinates: its rectangle clipped
// by every ancestor's rectangle, less what visible widgets stacked above it (or above one of its
// ancestors) cover. Empty for a hidden widget.
QRegion SeenRegion(const QWidget* widget);
// True when the whole of `widget` can be seen.
bool WhollySeen(const QWidget* widget);

// `controls` sorted the way the operator reads the window: top to bottom, and left to right
// among controls whose tops are level.
std::vector<QWidget*> ReadingOrder(std::vector<QWidget*> controls);

// Gives keyboard focus, keys and the wheel only to the controls of a window that can be seen
// whole. Install once with the window's focusable controls; call Update() when the window's size
// changes.
class TKeyGate : public QObject {
  Q_OBJECT

 public:
  // Chains `controls` in reading order and watches their key, wheel and focus events.
  TKeyGate(QWidget* window, std::vector<QWidget*> controls);
  // Recomputes which controls can be seen; focus on a control that no longer can moves on.
  void Update();
  bool Reachable(const QWidget* control) const;
  const std::vector<QWidget*>& Controls() const { return controls_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct Entry {
    QWidget* control;
    Qt::FocusPolicy policy;  // the control's own policy, restored when it can be seen
    bool reachable;
  };
  const Entry* EntryOf(const QObject* object) const;

  QWidget* window_;
  std::vector<QWidget*> controls_;  // in reading order
  std::vector<Entry> entries_;
};

}  // namespace tavex::ui
