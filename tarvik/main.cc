// tarvik: the administrator console. Arguments are ignored.
#include <clocale>
#include <iostream>
#include <memory>

#include "gateway/mux_client.h"
#include "tarvik/console.h"
#include "tarvik/terminal_prompter.h"

int main() {
  std::setlocale(LC_ALL, "");
  auto session = std::make_unique<nvo::MUXClient>();
  // Tab completes from the console's state; the prompter exists first, so it reaches the
  // console through this pointer.
  const tarvik::Console* console = nullptr;
  tarvik::TerminalPrompter prompter([&console](std::string_view line) {
    return console == nullptr ? tarvik::Completion{} : console->complete(line);
  });
  tarvik::Console running(*session, prompter, std::cout);
  console = &running;
  return tarvik::runConsole(running);
}
