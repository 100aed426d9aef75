// cache and fire.
#include "tarvik/event_commands.h"

#include <memory>

#include "gateway/nvo_api.h"
#include "tarvik/console.h"

namespace tarvik {

namespace {

// Prints `success` + the text a cache call returned (and releases it) when the call returned
// 0, else the failure line.
void report(Console& console, int status, char* text, const char* success, const char* failure) {
  const std::unique_ptr<char[]> owned(status == 0 ? text : nullptr);
  if (status == 0) {
    console.out() << success << (owned ? owned.get() : "") << "\n";
  } else {
    console.out() << failure << "\n";
  }
}

}  // namespace

void cacheCommand(Console& console, const std::string& line) {
  const std::string objectClass = argumentOf(line);
  if (objectClass.empty()) {
    console.out() << "USAGE: cache <objectclass>\n";
    return;
  }
  // The cache belongs to the session's own object; none of the calls takes an object, so the
  // answer is asked for and not used.
  (void)console.prompter().askLine("For which object? : ");

  const char* policy = "orvantapolicy";
  const char* type = "orvantapolicytype";
  const char* inventory = "inventory";
  char* text = nullptr;
  int status = nvo::AddToCache(console.session().getApiCtx(), objectClass.c_str(), 1, &text);
  report(console, status, text, "AddToCache Event : ", "AddToCache perhaps failed, returned NULL");
  text = nullptr;
  status = nvo::AddToCacheWithAttribute(console.session().getApiCtx(), policy, type, inventory, 1,
                                        &text);
  report(console, status, text, "AddToCacheWithAttribute Event : ",
         "AddToCacheWithAttribute perhaps failed, returned NULL");
  text = nullptr;
  status = nvo::ReadCache(console.session().getApiCtx(), objectClass.c_str(), &text);
  report(console, status, text, "ReadCache Value : ", "ReadCache perhaps failed, returned NULL");
  text = nullptr;
  status =
      nvo::ReadCacheWithAttribute(console.session().getApiCtx(), policy, type, inventory, &text);
  report(console, status, text,
         "ReadCacheWithAttribute value : ", "ReadCacheWithAttribute perhaps failed, returned NULL");
}

void fireCommand(Console& console, const std::string& line) {
  const std::string event = argumentOf(line);
  if (event.empty()) {
    console.out() << "USAGE: fire <eventname>\n";
    return;
  }
  const int status = nvo::TRKSignalEvent(console.session().getApiCtx(), event.c_str(), 0, 0, 0);
  console.out() << (status == -1 ? "TRKSignalEvent failed" : "Event signalled") << "\n";
}

}  // namespace tarvik
