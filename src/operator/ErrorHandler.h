// SPDX-License-Identifier: GPL-3.0-or-later
// The program's general error handler and the error boundary every event handler runs in: an
// escaping error is shown in an error box and the program goes on; nothing crosses the Qt loop.
#pragma once

#include <QString>
#include <exception>
#include <functional>
#include <string>
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
// An error of the port gets, below its own text, the explanation it carries (what the system
// reports, the file concerned) in the operator's language.
void ShowError(const QString& message, const QString& explanation = QString());
// Shows the error's own message with its explanation; the journal (see SetErrorJournal) also
// gets its causes.
void ShowException(const std::exception& error);
// The text of an error that is no exception of ours, in the operator's language.
QString UnknownErrorText();
bool ErrorBoxOpen();

// Where an error shown or reported is also kept, as one line "Error: " with the message and
// its nested causes (a settings-store failure names the value and the system's code). The
// program's journal in main(); none by default. Called on the window thread only.
using ErrorJournal = std::function<void(const std::string& line)>;
void SetErrorJournal(ErrorJournal journal);

// Where no person can answer an error box (a service, the offscreen platform), every error goes
// to standard error as above, and the program goes on as it does after OK.
void SetUnattended(bool unattended);
bool Unattended();

// Called on the window's thread with the text of every error reported, in a box or on standard
// error (the metrics count them). ReportErrorShown tells it of an error shown elsewhere.
void SetErrorObserver(std::function<void(const QString&)> observer);
void ReportErrorShown(const QString& text);

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
    ShowError(UnknownErrorText());
  }
}

}  // namespace tavex::ui
