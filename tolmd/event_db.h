// EventDb: the event daemon's registrations, kept in one Berkeley DB file (1.85 dbopen
// interface, B-tree, duplicate keys) so that they survive restarts.
//
// Each registration is stored under its event name (key compared as a NUL-terminated string),
// so all registrations of one event form one run in key order; a new registration goes to the
// end of its event's run, and a fan-out notifies in run order. The stored forms are described
// in event_db_rec.h.
//
// Owns the database handle (closed by close() and the destructor). The handle has one cursor,
// shared by every user: the database library is not thread aware, so a caller holds mutex()
// (lock()/unlock()) across any sequence of operations that positions and then uses the cursor.
// Every operation except open() and close() throws EventDbException when the database is not
// open. The handle stays open after every failure. Beside the file, an index in memory
// (ListenerIndex) holds every registration's event, address and port, in the order of the
// event's records, so that looking up one listener of an event with thousands of them needs no
// walk and a fan-out needs no read of the file; every change goes through this class, which
// keeps the two in step (it follows the cursor's position in its event's run of records for
// that). Operations do not yield: threads are
// preemptive, and a yield per record made long walks (a registration looks through every
// listener of its event) spend most of their time in the scheduler.
//
// File location (default constructor): as root "/var/lib/tolm/tolmd_event_db.dat", its
// directories created with mode 0755 and the file given mode 0600 and handed to the user the
// daemon runs as after dropping privileges ("nobody"), so the daemon can still write it and no
// other local user can (at the next start, root takes the file back for the open, so the
// daemon needs no right beyond changing owners); otherwise
// "<home of the real user>/tolm/tolmd_event_db.dat", mode 0600.
#ifndef TOLMD_EVENT_DB_H_
#define TOLMD_EVENT_DB_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "outside/mutex.h"
#include "outside/qrstring.h"
#include "tolmd/event_db_rec.h"
#include "tolmd/listener_index.h"

// The database library's handle type (DB in <db_185.h>), declared here so that only
// event_db.cc sees that header and its macros.
struct __db;

namespace tolmd {

// The user that owns the database file of a root-started daemon: the one it drops to.
inline constexpr char kServiceUser[] = "nobody";

class EventDb {
 public:
  // Opens (or creates) the file at the default location. Throws EventDbException
  // ("EventDb::open") when that is impossible.
  EventDb();
  // Opens (or creates) the file at `path`; no directory is created and the owner is left as
  // it is. Throws EventDbException ("EventDb::open").
  explicit EventDb(teska::QRstring path);
  ~EventDb();
  EventDb(const EventDb&) = delete;
  EventDb& operator=(const EventDb&) = delete;

  // (Re)opens the file. A file that cannot be opened as a database (damaged, empty, not a
  // B-tree, not a regular file) is removed and created anew, its registrations lost; this is
  // logged at DEBUG as "Tolm cannot open old database (probably corrupted) - re-creating". A
  // file that opens but cannot be read to its end (a damaged page) is re-created the same way,
  // keeping the registrations that could still be read.
  // Throws EventDbException ("EventDb::open") when no database can be had.
  void open();
  // Closes the handle if open; afterwards every operation throws "... Database is not open".
  void close();
  // Flushes the tree to the file if open.
  void sync();
  bool isOpen() const { return db_ != nullptr; }
  const teska::QRstring& path() const { return path_; }

  // The lock callers hold around cursor sequences.
  void lock() { mutex_.acquire(); }
  void unlock() { mutex_.release(); }
  teska::Mutex& mutex() { return mutex_; }

  // Positions the cursor on the first record in key order and copies it into `rec`; false when
  // the database is empty.
  bool firstRec(EventDbRec& rec);
  // Positions the cursor on the first record whose key is not less than `eventName`; true (and
  // `rec` filled) only when that key equals the name (compared up to its first NUL).
  bool findFirst(const teska::QRstring& eventName, EventDbRec& rec);
  // Moves the cursor to the next record; false at the end. With `sameKey`, also false (and
  // `rec` left as it was) when the next key differs from rec's event name. Otherwise copies it.
  bool findNext(EventDbRec& rec, bool sameKey);
  // Stores `rec` as a new record (duplicates allowed). Returns the library's result (0).
  int addRec(EventDbRec& rec);
  // Replaces the record under the cursor by `rec`'s key and data. Returns the library result.
  int replaceCurrent(EventDbRec& rec);
  // Deletes the record under the cursor. Returns the library's result (0 deleted).
  int deleteCurrent(EventDbRec& rec);
  // Positions the cursor on the first registration of `eventName` from `address` (any port)
  // and copies it into `rec`; false (the cursor where it was) when there is none, which the
  // index answers without reading the file.
  bool findListener(const teska::QRstring& eventName, uint32_t address, EventDbRec& rec);
  // False only when `eventName` certainly has no registration, which the index answers
  // without touching the file or the cursor (a signal of an event nobody listens to costs no
  // search); true when it has, or when the index is not trusted.
  bool mayHaveRegistrations(const teska::QRstring& eventName) const;
  // Fills `listeners` with the registrations of `eventName` in the order of its records, from
  // the index, without touching the file or the cursor; false (and `listeners` untouched) when
  // the index is not trusted or the database is closed, and the records must be walked.
  bool listenersInOrder(const teska::QRstring& eventName,
                        std::vector<ListenerIndex::Entry>& listeners) const;
  // Deletes the registrations of `eventName` at `positions` (ascending, counted from 0 in the
  // order listenersInOrder() gave before this call) in one walk of its records; returns how
  // many were deleted. Leaves the cursor in the event's run.
  std::size_t deleteAtPositions(const teska::QRstring& eventName,
                                std::span<const std::size_t> positions);
  // Deletes the first registration of rec's event with rec's address and port; true when one
  // was deleted. An empty event name means deleteAll(rec).
  bool deleteRec(EventDbRec& rec);
  // Deletes every registration whose address equals rec's (any port, any event); true when at
  // least one was deleted. `rec` is left holding the last record visited.
  bool deleteAll(EventDbRec& rec);

  // Failures of the library calls above throw EventDbException with "EventDb::<operation> -
  // failed" (and "EventDb::findFirst - Memory allocation error" when no key buffer can be had).

 private:
  // A registration as the index holds it: the key's text, address and port (network order).
  // For the record under the cursor also its position in its event's run (kUnknownPosition
  // when the cursor came there in a way that does not tell), and whether it was deleted (the
  // cursor then stands where it was; the next record takes its position).
  static constexpr std::size_t kUnknownPosition = static_cast<std::size_t>(-1);
  struct StoredListener {
    std::string event;
    uint32_t address = 0;
    uint16_t port = 0;
    std::size_t position = 0;
    bool deleted = false;
  };
  static StoredListener listenerOf(std::span<const uint8_t> key, std::span<const uint8_t> data);

  struct Closer {
    void operator()(__db* db) const;
  };

  // The open handle, or throws "EventDb::<word> - Database is not open".
  __db* handleFor(const char* word);
  void locateDefault();
  bool openExisting();
  void createNew();
  void secureFile();
  // Fills the index from every record of the file just opened; false when the file could not
  // hand over every record (it is damaged past its first page).
  bool indexRecords();
  // Replaces a damaged file by a new one holding the records that can still be read, with the
  // "re-creating" log line.
  void salvage();
  // Gives the index up until the next open() when it cannot hold every record (a record the
  // file could not hand over, no memory): lookups then walk the event's records.
  void distrustIndex();
  // How the cursor came to a record: to the first of its event's run (a search, the first
  // record) or one record on.
  enum class Move { kFirstOfRun, kNext };
  // Remembers the registration the cursor now stands on, and its position, for the index to
  // forget or replace it when it is deleted or replaced.
  void noteCursor(std::span<const uint8_t> key, std::span<const uint8_t> data, Move move);
  // Adds a registration just stored (its key and data form) to the index.
  void indexStored(std::span<const uint8_t> key, std::span<const uint8_t> data);
  // Puts a registration that replaced the one under the cursor (its key and data form) into
  // the index, in the replaced one's position.
  void indexReplaced(std::span<const uint8_t> key, std::span<const uint8_t> data);
  // Forgets the registration under the cursor in the index, once it was deleted from the file.
  void forgetCursorRecord();

  bool defaultLocation_;
  teska::QRstring path_;
  std::unique_ptr<__db, Closer> db_;
  ListenerIndex index_;
  bool indexTrusted_ = false;  // the index holds every record of the file
  // The registration under the cursor, as the index holds it; set by a cursor move that found
  // a record, marked when that record is deleted, cleared when a search found nothing.
  std::optional<StoredListener> cursor_;
  teska::Mutex mutex_{false};
};

}  // namespace tolmd

#endif  // TOLMD_EVENT_DB_H_
