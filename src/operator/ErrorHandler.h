// SPDX-License-Identifier: GPL-3.0-or-later
// The program's general error handler and the error boundary every event handler runs in: an
// escaping error is shown in an error box and the program goes on; nothing crosses the Qt loop.
#pragma once

#include <QString>
#include <exception>
#include <utility>

namespace tavex::ui {

// The application title: the caption of error boxes and the program's task-bar name.
QString ApplicationTitle();

// The text an error box shows: a "." is appended when the last character, read as the
// program's single-byte (Windows-1251) text, sorts after ".".
QString ErrorBoxText(const QString& message);

// Shows one error box at a time, from the event loop once the failing handler has returned, so
// timers keep ticking while it is open; errors raised while a box is open (or due) go to stderr,
// a text's repeats summarised at most every 10 s and whenever the text changes.
void ShowError(const QString& message);
void ShowException(const std::exception& error);
bool ErrorBoxOpen();

// Makes ShowException the port layer's default exception report (from any thread).
void InstallDefaultExceptionReporter();

// Runs `handler`; whatever it throws goes to the general error handler.
template <class Handler>
void Guarded(Handler&& handler) noexcept {
  try {
    std::forward<Handler>(handler)();
  } catch (const std::exception& error) {
    ShowException(error);
  } catch (...) {
    ShowError(QStringLiteral("Unknown error"));
  }
}

}  // namespace tavex::ui
