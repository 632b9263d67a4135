#pragma once

namespace tarven::platform {

struct LocalTime {
    int year = 0;
    int month = 0;  // 1 to 12
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// The source of the local date and time; tests put a fixed clock in its place.
class Clock {
  public:
    virtual ~Clock() = default;
    virtual LocalTime now() const = 0;
};

class SystemClock final : public Clock {
  public:
    LocalTime now() const override;
};

}  // namespace tarven::platform
