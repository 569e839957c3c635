#pragma once
// Connect strings in log lines: every line that shows a connect string shows it with its
// password masked, so that no password reaches a pane or a run log.

#include <string>
#include <string_view>

namespace zelvik {

// The connect string with the value of PWD= (or PASSWORD=) replaced by "****".
std::string MaskPassword(std::string_view connect);

// Logs a connect that failed, on pane 1: "OpenDB Error[%s]" with the masked connect string,
// and with the driver's text "OpenDB Error[%s][%s]".
void LogOpenDBFailure(std::string_view connect);
void LogOpenDBFailure(std::string_view connect, const std::string& driverText);

}  // namespace zelvik
