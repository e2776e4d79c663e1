#include "base/clock.h"

namespace {
std::time_t fixed_now = 0;
}

std::time_t Clock_Now() { return fixed_now != 0 ? fixed_now : std::time(nullptr); }

void Clock_Fix(std::time_t t) { fixed_now = t; }

std::time_t Clock_Fixed() { return fixed_now; }
