// The schedule an action carries in its attribute orvantaschedule: the ten schedule types and
// the questions each one asks, the schedule document built from the answers, the day-of-week
// mask typed under a guide line, and the lines cat prints for a stored schedule. Pure.
//
//   <?xml version='1.0' encoding='UTF-8'?><orvantaschedule><scheduletype>daily</scheduletype>
//   <startpointhour>2</startpointhour>...<dowmask>62</dowmask></orvantaschedule>
#ifndef TARVIK_SCHEDULE_H_
#define TARVIK_SCHEDULE_H_

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvik {

// One schedule type: its menu line, its type word, and what it asks for.
struct ScheduleType {
  std::string_view menuLine;
  std::string_view word;
  bool date;
  bool start;
  bool end;
  bool duration;
  bool repeat;  // the repeat question
  bool random;  // the random-dispatch question
  bool dayMask;
  bool eventName;
};

// Menu number i is kScheduleTypes[i].
extern const std::array<ScheduleType, 10> kScheduleTypes;

// Hours, minutes and seconds as typed; any of them may be empty.
struct TimeParts {
  std::string hour;
  std::string minute;
  std::string second;

  bool any() const { return !hour.empty() || !minute.empty() || !second.empty(); }
};

struct Date {
  std::string year;
  std::string month;
  std::string day;
};

// The answers of one schedule dialogue; an absent part was not asked.
struct Schedule {
  std::string type;       // the type word
  std::string eventName;  // left out of the document when empty
  std::optional<Date> date;
  std::optional<TimeParts> start;
  std::optional<TimeParts> end;
  std::optional<TimeParts> duration;
  std::optional<bool> repeats;
  TimeParts repeat;  // written only when repeats is true
  std::optional<bool> random;
  std::optional<int> dayMask;
};

// The schedule document as XML text, each value escaped as element text.
std::string scheduleDocument(const Schedule& schedule);

// The guide line printed above the day-mask question, and the question itself: the answer's
// first character stands under the S of Sunday.
inline constexpr std::string_view kDayGuide =
    "                                                     SMTWTFS";
inline constexpr std::string_view kDayQuestion =
    "Place a '*' under days this schedule should be run : ";

// The mask of a day-mask answer: each of the first seven characters that is not a blank sets
// its day's bit (position 0 Sunday = 1 ... position 6 Saturday = 64).
int dayMask(std::string_view answer);

// What cat prints for a stored schedule document, line by line (without newlines), starting
// with "  orvantaschedule". Only that first line when the text is not a document. Control
// characters of stored values are shown as "\xNN".
std::vector<std::string> scheduleLines(const std::string& storedText);

}  // namespace tarvik

#endif  // TARVIK_SCHEDULE_H_
