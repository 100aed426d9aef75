// Failures of the event database and of its records. Both carry one fixed message (what()),
// derive directly from std::exception, and are thrown by value and caught by reference.
#ifndef TOLMD_EVENT_DB_EXCEPTION_H_
#define TOLMD_EVENT_DB_EXCEPTION_H_

#include <exception>
#include <string>

namespace tolmd {

// A database operation failed ("EventDb::findFirst - failed", "EventDb::open", ...).
class EventDbException : public std::exception {
 public:
  explicit EventDbException(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& getMessage() const noexcept { return message_; }

 private:
  std::string message_;
};

// A record could not build its stored form ("Memory allocation error in createBlock").
class EventDbRecException : public std::exception {
 public:
  explicit EventDbRecException(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& getMessage() const noexcept { return message_; }

 private:
  std::string message_;
};

}  // namespace tolmd

#endif  // TOLMD_EVENT_DB_EXCEPTION_H_
