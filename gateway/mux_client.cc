#include "gateway/mux_client.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include <sys/stat.h>
#include <xercesc/dom/DOMDocument.hpp>
#include <xercesc/dom/DOMElement.hpp>

#include "gateway/authentication.h"
#include "gateway/command.h"
#include "gateway/command_engine.h"
#include "gateway/file_io.h"
#include "gateway/ldap_directory.h"
#include "gateway/reply_document.h"
#include "gateway/session_context.h"
#include "gateway/xml_parser.h"
#include "gateway/xml_reader.h"

namespace nvo {
namespace {

// A reply is built by the engine from directory data, not sent by a stranger, and may be far
// larger than a command (a container's thousands of children): it is read with this limit.
constexpr std::size_t kMaxReplyBytes = 64u * 1024 * 1024;

// The authentication document at `path`, or nothing (with the reason on standard error) when
// it cannot be read, is too large, or is readable by anyone but its owner.
std::optional<std::string> readAuthenticationFile(const char* path) {
  const FileDescriptor fd(::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (fd.get() < 0) {
    std::fprintf(stderr, "nvo: cannot read the authentication document %s: %s\n", path,
                 std::strerror(errno));
    return std::nullopt;
  }
  struct stat status {};
  if (fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
    std::fprintf(stderr, "nvo: the authentication document %s is not a regular file\n", path);
    return std::nullopt;
  }
  if ((status.st_mode & (S_IRGRP | S_IROTH)) != 0) {
    std::fprintf(stderr,
                 "nvo: refusing the authentication document %s: it holds a password and is "
                 "readable by group or others (mode %04o; make it 0600)\n",
                 path, static_cast<unsigned>(status.st_mode & 07777));
    return std::nullopt;
  }
  std::string text;
  const int error = readAll(fd.get(), XMLParser::kMaxDocumentBytes, text);
  if (error != 0) {
    std::fprintf(stderr, "nvo: cannot read the authentication document %s: %s\n", path,
                 std::strerror(error));
    return std::nullopt;
  }
  return text;
}

}  // namespace

struct MUXClient::Session {
  // The connection of one routed category: opened on first use.
  struct Route {
    std::string url;
    std::unique_ptr<LdapDirectory> directory;
    std::unique_ptr<CommandEngine> engine;
  };

  LdapDirectory primary;
  // One engine per connection for the session's life, so what an engine learns of its
  // directory once (the naming contexts) is not asked again before every command.
  std::unique_ptr<CommandEngine> primaryEngine;
  std::string authname;
  std::string password;
  std::map<std::string, Route> routes;  // by category; LDAP URLs only
  xml::TreeReader command;              // the caller's command: read, never changed, so no DOM
  xml::ReplyDocument reply;             // the engine's replies, built directly
  xml::SecureReader replyReader;        // a reply of any other shape, parsed
  ApiContext api;
  bool open = false;

  // The engine that runs commands of `category`: its route's, whose connection is opened now
  // when it was not, or the primary one.
  CommandEngine& engineFor(const std::string& category) {
    const auto found = routes.find(category);
    if (found == routes.end()) {
      return *primaryEngine;
    }
    Route& route = found->second;
    if (route.directory == nullptr) {
      auto directory = std::make_unique<LdapDirectory>();
      directory->open(route.url, authname, password);
      route.engine = std::make_unique<CommandEngine>(*directory);
      route.directory = std::move(directory);
    }
    return *route.engine;
  }

  // Unbinds every connection and forgets the credentials.
  void closeAll() {
    routes.clear();
    primaryEngine.reset();
    primary.close();
    authname.clear();
    password.clear();
    api.identity.clear();
    open = false;
  }
};

MUXClient::MUXClient() : session_(std::make_unique<Session>()) {
  session_->api.client = this;
}

MUXClient::~MUXClient() = default;

bool MUXClient::initSession() {
  const char* path = std::getenv("NVO_AUTHENTICATION");
  if (path == nullptr || *path == '\0') {
    return false;
  }
  std::optional<std::string> document = readAuthenticationFile(path);
  return document && initSession(std::move(*document));
}

bool MUXClient::initSession(std::string document) {
  endSession();
  Authentication authentication;
  try {
    // Every reply is a Xerces-C document: the platform starts with the session, not inside
    // its first command.
    xml::ensureXercesInitialized();
    authentication = readAuthentication(document);
  } catch (const AuthenticationError&) {
    return false;
  } catch (const std::runtime_error&) {  // Xerces-C could not start
    return false;
  }
  const GatewayEntry& primary = authentication.primaryGateway();
  if (!LdapDirectory::isLdapUrl(primary.url)) {
    return false;
  }
  Session& session = *session_;
  try {
    session.primary.open(primary.url, primary.authname, primary.password);
  } catch (const DirectoryError&) {
    return false;
  }
  session.primaryEngine = std::make_unique<CommandEngine>(session.primary);
  session.authname = primary.authname;
  session.password = primary.password;
  session.api.identity = primary.objectname.empty() ? primary.authname : primary.objectname;
  for (std::size_t i = 0; i < authentication.gateways.size(); ++i) {
    const GatewayEntry& gateway = authentication.gateways[i];
    if (i == authentication.primary || !LdapDirectory::isLdapUrl(gateway.url)) {
      continue;  // the primary's own routes need no second connection; others are never used
    }
    for (const CategoryRoute& route : gateway.routes) {
      session.routes.emplace(route.name, Session::Route{gateway.url, nullptr, nullptr});
    }
  }
  session.open = true;
  return true;
}

DOM_Node MUXClient::callGateway(const char* document, int length) {
  Session& session = *session_;
  if (!session.open || document == nullptr || length < 0) {
    return DOM_Node();
  }
  try {
    std::string reply;
    std::string error;
    if (!session.command.read(std::string(document, static_cast<std::size_t>(length)),
                              XMLParser::kMaxDocumentBytes, error)) {
      reply = errorReply(kErrNotACommand, "the command document is not usable: " + error);
    } else {
      const xml::ElementTree& command = session.command.tree();
      // One guard for every directory operation of the command.
      const SigpipeGuard guard;
      try {
        reply = session.engineFor(command.root().attribute("cat")).execute(command);
      } catch (const DirectoryError& failure) {
        // A routed connection that could not be opened.
        reply = errorReply(failure.code(), failure.what());
      }
    }
    session.reply.clear();
    session.replyReader.clear();
    if (reply.size() > kMaxReplyBytes) {
      return DOM_Node();
    }
    if (session.reply.build(reply)) {
      return DOM_Node(session.reply.document()->getDocumentElement());
    }
    if (!session.replyReader.read(reply, kMaxReplyBytes, error)) {
      return DOM_Node();
    }
    return DOM_Node(session.replyReader.document()->getDocumentElement());
  } catch (const std::exception&) {
    return DOM_Node();
  }
}

void MUXClient::endSession() {
  session_->closeAll();
}

void* MUXClient::getApiCtx() {
  return &session_->api;
}

}  // namespace nvo
