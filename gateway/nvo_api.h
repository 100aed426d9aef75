// The gateway library's free functions: a per-user cache of the objects linked to the session's
// own object, and event signalling through the event service. `context` is the value of
// MUXClient::getApiCtx() of an open session.
//
// Texts returned through `result` are allocated with new[]; the caller releases them with
// delete[]. On failure nothing is allocated and *result is left unchanged.
#ifndef GATEWAY_NVO_API_H_
#define GATEWAY_NVO_API_H_

#include "gateway/nvo_export.h"

namespace nvo {

// Reads the objects of `objectClass` linked to the session's own object (as the command
// findAllLinkedObjects answers them), stores the reply XML in the user's cache directory
// ($XDG_CACHE_HOME/nvo when XDG_CACHE_HOME is set, else /var/cache/nvo for root and
// ~/.cache/nvo for others; files mode 0600, written to a temporary file and renamed into place) and
// returns the stored text. `flags` is accepted and has no effect. 0 on success, any other value on
// failure.
NVO_API int AddToCache(void* context, const char* objectClass, int flags, char** result);
// As AddToCache, keeping only the objects whose `attribute` holds `value`.
NVO_API int AddToCacheWithAttribute(void* context, const char* objectClass, const char* attribute,
                                    const char* value, int flags, char** result);
// The text AddToCache stored last for `objectClass`, without asking the directory. Non-zero
// when nothing is stored.
NVO_API int ReadCache(void* context, const char* objectClass, char** result);
NVO_API int ReadCacheWithAttribute(void* context, const char* objectClass, const char* attribute,
                                   const char* value, char** result);
// Signals `eventName` through the event service (libvokra: empty payload, default stagger).
// The three trailing arguments are accepted and have no effect. -1 on failure, 0 on success.
NVO_API int TRKSignalEvent(void* context, const char* eventName, int a, int b, int c);

}  // namespace nvo

#endif  // GATEWAY_NVO_API_H_
