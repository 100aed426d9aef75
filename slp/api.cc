// The RFC 2614 entry points. Nothing may escape a C entry point: every body runs inside
// guard(), which turns exceptions into SLP error codes.
#include <slp.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "slp/srv_url.h"

namespace {

struct Handle {
  bool busy = false;
};

template <typename F>
SLPError guard(F&& body) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return SLP_MEMORY_ALLOC_FAILED;
  } catch (...) {
    return SLP_INTERNAL_SYSTEM_ERROR;
  }
}

}  // namespace

extern "C" {

SLPError SLPOpen(const char* /*pcLang*/, SLPBoolean isAsync, SLPHandle* phSLP) {
  if (phSLP == nullptr) {
    return SLP_PARAMETER_BAD;
  }
  *phSLP = nullptr;
  if (isAsync == SLP_TRUE) {
    return SLP_NOT_IMPLEMENTED;
  }
  return guard([&] {
    *phSLP = new Handle;
    return SLP_OK;
  });
}

void SLPClose(SLPHandle hSLP) {
  delete static_cast<Handle*>(hSLP);
}

SLPError SLPReg(SLPHandle, const char*, const unsigned short, const char*, const char*, SLPBoolean,
                SLPRegReport*, void*) {
  return SLP_NETWORK_INIT_FAILED;
}

SLPError SLPDereg(SLPHandle, const char*, SLPRegReport*, void*) {
  return SLP_NETWORK_INIT_FAILED;
}

SLPError SLPDelAttrs(SLPHandle, const char*, const char*, SLPRegReport*, void*) {
  return SLP_NOT_IMPLEMENTED;
}

SLPError SLPFindSrvTypes(SLPHandle, const char*, const char*, SLPSrvTypeCallback*, void*) {
  return SLP_NOT_IMPLEMENTED;
}

SLPError SLPFindSrvs(SLPHandle, const char*, const char*, const char*, SLPSrvURLCallback*, void*) {
  return SLP_NOT_IMPLEMENTED;
}

SLPError SLPFindAttrs(SLPHandle, const char*, const char*, const char*, SLPAttrCallback*, void*) {
  return SLP_NOT_IMPLEMENTED;
}

unsigned short SLPGetRefreshInterval(void) {
  return 0;
}

SLPError SLPFindScopes(SLPHandle, char**) {
  return SLP_NOT_IMPLEMENTED;
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

SLPError SLPEscape(const char*, char**, SLPBoolean) {
  return SLP_NOT_IMPLEMENTED;
}

SLPError SLPUnescape(const char*, char**, SLPBoolean) {
  return SLP_NOT_IMPLEMENTED;
}

void SLPFree(void* pvMem) {
  std::free(pvMem);
}

const char* SLPGetProperty(const char*) {
  return nullptr;
}

void SLPSetProperty(const char*, const char*) {}

SLPError SLPParseAttrs(const char*, const char*, char**) {
  return SLP_NOT_IMPLEMENTED;
}

}  // extern "C"
