// The wizard's message boxes, and how an unattended run answers them.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <exception>
#include <string>

namespace upd::ui {

/// What a run does with its boxes. The entry installs one before the first
/// window; without one every box is shown and nothing is recorded (the tests
/// that drive single pages).
class TMessageBoxPolicy {
public:
    virtual ~TMessageBoxPolicy() = default;
    /// True when no box may be shown: messages are answered OK, questions
    /// with the answer that changes nothing.
    virtual bool Unattended() const noexcept = 0;
    /// A question answered without the user, with that answer's note.
    virtual void QuestionAnswered(const std::string& text) noexcept = 0;
    /// An error about to be shown (or, unattended, only recorded).
    virtual void ErrorShown(const std::exception& error) noexcept = 0;
};

/// Installs the run's policy; the object must outlive every box.
void SetMessageBoxPolicy(TMessageBoxPolicy* policy) noexcept;

/// A standard message box under the wizard's caption (texts UTF-8).
/// Returns the button id.
int ShowMessageBox(HWND owner, const std::string& text, UINT flags);
/// The standard display of an error on the main thread: its message in an
/// error box over the top-level window of `owner`.
void ShowException(HWND owner, const std::exception& error);

} // namespace upd::ui
