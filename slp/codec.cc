#include "slp/codec.h"

#include "slp/text.h"
#include "slp/wire_buffer.h"

namespace vslp {
namespace {

constexpr size_t kAuthBlockFixed = 10;
constexpr size_t kExtensionFixed = 5;
constexpr uint32_t kMaxLength = 0xffffff;

std::vector<AuthBlock> readAuths(WireReader& r, size_t count) {
  std::vector<AuthBlock> auths;
  if (count * kAuthBlockFixed > r.remaining()) {
    throw WireError("authentication block count exceeds the message");
  }
  for (size_t i = 0; i < count; ++i) {
    size_t start = r.position();
    AuthBlock a;
    a.bsd = r.u16();
    uint16_t length = r.u16();
    a.timestamp = r.u32();
    a.spi = r.string();
    size_t used = r.position() - start;
    if (length < used) {
      throw WireError("authentication block shorter than its fields");
    }
    a.data = r.bytes(length - used);
    auths.push_back(std::move(a));
  }
  return auths;
}

// Writes the 1-byte count and the blocks.
void writeAuths(WireWriter& w, const std::vector<AuthBlock>& auths) {
  if (auths.size() > 0xff) {
    throw WireError("too many authentication blocks");
  }
  w.u8(static_cast<uint8_t>(auths.size()));
  for (const AuthBlock& a : auths) {
    w.u16(a.bsd);
    w.u16(static_cast<uint32_t>(kAuthBlockFixed + a.spi.size() + a.data.size()));
    w.u32(a.timestamp);
    w.string(a.spi);
    w.bytes(a.data);
  }
}

UrlEntry readUrlEntry(WireReader& r) {
  if (r.u8() != 0) {
    throw WireError("URL entry reserved byte not zero");
  }
  UrlEntry e;
  e.lifetime = r.u16();
  e.url = r.string();
  e.auths = readAuths(r, r.u8());
  return e;
}

void writeUrlEntry(WireWriter& w, const UrlEntry& e) {
  w.u8(0);
  w.u16(e.lifetime);
  w.string(e.url);
  writeAuths(w, e.auths);
}

// Replies may end right after a non-zero error code (RFC 2608 section 7).
bool endsAfterError(const WireReader& r, uint16_t error) {
  return error != 0 && r.remaining() == 0;
}

SrvRqst readSrvRqst(WireReader& r) {
  SrvRqst m;
  m.prList = r.string();
  m.serviceType = r.string();
  m.scopes = r.string();
  m.predicate = r.string();
  m.spi = r.string();
  return m;
}

SrvRply readSrvRply(WireReader& r) {
  SrvRply m;
  m.error = r.u16();
  if (endsAfterError(r, m.error)) {
    return m;
  }
  uint16_t count = r.u16();
  if (size_t{count} * 6 > r.remaining()) {
    throw WireError("URL entry count exceeds the message");
  }
  for (uint16_t i = 0; i < count; ++i) {
    m.urls.push_back(readUrlEntry(r));
  }
  return m;
}

SrvReg readSrvReg(WireReader& r) {
  SrvReg m;
  m.entry = readUrlEntry(r);
  m.serviceType = r.string();
  m.scopes = r.string();
  m.attrs = r.string();
  m.attrAuths = readAuths(r, r.u8());
  return m;
}

SrvDeReg readSrvDeReg(WireReader& r) {
  SrvDeReg m;
  m.scopes = r.string();
  m.entry = readUrlEntry(r);
  m.tags = r.string();
  return m;
}

AttrRqst readAttrRqst(WireReader& r) {
  AttrRqst m;
  m.prList = r.string();
  m.url = r.string();
  m.scopes = r.string();
  m.tags = r.string();
  m.spi = r.string();
  return m;
}

AttrRply readAttrRply(WireReader& r) {
  AttrRply m;
  m.error = r.u16();
  if (endsAfterError(r, m.error)) {
    return m;
  }
  m.attrs = r.string();
  m.auths = readAuths(r, r.u8());
  return m;
}

DaAdvert readDaAdvert(WireReader& r) {
  DaAdvert m;
  m.error = r.u16();
  m.bootTimestamp = r.u32();
  m.url = r.string();
  m.scopes = r.string();
  m.attrs = r.string();
  m.spiList = r.string();
  m.auths = readAuths(r, r.u8());
  return m;
}

SrvTypeRqst readSrvTypeRqst(WireReader& r) {
  SrvTypeRqst m;
  m.prList = r.string();
  // Length 0xFFFF means "all naming authorities" and no string follows.
  if (r.u16() != 0xffff) {
    r.seek(r.position() - 2);
    m.namingAuthority = r.string();
  }
  m.scopes = r.string();
  return m;
}

SrvTypeRply readSrvTypeRply(WireReader& r) {
  SrvTypeRply m;
  m.error = r.u16();
  if (!endsAfterError(r, m.error)) {
    m.types = r.string();
  }
  return m;
}

SaAdvert readSaAdvert(WireReader& r) {
  SaAdvert m;
  m.url = r.string();
  m.scopes = r.string();
  m.attrs = r.string();
  m.auths = readAuths(r, r.u8());
  return m;
}

Body readBody(Function f, WireReader& r) {
  switch (f) {
    case Function::kSrvRqst:
      return readSrvRqst(r);
    case Function::kSrvRply:
      return readSrvRply(r);
    case Function::kSrvReg:
      return readSrvReg(r);
    case Function::kSrvDeReg:
      return readSrvDeReg(r);
    case Function::kSrvAck:
      return SrvAck{r.u16()};
    case Function::kAttrRqst:
      return readAttrRqst(r);
    case Function::kAttrRply:
      return readAttrRply(r);
    case Function::kDaAdvert:
      return readDaAdvert(r);
    case Function::kSrvTypeRqst:
      return readSrvTypeRqst(r);
    case Function::kSrvTypeRply:
      return readSrvTypeRply(r);
    case Function::kSaAdvert:
      return readSaAdvert(r);
  }
  throw WireError("unknown function");
}

void writeFields(WireWriter& w, const SrvRqst& m) {
  w.string(m.prList);
  w.string(m.serviceType);
  w.string(m.scopes);
  w.string(m.predicate);
  w.string(m.spi);
}

void writeFields(WireWriter& w, const SrvRply& m) {
  w.u16(m.error);
  w.u16(static_cast<uint32_t>(m.urls.size()));
  for (const UrlEntry& e : m.urls) {
    writeUrlEntry(w, e);
  }
}

void writeFields(WireWriter& w, const SrvReg& m) {
  writeUrlEntry(w, m.entry);
  w.string(m.serviceType);
  w.string(m.scopes);
  w.string(m.attrs);
  writeAuths(w, m.attrAuths);
}

void writeFields(WireWriter& w, const SrvDeReg& m) {
  w.string(m.scopes);
  writeUrlEntry(w, m.entry);
  w.string(m.tags);
}

void writeFields(WireWriter& w, const SrvAck& m) {
  w.u16(m.error);
}

void writeFields(WireWriter& w, const AttrRqst& m) {
  w.string(m.prList);
  w.string(m.url);
  w.string(m.scopes);
  w.string(m.tags);
  w.string(m.spi);
}

void writeFields(WireWriter& w, const AttrRply& m) {
  w.u16(m.error);
  w.string(m.attrs);
  writeAuths(w, m.auths);
}

void writeFields(WireWriter& w, const DaAdvert& m) {
  w.u16(m.error);
  w.u32(m.bootTimestamp);
  w.string(m.url);
  w.string(m.scopes);
  w.string(m.attrs);
  w.string(m.spiList);
  writeAuths(w, m.auths);
}

void writeFields(WireWriter& w, const SrvTypeRqst& m) {
  w.string(m.prList);
  if (m.namingAuthority) {
    w.string(*m.namingAuthority);
  } else {
    w.u16(0xffff);
  }
  w.string(m.scopes);
}

void writeFields(WireWriter& w, const SrvTypeRply& m) {
  w.u16(m.error);
  w.string(m.types);
}

void writeFields(WireWriter& w, const SaAdvert& m) {
  w.string(m.url);
  w.string(m.scopes);
  w.string(m.attrs);
  writeAuths(w, m.auths);
}

void writeBody(WireWriter& w, const Body& body) {
  std::visit([&w](const auto& m) { writeFields(w, m); }, body);
}

// Reads the extension chain starting at `offset`. Offsets must increase strictly and leave
// room for the 5-byte extension header, so the walk ends after at most size/5 steps.
std::vector<Extension> readExtensions(WireReader& r, uint32_t offset, size_t size) {
  std::vector<Extension> out;
  while (offset != 0) {
    if (offset + kExtensionFixed > size) {
      throw WireError("extension offset outside the message");
    }
    r.seek(offset);
    Extension e;
    e.id = r.u16();
    uint32_t next = r.u24();
    if (next != 0 && next < offset + kExtensionFixed) {
      throw WireError("extension offsets do not increase");
    }
    size_t end = next == 0 ? size : next;
    if (end > size) {
      throw WireError("extension offset outside the message");
    }
    e.data = r.bytes(end - r.position());
    if (isMandatoryExtension(e.id)) {
      throw WireError("mandatory extension not understood", kOptionNotUnderstood);
    }
    out.push_back(std::move(e));
    offset = next;
  }
  return out;
}

}  // namespace

bool isMandatoryExtension(uint16_t id) {
  return id >= 0x4000 && id <= 0x7fff;
}

std::optional<uint32_t> peekLength(std::span<const uint8_t> data) {
  if (data.size() < 5 || data[0] != kVersion) {
    return std::nullopt;
  }
  return (uint32_t{data[2]} << 16) | (uint32_t{data[3]} << 8) | data[4];
}

DecodeResult decode(std::span<const uint8_t> data) {
  DecodeResult result;
  try {
    WireReader r(data);
    if (data.size() < kHeaderFixedSize) {
      throw WireError("shorter than a header");
    }
    if (r.u8() != kVersion) {
      throw WireError("unsupported version", kVerNotSupported);
    }
    uint8_t function = r.u8();
    if (r.u24() != data.size()) {
      throw WireError("length field differs from the message size");
    }
    uint16_t flags = r.u16();
    uint32_t extOffset = r.u24();
    uint16_t xid = r.u16();
    std::string lang = r.string();
    if (function < 1 || function > 11 || !isValidLanguageTag(lang)) {
      throw WireError("bad function id or language tag");
    }
    result.replyable = true;
    result.function = function;
    result.xid = xid;
    result.flags = flags;
    result.lang = lang;
    if ((flags & kFlagsReserved) != 0) {
      throw WireError("reserved flag bits set");
    }
    size_t bodyEnd = data.size();
    if (extOffset != 0) {
      if (extOffset < r.position() || extOffset > data.size()) {
        throw WireError("extension offset outside the message");
      }
      bodyEnd = extOffset;
    }
    WireReader body(data.first(bodyEnd));
    body.seek(r.position());
    Message m{Header{flags, xid, lang, {}}, readBody(static_cast<Function>(function), body)};
    m.header.extensions = readExtensions(r, extOffset, data.size());
    result.message = std::move(m);
  } catch (const WireError& e) {
    result.error = e.code();
    result.reason = e.what();
  }
  return result;
}

std::vector<uint8_t> encode(const Message& message) {
  WireWriter w;
  w.u8(kVersion);
  w.u8(static_cast<uint8_t>(message.function()));
  w.u24(0);
  w.u16(message.header.flags);
  w.u24(0);
  w.u16(message.header.xid);
  w.string(message.header.lang);
  writeBody(w, message.body);
  size_t previous = 7;  // the header's next-extension field
  for (const Extension& e : message.header.extensions) {
    w.patch24(previous, static_cast<uint32_t>(w.size()));
    w.u16(e.id);
    previous = w.size();
    w.u24(0);
    w.bytes(e.data);
  }
  if (w.size() > kMaxLength) {
    throw WireError("message exceeds 16 MiB");
  }
  w.patch24(2, static_cast<uint32_t>(w.size()));
  return w.take();
}

}  // namespace vslp
