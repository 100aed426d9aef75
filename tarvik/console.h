// Console: the state of one console run (the gateway session, the location state and the child
// listing) and its command loop. Command handlers (the *_commands.h files) receive the Console
// and reach everything through it.
//
// runConsole is the whole life of the program after the session object exists: the login,
// the banner, the loop, and the way out. Single-threaded; neither copied nor moved.
#ifndef TARVIK_CONSOLE_H_
#define TARVIK_CONSOLE_H_

#include <ostream>
#include <string>

#include "gateway/mux_client.h"
#include "tarvik/command_forms.h"
#include "tarvik/completion.h"
#include "tarvik/location.h"
#include "tarvik/prompter.h"

namespace tarvik {

class Console {
 public:
  // How the child listing's enumeration is built: builder form (ls, cd) or text form (rename,
  // move, which load the listing themselves).
  enum class Form { kBuilder, kText };

  // Holds references to all three, which must outlive it. Talks to nobody yet.
  Console(nvo::MUXClient& session, Prompter& prompter, std::ostream& out);
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;

  nvo::MUXClient& session() { return session_; }
  std::ostream& out() { return out_; }
  Prompter& prompter() { return prompter_; }
  Gateway& gateway() { return gateway_; }
  LocationState& location() { return location_; }
  ChildListing& listing() { return listing_; }

  // The ls algorithm: fetches the children of the current location when the listing is not
  // loaded (a gateway error is printed and leaves it unloaded; an empty location stays
  // unloaded so that it is asked again), then prints each display name when `print` is set.
  void loadListing(bool print, Form form = Form::kBuilder);
  // Frees every entry of the listing and clears its loaded flag.
  void discardListing() { listing_.discard(); }
  // After the current location changed: discard the listing and reload it silently.
  void locationChanged();

  // Asks the loop to end after the running command.
  void stop() { stopping_ = true; }
  // Reads and runs one command line. False when the console should end: a command asked to
  // stop, or the input ended (which ends the console as "quit" does).
  bool step();
  // Runs step() until it returns false.
  void run();

  // What Tab completes in `line`, the text before the cursor (see completion.h).
  Completion complete(std::string_view line) const { return completeLine(line, listing_); }

 private:
  // Sends the enumeration of the current location's children and returns the answer.
  nvo::DOM_Node enumerate(Form form);
  void storeObjects(nvo::DOM_Node answer);

  nvo::MUXClient& session_;
  Prompter& prompter_;
  std::ostream& out_;
  Gateway gateway_;
  LocationState location_;
  ChildListing listing_;
  bool stopping_ = false;
};

// The text of a command line after its first blank, verbatim; empty when it has no blank.
std::string argumentOf(const std::string& line);

// The whole run: login, banner, root listing, command loop, endSession. Returns the exit status
// (0 also after a refused login, which prints "Invalid credentials, Unable to authenticate!").
int runConsole(Console& console);

}  // namespace tarvik

#endif  // TARVIK_CONSOLE_H_
