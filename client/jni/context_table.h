// ContextTable: the live event client contexts handed to Java as int handles.
//
// A Java int cannot hold a native address on 64-bit systems, and an address cannot tell a
// stale or forged value from a live one without reading freed memory. So Java holds a handle:
// a positive number that indexes this table. Handles count up from 1 and are not reused until
// the counter wraps after 2^31 - 1 creations; 0 and negative numbers are never handles. A
// context found in the table is valid only while its magic word is kContextMagic and its
// reserved word 0, the validity test Java callers have always relied on.
//
// Owns the contexts through shared pointers: destroy() takes a context out of the table at
// once, and its TolmClient is destroyed when the last caller still using it lets go. Every
// method is thread-safe.
#ifndef CLIENT_JNI_CONTEXT_TABLE_H_
#define CLIENT_JNI_CONTEXT_TABLE_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "client/tolm_client.h"

namespace vokra {

inline constexpr uint32_t kContextMagic = 0x89ABCDEF;

// One event client context as Java sees it through its handle.
struct TolmContext {
  uint32_t magic = kContextMagic;
  int32_t reserved = 0;
  TolmClient client;
};

class ContextTable {
 public:
  ContextTable() = default;
  ContextTable(const ContextTable&) = delete;
  ContextTable& operator=(const ContextTable&) = delete;

  // The table behind the Java natives of the library.
  static ContextTable& shared();

  // Creates a context and returns its handle (> 0). Throws std::bad_alloc when memory runs out
  // and std::length_error when every handle is in use.
  int32_t create();

  // The context of `handle` when it is in the table and passes the validity test, else null.
  std::shared_ptr<TolmContext> find(int32_t handle) const;

  // Invalidates the context of `handle` (magic and reserved become 0) and removes it. Returns
  // false, changing and freeing nothing, when `handle` is not a valid live handle.
  bool destroy(int32_t handle);

  std::size_t size() const;

 private:
  static bool isValid(const TolmContext& context);

  mutable std::mutex mutex_;
  std::unordered_map<int32_t, std::shared_ptr<TolmContext>> live_;
  int32_t next_ = 1;
};

}  // namespace vokra

#endif  // CLIENT_JNI_CONTEXT_TABLE_H_
