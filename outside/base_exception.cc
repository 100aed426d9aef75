#include "outside/base_exception.h"

#include <utility>

namespace teska {

// A message alone names no failed operation, so what() falls back to the class name.
BaseException::BaseException(std::string message)
    : what_("BaseException"), message_(std::move(message)) {}

BaseException::BaseException(std::string what, std::string message)
    : what_(std::move(what)), message_(std::move(message)) {}

TimeOutException::TimeOutException(std::string message)
    : BaseException("TimeOutException", std::move(message)) {}

}  // namespace teska
