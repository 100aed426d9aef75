// Conformance against an independent decoder: the daemon's and the library's packets are
// captured on the sandbox interfaces and decoded by tshark's srvloc dissector, which must find
// every field as intended and no malformed packet.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>
#include <sys/wait.h>

#include "slp/client.h"
#include "slp/codec.h"
#include "slp/tcp_exchange.h"
#include "slp/test_support.h"

namespace vslp {
namespace {

using namespace std::chrono_literals;
using testing::DaemonChild;
using testing::TempDir;

// The fields asked of tshark, in column order.
const std::vector<std::string> kFields = {"frame.interface_name",
                                          "srvloc.function",
                                          "srvloc.xid",
                                          "srvloc.flags_v2",
                                          "srvloc.pktlen",
                                          "udp.length",
                                          "srvloc.langtag",
                                          "srvloc.url.url",
                                          "srvloc.srvreq.srvtype",
                                          "srvloc.srvreq.srvtypelist",
                                          "srvloc.srvreq.attrlist",
                                          "srvloc.srvreq.prlist",
                                          "srvloc.attrreq.url",
                                          "srvloc.attrrply.attrlist",
                                          "srvloc.srvtyperply.srvtypelist",
                                          "srvloc.saadvert.url",
                                          "srvloc.errv2",
                                          "srvloc.srvdereq.scopelist"};

using Row = std::map<std::string, std::string>;

std::string fileText(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// tshark capturing port 427 on lo and vt0 into `file` until stop(), printing a summary line
// per packet to `printFile` as it goes, so the test can see when capturing has begun.
class Capture {
 public:
  Capture(const std::string& file, const std::string& printFile) : printFile_(printFile) {
    pid_ = ::fork();
    if (pid_ == 0) {
      int out = ::open(printFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(out, STDOUT_FILENO);
      int null = ::open("/dev/null", O_WRONLY);
      ::dup2(null, STDERR_FILENO);
      ::execlp("tshark", "tshark", "-i", "lo", "-i", "vt0", "-f", "port 427", "-w", file.c_str(),
               "-P", "-l", static_cast<char*>(nullptr));
      ::_exit(127);
    }
  }
  ~Capture() { stop(); }

  // Sends probes (a unicast request on lo, a multicast one on vt0) until tshark shows both:
  // only then is every interface being captured.
  bool synchronise() {
    UniqueFd udp = openSocket(SOCK_DGRAM);
    setMulticastInterface(udp.get(), 0xc0000201);
    Message probe{Header{0, 0, "en", {}}, SrvRqst{"", "service:capture-probe", "DEFAULT", "", ""}};
    uint16_t xid = 60000;
    return testing::eventually(
        [&] {
          probe.header.xid = ++xid;
          probe.header.flags = 0;
          sendDatagram(udp.get(), encode(probe), Endpoint{0x7f000001, 427}, 0);
          probe.header.flags = kFlagMcast;
          sendDatagram(udp.get(), encode(probe), Endpoint{0xeffffffd, 427}, 0);
          std::string seen = fileText(printFile_);
          for (uint16_t x = 60001; x <= xid; ++x) {
            std::string tag = "XID - " + std::to_string(x);
            size_t first = seen.find(tag);
            if (first != std::string::npos &&
                seen.find(tag, first + tag.size()) != std::string::npos &&
                seen.find("239.255.255.253") != std::string::npos) {
              return true;
            }
          }
          return false;
        },
        20s);
  }

  void stop() {
    if (pid_ <= 0) {
      return;
    }
    ::kill(pid_, SIGINT);
    bool ended =
        testing::eventually([&] { return ::waitpid(pid_, nullptr, WNOHANG) == pid_; }, 10s);
    if (!ended) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
  }

 private:
  std::string printFile_;
  pid_t pid_ = -1;
};

std::vector<Row> decodeCapture(const std::string& file) {
  std::vector<std::string> argv{"tshark", "-r", file,           "-Y", "srvloc",      "-T",
                                "fields", "-E", "separator=/t", "-E", "aggregator=;"};
  for (const std::string& f : kFields) {
    argv.push_back("-e");
    argv.push_back(f);
  }
  std::vector<Row> rows;
  for (const std::string& line : testing::splitLines(testing::runCommand(argv, {}, 60s).out)) {
    Row row;
    std::istringstream cells(line);
    std::string cell;
    for (const std::string& f : kFields) {
      std::getline(cells, cell, '\t');
      row[f] = cell;
      cell.clear();
    }
    rows.push_back(row);
  }
  return rows;
}

bool tsharkInstalled() {
  return testing::runCommand({"sh", "-c", "command -v tshark"}, {}, 10s).status == 0;
}

class ConformanceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::inSandbox()) {
      GTEST_SKIP() << "needs tests/sandbox/run-in-sandbox (capture on its interfaces)";
    }
    if (!tsharkInstalled()) {
      GTEST_SKIP() << "tshark not installed (Debian package tshark): conformance check skipped";
    }
    dir_ = std::make_unique<TempDir>();
    config_ = dir_->write("vslp.conf", testing::testConfig());
    peerConfig_ = dir_->write(
        "peer.conf", testing::testConfig("vslpd.pidFile = " + dir_->path() + "/peer.pid\n"));
  }

  int tool(const std::vector<std::string>& args, bool onPeer) {
    std::vector<std::string> argv;
    if (onPeer) {
      argv = {"ip", "netns", "exec", "peer"};
    }
    argv.push_back(testing::buildProgram("vslptool"));
    argv.insert(argv.end(), args.begin(), args.end());
    return testing::runCommand(argv, {"VSLP_CONF=" + (onPeer ? peerConfig_ : config_)}, 20s).status;
  }

  // Every kind of message, with known contents, across lo and vt0.
  void produceTraffic(Client& client) {
    auto ignore = [](SLPError) {};
    auto url = [](const char*, unsigned short, SLPError) { return SLP_TRUE; };
    auto text = [](const char*, SLPError) { return SLP_TRUE; };
    ASSERT_EQ(client.registerService("service:conf.x://192.0.2.1:5000", 65535, "",
                                     "(public_key=0),(name=conformance)", true, ignore),
              SLP_OK);
    ASSERT_EQ(client.findServices("conf.x", "", "", url), SLP_OK);
    ASSERT_EQ(client.findAttributes("service:conf.x://192.0.2.2:5000", "", "", text), SLP_OK);
    ASSERT_EQ(client.findServiceTypes(std::nullopt, "", text), SLP_OK);
    ASSERT_EQ(client.findServices("service:service-agent", "", "", url), SLP_OK);
    for (int i = 0; i < 100; ++i) {
      ASSERT_EQ(client.registerService("service:many.x://10.3.0." + std::to_string(i) + ":1", 600,
                                       "", "", true, ignore),
                SLP_OK);
    }
    Message rq{Header{0, 0x4444, "en", {}}, SrvRqst{"", "service:many.x", "DEFAULT", "", ""}};
    ASSERT_TRUE(testing::udpExchange(encode(rq), Endpoint{0xc0000201, 427}, 2s));
    Message da{Header{0, 0x5555, "en", {}}, SrvRqst{"", "service:directory-agent", "", "", ""}};
    int error = 0;
    ASSERT_TRUE(TcpExchange::run(Endpoint{0x7f000001, 427}, encode(da), 2s, error));
    ASSERT_EQ(client.deregisterService("service:conf.x://192.0.2.1:5000", "", ignore), SLP_OK);
  }

  std::unique_ptr<TempDir> dir_;
  std::string config_;
  std::string peerConfig_;
};

const Row* findRow(const std::vector<Row>& rows, const std::string& function,
                   const std::string& field, const std::string& value) {
  for (const Row& r : rows) {
    if (r.at("srvloc.function") == function && r.at(field) == value) {
      return &r;
    }
  }
  return nullptr;
}

TEST_F(ConformanceTest, TsharkDecodesEveryMessageAsIntended) {
  DaemonChild peer(peerConfig_, 0xc0000202, "peer");
  DaemonChild local(config_);
  ASSERT_EQ(tool({"-t", "65535", "register", "service:conf.x://192.0.2.2:5000",
                  "(public_key=0),(name=peer)"},
                 true),
            0);
  std::string pcap = dir_->path() + "/slp.pcapng";
  Capture capture(pcap, dir_->path() + "/tshark.txt");
  ASSERT_TRUE(capture.synchronise()) << "tshark did not start capturing";
  ClientSettings settings = ClientSettings::from(Properties::load());
  Client client("en", settings);
  produceTraffic(client);
  std::this_thread::sleep_for(300ms);  // let the last frames reach the capture
  capture.stop();

  testing::CommandResult problems = testing::runCommand(
      {"tshark", "-r", pcap, "-Y",
       "_ws.malformed || srvloc.malformed || (srvloc && _ws.expert.severity >= 6291456)", "-T",
       "fields", "-e", "frame.number", "-e", "_ws.expert.message"},
      {}, 60s);
  EXPECT_EQ(problems.out, "") << "frames tshark finds malformed or suspicious";

  std::vector<Row> rows = decodeCapture(pcap);
  std::set<std::string> functions;
  for (const Row& r : rows) {
    functions.insert(r.at("srvloc.function"));
    EXPECT_EQ(r.at("srvloc.langtag"), "en");
    if (!r.at("udp.length").empty()) {
      int slp = std::stoi(r.at("srvloc.pktlen"));
      EXPECT_EQ(slp, std::stoi(r.at("udp.length")) - 8) << "Length field of a datagram";
      EXPECT_LE(slp, 1400);
    }
  }
  EXPECT_EQ(functions, (std::set<std::string>{"1", "2", "3", "4", "5", "6", "7", "9", "10", "11"}));

  const Row* reg = findRow(rows, "3", "srvloc.url.url", "service:conf.x://192.0.2.1:5000");
  ASSERT_NE(reg, nullptr);
  EXPECT_EQ(reg->at("srvloc.srvreq.srvtype"), "service:conf.x");
  EXPECT_EQ(reg->at("srvloc.srvreq.attrlist"), "(public_key=0),(name=conformance)");
  EXPECT_EQ(reg->at("srvloc.flags_v2"), "0x4000");

  const Row* remote = findRow(rows, "2", "srvloc.url.url", "service:conf.x://192.0.2.2:5000");
  ASSERT_NE(remote, nullptr) << "the peer's SrvRply on vt0";
  EXPECT_EQ(remote->at("frame.interface_name"), "vt0");

  EXPECT_NE(findRow(rows, "4", "srvloc.url.url", "service:conf.x://192.0.2.1:5000"), nullptr);
  bool sawMulticast = false;
  for (const Row& r : rows) {
    if (r.at("srvloc.function") == "1" && r.at("frame.interface_name") == "vt0" &&
        r.at("srvloc.srvreq.srvtypelist") == "service:conf.x") {
      sawMulticast = true;
      EXPECT_EQ(r.at("srvloc.flags_v2"), "0x2000");
      EXPECT_EQ(r.at("srvloc.srvreq.prlist").find("127."), std::string::npos);
      EXPECT_NE(r.at("srvloc.srvreq.prlist").find("192.0.2.1"), std::string::npos)
          << "the local agent, asked by TCP, is listed";
    }
  }
  EXPECT_TRUE(sawMulticast);

  EXPECT_NE(findRow(rows, "7", "srvloc.attrrply.attrlist", "(public_key=0),(name=peer)"), nullptr);
  EXPECT_NE(findRow(rows, "11", "srvloc.saadvert.url", "service:service-agent://192.0.2.2"),
            nullptr);
  bool typeListed = false;
  bool overflow = false;
  for (const Row& r : rows) {
    typeListed |=
        r.at("srvloc.srvtyperply.srvtypelist").find("service:conf.x") != std::string::npos;
    overflow |= r.at("srvloc.function") == "2" && r.at("srvloc.flags_v2") == "0x8000" &&
                !r.at("udp.length").empty();
  }
  EXPECT_TRUE(typeListed);
  EXPECT_TRUE(overflow) << "a truncated SrvRply with OVERFLOW set";
}

}  // namespace
}  // namespace vslp
