#include "tolmd/event_db.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <set>
#include <span>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tolmd/daemon_log.h"
#include "tolmd/event_db_exception.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace tolmd {
namespace {

namespace fs = std::filesystem;

// The database library never frees what it allocated for a handle that met a damaged page
// (it declares its region unusable) even once the handle is closed. While one of these lives,
// allocations are not reported as leaks: they are the library's, not ours.
class LibraryLeaksIgnored {
 public:
#if defined(__SANITIZE_ADDRESS__)
  LibraryLeaksIgnored() {
    __lsan_disable();
  }
  ~LibraryLeaksIgnored() {
    __lsan_enable();
  }
#else
  LibraryLeaksIgnored() = default;
#endif
  LibraryLeaksIgnored(const LibraryLeaksIgnored&) = delete;
  LibraryLeaksIgnored& operator=(const LibraryLeaksIgnored&) = delete;
};

uint32_t addressOf(const char* dotted) {
  return ::inet_addr(dotted);
}
uint16_t portOf(int hostPort) {
  return htons(static_cast<uint16_t>(hostPort));
}

class EventDbTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/event_db_test.XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    directory_ = pattern;
    path_ = directory_ + "/events.dat";
  }
  void TearDown() override { fs::remove_all(directory_); }

  void add(EventDb& db, const std::string& name, const char* address, int port) {
    EventDbRec rec(name, addressOf(address), portOf(port));
    db.addRec(rec);
  }

  // All records as "name address:port" lines in key order.
  static std::vector<std::string> listing(EventDb& db) {
    std::vector<std::string> lines;
    EventDbRec rec;
    for (bool found = db.firstRec(rec); found; found = db.findNext(rec, false)) {
      in_addr addr{rec.address()};
      lines.push_back(rec.eventName() + " " + ::inet_ntoa(addr) + ":" +
                      std::to_string(ntohs(rec.port())));
    }
    return lines;
  }

  std::string directory_;
  std::string path_;
};

TEST_F(EventDbTest, TwoListenersOfOneEventAreBothFoundThenTheRunEnds) {
  EventDb db(path_);
  add(db, "disk.full", "10.0.0.1", 1000);
  add(db, "disk.full", "10.0.0.2", 2000);
  add(db, "disk.fuller", "10.0.0.3", 3000);

  EventDbRec rec;
  std::set<std::string> found;
  ASSERT_TRUE(db.findFirst("disk.full", rec));
  found.insert(std::to_string(ntohs(rec.port())));
  ASSERT_TRUE(db.findNext(rec, true));
  found.insert(std::to_string(ntohs(rec.port())));
  EventDbRec before(rec);
  EXPECT_FALSE(db.findNext(rec, true));
  EXPECT_EQ(rec.port(), before.port()) << "a false findNext leaves the record as it was";
  EXPECT_EQ(found, (std::set<std::string>{"1000", "2000"}));
}

TEST_F(EventDbTest, FindFirstOfAPrefixIsFalseButPositionsOnTheNextKey) {
  EventDb db(path_);
  add(db, "disk.full", "10.0.0.1", 1000);
  add(db, "zzz", "10.0.0.9", 9000);
  EventDbRec rec;
  EXPECT_FALSE(db.findFirst("disk", rec));
  // The cursor stands on disk.full, so the next record is zzz.
  ASSERT_TRUE(db.findNext(rec, false));
  EXPECT_EQ(rec.eventName(), "zzz");
}

TEST_F(EventDbTest, FindFirstIgnoresACountedNulInTheName) {
  EventDb db(path_);
  add(db, "abc", "10.0.0.1", 1000);
  EventDbRec rec;
  ASSERT_TRUE(db.findFirst(std::string("abc\0", 4), rec));
  EXPECT_EQ(rec.eventName(), "abc");
}

TEST_F(EventDbTest, DeleteRecNeedsAddressAndPortToMatch) {
  EventDb db(path_);
  add(db, "disk.full", "10.0.0.1", 1000);
  add(db, "disk.full", "10.0.0.2", 2000);
  EventDbRec otherPort("disk.full", addressOf("10.0.0.1"), portOf(1001));
  EXPECT_FALSE(db.deleteRec(otherPort));
  EventDbRec exact("disk.full", addressOf("10.0.0.2"), portOf(2000));
  EXPECT_TRUE(db.deleteRec(exact));
  EXPECT_EQ(listing(db), (std::vector<std::string>{"disk.full 10.0.0.1:1000"}));
}

TEST_F(EventDbTest, DeleteAllRemovesEveryEventOfThatAddressOnly) {
  EventDb db(path_);
  add(db, "a.event", "10.0.0.1", 1000);
  add(db, "b.event", "10.0.0.1", 1001);
  add(db, "c.event", "10.0.0.1", 1002);
  add(db, "b.event", "10.0.0.2", 2000);
  add(db, "d.event", "10.0.0.3", 3000);
  EventDbRec all("", addressOf("10.0.0.1"), portOf(9));
  EXPECT_TRUE(db.deleteRec(all)) << "an empty name deletes every event of the address";
  EXPECT_EQ(listing(db),
            (std::vector<std::string>{"b.event 10.0.0.2:2000", "d.event 10.0.0.3:3000"}));
  EventDbRec again("", addressOf("10.0.0.1"), 0);
  EXPECT_FALSE(db.deleteAll(again));
}

TEST_F(EventDbTest, DeleteAllOnAnEmptyDatabaseDeletesNothing) {
  EventDb db(path_);
  EventDbRec rec("", addressOf("10.0.0.1"), 0);
  EXPECT_FALSE(db.deleteAll(rec));
}

TEST_F(EventDbTest, ReplaceCurrentChangesThePortInPlace) {
  EventDb db(path_);
  add(db, "disk.full", "10.0.0.1", 1000);
  EventDbRec rec;
  ASSERT_TRUE(db.findFirst("disk.full", rec));
  EventDbRec replacement("disk.full", addressOf("10.0.0.1"), portOf(1500));
  EXPECT_EQ(db.replaceCurrent(replacement), 0);
  EXPECT_EQ(listing(db), (std::vector<std::string>{"disk.full 10.0.0.1:1500"}));
}

TEST_F(EventDbTest, FindListenerFindsTheAddressAmongManyAndFollowsEveryChange) {
  EventDb db(path_);
  for (int i = 1; i <= 200; ++i) {
    add(db, "fleet", ("10.0.1." + std::to_string(i % 250)).c_str(), 1000 + i);
  }
  add(db, "other", "10.0.9.9", 99);
  EventDbRec rec;
  ASSERT_TRUE(db.findListener("fleet", addressOf("10.0.1.77"), rec));
  EXPECT_EQ(rec.port(), portOf(1077));
  EXPECT_FALSE(db.findListener("fleet", addressOf("10.0.9.9"), rec)) << "another event's";
  EXPECT_FALSE(db.findListener("flee", addressOf("10.0.1.77"), rec)) << "a prefix is no name";

  // Replaced in place: the new port is found, the old one is gone.
  EventDbRec replacement("fleet", addressOf("10.0.1.77"), portOf(5000));
  ASSERT_EQ(db.replaceCurrent(replacement), 0);
  ASSERT_TRUE(db.findListener("fleet", addressOf("10.0.1.77"), rec));
  EXPECT_EQ(rec.port(), portOf(5000));
  EventDbRec oldPort("fleet", addressOf("10.0.1.77"), portOf(1077));
  EXPECT_FALSE(db.deleteRec(oldPort));
  EventDbRec newPort("fleet", addressOf("10.0.1.77"), portOf(5000));
  EXPECT_TRUE(db.deleteRec(newPort));
  EXPECT_FALSE(db.findListener("fleet", addressOf("10.0.1.77"), rec));

  // Deleted under the cursor during a walk, as the Signaler drops an unreachable listener.
  ASSERT_TRUE(db.findFirst("fleet", rec));
  const uint32_t dropped = rec.address();
  ASSERT_EQ(db.deleteCurrent(rec), 0);
  EXPECT_FALSE(db.findListener("fleet", dropped, rec));

  // Every event of one address at once.
  add(db, "other", "10.0.1.5", 7);
  EventDbRec everything("", addressOf("10.0.1.5"), 0);
  EXPECT_TRUE(db.deleteRec(everything));
  EXPECT_FALSE(db.findListener("fleet", addressOf("10.0.1.5"), rec));
  EXPECT_FALSE(db.findListener("other", addressOf("10.0.1.5"), rec));
  EXPECT_TRUE(db.findListener("other", addressOf("10.0.9.9"), rec));
}

TEST_F(EventDbTest, FindListenerKnowsTheRecordsOfAReopenedFile) {
  {
    EventDb db(path_);
    add(db, "disk.full", "10.0.0.1", 1000);
    add(db, "disk.full", "10.0.0.1", 1000);  // a duplicate, as a file written elsewhere may hold
    db.sync();
  }
  EventDb db(path_);
  EventDbRec rec;
  ASSERT_TRUE(db.findListener("disk.full", addressOf("10.0.0.1"), rec));
  EventDbRec one("disk.full", addressOf("10.0.0.1"), portOf(1000));
  EXPECT_TRUE(db.deleteRec(one));
  EXPECT_TRUE(db.findListener("disk.full", addressOf("10.0.0.1"), rec)) << "one copy is left";
  EXPECT_TRUE(db.deleteRec(one));
  EXPECT_FALSE(db.findListener("disk.full", addressOf("10.0.0.1"), rec));
  EXPECT_TRUE(listing(db).empty());
}

// Random changes through every path that alters the file; after each, the lookups (which the
// index answers) must agree with a walk through the file itself.
// The index answers lookups and hands the fan-out each event's listeners in the order of its
// records; after every change of every kind both must agree with a walk through the file.
TEST_F(EventDbTest, IndexAgreesWithTheFileAfterRandomChanges) {
  EventDb db(path_);
  std::mt19937 random(20261207);
  const std::vector<std::string> events = {"a", "b", "c"};
  auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  auto address = [&] { return addressOf(("10.0.0." + std::to_string(1 + pick(6))).c_str()); };
  auto port = [&] { return portOf(1 + pick(3)); };
  for (int step = 0; step < 1500; ++step) {
    const std::string& event = events[static_cast<std::size_t>(pick(3))];
    EventDbRec rec(event, address(), port());
    EventDbRec found;
    switch (pick(5)) {
      case 0:
        if (pick(2) == 0) {
          db.addRec(rec);  // a duplicate at times, as a file written elsewhere may hold
          break;
        }
        [[fallthrough]];
      case 1:
        if (db.findListener(event, rec.address(), found)) {
          db.replaceCurrent(rec);
        } else {
          db.addRec(rec);
        }
        break;
      case 2:
        db.deleteRec(rec);
        break;
      case 3:
        if (pick(8) == 0) {
          EventDbRec all("", rec.address(), 0);
          db.deleteAll(all);
        } else {
          std::vector<ListenerIndex::Entry> listeners;
          ASSERT_TRUE(db.listenersInOrder(event, listeners));
          std::vector<std::size_t> positions;
          for (std::size_t i = 0; i < listeners.size(); ++i) {
            if (pick(3) == 0) {
              positions.push_back(i);
            }
          }
          EXPECT_EQ(db.deleteAtPositions(event, positions), positions.size());
        }
        break;
      default:
        for (bool more = db.findFirst(event, found); more; more = db.findNext(found, true)) {
          if (found.address() == rec.address()) {
            db.deleteCurrent(found);
            break;
          }
        }
        break;
    }
    for (const std::string& name : events) {
      for (int host = 1; host <= 6; ++host) {
        const uint32_t probe = addressOf(("10.0.0." + std::to_string(host)).c_str());
        bool inFile = false;
        for (bool more = db.findFirst(name, found); more && !inFile;
             more = db.findNext(found, true)) {
          inFile = found.address() == probe;
        }
        ASSERT_EQ(db.findListener(name, probe, found), inFile)
            << "step " << step << " event " << name << " host " << host;
      }
      std::vector<ListenerIndex::Entry> inOrder;
      for (bool more = db.findFirst(name, found); more; more = db.findNext(found, true)) {
        inOrder.push_back({found.address(), found.port()});
      }
      std::vector<ListenerIndex::Entry> fromIndex;
      ASSERT_TRUE(db.listenersInOrder(name, fromIndex));
      ASSERT_EQ(fromIndex, inOrder) << "step " << step << " event " << name;
    }
  }
}

TEST_F(EventDbTest, RegistrationsSurviveClosingAndReopening) {
  {
    EventDb db(path_);
    add(db, "disk.full", "10.0.0.1", 1000);
    add(db, "cpu.hot", "10.0.0.2", 2000);
    db.sync();
  }
  EventDb db(path_);
  EXPECT_EQ(listing(db),
            (std::vector<std::string>{"cpu.hot 10.0.0.2:2000", "disk.full 10.0.0.1:1000"}));
}

TEST_F(EventDbTest, BlockHoldsAddressPortAndNameInNetworkOrder) {
  EventDbRec rec("ab", addressOf("10.1.2.3"), portOf(0x1234));
  std::span<const uint8_t> block = rec.createBlock();
  EXPECT_EQ(std::vector<uint8_t>(block.begin(), block.end()),
            (std::vector<uint8_t>{10, 1, 2, 3, 0x12, 0x34, 'a', 'b', 0}));
  EventDbRec back;
  std::vector<uint8_t> key{'a', 'b', 0};
  back.assignFromStored(key, block);
  EXPECT_EQ(back.eventName(), "ab");
  EXPECT_EQ(back.address(), rec.address());
  EXPECT_EQ(back.port(), rec.port());
}

TEST_F(EventDbTest, NameOf1028CharactersGivesA1035ByteBlock) {
  EventDbRec rec(std::string(1028, 'n'), addressOf("10.0.0.1"), portOf(1));
  EXPECT_EQ(rec.createBlock().size(), 1035u);
  EventDb db(path_);
  db.addRec(rec);
  EventDbRec found;
  ASSERT_TRUE(db.findFirst(std::string(1028, 'n'), found));
  EXPECT_EQ(found.eventName().size(), 1028u);
}

TEST_F(EventDbTest, ShortStoredDataTakesTheNameFromTheKey) {
  EventDbRec rec;
  std::vector<uint8_t> key{'x', 0};
  std::vector<uint8_t> data{1, 2};
  rec.assignFromStored(key, data);
  EXPECT_EQ(rec.eventName(), "x");
  EXPECT_EQ(rec.address(), 0u);
  EXPECT_EQ(rec.port(), 0u);
}

// Runs `open` with the log on standard output and returns what was logged.
std::string logOf(const std::function<void()>& open) {
  setLogLevel(kLogDebug);
  setLogToStandardOutput(true);
  ::testing::internal::CaptureStdout();
  open();
  std::string text = ::testing::internal::GetCapturedStdout();
  setLogToStandardOutput(false);
  setLogLevel(kLogInfo);
  return text;
}

TEST_F(EventDbTest, UnusableFilesAreRecreatedEmptyWithTheMessage) {
  const std::string kRecreating =
      "Tolm cannot open old database (probably corrupted) - re-creating\n";
  struct Case {
    const char* what;
    std::string content;
  } cases[] = {{"zero-length file", ""}, {"text file", std::string(20000, 'x')}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::ofstream(path_, std::ios::trunc) << c.content;
    std::unique_ptr<EventDb> db;
    EXPECT_EQ(logOf([&] { db = std::make_unique<EventDb>(path_); }), kRecreating);
    EventDbRec rec;
    EXPECT_FALSE(db->firstRec(rec));
    add(*db, "after", "10.0.0.1", 1);
    EXPECT_TRUE(db->findFirst("after", rec));
  }
}

TEST_F(EventDbTest, FileDamagedPastItsFirstPageIsRecreatedKeepingWhatCanBeRead) {
  const std::string kRecreating =
      "Tolm cannot open old database (probably corrupted) - re-creating\n";
  std::set<std::string> written;
  {
    EventDb db(path_);
    for (int i = 0; i < 3000; ++i) {
      const std::string event = "event." + std::to_string(i % 50);
      const std::string address = "10.0." + std::to_string(i / 250) + "." + std::to_string(i % 250);
      add(db, event, address.c_str(), 1000 + i);
      written.insert(event + " " + address + ":" + std::to_string(1000 + i));
    }
    db.sync();
  }
  ASSERT_GT(fs::file_size(path_), 30u * 4096) << "the damage must hit a page in the middle";
  {
    std::fstream file(path_, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(20 * 4096);
    const std::string garbage(4096, '\xa5');
    file.write(garbage.data(), static_cast<std::streamsize>(garbage.size()));
  }
  std::unique_ptr<EventDb> db;
  {
    [[maybe_unused]] LibraryLeaksIgnored opening;
    EXPECT_EQ(logOf([&] { db = std::make_unique<EventDb>(path_); }), kRecreating);
  }
  const std::vector<std::string> kept = listing(*db);
  EXPECT_GT(kept.size(), 0u) << "the records before the damage are kept";
  EXPECT_LT(kept.size(), written.size());
  for (const std::string& line : kept) {
    EXPECT_EQ(written.count(line), 1u) << line;
  }
  // The new file is whole: it serves lookups and changes, and opens again without complaint.
  add(*db, "after", "10.9.9.9", 9);
  EventDbRec rec;
  EXPECT_TRUE(db->findListener("after", addressOf("10.9.9.9"), rec));
  db.reset();
  EXPECT_EQ(logOf([&] { db = std::make_unique<EventDb>(path_); }), "");
  EXPECT_EQ(listing(*db).size(), kept.size() + 1);
}

TEST_F(EventDbTest, SymbolicLinkAtThePathIsReplacedNotFollowed) {
  const std::string target = directory_ + "/elsewhere";
  std::ofstream(target) << "precious";
  fs::create_symlink(target, path_);
  EventDb db(path_);
  add(db, "disk.full", "10.0.0.1", 1000);
  db.sync();
  EXPECT_FALSE(fs::is_symlink(path_));
  std::ifstream in(target);
  std::string content;
  std::getline(in, content);
  EXPECT_EQ(content, "precious");
}

TEST_F(EventDbTest, FileIsReadableAndWritableByItsOwnerOnly) {
  EventDb db(path_);
  struct stat status {};
  ASSERT_EQ(::stat(path_.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600u);
}

TEST_F(EventDbTest, UncreatableFileThrowsOpen) {
  try {
    EventDb db(directory_ + "/missing/dir/events.dat");
    FAIL() << "expected EventDbException";
  } catch (const EventDbException& e) {
    EXPECT_STREQ(e.what(), "EventDb::open");
  }
}

TEST_F(EventDbTest, EveryOperationOnAClosedDatabaseSaysSo) {
  EventDb db(path_);
  db.close();
  EventDbRec rec("x", 1, 1);
  struct Case {
    std::function<void()> call;
    const char* message;
  } cases[] = {
      {[&] { db.firstRec(rec); }, "EventDb::firstRec - Database is not open"},
      {[&] { db.findFirst("x", rec); }, "EventDb::findFirst - Database is not open"},
      {[&] { db.findNext(rec, true); }, "EventDb::findNext - Database is not open"},
      {[&] { db.addRec(rec); }, "EventDb::add - Database is not open"},
      {[&] { db.replaceCurrent(rec); }, "EventDb::replaceCurrent - Database is not open"},
      {[&] { db.deleteCurrent(rec); }, "EventDb::deleteCurrent - Database is not open"},
      {[&] { db.deleteRec(rec); }, "EventDb::delete - Database is not open"},
      {[&] { db.deleteAll(rec); }, "EventDb::delete - Database is not open"},
      {[&] { db.findListener("x", 1, rec); }, "EventDb::findListener - Database is not open"},
  };
  for (const Case& c : cases) {
    try {
      c.call();
      ADD_FAILURE() << "no exception for " << c.message;
    } catch (const EventDbException& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
  }
  db.sync();  // closed: nothing to flush, no failure
  db.open();
  EXPECT_FALSE(db.firstRec(rec));
}

TEST_F(EventDbTest, MayHaveRegistrationsFollowsEveryChangeAndLeavesTheCursor) {
  EventDb db(path_);
  EXPECT_FALSE(db.mayHaveRegistrations("disk.full"));
  add(db, "disk.full", "10.0.0.1", 1000);
  add(db, "disk.full", "10.0.0.2", 2000);
  add(db, "zzz", "10.0.0.9", 9000);
  EXPECT_TRUE(db.mayHaveRegistrations("disk.full"));
  EXPECT_TRUE(db.mayHaveRegistrations(std::string("zzz\0tail", 8)));
  EXPECT_FALSE(db.mayHaveRegistrations("disk"));
  EventDbRec rec;
  ASSERT_TRUE(db.findFirst("disk.full", rec));
  EXPECT_FALSE(db.mayHaveRegistrations("cpu.hot"));
  ASSERT_TRUE(db.findNext(rec, true)) << "the cursor stayed on the run of disk.full";
  EventDbRec first("disk.full", addressOf("10.0.0.1"), portOf(1000));
  EventDbRec second("disk.full", addressOf("10.0.0.2"), portOf(2000));
  ASSERT_TRUE(db.deleteRec(first));
  EXPECT_TRUE(db.mayHaveRegistrations("disk.full"));
  ASSERT_TRUE(db.deleteRec(second));
  EXPECT_FALSE(db.mayHaveRegistrations("disk.full"));
  db.close();
  EXPECT_TRUE(db.mayHaveRegistrations("zzz")) << "a closed database leaves the answer to the walk";
}

}  // namespace
}  // namespace tolmd
