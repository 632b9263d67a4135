#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/Clock.h"

namespace tarven {

// The most UTF-16 units a tray tip holds: Windows keeps 128 with the NUL. Longer tips are cut
// and end in "...".
inline constexpr std::size_t kTrayTipLimit = 127;

// How a run ended, as the desktop sees it once the run is over.
struct RunOutcome {
    bool succeeded = false;            // what runRequest returned
    std::string_view answerHead = {};  // the answer's first bytes, as they came
    bool answerHeadCut = false;        // the answer went on past answerHead
    std::u16string_view log = {};      // the log's text at the run's end
};

// The tray icon's tip, which tells how the last run went without opening the window:
//   "Tarven" before the first run;
//   "Tarven: running..." during a run;
//   "Tarven: HH:MM <status line>" after a run that ran to its end, the status line being the
//   answer's first line ("no answer" when the server sent nothing);
//   "Tarven: HH:MM failed: <message>" after a failed run, the message being the run's last
//   line that starts with "** " or ends in " failed.", without the "** " and the final ".".
// HH:MM is the local time at which the run ended. Control characters from the answer show as
// U+FFFD (a tab as a space), so a server cannot break the tip into lines.
class RunSummary {
  public:
    const std::u16string& trayTip() const { return tip_; }
    void runStarted();
    void runEnded(const RunOutcome& outcome, const platform::LocalTime& end);

  private:
    std::u16string tip_ = u"Tarven";
};

}  // namespace tarven
