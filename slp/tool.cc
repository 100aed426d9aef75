#include "slp/tool.h"

#include <charconv>
#include <cstdio>
#include <exception>
#include <optional>

#include "slp/client.h"
#include "slp/properties.h"
#include "slp/socket_ops.h"
#include "slp/text.h"

namespace vslp {
namespace {

struct ToolOptions {
  std::string scopes;
  std::string lang;
  std::string configFile;
  std::string interfaces;
  std::string agent;
  long lifetime = SLP_LIFETIME_DEFAULT;
};

using Handler = int (*)(Client&, const std::vector<std::string>&);

struct Command {
  const char* name;
  const char* usage;
  size_t minArgs;
  size_t maxArgs;
  Handler handler;
};

const char* errorName(SLPError e) {
  switch (e) {
    case SLP_LANGUAGE_NOT_SUPPORTED:
      return "SLP_LANGUAGE_NOT_SUPPORTED";
    case SLP_PARSE_ERROR:
      return "SLP_PARSE_ERROR";
    case SLP_INVALID_REGISTRATION:
      return "SLP_INVALID_REGISTRATION";
    case SLP_SCOPE_NOT_SUPPORTED:
      return "SLP_SCOPE_NOT_SUPPORTED";
    case SLP_AUTHENTICATION_ABSENT:
      return "SLP_AUTHENTICATION_ABSENT";
    case SLP_AUTHENTICATION_FAILED:
      return "SLP_AUTHENTICATION_FAILED";
    case SLP_INVALID_UPDATE:
      return "SLP_INVALID_UPDATE";
    case SLP_REFRESH_REJECTED:
      return "SLP_REFRESH_REJECTED";
    case SLP_NOT_IMPLEMENTED:
      return "SLP_NOT_IMPLEMENTED";
    case SLP_NETWORK_TIMED_OUT:
      return "SLP_NETWORK_TIMED_OUT";
    case SLP_NETWORK_INIT_FAILED:
      return "SLP_NETWORK_INIT_FAILED";
    case SLP_PARAMETER_BAD:
      return "SLP_PARAMETER_BAD";
    case SLP_NETWORK_ERROR:
      return "SLP_NETWORK_ERROR";
    case SLP_INTERNAL_SYSTEM_ERROR:
      return "SLP_INTERNAL_SYSTEM_ERROR";
    default:
      return "SLP error";
  }
}

int report(const char* what, SLPError e) {
  if (e == SLP_OK) {
    return 0;
  }
  std::fprintf(stderr, "vslptool: %s failed: %s (%d)\n", what, errorName(e), static_cast<int>(e));
  return 1;
}

std::string arg(const std::vector<std::string>& args, size_t i) {
  return i < args.size() ? args[i] : std::string();
}

ToolOptions gOptions;

int findSrvs(Client& c, const std::vector<std::string>& args) {
  SLPError e = c.findServices(args[0], gOptions.scopes, arg(args, 1),
                              [](const char* url, unsigned short lifetime, SLPError err) {
                                if (err == SLP_OK) {
                                  std::printf("%s,%u\n", url, unsigned{lifetime});
                                }
                                return SLP_TRUE;
                              });
  return report("findsrvs", e);
}

int findAttrs(Client& c, const std::vector<std::string>& args) {
  SLPError e =
      c.findAttributes(args[0], gOptions.scopes, arg(args, 1), [](const char* attrs, SLPError err) {
        if (err == SLP_OK) {
          std::printf("%s\n", attrs);
        }
        return SLP_TRUE;
      });
  return report("findattrs", e);
}

int findSrvTypes(Client& c, const std::vector<std::string>& args) {
  std::optional<std::string> authority;
  if (!args.empty() && args[0] != "*") {
    authority = args[0];
  }
  SLPError e = c.findServiceTypes(authority, gOptions.scopes, [](const char* types, SLPError err) {
    if (err == SLP_OK) {
      for (std::string_view t : splitList(types)) {
        std::printf("%.*s\n", static_cast<int>(t.size()), t.data());
      }
    }
    return SLP_TRUE;
  });
  return report("findsrvtypes", e);
}

int registerUrl(Client& c, const std::vector<std::string>& args) {
  SLPError answer = SLP_OK;
  SLPError e = c.registerService(args[0], static_cast<uint16_t>(gOptions.lifetime), "",
                                 arg(args, 1), true, [&answer](SLPError a) { answer = a; });
  return report("register", e != SLP_OK ? e : answer);
}

int deregisterUrl(Client& c, const std::vector<std::string>& args) {
  SLPError answer = SLP_OK;
  SLPError e = c.deregisterService(args[0], "", [&answer](SLPError a) { answer = a; });
  return report("deregister", e != SLP_OK ? e : answer);
}

constexpr Command kCommands[] = {
    {"findsrvs", "findsrvs TYPE [FILTER]      services, one \"URL,LIFETIME\" line each", 1, 2,
     findSrvs},
    {"findattrs", "findattrs URL|TYPE [TAGS]   attribute lists, one line each", 1, 2, findAttrs},
    {"findsrvtypes", "findsrvtypes [AUTHORITY]    service types, one line each", 0, 1,
     findSrvTypes},
    {"register", "register URL [ATTRS]        register with the agent (-t lifetime)", 1, 2,
     registerUrl},
    {"deregister", "deregister URL              remove a registration", 1, 1, deregisterUrl},
};

void usage(FILE* out) {
  std::fputs(
      "Usage: vslptool [-s scopes] [-l lang] [-t lifetime] [-i addresses] [-u agent]\n"
      "                [-c file] COMMAND [ARGS]\n"
      "Commands:\n",
      out);
  for (const Command& c : kCommands) {
    std::fprintf(out, "  %s\n", c.usage);
  }
  std::fputs(
      "Options:\n"
      "  -s scopes     scope list (default net.slp.useScopes)\n"
      "  -l lang       language tag (default net.slp.locale)\n"
      "  -t lifetime   lifetime of a registration in seconds, 1-65535 (default 10800;\n"
      "                65535 never expires)\n"
      "  -i addresses  interfaces for multicast (net.slp.interfaces)\n"
      "  -u agent      ask only the agent at this IPv4 address, by unicast\n"
      "  -c file       configuration file (default $VSLP_CONF, else /etc/vslp.conf)\n",
      out);
}

// Parses the options before the command; returns the index of the command or -1.
long parseOptions(const std::vector<std::string>& args) {
  size_t i = 0;
  for (; i < args.size() && args[i].size() == 2 && args[i][0] == '-'; i += 2) {
    if (i + 1 >= args.size()) {
      return -1;
    }
    const std::string& v = args[i + 1];
    switch (args[i][1]) {
      case 's':
        gOptions.scopes = v;
        break;
      case 'l':
        gOptions.lang = v;
        break;
      case 'c':
        gOptions.configFile = v;
        break;
      case 'i':
        gOptions.interfaces = v;
        break;
      case 'u':
        gOptions.agent = v;
        break;
      case 't': {
        // The whole value must be the number: "7x" is refused, not read as 7.
        auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), gOptions.lifetime);
        if (ec != std::errc() || end != v.data() + v.size() || gOptions.lifetime < 1 ||
            gOptions.lifetime > 65535) {
          return -1;
        }
        break;
      }
      default:
        return -1;
    }
  }
  return i < args.size() ? static_cast<long>(i) : -1;
}

std::optional<Client> makeClient() {
  Properties p;
  std::string error;
  if (gOptions.configFile.empty()) {
    p = Properties::load(&error);
  } else {
    p.readFile(gOptions.configFile, &error);
  }
  if (!error.empty()) {
    std::fprintf(stderr, "vslptool: %s\n", error.c_str());
    return std::nullopt;
  }
  if (!gOptions.interfaces.empty()) {
    p.set("net.slp.interfaces", gOptions.interfaces);
  }
  // Registrations go into the configured scopes; -s names them for every command.
  if (!gOptions.scopes.empty()) {
    p.set("net.slp.useScopes", gOptions.scopes);
  }
  // Registrations made with the tool outlive it; they must not be bound to its process.
  p.set("net.slp.watchRegistrationPID", "false");
  ClientSettings s = ClientSettings::from(p);
  if (!gOptions.agent.empty()) {
    auto addr = parseAddress(gOptions.agent);
    if (!addr) {
      std::fprintf(stderr, "vslptool: bad agent address %s\n", gOptions.agent.c_str());
      return std::nullopt;
    }
    s.agent = *addr;
    s.multicast = false;
  }
  std::string lang = gOptions.lang.empty() ? s.locale : gOptions.lang;
  if (!isValidLanguageTag(lang)) {
    std::fprintf(stderr, "vslptool: bad language tag %s\n", lang.c_str());
    return std::nullopt;
  }
  return Client(lang, s);
}

}  // namespace

int runTool(const std::vector<std::string>& args) {
  gOptions = ToolOptions{};
  if (!args.empty() && (args[0] == "-h" || args[0] == "--help" || args[0] == "help")) {
    usage(stdout);
    return 0;
  }
  long at = parseOptions(args);
  if (at < 0) {
    usage(stderr);
    return 2;
  }
  std::vector<std::string> rest(args.begin() + at + 1, args.end());
  for (const Command& c : kCommands) {
    if (args[static_cast<size_t>(at)] != c.name) {
      continue;
    }
    if (rest.size() < c.minArgs || rest.size() > c.maxArgs) {
      usage(stderr);
      return 2;
    }
    try {
      auto client = makeClient();
      return client ? c.handler(*client, rest) : 1;
    } catch (const std::exception& e) {
      std::fprintf(stderr, "vslptool: %s\n", e.what());
      return 1;
    }
  }
  usage(stderr);
  return 2;
}

}  // namespace vslp
