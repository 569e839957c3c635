#pragma once

#include <ctime>

namespace zelvik {

// Formats the local time, now or daysBack fixed 86400-second steps back, into buffer (at
// least 20 bytes): "YYYY/MM/DD hh:mm:ss" when slashed is nonzero, else "YYYYMMDDhhmmss".
// Returns the weekday of that moment (0 Sunday .. 6 Saturday); 0 with a null buffer.
// daysBack of 0 or less means now. Time comes from the process-wide clock.
int GetTimeString(char* buffer, int slashed, int daysBack);

// The same for a given calendar time, for callers that read the clock once and format that
// one moment several ways.
int FormatTimeString(char* buffer, int slashed, std::time_t t);

}  // namespace zelvik
