#include "tolmd/event_db.h"

// The only place that calls the database library.
#include <db_185.h>
#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include <sys/stat.h>

#include "tolmd/daemon_log.h"
#include "tolmd/event_db_exception.h"

namespace tolmd {
namespace {

constexpr char kRootDirectory[] = "/var/lib/tolm";
constexpr char kFileName[] = "tolmd_event_db.dat";
constexpr mode_t kDirectoryMode = 0755;
constexpr mode_t kFileMode = 0600;

std::span<const uint8_t> bytesOf(const DBT& dbt) {
  return {static_cast<const uint8_t*>(dbt.data), dbt.size};
}

// The text of a key or name up to its first NUL (or its end): what strcmp would compare.
std::string cText(std::span<const uint8_t> bytes) {
  auto end = std::find(bytes.begin(), bytes.end(), uint8_t{0});
  return std::string(bytes.begin(), end);
}

std::string cText(const std::string& text) {
  return text.substr(0, text.find('\0'));
}

// Key order: the keys as NUL-terminated strings, like strcmp, but never reading past a key's
// stored size, since the file's contents are not trusted.
int compareKeys(const DBT* a, const DBT* b) {
  const auto* left = static_cast<const unsigned char*>(a->data);
  const auto* right = static_cast<const unsigned char*>(b->data);
  for (std::size_t i = 0;; ++i) {
    unsigned char l = i < a->size ? left[i] : 0;
    unsigned char r = i < b->size ? right[i] : 0;
    if (l != r) {
      return l < r ? -1 : 1;
    }
    if (l == 0) {
      return 0;
    }
  }
}

DB* openFile(const std::string& path, int flags) {
  BTREEINFO info{};
  info.flags = R_DUP;
  info.compare = compareKeys;
  return dbopen(path.c_str(), flags, kFileMode, DB_BTREE, &info);
}

std::vector<char> keyBufferFor(const std::string& eventName, const char* failure) {
  try {
    return EventDbRec::keyFor(eventName);
  } catch (const std::bad_alloc&) {
    throw EventDbException(failure);
  }
}

// Directories a root-started daemon creates; an existing database directory that others may
// write is tightened, since whoever can write it can replace the file.
void prepareRootDirectories() {
  ::mkdir("/var", kDirectoryMode);
  ::mkdir("/var/lib", kDirectoryMode);
  ::mkdir(kRootDirectory, kDirectoryMode);
  struct stat status {};
  if (::lstat(kRootDirectory, &status) == 0 && S_ISDIR(status.st_mode) &&
      (status.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    ::chmod(kRootDirectory, kDirectoryMode);
  }
}

}  // namespace

// The key's text and the address and port EventDbRec reads from the data (0 when the data is
// too short for them).
EventDb::StoredListener EventDb::listenerOf(std::span<const uint8_t> key,
                                            std::span<const uint8_t> data) {
  StoredListener listener{cText(key)};
  if (data.size() >= sizeof listener.address + sizeof listener.port) {
    std::memcpy(&listener.address, data.data(), sizeof listener.address);
    std::memcpy(&listener.port, data.data() + sizeof listener.address, sizeof listener.port);
  }
  return listener;
}

void EventDb::Closer::operator()(__db* db) const {
  db->close(db);
}

EventDb::EventDb() : defaultLocation_(true) {
  open();
}

EventDb::EventDb(teska::QRstring path) : defaultLocation_(false), path_(std::move(path)) {
  open();
}

EventDb::~EventDb() {
  close();
}

void EventDb::open() {
  close();
  if (defaultLocation_) {
    locateDefault();
  }
  if (!openExisting()) {
    createNew();
  }
  secureFile();
  if (!indexRecords()) {
    salvage();
  }
}

void EventDb::salvage() {
  daemonLog(kLogDebug, "Tolm cannot open old database (probably corrupted) - re-creating");
  // The handle that met the damage is unusable; a fresh read-only one reads up to it again.
  std::vector<std::pair<std::vector<uint8_t>, std::vector<uint8_t>>> readable;
  db_.reset(openFile(path_, O_RDONLY));
  if (db_) {
    DB* db = db_.get();
    DBT key{}, data{};
    try {
      for (int result = db->seq(db, &key, &data, R_FIRST); result == 0;
           result = db->seq(db, &key, &data, R_NEXT)) {
        const std::span<const uint8_t> k = bytesOf(key), d = bytesOf(data);
        readable.emplace_back(std::vector<uint8_t>(k.begin(), k.end()),
                              std::vector<uint8_t>(d.begin(), d.end()));
      }
    } catch (const std::bad_alloc&) {
      // Keep what was copied so far.
    }
  }
  createNew();
  secureFile();
  DB* db = db_.get();
  for (auto& [key, data] : readable) {
    DBT k{key.data(), key.size()};
    DBT d{data.data(), data.size()};
    db->put(db, &k, &d, 0);
  }
  readable.clear();
  db->sync(db, 0);
  if (!indexRecords()) {
    distrustIndex();
  }
}

bool EventDb::indexRecords() {
  index_.clear();
  indexTrusted_ = true;
  cursor_.reset();
  DB* db = db_.get();
  DBT key{}, data{};
  int result = db->seq(db, &key, &data, R_FIRST);
  for (; result == 0 && indexTrusted_; result = db->seq(db, &key, &data, R_NEXT)) {
    indexStored(bytesOf(key), bytesOf(data));
  }
  return result != -1;
}

void EventDb::distrustIndex() {
  if (indexTrusted_) {
    daemonLog(kLogDebug, "EventDb: listener index incomplete - looking listeners up by walking");
  }
  index_.clear();
  indexTrusted_ = false;
}

void EventDb::noteCursor(std::span<const uint8_t> key, std::span<const uint8_t> data, Move move) {
  StoredListener now = listenerOf(key, data);
  if (move == Move::kNext) {
    if (!cursor_ || cursor_->position == kUnknownPosition) {
      now.position = kUnknownPosition;
    } else if (cursor_->event == now.event) {
      now.position = cursor_->position + (cursor_->deleted ? 0 : 1);
    }
  }
  cursor_ = std::move(now);
}

void EventDb::indexStored(std::span<const uint8_t> key, std::span<const uint8_t> data) {
  if (!indexTrusted_) {
    return;
  }
  try {
    const StoredListener listener = listenerOf(key, data);
    index_.add(listener.event, listener.address, listener.port);
  } catch (const std::bad_alloc&) {
    distrustIndex();  // a record missing from the index would read as "not registered"
  }
}

void EventDb::indexReplaced(std::span<const uint8_t> key, std::span<const uint8_t> data) {
  StoredListener now = listenerOf(key, data);
  if (!cursor_ || cursor_->deleted || cursor_->event != now.event) {
    // Not a record of the run the cursor knows: forgotten there, added at the run's end.
    forgetCursorRecord();
    indexStored(key, data);
    now.position = kUnknownPosition;
    cursor_ = std::move(now);
    return;
  }
  if (indexTrusted_) {
    try {
      index_.replace(now.event, cursor_->position, cursor_->address, cursor_->port, now.address,
                     now.port);
    } catch (const std::bad_alloc&) {
      distrustIndex();
    }
  }
  now.position = cursor_->position;
  cursor_ = std::move(now);
}

void EventDb::forgetCursorRecord() {
  if (cursor_ && !cursor_->deleted) {
    index_.remove(cursor_->event, cursor_->address, cursor_->port, cursor_->position);
    cursor_->deleted = true;
  }
}

void EventDb::locateDefault() {
  if (::geteuid() == 0) {
    prepareRootDirectories();
    path_ = std::string(kRootDirectory) + "/" + kFileName;
    return;
  }
  const passwd* user = ::getpwuid(::getuid());
  if (user == nullptr) {
    daemonLog(kLogAlert, "EventDb::open failed to get user info for id: %d",
              static_cast<int>(::getuid()));
    throw EventDbException("EventDb::open");
  }
  std::string directory = std::string(user->pw_dir) + "/tolm/";
  ::mkdir(directory.c_str(), kDirectoryMode);
  path_ = directory + kFileName;
}

bool EventDb::openExisting() {
  // Only a regular file is opened in place: anything else (a symbolic link above all) is
  // replaced, so the daemon never writes through a link someone else planted.
  struct stat status {};
  if (::lstat(path_.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
    return false;
  }
  // The file of the root path belongs to nobody since the last run. Root that may only change
  // owners (the rights of the system service) cannot open it then; it takes the file back for
  // the open, and secureFile() hands it over again. Nobody else can write the directory.
  if (defaultLocation_ && ::geteuid() == 0 && status.st_uid != 0) {
    static_cast<void>(::lchown(path_.c_str(), 0, static_cast<gid_t>(-1)));
  }
  if (::access(path_.c_str(), R_OK | W_OK) != 0) {
    return false;
  }
  db_.reset(openFile(path_, O_RDWR));
  if (!db_) {
    daemonLog(kLogDebug, "Tolm cannot open old database (probably corrupted) - re-creating");
    return false;
  }
  return true;
}

void EventDb::createNew() {
  ::unlink(path_.c_str());
  db_.reset(openFile(path_, O_RDWR | O_CREAT | O_TRUNC | O_EXCL));
  if (!db_) {
    int error = errno;
    daemonLog(kLogDebug, "EventDb::open failed to create database: %s", std::strerror(error));
    throw EventDbException("EventDb::open");
  }
}

void EventDb::secureFile() {
  int fd = db_->fd(db_.get());
  if (fd < 0) {
    return;
  }
  if (defaultLocation_ && ::geteuid() == 0) {
    const passwd* owner = ::getpwnam(kServiceUser);
    if (owner != nullptr && ::fchown(fd, owner->pw_uid, owner->pw_gid) != 0) {
      daemonLog(kLogDebug, "EventDb::open could not hand the database to %s: %s", kServiceUser,
                std::strerror(errno));
    }
  }
  ::fchmod(fd, kFileMode);
}

void EventDb::close() {
  db_.reset();
  index_.clear();
  cursor_.reset();
}

void EventDb::sync() {
  if (db_) {
    db_->sync(db_.get(), 0);
  }
}

__db* EventDb::handleFor(const char* word) {
  if (!db_) {
    throw EventDbException(std::string("EventDb::") + word + " - Database is not open");
  }
  return db_.get();
}

bool EventDb::firstRec(EventDbRec& rec) {
  DB* db = handleFor("firstRec");
  DBT key{}, data{};
  int result = db->seq(db, &key, &data, R_FIRST);
  if (result == -1) {
    throw EventDbException("EventDb::firstRec - failed");
  }
  if (result != 0) {
    return false;
  }
  noteCursor(bytesOf(key), bytesOf(data), Move::kFirstOfRun);
  rec.assignFromStored(bytesOf(key), bytesOf(data));
  return true;
}

bool EventDb::findFirst(const teska::QRstring& eventName, EventDbRec& rec) {
  DB* db = handleFor("findFirst");
  std::vector<char> keyBuffer =
      keyBufferFor(eventName, "EventDb::findFirst - Memory allocation error");
  DBT key{keyBuffer.data(), keyBuffer.size()};
  DBT data{};
  int result = db->seq(db, &key, &data, R_CURSOR);
  if (result == -1) {
    throw EventDbException("EventDb::findFirst - failed");
  }
  if (result != 0) {
    cursor_.reset();
    return false;
  }
  noteCursor(bytesOf(key), bytesOf(data), Move::kFirstOfRun);
  if (cursor_->event != cText(eventName)) {
    return false;
  }
  rec.assignFromStored(bytesOf(key), bytesOf(data));
  return true;
}

bool EventDb::findNext(EventDbRec& rec, bool sameKey) {
  DB* db = handleFor("findNext");
  DBT key{}, data{};
  int result = db->seq(db, &key, &data, R_NEXT);
  if (result == -1) {
    throw EventDbException("EventDb::findNext - failed");
  }
  if (result != 0) {
    return false;
  }
  noteCursor(bytesOf(key), bytesOf(data), Move::kNext);
  if (sameKey && cursor_->event != cText(rec.eventName())) {
    return false;
  }
  rec.assignFromStored(bytesOf(key), bytesOf(data));
  return true;
}

int EventDb::addRec(EventDbRec& rec) {
  DB* db = handleFor("add");
  std::vector<char> keyBuffer = keyBufferFor(rec.eventName(), "EventDb::addRec - failed");
  std::span<const uint8_t> block = rec.createBlock();
  DBT key{keyBuffer.data(), keyBuffer.size()};
  DBT data{const_cast<uint8_t*>(block.data()), block.size()};
  int result = db->put(db, &key, &data, 0);
  if (result == -1) {
    throw EventDbException("EventDb::addRec - failed");
  }
  if (result == 0) {
    indexStored(bytesOf(key), bytesOf(data));
  }
  return result;
}

int EventDb::replaceCurrent(EventDbRec& rec) {
  DB* db = handleFor("replaceCurrent");
  std::vector<char> keyBuffer = keyBufferFor(rec.eventName(), "EventDb::replaceCurrent - failed");
  std::span<const uint8_t> block = rec.createBlock();
  DBT key{keyBuffer.data(), keyBuffer.size()};
  DBT data{const_cast<uint8_t*>(block.data()), block.size()};
  int result = db->put(db, &key, &data, R_CURSOR);
  if (result == -1) {
    throw EventDbException("EventDb::replaceCurrent - failed");
  }
  if (result == 0) {
    indexReplaced(bytesOf(key), bytesOf(data));
  }
  return result;
}

int EventDb::deleteCurrent(EventDbRec& rec) {
  DB* db = handleFor("deleteCurrent");
  // The key passed along is always our own copy: handing the library a pointer into its own
  // cursor memory upsets its later cursor moves.
  std::vector<char> keyBuffer = keyBufferFor(rec.eventName(), "EventDb::deleteCurrent - failed");
  DBT key{keyBuffer.data(), keyBuffer.size()};
  int result = db->del(db, &key, R_CURSOR);
  if (result == -1) {
    throw EventDbException("EventDb::deleteCurrent - failed");
  }
  if (result == 0) {
    forgetCursorRecord();
  }
  return result;
}

bool EventDb::findListener(const teska::QRstring& eventName, uint32_t address, EventDbRec& rec) {
  handleFor("findListener");
  if (indexTrusted_ && !index_.hasAddress(cText(eventName), address)) {
    return false;
  }
  bool found = findFirst(eventName, rec);
  while (found && rec.address() != address) {
    found = findNext(rec, true);
  }
  return found;
}

bool EventDb::mayHaveRegistrations(const teska::QRstring& eventName) const {
  if (!db_ || !indexTrusted_) {
    return true;  // the operation that follows reports a closed database
  }
  return index_.hasEvent(cText(eventName));
}

bool EventDb::listenersInOrder(const teska::QRstring& eventName,
                               std::vector<ListenerIndex::Entry>& listeners) const {
  if (!db_ || !indexTrusted_) {
    return false;
  }
  listeners = index_.inFileOrder(cText(eventName));
  return true;
}

std::size_t EventDb::deleteAtPositions(const teska::QRstring& eventName,
                                       std::span<const std::size_t> positions) {
  std::size_t deleted = 0;
  auto next = positions.begin();
  EventDbRec rec;
  std::size_t position = 0;
  for (bool found = next != positions.end() && findFirst(eventName, rec);
       found && next != positions.end(); found = findNext(rec, true), ++position) {
    if (position == *next) {
      deleted += deleteCurrent(rec) == 0 ? 1 : 0;
      ++next;
    }
  }
  return deleted;
}

bool EventDb::deleteRec(EventDbRec& rec) {
  if (rec.eventName().empty()) {
    return deleteAll(rec);
  }
  DB* db = handleFor("delete");
  const EventDbRec probe(rec);
  if (indexTrusted_ && !index_.has(cText(probe.eventName()), probe.address(), probe.port())) {
    return false;
  }
  EventDbRec current;
  bool found = findFirst(probe.eventName(), current);
  while (found && (current.address() != probe.address() || current.port() != probe.port())) {
    found = findNext(current, true);
  }
  if (!found) {
    return false;
  }
  std::vector<char> keyBuffer = keyBufferFor(probe.eventName(), "EventDb::deleteRec - failed");
  DBT key{keyBuffer.data(), keyBuffer.size()};
  int result = db->del(db, &key, R_CURSOR);
  if (result == -1) {
    throw EventDbException("EventDb::deleteRec - failed");
  }
  if (result == 0) {
    forgetCursorRecord();
  }
  return result == 0;
}

bool EventDb::deleteAll(EventDbRec& rec) {
  DB* db = handleFor("delete");
  const uint32_t address = rec.address();
  DBT key{}, data{};
  int result = db->seq(db, &key, &data, R_FIRST);
  if (result == -1) {
    throw EventDbException("EventDb::deleteAll - failed");
  }
  bool deleted = false;
  // An error while walking (-1) ends the walk like its end (1) does.
  for (Move move = Move::kFirstOfRun; result == 0; move = Move::kNext) {
    noteCursor(bytesOf(key), bytesOf(data), move);
    rec.assignFromStored(bytesOf(key), bytesOf(data));
    if (rec.address() == address) {
      std::vector<char> keyBuffer = keyBufferFor(rec.eventName(), "EventDb::deleteAll - failed");
      DBT own{keyBuffer.data(), keyBuffer.size()};
      if (db->del(db, &own, R_CURSOR) == 0) {
        forgetCursorRecord();
        deleted = true;
      }
    }
    result = db->seq(db, &key, &data, R_NEXT);
  }
  return deleted;
}

}  // namespace tolmd
