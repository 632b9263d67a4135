#include "log/BackgroundRun.h"

#include <utility>

#include "log/LogRelay.h"
#include "request/RequestRun.h"

namespace tarven {

struct BackgroundRun::Result {
    bool succeeded = false;
    std::string answerHead;
};

BackgroundRun::~BackgroundRun() {
    leave();
}

bool BackgroundRun::request() {
    if (!running())
        return true;
    askedDuringRun_ = true;
    return false;
}

void BackgroundRun::start(const std::u16string& logText, std::int64_t characterLimit,
                          std::function<void()> wake, Body body) {
    relay_ = std::make_shared<LogRelay>(logText.c_str(), characterLimit, std::move(wake));
    result_ = std::make_shared<Result>();
    summary_.runStarted();
    // The thread keeps what it uses, so it can go on alone after the window has gone.
    thread_ = std::thread([relay = relay_, result = result_, body = std::move(body)] {
        result->succeeded = body(*relay, result->answerHead);
        relay->finish();
    });
}

std::chrono::milliseconds BackgroundRun::deliveryDelay() const {
    if (!relay_ || relay_->finished())
        return std::chrono::milliseconds(0);
    const auto since = std::chrono::steady_clock::now() - lastDelivery_;
    if (since >= kDeliveryInterval)
        return std::chrono::milliseconds(0);
    return std::chrono::ceil<std::chrono::milliseconds>(kDeliveryInterval - since);
}

bool BackgroundRun::deliverTo(EditControl& log) {
    if (!relay_)
        return false;
    lastDelivery_ = std::chrono::steady_clock::now();
    if (!relay_->deliverTo(log))
        return false;
    thread_.join();
    relay_.reset();
    return true;
}

bool BackgroundRun::finish(std::u16string_view logText, const platform::LocalTime& now) {
    if (result_) {
        summary_.runEnded({.succeeded = result_->succeeded,
                           .answerHead = result_->answerHead,
                           .answerHeadCut = result_->answerHead.size() >= kAnswerHeadSize,
                           .log = logText},
                          now);
        result_.reset();
    }
    return std::exchange(askedDuringRun_, false);
}

void BackgroundRun::leave() {
    askedDuringRun_ = false;
    if (!relay_)
        return;
    relay_->abandon();
    thread_.detach();
    relay_.reset();
    result_.reset();
    leftBehind_ = true;
}

}  // namespace tarven
