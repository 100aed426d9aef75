#include "tarvik/schedule_commands.h"

#include <optional>

#include "tarvik/command_forms.h"
#include "tarvik/console.h"
#include "tarvik/object_commands.h"
#include "tarvik/schedule.h"

namespace tarvik {

using nvo::XMLParser;

namespace {

// Reading the answers of one action dialogue. Every question is a line-editor question; a
// question that is asked again until answered gives up (no value) at end of input, so the
// dialogue never repeats without reading. The other questions take end of input as empty.
class ScheduleDialogue {
 public:
  explicit ScheduleDialogue(Console& console) : console_(console), ask_(console.prompter()) {}

  std::optional<std::string> untilAnswered(const std::string& prompt);
  std::optional<std::size_t> type();
  // Asks everything `type` calls for; no value when the dialogue was given up.
  std::optional<Schedule> schedule(const ScheduleType& type);

 private:
  std::string optional(const std::string& prompt) { return ask_.askLine(prompt).value_or(""); }
  bool yes(const std::string& prompt) { return optional(prompt) == "yes"; }
  std::optional<Date> date();
  // One time of three parts, asked again until at least one part is given.
  std::optional<TimeParts> time(std::string_view what, std::string_view message);

  Console& console_;
  Prompter& ask_;
};

std::optional<std::string> ScheduleDialogue::untilAnswered(const std::string& prompt) {
  for (;;) {
    std::optional<std::string> answer = ask_.askLine(prompt);
    if (!answer || !answer->empty()) {
      return answer;
    }
  }
}

std::optional<std::size_t> ScheduleDialogue::type() {
  for (;;) {
    for (const ScheduleType& t : kScheduleTypes) {
      console_.out() << t.menuLine << "\n";
    }
    const std::optional<std::string> answer = ask_.askLine("Choose schedule type (0-9): ");
    if (!answer) {
      return std::nullopt;
    }
    if (answer->size() == 1 && (*answer)[0] >= '0' && (*answer)[0] <= '9') {
      return static_cast<std::size_t>((*answer)[0] - '0');
    }
  }
}

std::optional<Date> ScheduleDialogue::date() {
  for (;;) {
    const auto year = ask_.askLine("Schedule year : ");
    const auto month = year ? ask_.askLine("Schedule month : ") : std::nullopt;
    const auto day = month ? ask_.askLine("Schedule day : ") : std::nullopt;
    if (!day) {
      return std::nullopt;
    }
    if (!year->empty() && !month->empty() && !day->empty()) {
      return Date{*year, *month, *day};
    }
    console_.out() << "You must provide a valid date for this schedule type!\n\n";
  }
}

std::optional<TimeParts> ScheduleDialogue::time(std::string_view what, std::string_view message) {
  const std::string prefix = "Schedule " + std::string(what);
  for (;;) {
    const auto hour = ask_.askLine(prefix + "hours : ");
    const auto minute = hour ? ask_.askLine(prefix + "minutes : ") : std::nullopt;
    const auto second = minute ? ask_.askLine(prefix + "seconds : ") : std::nullopt;
    if (!second) {
      return std::nullopt;
    }
    TimeParts parts{*hour, *minute, *second};
    if (parts.any()) {
      return parts;
    }
    console_.out() << "You must provide " << message << " for this schedule type!\n\n";
  }
}

std::optional<Schedule> ScheduleDialogue::schedule(const ScheduleType& type) {
  Schedule s;
  s.type = type.word;
  if (type.eventName) {
    s.eventName = optional("Event name : ");
  }
  if (type.date && !(s.date = date())) {
    return std::nullopt;
  }
  if (type.start && !(s.start = time("start ", "a start time"))) {
    return std::nullopt;
  }
  if (type.end && !(s.end = time("end ", "an end time"))) {
    return std::nullopt;
  }
  if (type.duration && !(s.duration = time("duration ", "a duration"))) {
    return std::nullopt;
  }
  if (type.repeat) {
    s.repeats = yes("Does the schedule repeat? (yes/[no]) :");
    if (*s.repeats) {
      s.repeat =
          TimeParts{optional("Schedule repeat hours : "), optional("Schedule repeat minutes : "),
                    optional("Schedule repeat seconds : ")};
    }
  }
  if (type.random) {
    s.random = yes("Should the schedule randomly fire ? (yes/[no]) :");
  }
  if (type.dayMask) {
    console_.out() << kDayGuide << "\n";
    s.dayMask = dayMask(optional(std::string(kDayQuestion)));
  }
  return s;
}

}  // namespace

void createAction(Console& console) {
  ScheduleDialogue dialogue(console);
  XMLParser builder;
  startBuilder(
      builder, "createObject", "catNone",
      {{"objectID", console.location().current().objectId}, {"objectclass", "orvantaaction"}});
  const auto name = dialogue.untilAnswered("Enter scheduled action name : ");
  if (!name) {
    return;
  }
  builder.addTagString("name", *name);
  const auto path = dialogue.untilAnswered("Enter full path to executable: ");
  if (!path) {
    return;
  }
  builder.addString("<attribute name=\"orvantacommandline\">" + *path + "</attribute>");
  const auto type = dialogue.type();
  const auto schedule = type ? dialogue.schedule(kScheduleTypes[*type]) : std::nullopt;
  if (!schedule) {
    return;
  }
  builder.addString("<xmlattribute name=\"orvantaschedule\">" +
                    XMLParser::makeXMLString(scheduleDocument(*schedule), false) +
                    "</xmlattribute>");
  reportCreated(console, console.gateway().send(builder), "Created object : ");
}

void createPolicy(Console& console) {
  Prompter& ask = console.prompter();
  const auto name = ask.askStream("Enter object name : ");
  if (!name) {
    console.out() << "ERROR: Unable to read objectName!\n";
    return;
  }
  TextCommand command("RPM", "createObject");
  command.element("objectID", console.location().current().objectId);
  command.append("<objectclass>orvantapolicy</objectclass>").element("name", *name);
  const auto policyType = ask.askStream("Enter policy type: ");
  if (!policyType) {
    console.out() << "ERROR: Unable to read policyType!\n";
    return;
  }
  const auto xmlData = ask.askStream("Enter xml data : ");
  if (!xmlData) {
    console.out() << "ERROR: Unable to read xmlData!\n";
    return;
  }
  if (!policyType->empty() && !xmlData->empty()) {
    command.append("<attribute name=\"orvantapolicytype\">" + *policyType + "</attribute>");
    command.append("<attribute name=\"orvantaxml\">" + XMLParser::makeXMLString(*xmlData, false) +
                   "</attribute>");
  }
  reportCreated(console, console.gateway().send(command), "Create object with ID : ");
}

void printSchedule(std::ostream& out, const std::string& text) {
  for (const std::string& line : scheduleLines(text)) {
    out << line << "\n";
  }
}

}  // namespace tarvik
