// printf-style formatting into a std::string of any length, for error messages and reports.
#pragma once

#include <cstdarg>
#include <string>

std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string FormatTextV(const char* format, va_list args);
