// Lets the compiler check the arguments of the program's printf-style functions.
#pragma once

#if defined(__GNUC__)
#define ZQ_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define ZQ_PRINTF_FORMAT(fmt, args)
#endif
