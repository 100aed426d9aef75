#include "client/tolm_server_info.h"

#include <memory>
#include <string>

namespace vokra {
namespace {

constexpr const char* kLanguage = "en";
constexpr const char* kServiceType = "tolm.x";
constexpr const char* kKeyAttribute = "public_key";

// The one object of the process; it lives as long as the library stays loaded.
TolmServerInfo gSharedServerInfo;

struct SlpHandleCloser {
  void operator()(void* handle) const { SLPClose(handle); }
};
using SlpHandleOwner = std::unique_ptr<void, SlpHandleCloser>;

struct SlpMemoryFree {
  void operator()(SLPSrvURL* parsed) const { SLPFree(parsed); }
};
using ParsedUrlOwner = std::unique_ptr<SLPSrvURL, SlpMemoryFree>;

// Opens a synchronous handle; on failure `handle` stays empty and the code is returned.
int openHandle(SlpHandleOwner& handle) {
  SLPHandle raw = nullptr;
  const SLPError result = SLPOpen(kLanguage, SLP_FALSE, &raw);
  if (result != SLP_OK) {
    return result;
  }
  handle.reset(raw);
  return SLP_OK;
}

}  // namespace

TolmServerInfo& TolmServerInfo::shared() {
  return gSharedServerInfo;
}

std::string TolmServerInfo::cutPublicKey(std::string attributeList) {
  const std::size_t equals = attributeList.find('=');
  if (equals != std::string::npos) {
    attributeList.erase(0, equals + 1);
  }
  const std::size_t paren = attributeList.rfind(')');
  if (paren != std::string::npos) {
    attributeList.erase(paren);
  }
  return attributeList;
}

const TolmSLPInfo& TolmServerInfo::getSLPInfo() {
  getTolmSLPInfo();
  return info_;
}

TolmSLPInfo TolmServerInfo::copySLPInfo() {
  std::lock_guard<std::mutex> lock(mutex_);
  lookUpLocked();
  return info_;
}

bool TolmServerInfo::getTolmSLPInfo() {
  std::lock_guard<std::mutex> lock(mutex_);
  return lookUpLocked();
}

bool TolmServerInfo::lookUpLocked() {
  if (found_) {
    return true;
  }
  lookups_.fetch_add(1);
  info_.clear();
  urlDelivered_ = false;
  setLastError(findTolmServer(*this));
  if (getLastError() == SLP_OK) {
    setLastError(getTolmPubKey(*this));
  }
  // A service query that delivered no URL is no server, whatever the attribute query on the
  // empty URL answered: caching it would hide a server that appears later.
  found_ = getLastError() == SLP_OK && urlDelivered_;
  return found_;
}

int TolmServerInfo::findTolmServer(TolmServerInfo& info) {
  SlpHandleOwner handle;
  const int opened = openHandle(handle);
  if (opened != SLP_OK) {
    return opened;
  }
  // The callback leaves its verdict here; start from "nothing went wrong" so a query that
  // never calls back cannot report the code of an earlier lookup.
  info.setLastError(SLP_OK);
  int result = SLPFindSrvs(handle.get(), kServiceType, nullptr, nullptr, SlpSrvcUrlFunc, &info);
  if (result == SLP_OK) {
    result = info.getLastError();
  }
  return result;
}

int TolmServerInfo::getTolmPubKey(TolmServerInfo& info) {
  std::string attributes;
  info.info_.setPublicKey("");
  SlpHandleOwner handle;
  const int opened = openHandle(handle);
  if (opened != SLP_OK) {
    return opened;
  }
  const std::string url = info.info_.getUrl();
  const int result =
      SLPFindAttrs(handle.get(), url.c_str(), "", kKeyAttribute, SlpAttrsCallback, &attributes);
  if (result == SLP_OK) {
    info.info_.setPublicKey(cutPublicKey(attributes));
  }
  return result;
}

SLPBoolean TolmServerInfo::SlpSrvcUrlFunc(SLPHandle /*handle*/, const char* url,
                                          unsigned short /*lifetime*/, SLPError errCode,
                                          void* cookie) {
  auto& info = *static_cast<TolmServerInfo*>(cookie);
  if (info.urlDelivered_) {
    return SLP_FALSE;
  }
  int code = errCode;
  if (code == SLP_OK) {
    SLPSrvURL* raw = nullptr;
    code = url != nullptr ? SLPParseSrvURL(url, &raw) : SLP_PARAMETER_BAD;
    const ParsedUrlOwner parsed(raw);
    if (code == SLP_OK && parsed != nullptr) {
      info.setLastError(SLP_OK);
      info.info_.setHost(parsed->s_pcHost != nullptr ? parsed->s_pcHost : "");
      info.info_.setPort(static_cast<uint16_t>(parsed->s_iPort & 0xFFFF));
      info.info_.setUrl(url);
      info.urlDelivered_ = true;
      return SLP_FALSE;
    }
  }
  // Positive codes (the end-of-results call) are no error.
  info.setLastError(code <= 0 ? code : SLP_OK);
  return SLP_TRUE;
}

SLPBoolean TolmServerInfo::SlpAttrsCallback(SLPHandle /*handle*/, const char* attrList,
                                            SLPError errCode, void* cookie) {
  if (errCode != SLP_OK) {
    return SLP_TRUE;
  }
  auto& attributes = *static_cast<std::string*>(cookie);
  attributes = attrList != nullptr ? attrList : "";
  return SLP_FALSE;
}

}  // namespace vokra
