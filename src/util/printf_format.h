#pragma once
// The format-check attribute for printf-like functions. The Windows build uses MinGW's C99
// printf (sizes like %zu work), which the compiler checks as gnu_printf there; elsewhere the
// system printf is the GNU one.

#if defined(__MINGW32__)
#define ZELVIK_PRINTF_FORMAT(fmt, first) __attribute__((format(gnu_printf, fmt, first)))
#else
#define ZELVIK_PRINTF_FORMAT(fmt, first) __attribute__((format(printf, fmt, first)))
#endif
