#include "log/LogRelay.h"

#include <algorithm>
#include <utility>

#include "log/MemoryEditControl.h"
#include "platform/TextCodec.h"

namespace tarven {
namespace {

// Text cut from the front of what waits is dropped once it is both large and most of it, so
// that a cut costs what it removes, not what is left.
constexpr std::size_t kCompactAt = 64 * 1024;

}  // namespace

// The run's log control: the line structure of the owner's text, and every edit passed on.
class LogRelay::Control final : public MemoryEditControl {
  public:
    Control(LogRelay& relay, std::int64_t characterLimit)
        : MemoryEditControl(Keep::linesOnly, characterLimit), relay_(relay) {}

    void replaceSelection(const char16_t* text) override {
        if (text == nullptr)
            text = u"";
        const std::int64_t length = textLength();
        const std::int64_t start = selectionStart();
        if (start == length) {
            relay_.append(text);
        } else if (start == 0 && selectionEnd() == length) {
            relay_.reset(text);
        } else if (start == 0 && *text == u'\0') {
            relay_.cutFront(selectionEnd());
        }
        MemoryEditControl::replaceSelection(text);
    }

    void replaceSelectionUtf8(const Utf8Text& text) override {
        if (selectionStart() != textLength()) {
            EditControl::replaceSelectionUtf8(text);
            return;
        }
        relay_.append(text);
        replaceSelectionLines(text);
    }

    void setText(const char16_t* text) override {
        relay_.reset(text == nullptr ? u"" : text);
        MemoryEditControl::setText(text);
    }

  private:
    LogRelay& relay_;
};

LogRelay::LogRelay(const char16_t* initialText, std::int64_t characterLimit,
                   std::function<void()> wake)
    : control_(std::make_unique<Control>(*this, characterLimit)), wake_(std::move(wake)) {
    control_->MemoryEditControl::setText(initialText);
    kept_ = control_->textLength();
}

LogRelay::~LogRelay() = default;

EditControl* LogRelay::findControl(int id) {
    return id == kLogControlId ? control_.get() : nullptr;
}

void LogRelay::wakeLocked() {
    if (woken_ || !wake_)
        return;
    woken_ = true;
    wake_();
}

void LogRelay::reset(const char16_t* text) {
    const std::lock_guard lock(mutex_);
    if (!wake_)
        return;
    reset_ = true;
    cut_ = 0;
    kept_ = 0;
    appended_ = text;
    appendedHead_ = 0;
    wakeLocked();
}

void LogRelay::cutFront(std::int64_t count) {
    const std::lock_guard lock(mutex_);
    if (!wake_)
        return;
    const std::int64_t fromKept = std::min(count, kept_);
    cut_ += fromKept;
    kept_ -= fromKept;
    appendedHead_ =
        std::min(appended_.size(), appendedHead_ + static_cast<std::size_t>(count - fromKept));
    if (appendedHead_ >= kCompactAt && appendedHead_ * 2 >= appended_.size()) {
        appended_.erase(0, appendedHead_);
        appendedHead_ = 0;
    }
    wakeLocked();
}

void LogRelay::append(const char16_t* text) {
    if (*text == u'\0')
        return;
    const std::lock_guard lock(mutex_);
    if (!wake_)
        return;
    appended_ += text;
    wakeLocked();
}

void LogRelay::append(const Utf8Text& text) {
    if (text.count == 0)
        return;
    const std::lock_guard lock(mutex_);
    if (!wake_)
        return;
    const std::size_t at = appended_.size();
    appended_.resize(at + text.units);
    platform::utf8ToUtf16(text.bytes, text.count, appended_.data() + at);
    wakeLocked();
}

void LogRelay::finish() {
    const std::lock_guard lock(mutex_);
    finished_ = true;
    woken_ = false;  // the last wake comes even when one is out
    wakeLocked();
}

bool LogRelay::deliverTo(EditControl& target) {
    bool reset;
    std::int64_t cut;
    std::u16string appended;
    bool finished;
    {
        const std::lock_guard lock(mutex_);
        reset = std::exchange(reset_, false);
        cut = std::exchange(cut_, 0);
        appended.swap(appended_);
        appended.erase(0, std::exchange(appendedHead_, 0));
        kept_ += static_cast<std::int64_t>(appended.size());
        finished = finished_;
        woken_ = false;
    }
    if (reset) {
        target.setText(u"");
    } else if (cut > 0) {
        target.setSelection(0, cut);
        target.replaceSelection(u"");
    }
    if (!appended.empty()) {
        const std::int64_t end = target.textLength();
        target.setSelection(end, end);
        target.replaceSelection(appended.c_str());
    }
    return finished;
}

bool LogRelay::finished() {
    const std::lock_guard lock(mutex_);
    return finished_;
}

void LogRelay::abandon() {
    const std::lock_guard lock(mutex_);
    wake_ = nullptr;
    appended_.clear();
    appended_.shrink_to_fit();
    appendedHead_ = 0;
}

}  // namespace tarven
