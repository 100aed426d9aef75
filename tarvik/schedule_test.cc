#include "tarvik/schedule.h"

#include <gtest/gtest.h>

namespace tarvik {
namespace {

using Lines = std::vector<std::string>;
constexpr const char* kDecl = "<?xml version='1.0' encoding='UTF-8'?>";

TEST(ScheduleTest, TypesAskWhatTheirRowSays) {
  ASSERT_EQ(kScheduleTypes.size(), 10u);
  const ScheduleType& daily = kScheduleTypes[5];
  EXPECT_EQ(daily.word, "daily");
  EXPECT_FALSE(daily.date);
  EXPECT_TRUE(daily.start && daily.end && daily.duration && daily.repeat && daily.random &&
              daily.dayMask);
  const ScheduleType& time = kScheduleTypes[6];
  EXPECT_TRUE(time.date && time.start);
  EXPECT_FALSE(time.end || time.duration || time.repeat || time.random || time.dayMask);
  EXPECT_EQ(kScheduleTypes[9].menuLine, "9 - Event Based");
  EXPECT_TRUE(kScheduleTypes[9].eventName);
  EXPECT_EQ(kScheduleTypes[2].menuLine, "2 - Yearly (not supported yet)");
  EXPECT_EQ(kDayGuide.size(), 53u + 7u);
  EXPECT_EQ(kDayQuestion.size(), 53u);
}

TEST(ScheduleTest, DocumentHoldsOnlyWhatWasAskedAndGiven) {
  Schedule daily;
  daily.type = "daily";
  daily.start = TimeParts{"", "30", ""};
  daily.end = TimeParts{"4", "", ""};
  daily.duration = TimeParts{"1", "2", "3"};
  daily.repeats = true;
  daily.repeat = TimeParts{"", "15", ""};
  daily.random = false;
  daily.dayMask = 65;
  EXPECT_EQ(scheduleDocument(daily),
            std::string(kDecl) +
                "<orvantaschedule><scheduletype>daily</scheduletype>"
                "<startpointminute>30</startpointminute><endpointhour>4</endpointhour>"
                "<durationhour>1</durationhour><durationminute>2</durationminute>"
                "<durationsecond>3</durationsecond><doesrepeat>true</doesrepeat>"
                "<repeatminute>15</repeatminute><israndomdispatch>false</israndomdispatch>"
                "<dowmask>65</dowmask></orvantaschedule>");

  Schedule time;
  time.type = "time";
  time.date = Date{"2027", "3", "14"};
  time.start = TimeParts{"12", "", ""};
  EXPECT_EQ(scheduleDocument(time),
            std::string(kDecl) +
                "<orvantaschedule><scheduletype>time</scheduletype><datepointyear>2027"
                "</datepointyear><datepointmonth>3</datepointmonth><datepointday>14"
                "</datepointday><startpointhour>12</startpointhour></orvantaschedule>");

  Schedule event;
  event.type = "event";
  EXPECT_EQ(scheduleDocument(event), std::string(kDecl) +
                                         "<orvantaschedule><scheduletype>event</scheduletype>"
                                         "</orvantaschedule>");
  event.eventName = "boot & <halt>";
  event.repeats = false;
  event.repeat = TimeParts{"1", "", ""};  // not asked for when it does not repeat
  EXPECT_EQ(scheduleDocument(event),
            std::string(kDecl) +
                "<orvantaschedule><scheduletype>event</scheduletype><eventname>boot &amp; "
                "&lt;halt&gt;</eventname><doesrepeat>false</doesrepeat></orvantaschedule>");
  // Typed text comes back from the stored document as it was typed.
  EXPECT_EQ(scheduleLines(scheduleDocument(event))[3], "    Event Name         : boot & <halt>");
}

TEST(ScheduleTest, DayMaskUnderTheGuideLine) {
  EXPECT_EQ(dayMask(""), 0);
  EXPECT_EQ(dayMask("x"), 1);
  EXPECT_EQ(dayMask("*     *"), 65);
  EXPECT_EQ(dayMask(" *****"), 62);
  EXPECT_EQ(dayMask("*******"), 127);
  EXPECT_EQ(dayMask("*******  ***"), 127);  // beyond Saturday nothing counts
  EXPECT_EQ(dayMask("      "), 0);
}

TEST(ScheduleTest, StoredScheduleLines) {
  const std::string stored =
      std::string(kDecl) +
      "<orvantaschedule><scheduletype>daily</scheduletype><datepointyear>2027</datepointyear>"
      "<datepointmonth>3</datepointmonth><datepointday>14</datepointday>"
      "<startpointminute>30</startpointminute><endpointhour>4</endpointhour>"
      "<durationsecond>9</durationsecond><repeathour>1</repeathour>"
      "<doesrepeat>true</doesrepeat><israndomdispatch>false</israndomdispatch>"
      "<eventname>boot</eventname><dowmask>127</dowmask></orvantaschedule>";
  EXPECT_EQ(scheduleLines(stored),
            (Lines{"  orvantaschedule", "    Schedule Type      : daily",
                   "    Schedule Mask      : SMTWTFS", "                         *******",
                   "    Random dispatch    : false", "    Schedule repeats   : true",
                   "    Event Name         : boot", "    Date               : 3-14-2027",
                   "    Start Time         : 0:30:0", "    End Time           : 4:0:0",
                   "    Repeat Time        : 1:0:0", "    Duration           : 0:0:9"}));
  EXPECT_EQ(scheduleLines("<orvantaschedule><dowmask>62</dowmask><datepointyear>1"
                          "</datepointyear></orvantaschedule>"),
            (Lines{"  orvantaschedule", "    Schedule Mask      : SMTWTFS",
                   "                          ***** "}));
  EXPECT_EQ(scheduleLines("<orvantaschedule><dowmask>Sunday</dowmask></orvantaschedule>"),
            (Lines{"  orvantaschedule", "    Schedule Mask      : SMTWTFS",
                   "                                "}));
  // Stored text is anyone's who may write the action: a line break or a carriage return in a
  // value neither breaks the line nor moves the terminal's cursor.
  EXPECT_EQ(scheduleLines("<orvantaschedule><scheduletype>never&#10;    Schedule Type      : "
                          "always</scheduletype><eventname>a\\b&#13;&#9;</eventname>"
                          "</orvantaschedule>"),
            (Lines{"  orvantaschedule",
                   "    Schedule Type      : never\\x0a    Schedule Type      : always",
                   "    Event Name         : a\\b\\x0d\\x09"}));
  EXPECT_EQ(scheduleLines("not a document"), Lines{"  orvantaschedule"});
  EXPECT_EQ(scheduleLines(""), Lines{"  orvantaschedule"});
}

}  // namespace
}  // namespace tarvik
