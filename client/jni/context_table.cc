#include "client/jni/context_table.h"

#include <limits>
#include <stdexcept>
#include <utility>

namespace vokra {
namespace {

ContextTable gSharedTable;

constexpr int32_t kFirstHandle = 1;

}  // namespace

ContextTable& ContextTable::shared() {
  return gSharedTable;
}

int32_t ContextTable::create() {
  auto context = std::make_shared<TolmContext>();
  std::lock_guard<std::mutex> lock(mutex_);
  // One full turn of the counter at most: past that every handle is taken.
  for (int64_t tries = 0; tries < std::numeric_limits<int32_t>::max(); ++tries) {
    const int32_t handle = next_;
    next_ = next_ == std::numeric_limits<int32_t>::max() ? kFirstHandle : next_ + 1;
    if (live_.find(handle) == live_.end()) {
      live_.emplace(handle, std::move(context));
      return handle;
    }
  }
  throw std::length_error("no free event client context handle");
}

std::shared_ptr<TolmContext> ContextTable::find(int32_t handle) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = live_.find(handle);
  if (it == live_.end() || !isValid(*it->second)) {
    return nullptr;
  }
  return it->second;
}

bool ContextTable::destroy(int32_t handle) {
  std::shared_ptr<TolmContext> context;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = live_.find(handle);
    if (it == live_.end() || !isValid(*it->second)) {
      return false;
    }
    context = std::move(it->second);
    live_.erase(it);
    context->magic = 0;
    context->reserved = 0;
  }
  // The client goes with the last reference, outside the lock.
  return true;
}

std::size_t ContextTable::size() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return live_.size();
}

bool ContextTable::isValid(const TolmContext& context) {
  return context.magic == kContextMagic && context.reserved == 0;
}

}  // namespace vokra
