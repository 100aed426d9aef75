#include "gateway/nvo_api.h"

#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <optional>
#include <string>

#include <sys/stat.h>

#include "client/tolm_client.h"
#include "gateway/file_io.h"
#include "gateway/mux_client.h"
#include "gateway/session_context.h"
#include "gateway/xml_parser.h"

namespace nvo {
namespace {

constexpr char kCacheMagic[] = "nvo-cache 1 ";
// More than any reply the engine builds; a larger file is not ours.
constexpr std::size_t kMaxCacheBytes = 256u * 1024 * 1024;

std::string lowerCase(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return text;
}

std::string hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (const unsigned char c : bytes) {
    text += kDigits[c >> 4];
    text += kDigits[c & 15];
  }
  return text;
}

// What one cached reply answers: the session's own object, the class, and the attribute filter
// (names compared case-insensitively, as the directory does). Fields are separated by NUL,
// which none of them can hold.
std::string cacheKey(const ApiContext& context, const char* objectClass, const char* attribute,
                     const char* value) {
  std::string key = context.identity;
  key += '\0';
  key += lowerCase(objectClass);
  if (attribute != nullptr) {
    key += '\0';
    key += lowerCase(attribute);
    key += '\0';
    key += value;
  }
  return key;
}

// The file name of a key: its 64-bit FNV-1a hash in hexadecimal, safe whatever the texts hold.
// The whole key is also written into the file and compared on reading, so two keys with one
// hash never answer for each other.
std::string cacheFileName(const std::string& key) {
  std::uint64_t hash = 14695981039346656037ULL;
  for (const unsigned char c : key) {
    hash ^= c;
    hash *= 1099511628211ULL;
  }
  char name[32];
  std::snprintf(name, sizeof name, "%016llx.xml", static_cast<unsigned long long>(hash));
  return name;
}

// $XDG_CACHE_HOME/nvo when that is set; else /var/cache/nvo for root and ~/.cache/nvo for
// others. Created (0700) when `create` is set. Nothing when no place is known or it cannot be
// made.
std::optional<std::string> cacheDirectory(bool create) {
  std::string base;
  if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg != nullptr && *xdg == '/') {
    base = xdg;
  } else if (geteuid() == 0) {
    base = "/var/cache";
  } else if (const char* home = std::getenv("HOME"); home != nullptr && *home == '/') {
    base = std::string(home) + "/.cache";
  } else if (const passwd* user = getpwuid(geteuid());
             user != nullptr && user->pw_dir != nullptr && *user->pw_dir == '/') {
    base = std::string(user->pw_dir) + "/.cache";
  } else {
    return std::nullopt;
  }
  const std::string directory = base + "/nvo";
  if (create) {
    if (mkdir(base.c_str(), 0700) != 0 && errno != EEXIST) {
      return std::nullopt;
    }
    if (mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST) {
      return std::nullopt;
    }
  }
  // Only a folder of this user that nobody else may write to holds its cache.
  struct stat status {};
  if (lstat(directory.c_str(), &status) != 0 || !S_ISDIR(status.st_mode) ||
      status.st_uid != geteuid() || (status.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    return std::nullopt;
  }
  return directory;
}

// Stores `text` for `key`: a private temporary file in the cache directory, flushed, then
// renamed over the old one, so a reader sees the old text or the new one, never a part.
bool store(const std::string& key, const std::string& text) {
  const std::optional<std::string> directory = cacheDirectory(true);
  if (!directory) {
    return false;
  }
  const std::string path = *directory + "/" + cacheFileName(key);
  std::string temporary = path + ".XXXXXX";
  FileDescriptor fd(mkostemp(temporary.data(), O_CLOEXEC));
  if (fd.get() < 0) {
    return false;
  }
  const bool written = fchmod(fd.get(), 0600) == 0 &&
                       writeAll(fd.get(), kCacheMagic + hex(key) + "\n" + text) &&
                       fsync(fd.get()) == 0 && fd.reset();
  if (!written || ::rename(temporary.c_str(), path.c_str()) != 0) {
    ::unlink(temporary.c_str());
    return false;
  }
  return true;
}

// The text stored for `key`, or nothing.
std::optional<std::string> load(const std::string& key) {
  const std::optional<std::string> directory = cacheDirectory(false);
  if (!directory) {
    return std::nullopt;
  }
  const std::string path = *directory + "/" + cacheFileName(key);
  const FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  struct stat status {};
  if (fd.get() < 0 || fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode) ||
      status.st_uid != geteuid()) {
    return std::nullopt;
  }
  std::string contents;
  if (readAll(fd.get(), kMaxCacheBytes, contents) != 0) {
    return std::nullopt;
  }
  const std::string header = kCacheMagic + hex(key) + "\n";
  if (contents.compare(0, header.size(), header) != 0) {
    return std::nullopt;
  }
  return contents.substr(header.size());
}

// `text` as a new[] array with its NUL, for callers that release it with delete[].
char* release(const std::string& text) {
  char* copy = new char[text.size() + 1];
  std::memcpy(copy, text.data(), text.size());
  copy[text.size()] = '\0';
  return copy;
}

// Runs findAllLinkedObjects (readLinkedObjects when an attribute filter is given) for the
// session's own object and returns the reply's XML; nothing when no usable reply came or it
// reports an error.
std::optional<std::string> linkedObjects(ApiContext& context, const char* objectClass,
                                         const char* attribute, const char* value) {
  XMLParser request;
  request.initXML();
  if (attribute == nullptr) {
    request.addCommand("findAllLinkedObjects", "catNone");
    request.addTagString("objectclass", objectClass);
  } else {
    request.addCommand("readLinkedObjects", "catNone");
    request.addTagString("objectclass", objectClass);
    request.addTagString("attribute", attribute);
    request.addTagString("value", value);
  }
  const std::string text = request.getXML(true);
  const DOM_Node root = context.client->callGateway(text.data(), static_cast<int>(text.size()));
  if (root == nullptr || XMLParser::getName(root) != "commandResult" ||
      XMLParser::findFirstChild(root, "error") != nullptr) {
    return std::nullopt;
  }
  return XMLParser::buildXMLFromNodes(root);
}

int addToCache(void* context, const char* objectClass, const char* attribute, const char* value,
               char** result) {
  if (context == nullptr || objectClass == nullptr || result == nullptr ||
      (attribute == nullptr) != (value == nullptr)) {
    return 1;
  }
  try {
    ApiContext& api = *static_cast<ApiContext*>(context);
    const std::optional<std::string> text = linkedObjects(api, objectClass, attribute, value);
    if (!text || !store(cacheKey(api, objectClass, attribute, value), *text)) {
      return 1;
    }
    *result = release(*text);
    return 0;
  } catch (const std::exception&) {
    return 1;
  }
}

int readCache(void* context, const char* objectClass, const char* attribute, const char* value,
              char** result) {
  if (context == nullptr || objectClass == nullptr || result == nullptr ||
      (attribute == nullptr) != (value == nullptr)) {
    return 1;
  }
  try {
    const ApiContext& api = *static_cast<const ApiContext*>(context);
    const std::optional<std::string> text = load(cacheKey(api, objectClass, attribute, value));
    if (!text) {
      return 1;
    }
    *result = release(*text);
    return 0;
  } catch (const std::exception&) {
    return 1;
  }
}

}  // namespace

int AddToCache(void* context, const char* objectClass, int /*flags*/, char** result) {
  return addToCache(context, objectClass, nullptr, nullptr, result);
}

int AddToCacheWithAttribute(void* context, const char* objectClass, const char* attribute,
                            const char* value, int /*flags*/, char** result) {
  if (attribute == nullptr || value == nullptr) {
    return 1;
  }
  return addToCache(context, objectClass, attribute, value, result);
}

int ReadCache(void* context, const char* objectClass, char** result) {
  return readCache(context, objectClass, nullptr, nullptr, result);
}

int ReadCacheWithAttribute(void* context, const char* objectClass, const char* attribute,
                           const char* value, char** result) {
  if (attribute == nullptr || value == nullptr) {
    return 1;
  }
  return readCache(context, objectClass, attribute, value, result);
}

int TRKSignalEvent(void* /*context*/, const char* eventName, int /*a*/, int /*b*/, int /*c*/) {
  if (eventName == nullptr) {
    return -1;
  }
  try {
    vokra::TolmClient client;
    return client.signalEvent(eventName, nullptr, 0, 0, 0) == 0 ? 0 : -1;
  } catch (const std::exception&) {
    return -1;
  }
}

}  // namespace nvo
