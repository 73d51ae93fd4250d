// SPDX-License-Identifier: GPL-3.0-or-later
#include "operator/KeyReach.h"

#include <QApplication>
#include <QEvent>
#include <algorithm>

namespace tavex::ui {
namespace {

QRect InWindow(const QWidget* widget) {
  return QRect(widget->mapTo(widget->window(), QPoint(0, 0)), widget->size());
}

}  // namespace

QRegion SeenRegion(const QWidget* widget) {
  const QWidget* window = widget->window();
  if (widget == window) return QRegion(widget->rect());
  if (!widget->isVisibleTo(window)) return {};
  QRegion seen(InWindow(widget));
  for (const QWidget* w = widget; w != window; w = w->parentWidget()) {
    const QWidget* parent = w->parentWidget();
    seen &= parent == window ? parent->rect() : InWindow(parent);
    // Children are stacked in the order of their parent's list: later ones lie above.
    const QObjectList& siblings = parent->children();
    auto it = std::find(siblings.begin(), siblings.end(), w);
    for (++it; it != siblings.end() && !seen.isEmpty(); ++it) {
      const auto* above = qobject_cast<const QWidget*>(*it);
      if (above != nullptr && !above->isWindow() && above->isVisibleTo(window)) {
        seen -= InWindow(above);
      }
    }
    if (seen.isEmpty()) break;
  }
  return seen;
}

bool WhollySeen(const QWidget* widget) {
  return SeenRegion(widget) == QRegion(InWindow(widget));
}

std::vector<QWidget*> ReadingOrder(std::vector<QWidget*> controls) {
  std::stable_sort(controls.begin(), controls.end(), [](const QWidget* a, const QWidget* b) {
    const QPoint pa = InWindow(a).topLeft();
    const QPoint pb = InWindow(b).topLeft();
    return pa.y() != pb.y() ? pa.y() < pb.y() : pa.x() < pb.x();
  });
  return controls;
}

TKeyGate::TKeyGate(QWidget* window, std::vector<QWidget*> controls)
    : QObject(window), window_(window), controls_(ReadingOrder(std::move(controls))) {
  for (std::size_t i = 1; i < controls_.size(); ++i) {
    QWidget::setTabOrder(controls_[i - 1], controls_[i]);
  }
  for (QWidget* control : controls_) {
    entries_.push_back({control, control->focusPolicy(), true});
    control->installEventFilter(this);
    // A spin box's editor receives keys and the wheel too.
    for (QWidget* part : control->findChildren<QWidget*>()) part->installEventFilter(this);
  }
  Update();
}

void TKeyGate::Update() {
  for (Entry& entry : entries_) {
    entry.reachable = WhollySeen(entry.control);
    entry.control->setFocusPolicy(entry.reachable ? entry.policy : Qt::NoFocus);
  }
  QWidget* focus = window_->focusWidget();
  const Entry* focused = focus ? EntryOf(focus) : nullptr;
  if (focused != nullptr && !focused->reachable) {
    focus->clearFocus();
    // The next control the operator can see takes the focus, if there is one.
    for (const QWidget* control : controls_) {
      if (Reachable(control)) {
        const_cast<QWidget*>(control)->setFocus(Qt::TabFocusReason);
        break;
      }
    }
  }
}

bool TKeyGate::Reachable(const QWidget* control) const {
  const Entry* entry = EntryOf(control);
  return entry == nullptr || entry->reachable;
}

const TKeyGate::Entry* TKeyGate::EntryOf(const QObject* object) const {
  for (const QObject* o = object; o != nullptr && o != window_; o = o->parent()) {
    for (const Entry& entry : entries_) {
      if (entry.control == o) return &entry;
    }
  }
  return nullptr;
}

bool TKeyGate::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Wheel:
    case QEvent::FocusIn: {
      const Entry* entry = EntryOf(watched);
      if (entry == nullptr || entry->reachable) break;
      if (event->type() == QEvent::FocusIn) {
        // Focus given by program to a control nobody can see moves on at once.
        QMetaObject::invokeMethod(this, &TKeyGate::Update, Qt::QueuedConnection);
        break;
      }
      event->accept();
      return true;
    }
    default:
      break;
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace tavex::ui
