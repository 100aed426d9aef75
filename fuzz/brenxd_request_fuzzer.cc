// Fuzz target: one workstation request as brenxd reads it from a connection.
//
// Each input is the byte stream a workstation sends on one connection (it then half-closes).
// The bytes travel over a real loopback TCP connection into brenxd::processConnection, the
// agent's own reader, with a WorkStationSyncer configured as the agent is and a scripted
// gateway behind it that checks every command document the request makes.
//
// Properties checked besides "never crashes": the reply (or its absence) follows the reading
// order of docs/workstation-protocol.md, written out independently below: no reply unless both
// fields arrived whole with lengths up to 1023; then the refusal or an answer in the agent's
// encoding. A MAC text never changes the shape of the search or creation documents (exactly
// the elements the agent writes), and a printable host name and MAC come back exactly: the
// MAC as the searched and stored value, both in the created name, and the answer carries the
// gateway's name for the computer. Every log line (at DEBUG) is one of the agent's own lines:
// no text from the network can end a line and start a forged one.
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "brenxd/request_codec.h"
#include "brenxd/request_reader.h"
#include "brenxd/tools/enrol_answer.h"
#include "brenxd/workstation_syncer.h"
#include "fuzz/fuzz_check.h"
#include "fuzz/loopback_client.h"
#include "gateway/xml_parser.h"
#include "outside/inet_server_socket_impl.h"
#include "outside/log_stream.h"

namespace {

using X = nvo::XMLParser;

constexpr char kConfig[] =
    "<brenxd><authentication><gateway><url>ldap://127.0.0.1:389</url>"
    "<authname>cn=admin,o=orvanta</authname><password>secret</password>"
    "<objectname>cn=admin,o=orvanta</objectname><primaryGateway/></gateway></authentication>"
    "<workstationcreation><creationLocation>ou=New,o=orvanta</creationLocation>"
    "<searchLocation>ou=Old,o=orvanta</searchLocation></workstationcreation></brenxd>";
constexpr char kContainerId[] = "11111111-2222-4333-8444-555555555555";
constexpr char kKnownId[] = "22222222-2222-4333-8444-555555555555";
constexpr char kKnownName[] = "cn=known,ou=Old,o=orvanta";

// What the protocol says one input is: nothing to answer, or a whole request.
struct Request {
  std::string host;
  std::string mac;
  std::size_t end = 0;  // bytes the request takes
};

uint32_t wordAt(std::span<const uint8_t> bytes, std::size_t offset) {
  return (uint32_t{bytes[offset]} << 24) | (uint32_t{bytes[offset + 1]} << 16) |
         (uint32_t{bytes[offset + 2]} << 8) | uint32_t{bytes[offset + 3]};
}

std::optional<Request> expectedRequest(std::span<const uint8_t> input) {
  Request request;
  std::size_t at = 0;
  for (std::string* field : {&request.host, &request.mac}) {
    if (input.size() - at < 4) {
      return std::nullopt;
    }
    const uint32_t length = wordAt(input, at);
    at += 4;
    if (length > 1023 || input.size() - at < length) {
      return std::nullopt;
    }
    const auto bytes = input.subspan(at, length);
    *field = std::string(bytes.begin(), std::find(bytes.begin(), bytes.end(), uint8_t{0}));
    at += length;
  }
  request.end = at;
  return request;
}

bool printable(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
}

// The element children of `node`, by name, in order.
std::vector<std::string> childNames(nvo::DOM_Node node) {
  std::vector<std::string> names;
  for (nvo::DOM_Node child = X::firstChild(node); child; child = X::nextSibling(child)) {
    names.push_back(X::getName(child));
  }
  return names;
}

// The request being served, as the scripted gateway checks it.
struct Current {
  std::string mac;
  std::string computerName;
  bool plain = false;
  bool found = false;      // the search finds a known computer
  std::string objectName;  // what getObjectNameFromObjectID answers
};

Current gCurrent;

std::string result(const std::string& body) {
  return "<commandResult>" + body + "</commandResult>";
}

// A gateway that answers like the real one for one configured container and checks the shape
// of each document. A document that does not parse (a MAC with bytes XML cannot carry) gets no
// reply, as the real gateway gives an error.
class ScriptedGateway : public brenxd::GatewaySession {
 public:
  bool initSession(const std::string& document) override {
    return document.find("<ignorePolicy/>") != std::string::npos;
  }

  nvo::DOM_Node callGateway(const std::string& command) override {
    X parsed(command);
    nvo::DOM_Node root = parsed.getRoot();
    if (!root) {
      FUZZ_CHECK(!gCurrent.plain);
      return nullptr;
    }
    const std::string name = X::getAttributeValue(root, "name");
    std::string reply;
    if (name == "resolveObject") {
      reply = result(std::string("<object><objectID>") + kContainerId + "</objectID></object>");
    } else if (name == "searchObjects") {
      nvo::DOM_Node params = X::findFirstChild(root, "searchParams");
      FUZZ_CHECK(childNames(root) == (std::vector<std::string>{"objectID", "searchParams"}));
      FUZZ_CHECK(childNames(params) ==
                 (std::vector<std::string>{"objectclass", "orvantaidtype", "orvantaid"}));
      FUZZ_CHECK(X::getChildStringValue(params, "objectclass") == "orvantacomputer");
      FUZZ_CHECK(X::getChildStringValue(params, "orvantaidtype") == "1");
      if (gCurrent.plain) {
        FUZZ_CHECK(X::getChildStringValue(params, "orvantaid") == gCurrent.mac);
      }
      reply = gCurrent.found
                  ? result(std::string("<object><objectID>") + kKnownId + "</objectID></object>")
                  : result("");
    } else if (name == "createObject") {
      FUZZ_CHECK(!gCurrent.found);
      FUZZ_CHECK(childNames(root) ==
                 (std::vector<std::string>{"objectID", "objectclass", "name", "attribute",
                                           "attribute", "attribute"}));
      std::vector<std::string> attributes;
      for (nvo::DOM_Node a = X::findFirstChild(root, "attribute"); a;
           a = X::findNextSibling(a, "attribute")) {
        attributes.push_back(X::getAttributeValue(a, "name"));
        FUZZ_CHECK(childNames(a).empty());
        if (gCurrent.plain && attributes.back() == "orvantaid") {
          FUZZ_CHECK(X::getStringValue(a) == gCurrent.mac);
        }
      }
      FUZZ_CHECK(attributes ==
                 (std::vector<std::string>{"userpassword", "orvantaidtype", "orvantaid"}));
      const std::string created = X::getChildStringValue(root, "name");
      if (gCurrent.plain) {
        FUZZ_CHECK(created == gCurrent.computerName);
      }
      gCurrent.objectName = "cn=" + created + ",ou=New,o=orvanta";
      reply = result("<objectID>33333333-2222-4333-8444-555555555555</objectID>");
    } else if (name == "modifyObject") {
      FUZZ_CHECK(gCurrent.found);
      FUZZ_CHECK(X::getChildStringValue(root, "objectID") == kKnownId);
      gCurrent.objectName = kKnownName;
      reply = result("");
    } else if (name == "getObjectNameFromObjectID") {
      reply = result("<objectname>" + X::makeXMLString(gCurrent.objectName) + "</objectname>");
    } else {
      FUZZ_CHECK(false && "a command the agent never sends");
    }
    reply_.parse(reply);
    return reply_.getRoot();
  }

 private:
  X reply_;
};

// Everything that lives for the whole run.
struct Harness {
  std::unique_ptr<teska::LogStream> log;
  std::unique_ptr<brenxd::WorkStationSyncer> syncer;
  std::unique_ptr<teska::InetServerSocketImpl> listener;
  sockaddr_in address{};
  std::FILE* scratch = nullptr;
};

Harness* gHarness = nullptr;

void tearDown() {
  std::fclose(gHarness->scratch);
  delete gHarness;
  gHarness = nullptr;
}

void setUp() {
  // The agent's lines go to standard output, made a scratch file read after each input.
  auto* harness = new Harness;
  harness->scratch = std::tmpfile();
  FUZZ_CHECK(harness->scratch != nullptr);
  FUZZ_CHECK(::dup2(::fileno(harness->scratch), STDOUT_FILENO) == STDOUT_FILENO);
  harness->log = std::make_unique<teska::LogStream>(1, "brenxd", false);
  harness->log->setMaxLevel(7);
  harness->syncer = std::make_unique<brenxd::WorkStationSyncer>(
      *harness->log, [] { return std::make_unique<ScriptedGateway>(); });
  harness->syncer->readConfigText(kConfig);
  harness->listener = std::make_unique<teska::InetServerSocketImpl>(0, 8, false, true);
  harness->address.sin_family = AF_INET;
  harness->address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  harness->address.sin_port = harness->listener->port();
  gHarness = harness;
  std::atexit(tearDown);
}

// The agent's lines of this input: each must be one of its own.
void checkLog() {
  std::fflush(stdout);
  const off_t end = ::lseek(STDOUT_FILENO, 0, SEEK_CUR);
  FUZZ_CHECK(end >= 0);
  std::string text(static_cast<std::size_t>(end), '\0');
  FUZZ_CHECK(::pread(STDOUT_FILENO, text.data(), text.size(), 0) == end);
  FUZZ_CHECK(::ftruncate(STDOUT_FILENO, 0) == 0);
  FUZZ_CHECK(std::fseek(stdout, 0, SEEK_SET) == 0);
  static constexpr std::string_view kOwnLines[] = {
      "Processing connection from client 127.0.0.1:",
      "Timed out reading MAC address for client ",
      "Failed reading DNS name",
      "Failed reading MAC address",
      "Received invalid length for ",
      "Failed generating auth string for 127.0.0.1:",
      "Timed out waiting to write response",
      "Done processing connection from client 127.0.0.1:",
      "Workstation created. Computer: ",
      "Password changed. Computer: ",
  };
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    FUZZ_CHECK(end != std::string::npos);
    const std::string_view line(text.data() + start, end - start);
    FUZZ_CHECK(std::any_of(std::begin(kOwnLines), std::end(kOwnLines),
                           [&](std::string_view own) { return line.starts_with(own); }));
    FUZZ_CHECK(std::none_of(line.begin(), line.end(), [](char c) {
      return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
    }));
    start = end + 1;
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setUp();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::span<const uint8_t> input(data, size);
  const std::optional<Request> request = expectedRequest(input);
  gCurrent = Current{};
  if (request) {
    // Bytes after the request are never read; a close with them unread would reset the
    // connection and could cut the reply short.
    input = input.first(request->end);
    gCurrent.mac = request->mac;
    gCurrent.computerName = brenxd::computerName(request->host, request->mac);
    gCurrent.plain = printable(request->host) && printable(request->mac);
    gCurrent.found = request->mac.size() % 2 == 1;
  }

  const int client = fuzz_loopback::connectTo(gHarness->address);
  fuzz_loopback::sendAll(client, input);
  FUZZ_CHECK(::shutdown(client, SHUT_WR) == 0);
  pollfd waiting{gHarness->listener->descriptor(), POLLIN, 0};
  FUZZ_CHECK(fuzz_loopback::pollRetrying(waiting, 1000) == 1);
  fuzz_loopback::runWithoutAlarm(
      [] { brenxd::processConnection(*gHarness->listener, *gHarness->syncer, *gHarness->log); });
  const std::vector<uint8_t> reply =
      fuzz_loopback::receiveUntilClosed(client, brenxd::kMaxAnswerText + 4);
  // A reset on close leaves no TIME_WAIT behind to use up the local ports over a long run.
  const linger reset{1, 0};
  ::setsockopt(client, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  ::close(client);
  checkLog();

  if (!request) {
    FUZZ_CHECK(reply.empty());
    return 0;
  }
  const brenxd::EnrolAnswer answer = brenxd::readAnswer(reply);
  FUZZ_CHECK(answer.kind == brenxd::EnrolAnswer::Kind::kAnswer ||
             answer.kind == brenxd::EnrolAnswer::Kind::kRefused);
  if (gCurrent.plain) {
    FUZZ_CHECK(answer.kind == brenxd::EnrolAnswer::Kind::kAnswer);
    X document(answer.text);
    nvo::DOM_Node gateway = X::findFirstChild(document.getRoot(), "gateway");
    FUZZ_CHECK(X::getChildStringValue(gateway, "authname") == gCurrent.objectName);
    FUZZ_CHECK(X::getChildStringValue(gateway, "objectname") == gCurrent.objectName);
    FUZZ_CHECK(X::getChildStringValue(gateway, "password").size() == 12);
    FUZZ_CHECK(!X::findFirstChild(gateway, "ignorePolicy"));
  }
  return 0;
}
