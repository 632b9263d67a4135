#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

#include "log/RunSummary.h"

namespace tarven {

class EditControl;
class LogRelay;
class Window;

// The desktop's one run at a time: on a thread of its own, its log carried to the window's
// control through a LogRelay, and the tray's summary kept. The toolkit supplies the wake (a
// message to its own thread) and enables its buttons; everything else is the same on both.
class BackgroundRun {
  public:
    // The run itself, on the run's thread: it logs to `window`, leaves the answer's first bytes
    // in `answerHead`, and returns whether it succeeded.
    using Body = std::function<bool(Window& window, std::string& answerHead)>;

    BackgroundRun() = default;
    ~BackgroundRun();
    BackgroundRun(const BackgroundRun&) = delete;
    BackgroundRun& operator=(const BackgroundRun&) = delete;

    bool running() const { return relay_ != nullptr; }
    // A run was left to go on alone (leave); the process's end closes its connection.
    bool leftBehind() const { return leftBehind_; }
    const RunSummary& summary() const { return summary_; }

    // A tick or a press: true when the caller is to start a run now. During a run it answers
    // false and makes one more run right after this one.
    bool request();
    // Starts `body` on a log control that holds `logText` now, with room for `characterLimit`
    // units. `wake` is called on the run's thread when edits wait; it must not block.
    void start(const std::u16string& logText, std::int64_t characterLimit,
               std::function<void()> wake, Body body);
    // Deliveries during a run come at most this often: a fast answer then mostly passes through
    // the relay's trimming, not through the window's control, whose edits cost far more.
    static constexpr std::chrono::milliseconds kDeliveryInterval{40};
    // On the window's thread, after a wake: how long to wait before deliverTo, zero for now.
    // The run's end is delivered at once.
    std::chrono::milliseconds deliveryDelay() const;
    // On the window's thread: applies what waits to `log`. True once the run has ended and
    // everything is delivered; the caller then calls finish.
    bool deliverTo(EditControl& log);
    // Makes the tray's summary from the log's final text and the time; true when a run was asked
    // for meanwhile, which the caller then starts.
    bool finish(std::u16string_view logText, const platform::LocalTime& now);
    // The window goes while a run goes on: no more wakes, and the thread is left to end alone.
    void leave();

  private:
    struct Result;
    std::shared_ptr<LogRelay> relay_;  // the run going, shared with its thread; none when idle
    std::shared_ptr<Result> result_;   // what the run's thread leaves, shared like relay_
    std::thread thread_;
    std::chrono::steady_clock::time_point lastDelivery_;
    RunSummary summary_;
    bool askedDuringRun_ = false;
    bool leftBehind_ = false;
};

}  // namespace tarven
