#pragma once
// The ODBC headers. Windows' versions take their base types (DWORD, HWND...) from windows.h,
// which must come first.

#if defined(_WIN32)
#include <windows.h>
#endif

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>
