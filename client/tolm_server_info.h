// TolmServerInfo: finds the event daemon through the Service Location Protocol and keeps what
// it found for the life of the process.
//
// A lookup is two SLP queries: a service query for the type "tolm.x", whose first usable URL
// gives url, host and port, and an attribute query on that URL for "public_key". Once both
// succeed the record is kept and never refreshed (found); until then every lookup starts again
// from a cleared record. Failures are carried as SLP error codes in the last error; nothing is
// thrown or logged. Callers judge the outcome by the port: 0 means no server.
//
// Owns its record. Not copyable. Any thread may call getSLPInfo(), copySLPInfo(),
// getTolmSLPInfo() and lookupCount(): one mutex serialises lookups, so several threads asking
// at once run one lookup, not several over the same record. The static query and callback
// functions run inside a lookup and are not synchronised themselves.
//
// The library holds one process-wide object, shared(), constructed when the library is loaded
// and destroyed when it is unloaded; the event client reaches the server only through it.
#ifndef CLIENT_TOLM_SERVER_INFO_H_
#define CLIENT_TOLM_SERVER_INFO_H_

#include <slp.h>

#include <atomic>
#include <mutex>
#include <string>

#include "client/tolm_slp_info.h"
#include "client/vokra_export.h"

namespace vokra {

class VOKRA_API TolmServerInfo {
 public:
  TolmServerInfo() = default;

  TolmServerInfo(const TolmServerInfo&) = delete;
  TolmServerInfo& operator=(const TolmServerInfo&) = delete;

  // The process-wide object of the library.
  static TolmServerInfo& shared();

  // Runs getTolmSLPInfo() and returns the record whether or not a server was found (then its
  // port is 0). The reference stays valid for the object's life; its contents change only
  // while a later lookup runs, which happens only as long as no server has been found. Threads
  // that may race with a first lookup use copySLPInfo() instead.
  const TolmSLPInfo& getSLPInfo();

  // Runs getTolmSLPInfo() and returns a copy of the record taken under the same lock, so the
  // copy is consistent even while other threads look up.
  TolmSLPInfo copySLPInfo();

  // True at once when an earlier lookup succeeded (no SLP traffic). Otherwise clears the
  // record, runs the service query and, if that succeeded, the attribute query; true when both
  // succeeded and the service query delivered a URL.
  bool getTolmSLPInfo();

  // The record as it stands, without a lookup. Only meaningful to the thread that ran the last
  // lookup, or once a server was found.
  const TolmSLPInfo& record() const { return info_; }

  // The SLP error code of the last query step: 0 none, negative an SLP error.
  int getLastError() const { return lastError_.load(); }
  void setLastError(int error) { lastError_.store(error); }

  // How many lookups (runs past the cached answer) this object has started.
  unsigned lookupCount() const { return lookups_.load(); }

  // The service query for "tolm.x" through its own SLP handle; fills url, host and port of
  // `info` from the first URL that parses. Returns an SLP error code: that of SLPOpen or
  // SLPFindSrvs, else the one the URL callback left (0 when a URL was taken or none came).
  static int findTolmServer(TolmServerInfo& info);

  // The attribute query for "public_key" on the record's url through its own SLP handle; on
  // success stores the value cut out of "(public_key=VALUE)" as the public key. Returns the
  // SLP error code of SLPOpen or SLPFindAttrs.
  static int getTolmPubKey(TolmServerInfo& info);

  // The public key in an attribute list: everything after the first '=' and before the last
  // ')', so "(public_key=VALUE)" gives VALUE; a text without '=' or ')' stays whole.
  static std::string cutPublicKey(std::string attributeList);

  // URL callback of findTolmServer (cookie: the TolmServerInfo). Takes the first URL that
  // parses and returns SLP_FALSE to stop the query; after a URL was taken it returns SLP_FALSE
  // at once. For an error (its own or a failed parse) it records the code as the last error
  // when it is 0 or negative, 0 when positive (the end-of-results call), and returns SLP_TRUE.
  static SLPBoolean SlpSrvcUrlFunc(SLPHandle handle, const char* url, unsigned short lifetime,
                                   SLPError errCode, void* cookie);

  // Attribute callback of getTolmPubKey (cookie: a std::string). With errCode 0 copies the
  // attribute list into the string and returns SLP_FALSE; otherwise leaves it and returns
  // SLP_TRUE.
  static SLPBoolean SlpAttrsCallback(SLPHandle handle, const char* attrList, SLPError errCode,
                                     void* cookie);

 private:
  bool lookUpLocked();

  TolmSLPInfo info_;
  bool found_ = false;
  std::atomic<int> lastError_{0};
  bool urlDelivered_ = false;
  std::atomic<unsigned> lookups_{0};
  // Held for a whole lookup and while the record is copied; the static query functions and
  // callbacks run under it and never take it themselves.
  std::mutex mutex_;
};

}  // namespace vokra

#endif  // CLIENT_TOLM_SERVER_INFO_H_
