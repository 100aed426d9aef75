#include "tolmd/slp_session.h"

#include <slp.h>

#include <exception>

#include "slp/client.h"
#include "slp/properties.h"
#include "slp/settings.h"
#include "tolmd/daemon_log.h"

namespace tolmd {
namespace {

void reportCompletion(SLPHandle /*handle*/, SLPError error, void* /*cookie*/) {
  if (error < 0) {
    daemonLog(kLogCrit, "tolmd: Received error error registering with SLP - %d",
              static_cast<int>(error));
  }
}

constexpr char kLanguage[] = "en";
constexpr uint32_t kLoopbackAgent = 0x7f000001;  // 127.0.0.1

}  // namespace

void SlpSession::Closer::operator()(void* handle) const {
  SLPClose(handle);
}

SlpSession::SlpSession() {
  SLPHandle handle = nullptr;
  openError_ = SLPOpen(kLanguage, SLP_FALSE, &handle);
  if (openError_ == SLP_OK) {
    handle_.reset(handle);
  } else if (handle != nullptr) {
    SLPClose(handle);
  }
}

SlpSession::~SlpSession() = default;

std::vector<std::string> SlpSession::findLocalServices(const std::string& serviceType) {
  std::vector<std::string> urls;
  if (!handle_) {
    return urls;
  }
  try {
    vslp::ClientSettings settings = vslp::ClientSettings::from(vslp::Properties::load());
    settings.agent = kLoopbackAgent;
    settings.multicast = false;
    vslp::Client client(kLanguage, settings);
    client.findServices(serviceType, "", "",
                        [&urls](const char* url, unsigned short /*lifetime*/, SLPError error) {
                          if (error == SLP_OK && url != nullptr) {
                            urls.emplace_back(url);
                          }
                          return SLP_TRUE;
                        });
  } catch (const std::exception& e) {
    // As a failed search: nothing found.
    daemonLog(kLogDebug, "SlpSession::findLocalServices search failed: %s", e.what());
  }
  return urls;
}

int SlpSession::registerUrl(const std::string& url, const std::string& attributes,
                            unsigned short lifetime) {
  if (!handle_) {
    return openError_;
  }
  return SLPReg(handle_.get(), url.c_str(), lifetime, nullptr, attributes.c_str(), SLP_TRUE,
                reportCompletion, nullptr);
}

int SlpSession::deregisterUrl(const std::string& url) {
  if (!handle_) {
    return openError_;
  }
  return SLPDereg(handle_.get(), url.c_str(), reportCompletion, nullptr);
}

std::optional<std::string> SlpSession::hostOf(const std::string& url) {
  SLPSrvURL* parsed = nullptr;
  if (SLPParseSrvURL(url.c_str(), &parsed) != SLP_OK || parsed == nullptr) {
    return std::nullopt;
  }
  std::string host = parsed->s_pcHost;
  SLPFree(parsed);
  return host;
}

}  // namespace tolmd
