// WorkStationSyncer: the agent's one object that talks to the management gateway. It reads and
// holds the agent's configuration (/etc/opt/nvo/brenxd.conf), and for each workstation request
// finds or creates the workstation's computer object, gives it a fresh random password and
// answers with an authentication document carrying the computer's own credentials.
//
// Owns the parsed configuration document (also the builder of every command document), the
// password generator and, during a request only, one gateway session. Failures raise a QRstring
// holding the error text. Its lock makes a configuration read and a request exclusive; the
// agent calls both from its one thread.
#ifndef BRENXD_WORKSTATION_SYNCER_H_
#define BRENXD_WORKSTATION_SYNCER_H_

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "brenxd/gateway_session.h"
#include "gateway/dom_node.h"
#include "gateway/xml_parser.h"
#include "outside/log_stream.h"
#include "outside/mutex.h"
#include "outside/qrstring.h"
#include "outside/random_number.h"

namespace brenxd {

using teska::QRstring;

class WorkStationSyncer {
 public:
  // Sessions come from `openSession` (openMuxSession in the agent).
  explicit WorkStationSyncer(teska::LogStream& log,
                             GatewaySessionFactory openSession = openMuxSession);
  ~WorkStationSyncer();
  WorkStationSyncer(const WorkStationSyncer&) = delete;
  WorkStationSyncer& operator=(const WorkStationSyncer&) = delete;

  // Reads and applies the configuration file at `path`. Raises the error text ("Couldn't open
  // <path>", "Invalid XML in configuration file: No root tag", ...) on failure, leaving the
  // creation location empty and no search locations, so every request is then refused.
  void readConfig(const QRstring& path);
  // The same with the file's content already read: the pure step from configuration text to
  // the agent's state, which the fuzz target reaches without a file.
  void readConfigText(const QRstring& text);

  // Finds (by MAC) or creates the computer object `computerName`, sets a new password and
  // returns the authentication text for the workstation. Raises the error text on failure.
  QRstring generateAuthenticationXML(const QRstring& computerName, const QRstring& mac);

  // The authentication element as a document: the primary gateway's authname, password and
  // objectname set to the values given, with an empty ignorePolicy element when
  // `ignorePolicy`, without one otherwise. Changes the stored element in place.
  QRstring buildAuthenticationXML(const QRstring& authname, const QRstring& password,
                                  const QRstring& objectname, bool ignorePolicy);

  // A 12-character password of the characters 32 to 126 without '"', '<', '>' and '&'.
  QRstring makePassword();

  // The configuration state, for the agent's own checks and its tests.
  const QRstring& creationLocation() const { return creationLocation_; }
  const std::vector<QRstring>& searchLocations() const { return searchLocations_; }
  const QRstring& sessionDocument() const { return sessionDocument_; }

 private:
  // Configuration steps (workstation_syncer_config.cc).
  void applyConfig(const QRstring& text);
  void forgetConfig();
  void readAuthentication();
  void getSearchLocations();
  void getCreationLocation();

  // Gateway exchanges (workstation_syncer.cc).
  nvo::DOM_Node send(const std::string& command);
  std::optional<QRstring> resolveObject(const QRstring& objectName);
  void resolveCreationContainer();
  std::optional<QRstring> searchObjects(const QRstring& containerId, const QRstring& mac);
  std::optional<QRstring> searchAllLocations(const QRstring& mac);
  QRstring createObject(const QRstring& computerName, const QRstring& password,
                        const QRstring& mac);
  void modifyObject(const QRstring& objectId, const QRstring& password);
  QRstring getObjectNameFromObjectID(const QRstring& objectId);
  QRstring runRequest(const QRstring& computerName, const QRstring& mac);

  std::unique_ptr<GatewaySession> session_;
  nvo::XMLParser document_;
  QRstring creationLocation_;
  QRstring creationContainerId_;
  nvo::DOM_Node authentication_;
  teska::LogStream* log_;
  QRstring sessionDocument_;
  teska::Mutex lock_{true};
  std::vector<QRstring> searchLocations_;
  std::unique_ptr<teska::RandomNumber> random_;
  GatewaySessionFactory openSession_;
};

// Raises the error text of a reply that holds an `error` child: `command` + "error: " +
// errorMsg + " [error#: " + errorNum + "]".
void checkForError(nvo::DOM_Node reply, const QRstring& command);

}  // namespace brenxd

#endif  // BRENXD_WORKSTATION_SYNCER_H_
