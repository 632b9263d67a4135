#include "platform/Clock.h"

#include <windows.h>

namespace tarven::platform {

LocalTime SystemClock::now() const {
    SYSTEMTIME t{};
    ::GetLocalTime(&t);
    return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
}

}  // namespace tarven::platform
