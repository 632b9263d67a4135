#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "log/Window.h"

namespace tarven {

// Carries one run's log from the thread that runs it to the thread that owns the log control.
// The run writes to the relay as to its window. The relay keeps the log's line structure, so the
// trimming decides exactly as it would on the owner's control, and it gathers the edits until
// the owner takes them with deliverTo: the owner's control then holds the same text as if every
// edit had been made on it, while what a later cut removes is never handed over at all.
//
// The relay knows the edits the log makes: setting the whole text, cuts at the front and
// appends at the end. Any other edit is not carried.
class LogRelay final : public Window {
  public:
    // `initialText` is the owner's text when the run starts, `characterLimit` its control's.
    // `wake` is called on the run's thread when edits wait and none did before, and once more
    // by finish; it must not block and must not call back into the relay.
    LogRelay(const char16_t* initialText, std::int64_t characterLimit, std::function<void()> wake);
    ~LogRelay() override;
    LogRelay(const LogRelay&) = delete;
    LogRelay& operator=(const LogRelay&) = delete;

    // The run's side.
    EditControl* findControl(int id) override;
    // The run has ended: its last edits wait, and the owner is woken.
    void finish();

    // The owner's side. Applies what waits to `target`, in effect the same text as the run's
    // edits one by one. True once the run has finished and everything has been delivered.
    bool deliverTo(EditControl& target);
    // Whether the run has finished, delivered or not.
    bool finished();
    // No more wakes, and whatever the run still writes is dropped. For an owner that goes
    // away while the run goes on.
    void abandon();

  private:
    class Control;
    void reset(const char16_t* text);
    void cutFront(std::int64_t count);
    void append(const char16_t* text);
    void append(const Utf8Text& text);
    void wakeLocked();

    std::unique_ptr<Control> control_;  // touched by the run's thread only
    std::mutex mutex_;                  // guards everything below
    std::function<void()> wake_;
    bool woken_ = false;  // a wake is out that no delivery has answered yet
    bool finished_ = false;
    bool reset_ = false;            // the owner's text goes first
    std::int64_t cut_ = 0;          // then this many units from its front
    std::int64_t kept_ = 0;         // what is left of the owner's text after the cut
    std::u16string appended_;       // then appended_[appendedHead_..] goes at the end
    std::size_t appendedHead_ = 0;  // cut from the front but not yet dropped
};

}  // namespace tarven
