/*
 * slp.h: the Service Location Protocol version 2 C API of RFC 2614, provided by libvslp.
 *
 * Programs written against the RFC 2614 interface compile unchanged against this header and
 * link with -lvslp (pkg-config vslp). Every function is safe to call from C and C++.
 *
 * Handles are synchronous: a call returns after its callbacks have run. A handle serves one
 * operation at a time; calling into the library on a handle from inside one of its own
 * callbacks answers SLP_HANDLE_IN_USE. Different handles may be used from different threads.
 *
 * Memory passed to callbacks belongs to the library and is valid only during the call. Memory
 * handed out through an out-parameter (SLPParseSrvURL, SLPEscape, SLPUnescape, SLPFindScopes)
 * is released with exactly one SLPFree.
 *
 * Every URL, attribute and service-type callback ends with one call whose errCode is
 * SLP_LAST_CALL and whose data parameters are NULL/0, unless the callback returned SLP_FALSE
 * earlier; returning SLP_FALSE stops the operation's network work at once.
 */
#ifndef VSLP_SLP_H_
#define VSLP_SLP_H_

#ifdef __cplusplus
extern "C" {
#endif

/* Lifetimes of registrations, in seconds. SLP_LIFETIME_MAXIMUM never expires. */
typedef enum {
  SLP_LIFETIME_DEFAULT = 10800,
  SLP_LIFETIME_MAXIMUM = 65535
} SLPURLLifetime;

/* Results of the API. Values are fixed by RFC 2614; remote protocol error codes appear
 * negated (protocol code 3 INVALID_REGISTRATION is SLP_INVALID_REGISTRATION, -3). */
typedef enum {
  SLP_LAST_CALL = 1,
  SLP_OK = 0,
  SLP_LANGUAGE_NOT_SUPPORTED = -1,
  SLP_PARSE_ERROR = -2,
  SLP_INVALID_REGISTRATION = -3,
  SLP_SCOPE_NOT_SUPPORTED = -4,
  SLP_AUTHENTICATION_ABSENT = -6,
  SLP_AUTHENTICATION_FAILED = -7,
  SLP_INVALID_UPDATE = -13,
  SLP_REFRESH_REJECTED = -15,
  SLP_NOT_IMPLEMENTED = -17,
  SLP_BUFFER_OVERFLOW = -18,
  SLP_NETWORK_TIMED_OUT = -19,
  SLP_NETWORK_INIT_FAILED = -20,
  SLP_MEMORY_ALLOC_FAILED = -21,
  SLP_PARAMETER_BAD = -22,
  SLP_NETWORK_ERROR = -23,
  SLP_INTERNAL_SYSTEM_ERROR = -24,
  SLP_HANDLE_IN_USE = -25,
  SLP_TYPE_ERROR = -26
} SLPError;

typedef enum {
  SLP_FALSE = 0,
  SLP_TRUE = 1
} SLPBoolean;

/* A parsed service URL (SLPParseSrvURL). All strings are NUL-terminated and never NULL. */
typedef struct srvurl {
  char* s_pcSrvType;   /* service type, e.g. "service:printer:lpr" or "http" */
  char* s_pcHost;      /* host as written in the URL */
  int s_iPort;         /* port, 0 when the URL names none */
  char* s_pcNetFamily; /* "" for IP; "v6" for a bracketed IPv6 host */
  char* s_pcSrvPart;   /* everything after host[:port], "" when nothing follows */
} SLPSrvURL;

/* An open session with the library (SLPOpen .. SLPClose). */
typedef void* SLPHandle;

/* Completion of SLPReg, SLPDereg and SLPDelAttrs: errCode is the agent's answer. */
typedef void SLPRegReport(SLPHandle hSLP, SLPError errCode, void* pvCookie);

/* One comma-separated list of service types per call; return SLP_FALSE to stop. */
typedef SLPBoolean SLPSrvTypeCallback(SLPHandle hSLP, const char* pcSrvTypes, SLPError errCode,
                                      void* pvCookie);

/* One service URL per call with its remaining lifetime; return SLP_FALSE to stop. */
typedef SLPBoolean SLPSrvURLCallback(SLPHandle hSLP, const char* pcSrvURL,
                                     unsigned short sLifetime, SLPError errCode,
                                     void* pvCookie);

/* One attribute list in wire form, e.g. "(public_key=0)"; return SLP_FALSE to stop. */
typedef SLPBoolean SLPAttrCallback(SLPHandle hSLP, const char* pcAttrList, SLPError errCode,
                                   void* pvCookie);

/* Opens a handle. pcLang: RFC 1766 language tag, NULL or "" for net.slp.locale ("en").
 * isAsync SLP_TRUE answers SLP_NOT_IMPLEMENTED. On failure *phSLP is NULL. */
SLPError SLPOpen(const char* pcLang, SLPBoolean isAsync, SLPHandle* phSLP);

/* Closes a handle and releases everything it holds. NULL is ignored. */
void SLPClose(SLPHandle hSLP);

/* Registers pcSrvURL with the local agent (TCP to loopback, port net.slp.port) in the scopes
 * of net.slp.useScopes; fresh SLP_FALSE updates the attributes of an existing registration.
 * Returns SLP_OK once the agent answered (its answer goes to the callback),
 * SLP_NETWORK_INIT_FAILED when no agent listens (callback not called), SLP_PARAMETER_BAD for
 * a NULL/empty URL, lifetime 0, NULL attributes or callback, SLP_INVALID_REGISTRATION for a
 * URL that does not parse. pcSrvType is used only for URLs outside the "service:" scheme and
 * may be NULL. The registration lasts usLifetime seconds (SLP_LIFETIME_MAXIMUM: until
 * deregistered) and ends when the registering process ends. */
SLPError SLPReg(SLPHandle hSLP, const char* pcSrvURL, const unsigned short usLifetime,
                const char* pcSrvType, const char* pcAttrs, SLPBoolean fresh,
                SLPRegReport callback, void* pvCookie);

/* Removes pcURL from the local agent in all scopes and languages; results as SLPReg. */
SLPError SLPDereg(SLPHandle hSLP, const char* pcURL, SLPRegReport callback, void* pvCookie);

/* Removes the attributes named in pcAttrs (a tag list) from the registration of pcURL. */
SLPError SLPDelAttrs(SLPHandle hSLP, const char* pcURL, const char* pcAttrs,
                     SLPRegReport callback, void* pvCookie);

/* Finds service types. pcNamingAuthority: NULL or "*" for all, "" for IANA only. */
SLPError SLPFindSrvTypes(SLPHandle hSLP, const char* pcNamingAuthority,
                         const char* pcScopeList, SLPSrvTypeCallback callback, void* pvCookie);

/* Finds services of pcServiceType (with or without "service:") matching the LDAPv3 filter
 * pcSearchFilter (NULL or "" matches all) in pcScopeList (NULL or "" for the configured
 * scopes). Each new URL goes to the callback once. */
SLPError SLPFindSrvs(SLPHandle hSLP, const char* pcServiceType, const char* pcScopeList,
                     const char* pcSearchFilter, SLPSrvURLCallback callback, void* pvCookie);

/* Finds the attributes of one URL or of every service of a type. pcAttrIds: comma list of
 * tags with optional '*' wildcards, NULL or "" for all. */
SLPError SLPFindAttrs(SLPHandle hSLP, const char* pcURLOrServiceType, const char* pcScopeList,
                      const char* pcAttrIds, SLPAttrCallback callback, void* pvCookie);

/* Interval in seconds at which registrations should be refreshed; 0 when no agent asks for
 * refreshing. */
unsigned short SLPGetRefreshInterval(void);

/* The scopes this host uses, as a comma list in *ppcScopeList (free with SLPFree). */
SLPError SLPFindScopes(SLPHandle hSLP, char** ppcScopeList);

/* Splits a service URL into its parts without modifying pcSrvURL. *ppSrvURL is one block
 * released by one SLPFree. SLP_PARSE_ERROR when the URL has no "scheme://" part. */
SLPError SLPParseSrvURL(const char* pcSrvURL, SLPSrvURL** ppSrvURL);

/* Escapes the characters reserved in attribute values (isTag SLP_TRUE: in tags, where some
 * characters are illegal and give SLP_PARSE_ERROR). Free *ppcOutBuf with SLPFree. */
SLPError SLPEscape(const char* pcInbuf, char** ppcOutBuf, SLPBoolean isTag);

/* Reverses SLPEscape; a malformed escape gives SLP_PARSE_ERROR. Free with SLPFree. */
SLPError SLPUnescape(const char* pcInbuf, char** ppcOutBuf, SLPBoolean isTag);

/* Releases memory the library returned through an out-parameter. NULL is ignored. */
void SLPFree(void* pvMem);

/* Value of a configuration property, or NULL when unknown. Library-owned; valid until the
 * next SLPSetProperty of the same name. */
const char* SLPGetProperty(const char* pcName);

/* Sets a configuration property for this process. */
void SLPSetProperty(const char* pcName, const char* pcValue);

/* Extension of other implementations kept for callers written against them: finds the value
 * of attribute pcAttrId in the wire-form list pcAttrList. *ppcAttrVal is freed with SLPFree.
 * SLP_PARSE_ERROR when the attribute is absent. */
SLPError SLPParseAttrs(const char* pcAttrList, const char* pcAttrId, char** ppcAttrVal);

#ifdef __cplusplus
}
#endif

#endif /* VSLP_SLP_H_ */
