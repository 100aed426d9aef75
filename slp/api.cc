// The RFC 2614 entry points. Nothing may escape a C entry point: every body runs inside
// guard(), which turns exceptions into SLP error codes. A handle serves one call at a time;
// a call made while another runs on the same handle (for instance from inside its callback)
// answers SLP_HANDLE_IN_USE.
#include <slp.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <optional>
#include <string>

#include "slp/attr_list.h"
#include "slp/client.h"
#include "slp/properties.h"
#include "slp/socket_ops.h"
#include "slp/srv_url.h"
#include "slp/text.h"

namespace {

constexpr uint32_t kHandleMagic = 0x76534c50;  // "vSLP"

struct ApiHandle {
  ApiHandle(std::string lang, vslp::ClientSettings settings)
      : client(std::move(lang), std::move(settings)) {}
  uint32_t magic = kHandleMagic;
  std::atomic<bool> busy{false};
  vslp::Client client;
};

// The process-wide properties, loaded on first use and changed by SLPSetProperty.
std::mutex gPropertiesMutex;
std::optional<vslp::Properties> gProperties;

vslp::Properties& properties() {
  if (!gProperties) {
    gProperties = vslp::Properties::load();
  }
  return *gProperties;
}

template <typename F>
SLPError guard(F&& body) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return SLP_MEMORY_ALLOC_FAILED;
  } catch (const vslp::SocketError&) {
    return SLP_NETWORK_ERROR;
  } catch (...) {
    return SLP_INTERNAL_SYSTEM_ERROR;
  }
}

ApiHandle* handleOf(SLPHandle h) {
  auto* handle = static_cast<ApiHandle*>(h);
  return (handle != nullptr && handle->magic == kHandleMagic) ? handle : nullptr;
}

// Runs `body` with the handle marked busy; SLP_HANDLE_IN_USE when it already is.
template <typename F>
SLPError withHandle(SLPHandle h, F&& body) {
  ApiHandle* handle = handleOf(h);
  if (handle == nullptr) {
    return SLP_PARAMETER_BAD;
  }
  if (handle->busy.exchange(true)) {
    return SLP_HANDLE_IN_USE;
  }
  SLPError result = guard([&] { return body(handle->client); });
  handle->busy.store(false);
  return result;
}

std::string text(const char* s) {
  return s == nullptr ? std::string() : std::string(s);
}

// A malloc'ed copy of `s`, released by SLPFree.
SLPError copyOut(const std::string& s, char** out) {
  char* copy = static_cast<char*>(std::malloc(s.size() + 1));
  if (copy == nullptr) {
    return SLP_MEMORY_ALLOC_FAILED;
  }
  std::memcpy(copy, s.c_str(), s.size() + 1);
  *out = copy;
  return SLP_OK;
}

}  // namespace

extern "C" {

SLPError SLPOpen(const char* pcLang, SLPBoolean isAsync, SLPHandle* phSLP) {
  if (phSLP == nullptr) {
    return SLP_PARAMETER_BAD;
  }
  *phSLP = nullptr;
  if (isAsync == SLP_TRUE) {
    return SLP_NOT_IMPLEMENTED;
  }
  return guard([&] {
    vslp::ClientSettings settings;
    {
      std::lock_guard<std::mutex> lock(gPropertiesMutex);
      settings = vslp::ClientSettings::from(properties());
    }
    std::string lang = (pcLang == nullptr || *pcLang == '\0') ? settings.locale : pcLang;
    if (!vslp::isValidLanguageTag(lang)) {
      return SLP_PARAMETER_BAD;
    }
    *phSLP = new ApiHandle(lang, std::move(settings));
    return SLP_OK;
  });
}

void SLPClose(SLPHandle hSLP) {
  ApiHandle* handle = handleOf(hSLP);
  if (handle != nullptr) {
    handle->magic = 0;
    delete handle;
  }
}

SLPError SLPReg(SLPHandle hSLP, const char* pcSrvURL, const unsigned short usLifetime,
                const char* pcSrvType, const char* pcAttrs, SLPBoolean fresh, SLPRegReport callback,
                void* pvCookie) {
  if (pcSrvURL == nullptr || *pcSrvURL == '\0' || usLifetime == 0 || pcAttrs == nullptr ||
      callback == nullptr) {
    return SLP_PARAMETER_BAD;
  }
  return withHandle(hSLP, [&](vslp::Client& c) {
    return c.registerService(pcSrvURL, usLifetime, text(pcSrvType), pcAttrs, fresh == SLP_TRUE,
                             [&](SLPError e) { callback(hSLP, e, pvCookie); });
  });
}

SLPError SLPDereg(SLPHandle hSLP, const char* pcURL, SLPRegReport callback, void* pvCookie) {
  if (pcURL == nullptr || *pcURL == '\0' || callback == nullptr) {
    return SLP_PARAMETER_BAD;
  }
  return withHandle(hSLP, [&](vslp::Client& c) {
    return c.deregisterService(pcURL, "", [&](SLPError e) { callback(hSLP, e, pvCookie); });
  });
}

SLPError SLPDelAttrs(SLPHandle hSLP, const char* pcURL, const char* pcAttrs, SLPRegReport callback,
                     void* pvCookie) {
  if (pcURL == nullptr || *pcURL == '\0' || pcAttrs == nullptr || *pcAttrs == '\0' ||
      callback == nullptr) {
    return SLP_PARAMETER_BAD;
  }
  return withHandle(hSLP, [&](vslp::Client& c) {
    return c.deregisterService(pcURL, pcAttrs, [&](SLPError e) { callback(hSLP, e, pvCookie); });
  });
}

SLPError SLPFindSrvTypes(SLPHandle hSLP, const char* pcNamingAuthority, const char* pcScopeList,
                         SLPSrvTypeCallback callback, void* pvCookie) {
  if (callback == nullptr) {
    return SLP_PARAMETER_BAD;
  }
  std::optional<std::string> authority;
  if (pcNamingAuthority != nullptr && std::strcmp(pcNamingAuthority, "*") != 0) {
    authority = pcNamingAuthority;
  }
  return withHandle(hSLP, [&](vslp::Client& c) {
    return c.findServiceTypes(authority, text(pcScopeList), [&](const char* types, SLPError e) {
      return callback(hSLP, types, e, pvCookie);
    });
  });
}

SLPError SLPFindSrvs(SLPHandle hSLP, const char* pcServiceType, const char* pcScopeList,
                     const char* pcSearchFilter, SLPSrvURLCallback callback, void* pvCookie) {
  if (pcServiceType == nullptr || *pcServiceType == '\0' || callback == nullptr) {
    return SLP_PARAMETER_BAD;
  }
  return withHandle(hSLP, [&](vslp::Client& c) {
    return c.findServices(pcServiceType, text(pcScopeList), text(pcSearchFilter),
                          [&](const char* url, unsigned short lifetime, SLPError e) {
                            return callback(hSLP, url, lifetime, e, pvCookie);
                          });
  });
}

SLPError SLPFindAttrs(SLPHandle hSLP, const char* pcURLOrServiceType, const char* pcScopeList,
                      const char* pcAttrIds, SLPAttrCallback callback, void* pvCookie) {
  if (pcURLOrServiceType == nullptr || *pcURLOrServiceType == '\0' || callback == nullptr) {
    return SLP_PARAMETER_BAD;
  }
  return withHandle(hSLP, [&](vslp::Client& c) {
    return c.findAttributes(
        pcURLOrServiceType, text(pcScopeList), text(pcAttrIds),
        [&](const char* attrs, SLPError e) { return callback(hSLP, attrs, e, pvCookie); });
  });
}

unsigned short SLPGetRefreshInterval(void) {
  return 0;
}

SLPError SLPFindScopes(SLPHandle hSLP, char** ppcScopeList) {
  if (ppcScopeList == nullptr) {
    return SLP_PARAMETER_BAD;
  }
  *ppcScopeList = nullptr;
  return withHandle(hSLP,
                    [&](vslp::Client& c) { return copyOut(c.settings().scopes, ppcScopeList); });
}

SLPError SLPParseSrvURL(const char* pcSrvURL, SLPSrvURL** ppSrvURL) {
  if (pcSrvURL == nullptr || ppSrvURL == nullptr) {
    return SLP_PARAMETER_BAD;
  }
  *ppSrvURL = nullptr;
  return guard([&] {
    auto parsed = vslp::parseServiceUrl(pcSrvURL);
    if (!parsed) {
      return SLP_PARSE_ERROR;
    }
    // One block holds the structure and its strings, so one SLPFree releases everything.
    size_t strings =
        parsed->type.size() + parsed->host.size() + parsed->family.size() + parsed->part.size() + 4;
    void* block = std::malloc(sizeof(SLPSrvURL) + strings);
    if (block == nullptr) {
      return SLP_MEMORY_ALLOC_FAILED;
    }
    auto* url = static_cast<SLPSrvURL*>(block);
    char* cursor = static_cast<char*>(block) + sizeof(SLPSrvURL);
    auto put = [&cursor](const std::string& s) {
      char* start = cursor;
      std::memcpy(cursor, s.c_str(), s.size() + 1);
      cursor += s.size() + 1;
      return start;
    };
    url->s_pcSrvType = put(parsed->type);
    url->s_pcHost = put(parsed->host);
    url->s_iPort = parsed->port;
    url->s_pcNetFamily = put(parsed->family);
    url->s_pcSrvPart = put(parsed->part);
    *ppSrvURL = url;
    return SLP_OK;
  });
}

SLPError SLPEscape(const char* pcInbuf, char** ppcOutBuf, SLPBoolean isTag) {
  if (pcInbuf == nullptr || ppcOutBuf == nullptr) {
    return SLP_PARAMETER_BAD;
  }
  *ppcOutBuf = nullptr;
  return guard([&] {
    auto out = vslp::escapeText(pcInbuf, isTag == SLP_TRUE);
    return out ? copyOut(*out, ppcOutBuf) : SLP_PARSE_ERROR;
  });
}

SLPError SLPUnescape(const char* pcInbuf, char** ppcOutBuf, SLPBoolean isTag) {
  if (pcInbuf == nullptr || ppcOutBuf == nullptr) {
    return SLP_PARAMETER_BAD;
  }
  *ppcOutBuf = nullptr;
  return guard([&] {
    auto out = vslp::unescapeText(pcInbuf, isTag == SLP_TRUE);
    return out ? copyOut(*out, ppcOutBuf) : SLP_PARSE_ERROR;
  });
}

void SLPFree(void* pvMem) {
  std::free(pvMem);
}

const char* SLPGetProperty(const char* pcName) {
  if (pcName == nullptr) {
    return nullptr;
  }
  try {
    std::lock_guard<std::mutex> lock(gPropertiesMutex);
    const std::string* value = properties().find(pcName);
    return value == nullptr ? nullptr : value->c_str();
  } catch (...) {
    return nullptr;
  }
}

void SLPSetProperty(const char* pcName, const char* pcValue) {
  if (pcName == nullptr || pcValue == nullptr) {
    return;
  }
  try {
    std::lock_guard<std::mutex> lock(gPropertiesMutex);
    properties().set(pcName, pcValue);
  } catch (...) {
    // Out of memory: the property keeps its value.
  }
}

SLPError SLPParseAttrs(const char* pcAttrList, const char* pcAttrId, char** ppcAttrVal) {
  if (pcAttrList == nullptr || pcAttrId == nullptr || ppcAttrVal == nullptr) {
    return SLP_PARAMETER_BAD;
  }
  *ppcAttrVal = nullptr;
  return guard([&] {
    auto list = vslp::AttributeList::parse(pcAttrList);
    const vslp::Attribute* attr = list ? list->find(pcAttrId) : nullptr;
    if (attr == nullptr) {
      return SLP_PARSE_ERROR;
    }
    std::string values;
    for (const std::string& v : attr->values) {
      values += (values.empty() ? "" : ",") + v;
    }
    return copyOut(values, ppcAttrVal);
  });
}

}  // extern "C"
