#pragma once
// Connect strings: built by ODBC's grammar from the three fields, and in log lines always with
// the password masked, so that no password reaches a pane or a run log.

#include <string>
#include <string_view>

namespace zelvik {

// "DSN=%s;UID=%s;PWD=%s" for the data source, user id and password (code page 949). A value
// that holds ';', '{', '}' or '=', or begins or ends with a space, is written in braces with
// each '}' doubled, so that no value can end its attribute or add one; any other value is
// written as it is. False, with the field's name ("DSN", "UID" or "PWD") in *refused, when a
// value cannot be written at all (it holds a NUL byte).
bool BuildConnectString(std::string_view dsn, std::string_view uid, std::string_view pwd,
                        std::string* connect, const char** refused);

// The connect string with the value of PWD= (or PASSWORD=) replaced by "****".
std::string MaskPassword(std::string_view connect);

// Logs a connect that failed, on pane 1: "OpenDB Error[%s]" with the masked connect string,
// and with the driver's text "OpenDB Error[%s][%s]".
void LogOpenDBFailure(std::string_view connect);
void LogOpenDBFailure(std::string_view connect, const std::string& driverText);

}  // namespace zelvik
