#include "platform/Clock.h"

#include <ctime>

namespace tarven::platform {

LocalTime SystemClock::now() const {
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    if (::localtime_r(&t, &tm) == nullptr)
        return {};
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

}  // namespace tarven::platform
