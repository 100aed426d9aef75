#include "daemon/slp_session.h"

#include <slp.h>

#include <exception>

#include "slp/client.h"
#include "slp/properties.h"
#include "slp/settings.h"

namespace frame {
namespace {

void reportCompletion(SLPHandle /*handle*/, SLPError error, void* cookie) {
  const auto report = *static_cast<const SlpSession::ErrorReport*>(cookie);
  if (error < 0 && report != nullptr) {
    report(static_cast<int>(error));
  }
}

constexpr char kLanguage[] = "en";
constexpr uint32_t kLoopbackAgent = 0x7f000001;  // 127.0.0.1

}  // namespace

void SlpSession::Closer::operator()(void* handle) const {
  SLPClose(handle);
}

SlpSession::SlpSession(ErrorReport report) : report_(report) {
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
  } catch (const std::exception&) {
    // As a failed search: nothing found, so nothing is withdrawn.
  }
  return urls;
}

int SlpSession::registerUrl(const std::string& url, const std::string& attributes,
                            unsigned short lifetime) {
  if (!handle_) {
    return openError_;
  }
  return SLPReg(handle_.get(), url.c_str(), lifetime, nullptr, attributes.c_str(), SLP_TRUE,
                reportCompletion, &report_);
}

int SlpSession::deregisterUrl(const std::string& url) {
  if (!handle_) {
    return openError_;
  }
  return SLPDereg(handle_.get(), url.c_str(), reportCompletion, &report_);
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

std::vector<std::string> urlsOfThisHost(const std::vector<std::string>& urls,
                                        const teska::NetworkInterfaces& interfaces) {
  std::vector<std::string> found;
  for (const std::string& url : urls) {
    std::optional<std::string> host = SlpSession::hostOf(url);
    for (std::size_t i = 0; host && i < interfaces.count(); ++i) {
      if (*host == interfaces[i].getIPAddressString()) {
        found.push_back(url);
        break;
      }
    }
  }
  return found;
}

std::vector<std::string> findStaleUrls(const std::string& serviceType,
                                       const teska::NetworkInterfaces& interfaces,
                                       SlpSession::ErrorReport report) {
  SlpSession session(report);
  if (session.openError() != 0) {
    return {};
  }
  return urlsOfThisHost(session.findLocalServices(serviceType), interfaces);
}

}  // namespace frame
