// fuzz-seed-maker DIR: writes the seed corpora of the fuzz targets into DIR/<target>/, one
// small file per seed. The committed corpora under fuzz/corpus/ were made with it; run it again
// after a wire format changes.
//
// The seeds are well-formed messages of every kind each target parses, plus the classic
// near misses (short, long, wrong version, wrong checksum), so every decoder is reached from
// the first run on.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include <arpa/inet.h>

#include "brenxd/request_codec.h"
#include "protocol/tolm_wire.h"
#include "slp/codec.h"
#include "slp/message.h"

namespace {

using Bytes = std::vector<uint8_t>;

class SeedWriter {
 public:
  SeedWriter(std::filesystem::path root, const std::string& target) : dir_(root / target) {
    std::filesystem::create_directories(dir_);
  }
  void write(const std::string& name, const Bytes& bytes) {
    std::ofstream out(dir_ / name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  }

 private:
  std::filesystem::path dir_;
};

Bytes concat(const tolm::HeaderBytes& header, const Bytes& rest = {}) {
  Bytes bytes(header.begin(), header.end());
  bytes.insert(bytes.end(), rest.begin(), rest.end());
  return bytes;
}

void tolmdRequests(const std::filesystem::path& root) {
  SeedWriter seeds(root, "tolmd_request");
  const uint32_t loopback = htonl(INADDR_LOOPBACK);
  const Bytes payload{1, 2, 3, 4, 5};
  Bytes signal = tolm::buildSignalRequest("abc", payload, 2);
  seeds.write("signal", signal);
  seeds.write("signal-timed", tolm::buildSignalRequest("disk.full", payload, 1));
  seeds.write("register",
              tolm::buildListenerRequest(tolm::kFuncRegister, loopback, htons(9), "abc"));
  seeds.write("deregister",
              tolm::buildListenerRequest(tolm::kFuncDeregister, loopback, htons(9), "abc"));
  seeds.write("deregister-all",
              tolm::buildListenerRequest(tolm::kFuncDeregister, loopback, htons(9), ""));
  Bytes badChecksum = signal;
  badChecksum[15] ^= 0x01;
  seeds.write("signal-bad-checksum", badChecksum);
  Bytes badVersion = signal;
  badVersion[3] = 0x02;
  seeds.write("signal-bad-version", badVersion);
  seeds.write("signal-truncated", Bytes(signal.begin(), signal.end() - 3));
  seeds.write("header-only", Bytes(signal.begin(), signal.begin() + 12));
  seeds.write("short-header", Bytes(signal.begin(), signal.begin() + 5));
  seeds.write("ping", concat(tolm::buildPing()));
  seeds.write("unknown",
              concat(tolm::encodeHeader({tolm::kProtocolVersion, 0x12345678, 4}), {0, 0, 0, 0}));
  seeds.write("too-long",
              concat(tolm::encodeHeader({tolm::kProtocolVersion, tolm::kFuncSignal, 4097})));
}

void listenerPackets(const std::filesystem::path& root) {
  SeedWriter seeds(root, "listener_packet");
  const Bytes payload{1, 2, 3, 4, 5};
  seeds.write("notify", tolm::buildNotify("xyz", 1, payload));
  seeds.write("notify-nul-name", tolm::buildNotify(std::string("abc\0", 4), 2, payload));
  seeds.write("notify-empty", tolm::buildNotify("", 0, {}));
  seeds.write("ping", concat(tolm::buildPing()));
  seeds.write("answer-ok", concat(tolm::buildAnswer(tolm::kAnswerSignal, 0)));
  seeds.write("answer-unreachable", concat(tolm::buildAnswer(tolm::kAnswerRegister, -12)));
}

vslp::Message message(vslp::Body body, uint16_t flags = 0) {
  return vslp::Message{vslp::Header{flags, 0x4242, "en", {}}, std::move(body)};
}

void slpMessages(const std::filesystem::path& root) {
  using namespace vslp;
  SeedWriter seeds(root, "slp_message");
  const UrlEntry entry{65535, "service:tolm.x://192.0.2.1:3456", {}};
  const AuthBlock auth{2, 7, "spi", {1, 2, 3}};
  seeds.write("srvrqst",
              encode(message(SrvRqst{"", "service:tolm.x", "DEFAULT", "", ""}, kFlagMcast)));
  seeds.write("srvrqst-filter",
              encode(message(SrvRqst{"192.0.2.9", "tolm.x", "DEFAULT", "(public_key=0)", ""})));
  seeds.write("srvrply", encode(message(SrvRply{0, {entry, entry}})));
  seeds.write("srvreg",
              encode(message(SrvReg{entry, "service:tolm.x", "DEFAULT", "(public_key=0)", {}},
                             kFlagFresh)));
  seeds.write("srvdereg", encode(message(SrvDeReg{"DEFAULT", entry, ""})));
  seeds.write("srvack", encode(message(SrvAck{0})));
  seeds.write("attrrqst", encode(message(AttrRqst{"", entry.url, "DEFAULT", "public_key", ""})));
  seeds.write("attrrply", encode(message(AttrRply{0, "(public_key=0)", {auth}})));
  seeds.write("daadvert",
              encode(message(
                  DaAdvert{0, 1, "service:directory-agent://192.0.2.2", "DEFAULT", "", "", {}})));
  seeds.write("srvtyperqst", encode(message(SrvTypeRqst{"", std::nullopt, "DEFAULT"})));
  seeds.write("srvtyperqst-na", encode(message(SrvTypeRqst{"", std::string("x"), "DEFAULT"})));
  seeds.write("srvtyperply", encode(message(SrvTypeRply{0, "service:tolm.x"})));
  seeds.write("saadvert",
              encode(message(SaAdvert{"service:service-agent://192.0.2.1", "DEFAULT", "", {}})));
  Message withPid = message(SrvReg{entry, "service:tolm.x", "DEFAULT", "", {}}, kFlagFresh);
  withPid.header.extensions.push_back(Extension{kPidWatchExtension, {0, 0, 0x30, 0x39}});
  seeds.write("srvreg-pid", encode(withPid));
}

void slpTexts(const std::filesystem::path& root) {
  SeedWriter seeds(root, "slp_text");
  auto text = [](uint8_t selector, const std::string& s) {
    Bytes bytes{selector};
    bytes.insert(bytes.end(), s.begin(), s.end());
    return bytes;
  };
  seeds.write("attrs", text(0, "(public_key=0),(names=a,b),secure,(blob=\\FF\\00)"));
  seeds.write("filter", text(1, "(&(public_key=0)(|(names=a*)(!(size>=40))))"));
  seeds.write("filter-approx", text(1, "(names~=B)"));
  seeds.write("url", text(2, "service:tolm.x://192.0.2.1:3456/path;x=1"));
  seeds.write("url-v6", text(2, "service:printer:lpr://[fe80::1]:515"));
  seeds.write("escape", text(3, "a,b(c)\\d"));
  seeds.write("escape-tag", text(4, "tag\\2c"));
}

void text(SeedWriter& seeds, const std::string& name, const std::string& content) {
  seeds.write(name, Bytes(content.begin(), content.end()));
}

void xmlDocuments(const std::filesystem::path& root) {
  SeedWriter seeds(root, "xml_document");
  text(seeds, "command",
       "<?xml version='1.0' encoding='UTF-8'?><command cat=\"catNone\" name=\"readObject\">"
       "<objectID>0b3e4c2a-1d2f-4c1e-9a55-3e2b1c0d9f11</objectID></command>");
  text(seeds, "reply",
       "<commandResult><object objectclass=\"orvantacomputer\" objectID=\"x\">"
       "<cn>ws &amp; co</cn><member displayname=\"g\" objectname=\"cn=g,o=orvanta\">cn=g"
       "</member><empty/></object><!-- note --><?pi data?></commandResult>");
  text(seeds, "error",
       "<commandResult><error><errorNum>32</errorNum><errorMsg>No such object</errorMsg>"
       "</error></commandResult>");
  text(seeds, "cdata-latin1",
       "<?xml version='1.0' encoding='ISO-8859-1'?><a t='&#9;&#10;&#13;'>caf\xe9"
       "<![CDATA[<x>&]]>&#x10000;</a>");
  text(seeds, "doctype", "<!DOCTYPE a [<!ENTITY x \"y\">]><a>&x;</a>");
  text(seeds, "xml11", "<?xml version='1.1'?><a>&#1;&#x85;</a>");
  text(seeds, "malformed", "<a><b></a>");
  text(seeds, "utf8-text", "caf\xc3\xa9 \xe2\x82\xac <&>\"'");
}

void authenticationDocuments(const std::filesystem::path& root) {
  SeedWriter seeds(root, "authentication");
  text(seeds, "console",
       "<?xml version='1.0' encoding='UTF-8'?><authentication><gateway>"
       "<url>LDAP://127.0.0.1:3890</url><authname>cn=admin,o=orvanta</authname>"
       "<password>secret</password><objectname>cn=admin,o=orvanta</objectname>"
       "<primaryGateway/><cat name=\"catSWRepository\"><location>ou=pub</location></cat>"
       "</gateway><gateway><url>FILE://cache</url><cat name=\"RPM\"><location>/x</location>"
       "</cat></gateway></authentication>");
  text(seeds, "agent",
       "<authentication><gateway><url>ldaps://dir.example:636</url>"
       "<authname>cn=ws1,ou=ws,o=orvanta</authname><password> p&amp;w </password>"
       "<objectname>cn=ws1,ou=ws,o=orvanta</objectname><primaryGateway/><ignorePolicy/>"
       "</gateway></authentication>");
  text(seeds, "no-primary",
       "<authentication><gateway><url>ldap://h</url></gateway>"
       "</authentication>");
  text(seeds, "wrong-root", "<commandResult/>");
}

// Real command documents as the agent and the console send them, and a few near misses.
void gatewayCommands(const std::filesystem::path& root) {
  SeedWriter seeds(root, "gateway_command");
  const std::string head = "<?xml version='1.0' encoding='UTF-8'?><command cat=\"";
  const std::string id = "<objectID>0b3e4c2a-1d2f-4c1e-9a55-3e2b1c0d9f11</objectID>";
  const std::string id2 = "<objectID2>11111111-2222-4333-8444-555555555555</objectID2>";
  // The seed file is named after the command, with a "-form" suffix for a second form.
  auto command = [&](const std::string& file, const std::string& cat, const std::string& body) {
    const std::string name = file.substr(0, file.find('-'));
    text(seeds, file, head + cat + "\" name=\"" + name + "\">" + body + "</command>");
  };
  command("resolveObject", "catNone", "<objectname>ou=Lab\\,1,o=orvanta</objectname>");
  command("searchObjects", "catNone",
          id +
              "<searchParams><objectclass op=\"EQ\">orvantacomputer</objectclass><orvantaidtype "
              "op=\"EQ\">1</orvantaidtype><orvantaid op=\"EQ\">*)(cn=*</orvantaid></searchParams>");
  command("createObject", "catNone",
          id + "<objectclass>orvantacomputer</objectclass><name>ws-1,x-00:16:3e:00:00:01</name>"
               "<attribute name=\"userpassword\">p&amp;w</attribute><attribute "
               "name=\"orvantaidtype\">1</attribute><attribute name=\"orvantaid\">00:16:3e:00:00:01"
               "</attribute><xmlattribute name=\"orvantaschedule\">&lt;a/&gt;</xmlattribute>");
  command(
      "modifyObject", "catNone",
      id + "<attribute name=\"userpassword\" op=\"replace\">x</attribute><attribute "
           "name=\"description\" op=\"delete\"/><attribute name=\"cn\" op=\"add\">y</attribute>");
  command("getObjectNameFromObjectID", "catNone", id);
  command("enumerateBaseObjects", "catNone", "");
  command("enumerateObjects", "catNone", id + "<objectclass>organization</objectclass>");
  command("readObject", "catNone", id);
  command("removeAllObjects", "catNone", id);
  command("renameObject", "catNone", id + "<newname> #a+b </newname>");
  command("moveObject", "catNone",
          id + "<newparent>11111111-2222-4333-8444-555555555555</newparent>");
  command("searchObjects-console", "catNone",
          "<includeobjectclass>orvantaprofile</includeobjectclass><attribute>objectclass"
          "</attribute><searchParams><cn op=\"IS\">Base*</cn><description op=\"LT\">2"
          "</description></searchParams>");
  command("searchObjects-repository", "catSWRepository",
          "<includeobjectclass>orvantarpm</includeobjectclass><attribute>orvantaname</attribute>"
          "<attribute>orvantauuid</attribute><searchParams><orvantaversion op=\"GT\">1.0~rc1"
          "</orvantaversion></searchParams>");
  command("getRPMDetailsFromUUIDsBig", "catSWRepository",
          "<orvantauuid>17198c38-dea7-430b-9819-c4f62114a7da</orvantauuid><orvantauuid>*"
          "</orvantauuid>");
  command("searchSWInventory", "catSWInventory",
          id + "<nomatch/><searchParams><orvantaname op=\"EQ\">bash</orvantaname>"
               "<orvantarelease op=\"LT\">2+b2</orvantarelease></searchParams>");
  command("searchHWInventory", "catHWInventory",
          "<objectID></objectID><searchParams><orvantamodel op=\"IS\">Demo*</orvantamodel>"
          "</searchParams>");
  command("readPrinter", "catNone", "<printername>Lab printer</printername>");
  command("findAllLinkedObjects", "catNone", "<objectclass>orvantaprinter</objectclass>" + id);
  command("readLinkedObjects", "catNone",
          "<objectclass>orvantapolicy</objectclass><attribute>orvantapolicytype</attribute>"
          "<value>search</value>");
  command("linkObjects", "catNone", id + id2 + "<flags>remove</flags>");
  command("createObject-rpm", "RPM",
          id + "<objectclass>orvantapolicy</objectclass><name>p</name><attribute "
               "name=\"orvantapolicytype\">inventory</attribute><attribute name=\"orvantaxml\">"
               "&lt;x/&gt;</attribute>");
  command("replaceInventory", "catSWInventory",
          "<orvantamodel> Demo 100 </orvantamodel><package><orvantaname>bash</orvantaname>"
          "<orvantaversion>5.2.15</orvantaversion><orvantarelease>2+b2</orvantarelease>"
          "<orvantaarch>amd64</orvantaarch></package><package><orvantaname>BASH</orvantaname>"
          "<orvantaversion>5.2.15</orvantaversion><orvantarelease>2+b2</orvantarelease>"
          "<orvantaarch>AMD64</orvantaarch></package><package><orvantaname>a,b=c+d#</orvantaname>"
          "<orvantaversion>1</orvantaversion></package>");
  command("replaceInventory-other", "catSWInventory",
          id + "<package><orvantaname>x</orvantaname><orvantaversion>1</orvantaversion>"
               "</package>");
  command("modifyObject-password", "catNone",
          id + "<attribute name=\"userPassword\" op=\"delete\">x</attribute><attribute "
               "name=\"orvantamodel\" op=\"delete\"/>");
  text(seeds, "unknown-category", head + "catX\" name=\"readObject\">" + id + "</command>");
  text(seeds, "bad-flags",
       head + "catNone\" name=\"linkObjects\">" + id + id2 + "<flags>swap</flags></command>");
  text(seeds, "reply-root", "<commandResult/>");
}

// Workstation requests as nvo-enrol and hostile clients send them.
void brenxdRequests(const std::filesystem::path& root) {
  SeedWriter seeds(root, "brenxd_request");
  seeds.write("plain", brenxd::encodeRequest("ws1.example.org", "52:54:00:12:34:56"));
  seeds.write("found", brenxd::encodeRequest("ws2", "52:54:00:12:34:5"));
  seeds.write("empty", brenxd::encodeRequest("", ""));
  seeds.write("nul-inside",
              brenxd::encodeRequest(std::string("ws\0tail", 7), std::string("aa\0bb", 5)));
  seeds.write("markup", brenxd::encodeRequest("ws", "<b/>00:16:3e:00:00:77</orvantaid>"));
  seeds.write("filter", brenxd::encodeRequest("*)(cn=*", "*)(objectClass=*"));
  seeds.write("dn", brenxd::encodeRequest("a,ou=Second", "x+cn=y,o=orvanta"));
  seeds.write("newline", brenxd::encodeRequest("ws\nPassword changed. Computer: x", "m\r\x1b[2J"));
  seeds.write("latin1", brenxd::encodeRequest("caf\xe9", "\xff\xfe"));
  seeds.write("longest", brenxd::encodeRequest(std::string(1023, 'h'), std::string(1023, 'm')));
  Bytes tooLong = brenxd::encodeRequest(std::string(1024, 'h'), "m");
  seeds.write("too-long", tooLong);
  Bytes cut = brenxd::encodeRequest("ws", "52:54:00:12:34:56");
  seeds.write("cut", Bytes(cut.begin(), cut.end() - 3));
  seeds.write("length-only", Bytes(cut.begin(), cut.begin() + 3));
}

void brenxdConfigs(const std::filesystem::path& root) {
  SeedWriter seeds(root, "brenxd_config");
  const std::string gateway =
      "<gateway><url>ldap://127.0.0.1:3890</url><authname>cn=admin,o=orvanta</authname>"
      "<password>p&amp;w</password><objectname>cn=admin,o=orvanta</objectname>"
      "<primaryGateway/><cat name=\"catNone\"><location>o=orvanta</location></cat></gateway>";
  text(seeds, "installed",
       "<?xml version=\"1.0\" encoding=\"UTF-8\"?><!-- c --><brenxd><authentication>" + gateway +
           "</authentication><workstationcreation><creationLocation>ou=Workstations,o=orvanta"
           "</creationLocation><searchLocation>ou=Lab,ou=Workstations,o=orvanta"
           "</searchLocation><searchLocation>ou=Office</searchLocation></workstationcreation>"
           "</brenxd>");
  text(seeds, "pruned",
       "<brenxd><authentication><gateway><url>ldap://x</url></gateway>" + gateway +
           "<gateway><url>ldap://y</url></gateway><gateway><ignorePolicy/><primaryGateway/>"
           "</gateway></authentication><workstationcreation/></brenxd>");
  text(seeds, "no-password",
       "<brenxd><authentication><gateway><authname>a</authname><objectname>o</objectname>"
       "<primaryGateway/></gateway></authentication></brenxd>");
  text(seeds, "no-creation", "<brenxd><authentication>" + gateway + "</authentication></brenxd>");
  text(seeds, "broken", "<brenxd><authentication>");
}

void scheduleTexts(const std::filesystem::path& root) {
  SeedWriter seeds(root, "schedule_text");
  const std::string decl = "<?xml version='1.0' encoding='UTF-8'?>";
  text(seeds, "daily",
       decl +
           "<orvantaschedule><scheduletype>daily</scheduletype><startpointminute>30"
           "</startpointminute><endpointhour>4</endpointhour><durationhour>1</durationhour>"
           "<doesrepeat>true</doesrepeat><repeatminute>15</repeatminute><israndomdispatch>"
           "false</israndomdispatch><dowmask>65</dowmask></orvantaschedule>");
  text(seeds, "time",
       decl +
           "<orvantaschedule><scheduletype>time</scheduletype><datepointyear>2027"
           "</datepointyear><datepointmonth>3</datepointmonth><datepointday>14"
           "</datepointday><startpointhour>12</startpointhour></orvantaschedule>");
  text(seeds, "event",
       decl +
           "<orvantaschedule><scheduletype>event</scheduletype><eventname>boot &amp; "
           "&lt;halt&gt;</eventname></orvantaschedule>");
  text(seeds, "hostile",
       "<?xml version='1.1'?><orvantaschedule><scheduletype>never&#10;    Schedule Type      : "
       "always&#x1b;[2J</scheduletype><dowmask>-99999999999999999999</dowmask></orvantaschedule>");
  text(seeds, "not-a-document", "never");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: fuzz-seed-maker DIR\n";
    return 2;
  }
  const std::filesystem::path root(argv[1]);
  tolmdRequests(root);
  listenerPackets(root);
  slpMessages(root);
  slpTexts(root);
  xmlDocuments(root);
  authenticationDocuments(root);
  gatewayCommands(root);
  brenxdRequests(root);
  brenxdConfigs(root);
  scheduleTexts(root);
  return 0;
}
