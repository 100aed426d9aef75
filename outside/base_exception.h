// Exceptions of the support library. All are thrown by value and caught by reference.
//
// Each carries two texts: what() names what failed (for a BaseException built from a message
// alone, the class name), getMessage() is the full message.
#ifndef OUTSIDE_BASE_EXCEPTION_H_
#define OUTSIDE_BASE_EXCEPTION_H_

#include <exception>
#include <string>

namespace teska {

class BaseException : public std::exception {
 public:
  explicit BaseException(std::string message);
  BaseException(std::string what, std::string message);

  const char* what() const noexcept override { return what_.c_str(); }
  const std::string& getMessage() const noexcept { return message_; }

 private:
  std::string what_;
  std::string message_;
};

// A wait or an operation that ran out of time.
class TimeOutException : public BaseException {
 public:
  explicit TimeOutException(std::string message);
};

}  // namespace teska

#endif  // OUTSIDE_BASE_EXCEPTION_H_
