#include "tarvik/command_table.h"

#include <string>

#include <gtest/gtest.h>

namespace tarvik {
namespace {

TEST(CommandTableTest, HelpTextIsByteExact) {
  EXPECT_EQ(helpText(),
            "*** TARVIK commands ********************************\n"
            "cat                 help                quit           \n"
            "cd                  link                readprinter    \n"
            "create              locate              resolve        \n"
            "delete              ls                  search         \n"
            "getrpmdetails       modify              searchcomputers\n"
            "rename              move                rpmlink\n");
}

TEST(CommandTableTest, LinesDispatchByWholeLineOrFirstWord) {
  struct Case {
    std::string line;
    const char* command;  // null: no command
  };
  const Case cases[] = {
      {"quit", "quit"},
      {"q", "q"},
      {"quit ", nullptr},
      {"help", "help"},
      {"help me", nullptr},
      {"ls", "ls"},
      {"ls ", nullptr},
      {"ls foo", nullptr},
      {"cd", "cd"},
      {"cd a b", "cd"},
      {"cat .", "cat"},
      {"rename", "rename"},
      {"rename whatever", "rename"},
      {"search orvantaaction", "search"},
      {"searchcomputers", "searchcomputers"},
      {"searchcomputers x", "searchcomputers"},
      {"rpmlink", "rpmlink"},
      {"rpmlink x", nullptr},
      {"resolve ou=Lab,o=orvanta", "resolve"},
      {"fire", "fire"},
      {"fire  ", "fire"},
      {"fired", nullptr},
      {"eventlist search", "eventlist"},
      {"cache orvantaprinter", "cache"},
      {"link whatever", "link"},
      {"locate printers", "locate"},
      {"getrpmdetails", "getrpmdetails"},
      {" ls", nullptr},
      {"LS", nullptr},
      {"", nullptr},
      {"catalogue", nullptr},
  };
  for (const Case& c : cases) {
    const Command* found = findCommand(c.line);
    if (c.command == nullptr) {
      EXPECT_EQ(found, nullptr) << "'" << c.line << "'";
    } else {
      ASSERT_NE(found, nullptr) << "'" << c.line << "'";
      EXPECT_EQ(found->name, c.command) << "'" << c.line << "'";
    }
  }
}

TEST(CommandTableTest, EveryCommandIsInTestOrderWithAHandler) {
  std::string order;
  for (const Command& c : commandTable()) {
    order.append(c.name).append(" ");
    EXPECT_NE(c.handler, nullptr) << c.name;
  }
  EXPECT_EQ(order,
            "quit q help rpmlink rename move ls cd cat create delete modify locate readprinter "
            "search searchcomputers getrpmdetails link fire resolve eventlist cache ");
}

TEST(CommandTableTest, QuitAndQShareTheirHandler) {
  EXPECT_EQ(findCommand("q")->handler, findCommand("quit")->handler);
}

}  // namespace
}  // namespace tarvik
