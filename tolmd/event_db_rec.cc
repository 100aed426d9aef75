#include "tolmd/event_db_rec.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "tolmd/event_db_exception.h"

namespace tolmd {
namespace {

constexpr std::size_t kAddressPortSize = 6;

// The bytes of `bytes` up to (not including) the first NUL, or all of them.
std::string textUpToNul(std::span<const uint8_t> bytes) {
  auto end = std::find(bytes.begin(), bytes.end(), uint8_t{0});
  return std::string(bytes.begin(), end);
}

}  // namespace

EventDbRec::EventDbRec(teska::QRstring eventName, uint32_t address, uint16_t port)
    : eventName_(std::move(eventName)), address_(address), port_(port) {}

EventDbRec::EventDbRec(const EventDbRec& other)
    : eventName_(other.eventName_), address_(other.address_), port_(other.port_) {}

EventDbRec& EventDbRec::operator=(const EventDbRec& other) {
  if (this != &other) {
    eventName_ = other.eventName_;
    address_ = other.address_;
    port_ = other.port_;
  }
  return *this;
}

std::span<const uint8_t> EventDbRec::createBlock() {
  block_.clear();
  try {
    block_.resize(eventName_.size() + kAddressPortSize + 1);
  } catch (const std::bad_alloc&) {
    throw EventDbRecException("Memory allocation error in createBlock");
  }
  std::memcpy(block_.data(), &address_, sizeof(address_));
  std::memcpy(block_.data() + sizeof(address_), &port_, sizeof(port_));
  std::memcpy(block_.data() + kAddressPortSize, eventName_.data(), eventName_.size());
  block_.back() = 0;
  return block_;
}

void EventDbRec::assignFromStored(std::span<const uint8_t> key, std::span<const uint8_t> data) {
  if (data.size() < kAddressPortSize) {
    address_ = 0;
    port_ = 0;
    eventName_ = textUpToNul(key);
    return;
  }
  std::memcpy(&address_, data.data(), sizeof(address_));
  std::memcpy(&port_, data.data() + sizeof(address_), sizeof(port_));
  eventName_ = textUpToNul(data.subspan(kAddressPortSize));
}

std::vector<char> EventDbRec::keyFor(const teska::QRstring& eventName) {
  std::vector<char> key(eventName.begin(), eventName.end());
  key.push_back('\0');
  return key;
}

}  // namespace tolmd
