// The exception every area throws for its own failures: one type per area, each with a printf-style
// message. An area names its type once, with a tag of its own:
//   using EStoreError = EAreaError<struct TStoreArea>;
// so that a handler can catch one area's failures and let another's pass.
#pragma once

#include <cstdarg>
#include <stdexcept>

#include "common/format.h"

template <typename TArea>
class EAreaError : public std::runtime_error {
 public:
  explicit EAreaError(const char* format, ...) __attribute__((format(printf, 2, 3)));
};

template <typename TArea>
EAreaError<TArea>::EAreaError(const char* format, ...) : std::runtime_error("") {
  va_list args;
  va_start(args, format);
  static_cast<std::runtime_error&>(*this) = std::runtime_error(FormatTextV(format, args));
  va_end(args);
}
