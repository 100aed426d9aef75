// EventDbRec: one registration of the event database in memory: notify the listener at
// `address`:`port` when `eventName` is signalled.
//
// Address and port are kept in network byte order exactly as a REGISTER request carried them.
// The record also owns the serialised data form made by its last createBlock(). Copying copies
// address, port and name, never the block. Not thread safe; each thread uses its own records.
//
// Stored form (the database's key and data):
//   key:  the event name characters and one NUL
//   data: 4 address bytes, 2 port bytes (both as held in memory, so network order), the event
//         name characters and one NUL: name length + 7 bytes.
#ifndef TOLMD_EVENT_DB_REC_H_
#define TOLMD_EVENT_DB_REC_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "outside/qrstring.h"

namespace tolmd {

class EventDbRec {
 public:
  // Address 0, port 0, empty name, no block.
  EventDbRec() = default;
  EventDbRec(teska::QRstring eventName, uint32_t address, uint16_t port);
  EventDbRec(const EventDbRec& other);
  EventDbRec& operator=(const EventDbRec& other);
  ~EventDbRec() = default;

  const teska::QRstring& eventName() const { return eventName_; }
  uint32_t address() const { return address_; }  // network order
  uint16_t port() const { return port_; }        // network order

  // Builds the stored data form, replacing (and freeing) the previous block. The span stays
  // valid until the next createBlock() or the record's end. Throws EventDbRecException
  // ("Memory allocation error in createBlock") when no memory can be had.
  std::span<const uint8_t> createBlock();

  // Fills the record from a stored data form: address and port from the first six bytes, the
  // name from offset 6 up to its NUL (or the end of the data). Data too short for address and
  // port leaves them 0 and takes the name from `key` (up to its NUL), so a damaged record
  // still names its event.
  void assignFromStored(std::span<const uint8_t> key, std::span<const uint8_t> data);

  // The key form of `eventName`: its characters and one NUL.
  static std::vector<char> keyFor(const teska::QRstring& eventName);

 private:
  teska::QRstring eventName_;
  uint32_t address_ = 0;
  uint16_t port_ = 0;
  std::vector<uint8_t> block_;
};

}  // namespace tolmd

#endif  // TOLMD_EVENT_DB_REC_H_
