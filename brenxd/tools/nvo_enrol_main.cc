// nvo-enrol: the workstation side of enrolment. Finds the workstation creation agent, sends
// this host's name and primary MAC address, and writes the authentication document it answers
// with, which then opens gateway sessions as this workstation's computer object
// (nvo-call -a FILE).
//
// Exit codes: 0 answer written; 1 bad command line or no host name or MAC address; 2 the agent
// refused; 3 no agent found or reachable; 4 no complete answer (dropped connection, time-out,
// malformed reply); 5 the answer could not be written.
#include <errno.h>
#include <fcntl.h>
#include <slp.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "brenxd/request_codec.h"
#include "brenxd/tools/enrol_answer.h"
#include "brenxd/tools/enrol_options.h"
#include "brenxd/tools/primary_interface.h"
#include "client/socket_transfer.h"
#include "outside/inet_server_socket_impl.h"
#include "outside/socket_exception.h"

namespace {

using brenxd::EnrolAnswer;
using brenxd::EnrolOptions;
using Clock = std::chrono::steady_clock;

constexpr char kServiceType[] = "service:nvowsc.x";

int fail(int code, const std::string& message) {
  std::cerr << "nvo-enrol: " << message << std::endl;
  return code;
}

SLPBoolean collectUrl(SLPHandle, const char* url, unsigned short, SLPError error, void* cookie) {
  if (error == SLP_OK && url != nullptr) {
    static_cast<std::vector<std::string>*>(cookie)->emplace_back(url);
  }
  return SLP_TRUE;
}

// The first agent URL that parses with a port, as host and port.
bool findAgent(EnrolOptions& options) {
  SLPHandle handle = nullptr;
  if (SLPOpen("en", SLP_FALSE, &handle) != SLP_OK) {
    return false;
  }
  std::vector<std::string> urls;
  SLPFindSrvs(handle, kServiceType, "", "", collectUrl, &urls);
  SLPClose(handle);
  for (const std::string& url : urls) {
    SLPSrvURL* parsed = nullptr;
    if (SLPParseSrvURL(url.c_str(), &parsed) != SLP_OK || parsed == nullptr) {
      continue;
    }
    const bool usable = parsed->s_iPort > 0 && parsed->s_iPort <= 65535;
    if (usable) {
      options.host = parsed->s_pcHost;
      options.port = static_cast<unsigned short>(parsed->s_iPort);
    }
    SLPFree(parsed);
    if (usable) {
      return true;
    }
  }
  return false;
}

std::optional<std::string> thisHostName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') {
    return std::nullopt;
  }
  return std::string(name);
}

// Everything the agent sends until it closes, the time runs out or more came than any answer.
std::vector<uint8_t> receiveAll(teska::InetSocketImpl& socket, Clock::time_point deadline) {
  std::vector<uint8_t> received;
  uint8_t chunk[65536];
  while (received.size() <= brenxd::kMaxAnswerText + 5) {
    const auto left = std::chrono::ceil<std::chrono::seconds>(deadline - Clock::now()).count();
    if (left <= 0) {
      break;
    }
    socket.setReadTimeout(static_cast<int>(left));
    const int count = socket.read(chunk, sizeof chunk, false);
    if (count <= 0) {
      break;
    }
    received.insert(received.end(), chunk, chunk + count);
  }
  return received;
}

bool writeOutput(const std::optional<std::string>& path, const std::string& text,
                 std::string& error) {
  const std::string document = text + "\n";
  if (!path) {
    std::cout << document << std::flush;
    return static_cast<bool>(std::cout);
  }
  const int fd = ::open(path->c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    error = std::strerror(errno);
    return false;
  }
  // An existing file keeps its mode on open: it must not stay readable by others.
  bool ok = ::fchmod(fd, 0600) == 0;
  for (std::size_t done = 0; ok && done < document.size();) {
    const ssize_t n = ::write(fd, document.data() + done, document.size() - done);
    ok = n > 0;
    done += ok ? static_cast<std::size_t>(n) : 0;
  }
  if (!ok) {
    error = std::strerror(errno);
  }
  ok = ::close(fd) == 0 && ok;
  return ok;
}

int enrol(EnrolOptions& options) {
  std::optional<std::string> name = options.name ? options.name : thisHostName();
  std::optional<std::string> mac = options.mac ? options.mac : brenxd::primaryMacAddress();
  if (!name || !mac) {
    return fail(1,
                !name ? "cannot read this host's name" : "no network interface with a MAC address");
  }
  if (options.server.empty() && !findAgent(options)) {
    return fail(
        3, std::string("no workstation creation agent found through SLP (") + kServiceType + ")");
  }
  const std::string agent = options.host + ":" + std::to_string(options.port);
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(options.timeoutSeconds);
  std::vector<uint8_t> received;
  try {
    teska::InetSocketImpl socket;
    socket.setConnectTimeout(options.timeoutSeconds);
    socket.connect(options.host, options.port);
    if (!vokra::writeAll(socket, brenxd::encodeRequest(*name, *mac), options.timeoutSeconds)) {
      return fail(4, "the agent at " + agent + " did not take the request");
    }
    received = receiveAll(socket, deadline);
  } catch (const teska::SocketException& e) {
    return fail(3, "cannot reach the agent at " + agent + ": " + e.getMessage());
  }
  EnrolAnswer answer = brenxd::readAnswer(received);
  switch (answer.kind) {
    case EnrolAnswer::Kind::kRefused:
      return fail(2, "the agent at " + agent + " refused the request");
    case EnrolAnswer::Kind::kIncomplete:
      return fail(4, "the agent at " + agent + " closed the connection without an answer");
    case EnrolAnswer::Kind::kMalformed:
      return fail(4, "the agent at " + agent + " sent a malformed answer");
    case EnrolAnswer::Kind::kAnswer:
      break;
  }
  std::string error;
  if (!writeOutput(options.output, answer.text, error)) {
    return fail(5, "cannot write " + options.output.value_or("standard output") + ": " + error);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string error;
  std::optional<EnrolOptions> options =
      brenxd::parseEnrolOptions(std::vector<std::string>(argv + 1, argv + argc), error);
  if (!options) {
    std::cerr << "nvo-enrol: " << error << "\n" << brenxd::kEnrolUsage;
    return 1;
  }
  if (options->help) {
    std::cout << brenxd::kEnrolUsage;
    return 0;
  }
  return enrol(*options);
}
