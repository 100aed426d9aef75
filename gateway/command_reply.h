// The text of reply documents: a `commandResult` root holding objects, names and identifiers,
// every text escaped for XML (see xmlText). An object reads
//   <object><objectID/><objectclass/><displayname/><objectname/>...attributes...</object>
// with one child element per attribute value, named after the attribute in lower case; values
// of attributes that hold directory names carry the XML attributes displayname and objectname.
#ifndef GATEWAY_COMMAND_REPLY_H_
#define GATEWAY_COMMAND_REPLY_H_

#include <string>
#include <vector>

#include "gateway/directory.h"

namespace nvo {

// Attributes a search must ask for so that an object's identifying children can be written.
const std::vector<std::string>& headerAttributes();
// The same plus every user attribute.
const std::vector<std::string>& fullAttributes();

// An entry's objectID (its entryUUID) and objectclass (its structural class, lower case).
std::string objectIdOf(const DirEntry& entry);
std::string objectClassOf(const DirEntry& entry);

class ReplyWriter {
 public:
  ReplyWriter();

  // <name>text</name>, text escaped.
  void element(const std::string& name, const std::string& text);
  // One object: its identifying children, then the attributes of the entry that a reply may
  // show: all of them when `all`, else those named in `attributes` (lower case).
  void object(const DirEntry& entry, bool all, const std::vector<std::string>& attributes = {});
  void objects(const std::vector<DirEntry>& entries, bool all,
               const std::vector<std::string>& attributes = {});
  // The finished document; the writer is spent afterwards.
  std::string finish();

 private:
  void attribute(const std::string& name, const std::string& value);
  std::string text_;
};

}  // namespace nvo

#endif  // GATEWAY_COMMAND_REPLY_H_
