#pragma once

#include <ctime>
#include <string>

namespace zelvik {

// Formats the local time, now or daysBack fixed 86400-second steps back, into buffer (at
// least 20 bytes): "YYYY/MM/DD hh:mm:ss" when slashed is nonzero, else "YYYYMMDDhhmmss".
// Returns the weekday of that moment (0 Sunday .. 6 Saturday); 0 with a null buffer.
// daysBack of 0 or less means now. Time comes from the process-wide clock.
int GetTimeString(char* buffer, int slashed, int daysBack);

// The same for a given calendar time, for callers that read the clock once and format that
// one moment several ways.
int FormatTimeString(char* buffer, int slashed, std::time_t t);

// The local time's offset from UTC now, "+09:00" in Korea: the run log's times are local, and
// a machine on another zone (Windows takes the system's zone, not TZ) shows in this text.
std::string UtcOffsetText();

}  // namespace zelvik
