#include "tarvik/schedule.h"

#include <cstdlib>

#include "gateway/xml_parser.h"
#include "outside/control_text.h"

namespace tarvik {

//                          menu line                          word      date start end  dur  rep
//                          rand mask event
const std::array<ScheduleType, 10> kScheduleTypes{{
    {"0 - Never", "never", false, false, false, false, false, false, false, false},
    {"1 - Always", "always", false, false, false, false, false, false, false, false},
    {"2 - Yearly (not supported yet)", "yearly", true, true, true, true, true, true, true, false},
    {"3 - Monthly (not supported yet)", "monthly", true, true, true, true, true, true, true, false},
    {"4 - Weekly (not supported yet)", "weekly", true, true, true, true, true, true, true, false},
    {"5 - Daily", "daily", false, true, true, true, true, true, true, false},
    {"6 - Time", "time", true, true, false, false, false, false, false, false},
    {"7 - Relative", "relative", false, true, false, false, true, false, false, false},
    {"8 - Immediate", "immediate", false, false, false, false, true, false, false, false},
    {"9 - Event Based", "event", false, false, false, false, false, false, false, true},
}};

namespace {

// The three parts of a time, as the element names end.
constexpr std::array<const char*, 3> kUnits{"hour", "minute", "second"};

// A value is escaped as element text here, so the document stays well formed whatever was
// typed; the whole document is escaped once more when it is placed into the action.
void element(std::string& doc, std::string_view tag, std::string_view value) {
  doc.append("<").append(tag).append(">");
  doc.append(nvo::XMLParser::makeXMLString(std::string(value), false));
  doc.append("</").append(tag).append(">");
}

// The non-empty parts of a time, as <PREFIXhour>, <PREFIXminute>, <PREFIXsecond>.
void timeElements(std::string& doc, std::string_view prefix, const TimeParts& t) {
  const std::string* values[3] = {&t.hour, &t.minute, &t.second};
  for (std::size_t i = 0; i < kUnits.size(); ++i) {
    if (!values[i]->empty()) {
      element(doc, std::string(prefix) + kUnits[i], *values[i]);
    }
  }
}

const char* trueFalse(bool b) {
  return b ? "true" : "false";
}

}  // namespace

std::string scheduleDocument(const Schedule& s) {
  std::string doc = "<?xml version='1.0' encoding='UTF-8'?><orvantaschedule>";
  element(doc, "scheduletype", s.type);
  if (!s.eventName.empty()) {
    element(doc, "eventname", s.eventName);
  }
  if (s.date) {
    element(doc, "datepointyear", s.date->year);
    element(doc, "datepointmonth", s.date->month);
    element(doc, "datepointday", s.date->day);
  }
  for (const auto& [prefix, part] :
       {std::pair{"startpoint", &s.start}, {"endpoint", &s.end}, {"duration", &s.duration}}) {
    if (*part) {
      timeElements(doc, prefix, **part);
    }
  }
  if (s.repeats) {
    element(doc, "doesrepeat", trueFalse(*s.repeats));
    if (*s.repeats) {
      timeElements(doc, "repeat", s.repeat);
    }
  }
  if (s.random) {
    element(doc, "israndomdispatch", trueFalse(*s.random));
  }
  if (s.dayMask) {
    element(doc, "dowmask", std::to_string(*s.dayMask));
  }
  return doc + "</orvantaschedule>";
}

int dayMask(std::string_view answer) {
  int mask = 0;
  for (std::size_t day = 0; day < 7 && day < answer.size(); ++day) {
    if (answer[day] != ' ') {
      mask |= 1 << day;
    }
  }
  return mask;
}

namespace {

// "H:M:S" with "0" standing in for an empty part; empty when all three are empty.
std::string clock(nvo::DOM_Node root, std::string_view prefix) {
  std::string parts[3];
  bool any = false;
  for (std::size_t i = 0; i < kUnits.size(); ++i) {
    parts[i] = nvo::XMLParser::getChildStringValue(root, std::string(prefix) + kUnits[i]);
    any = any || !parts[i].empty();
  }
  if (!any) {
    return {};
  }
  auto shown = [](const std::string& p) { return p.empty() ? std::string("0") : p; };
  return shown(parts[0]) + ":" + shown(parts[1]) + ":" + shown(parts[2]);
}

std::string maskRow(const std::string& stored) {
  const long mask = std::strtol(stored.c_str(), nullptr, 10);
  std::string row(25, ' ');
  for (int day = 0; day < 7; ++day) {
    row.push_back((mask >> day) & 1 ? '*' : ' ');
  }
  return row;
}

}  // namespace

std::vector<std::string> scheduleLines(const std::string& storedText) {
  std::vector<std::string> lines{"  orvantaschedule"};
  nvo::XMLParser parser(storedText);
  nvo::DOM_Node root = parser.getRoot();
  if (root.isNull()) {
    return lines;
  }
  auto value = [&](const char* name) { return nvo::XMLParser::getChildStringValue(root, name); };
  auto add = [&](const char* label, const std::string& v) {
    if (!v.empty()) {
      lines.push_back(label + v);
    }
  };
  add("    Schedule Type      : ", value("scheduletype"));
  if (const std::string mask = value("dowmask"); !mask.empty()) {
    lines.push_back("    Schedule Mask      : SMTWTFS");
    lines.push_back(maskRow(mask));
  }
  add("    Random dispatch    : ", value("israndomdispatch"));
  add("    Schedule repeats   : ", value("doesrepeat"));
  add("    Event Name         : ", value("eventname"));
  const std::string month = value("datepointmonth");
  const std::string day = value("datepointday");
  const std::string year = value("datepointyear");
  if (!month.empty() && !day.empty() && !year.empty()) {
    lines.push_back("    Date               : " + month + "-" + day + "-" + year);
  }
  add("    Start Time         : ", clock(root, "startpoint"));
  add("    End Time           : ", clock(root, "endpoint"));
  add("    Repeat Time        : ", clock(root, "repeat"));
  add("    Duration           : ", clock(root, "duration"));
  // The stored text is anyone's who may write the action: a value cannot break its line nor
  // reach the terminal as a control sequence.
  for (std::string& line : lines) {
    line = teska::escapeControlBytes(line);
  }
  return lines;
}

}  // namespace tarvik
