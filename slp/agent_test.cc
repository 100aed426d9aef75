#include "slp/agent.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include "slp/codec.h"

namespace vslp {
namespace {

constexpr uint32_t kLoopback = 0x7f000001;
constexpr uint32_t kOwn = 0xc0000201;     // 192.0.2.1
constexpr uint32_t kRemote = 0xc0000202;  // 192.0.2.2

RequestContext localTcp() {
  return RequestContext{{kLoopback, 40000}, kLoopback, false, true, true};
}
RequestContext remoteTcp() {
  return RequestContext{{kRemote, 40000}, kOwn, false, true, false};
}
RequestContext remoteUdp() {
  return RequestContext{{kRemote, 40000}, kOwn, false, false, false};
}
RequestContext multicast() {
  return RequestContext{{kRemote, 40000}, kOwn, true, false, false};
}

class AgentTest : public ::testing::Test {
 protected:
  AgentTest() { agent_.setOwnAddresses({kLoopback, kOwn}); }

  std::optional<Message> send(const Message& m, const RequestContext& ctx) {
    return sendBytes(encode(m), ctx);
  }
  std::optional<Message> sendBytes(const std::vector<uint8_t>& bytes, const RequestContext& ctx) {
    auto reply = agent_.handle(bytes, ctx, now_);
    if (!reply) {
      return std::nullopt;
    }
    lastReplySize_ = reply->bytes.size();
    lastEndsExchange_ = reply->endsExchange;
    DecodeResult d = decode(reply->bytes);
    EXPECT_TRUE(d.message) << d.reason;
    return d.message;
  }
  uint16_t registerUrl(const std::string& url, const std::string& attrs,
                       const RequestContext& ctx = localTcp(), const std::string& lang = "en") {
    SrvReg reg{UrlEntry{300, url, {}}, "service:tolm.x", "DEFAULT", attrs, {}};
    auto reply = send(Message{Header{kFlagFresh, 1, lang, {}}, reg}, ctx);
    return reply ? std::get<SrvAck>(reply->body).error : 0xffff;
  }
  static Message request(Body body, uint16_t flags = 0) {
    return Message{Header{flags, 0x5151, "en", {}}, std::move(body)};
  }

  DaemonSettings settings_;
  RegistrationStore store_{StoreLimits{}, "DEFAULT"};
  Agent agent_{settings_, store_};
  Clock::time_point now_ = Clock::now();
  size_t lastReplySize_ = 0;
  bool lastEndsExchange_ = false;
};

TEST_F(AgentTest, RegistersFromThisHostAndAnswersSrvRqst) {
  ASSERT_EQ(registerUrl("service:tolm.x://192.0.2.1:3456", "(public_key=0)"), kOk);
  for (const char* type : {"service:tolm.x", "tolm.x", "SERVICE:Tolm.X"}) {
    auto reply = send(request(SrvRqst{"", type, "DEFAULT", "", ""}), remoteUdp());
    ASSERT_TRUE(reply) << type;
    EXPECT_EQ(reply->header.xid, 0x5151);
    const auto& r = std::get<SrvRply>(reply->body);
    EXPECT_EQ(r.error, kOk);
    ASSERT_EQ(r.urls.size(), 1u) << type;
    EXPECT_EQ(r.urls[0].url, "service:tolm.x://192.0.2.1:3456");
    EXPECT_EQ(r.urls[0].lifetime, 300);
  }
}

TEST_F(AgentTest, RefusesRegistrationsFromOtherHostsAndByMulticast) {
  EXPECT_EQ(registerUrl("service:tolm.x://a", ""), kOk);
  EXPECT_EQ(registerUrl("service:tolm.x://b", "", remoteTcp()), kAuthenticationFailed);
  EXPECT_EQ(registerUrl("service:tolm.x://c", "", remoteUdp()), 0xffff) << "UDP: no answer";
  EXPECT_EQ(registerUrl("service:tolm.x://d", "", multicast()), 0xffff);
  SrvDeReg dereg{"DEFAULT", UrlEntry{0, "service:tolm.x://a", {}}, ""};
  auto reply = send(request(dereg), remoteTcp());
  ASSERT_TRUE(reply);
  EXPECT_EQ(std::get<SrvAck>(reply->body).error, kAuthenticationFailed);
  ASSERT_EQ(store_.size(), 1u);
  EXPECT_EQ(store_.all()[0].url, "service:tolm.x://a");
}

TEST_F(AgentTest, StaysSilentTowardsMulticastItCannotAnswer) {
  ASSERT_EQ(registerUrl("service:tolm.x://a", "(public_key=0)"), kOk);
  Message miss = request(SrvRqst{"", "service:none", "DEFAULT", "", ""}, kFlagMcast);
  EXPECT_FALSE(send(miss, multicast())) << "no match";
  auto unicastMiss = send(request(SrvRqst{"", "service:none", "DEFAULT", "", ""}), remoteUdp());
  ASSERT_TRUE(unicastMiss);
  EXPECT_TRUE(std::get<SrvRply>(unicastMiss->body).urls.empty());

  Message listed =
      request(SrvRqst{"192.0.2.9,192.0.2.1", "service:tolm.x", "DEFAULT", "", ""}, kFlagMcast);
  EXPECT_FALSE(send(listed, multicast())) << "listed as previous responder";
  Message other = request(SrvRqst{"192.0.2.9", "service:tolm.x", "DEFAULT", "", ""}, kFlagMcast);
  EXPECT_TRUE(send(other, multicast()));

  Message badFilter = request(SrvRqst{"", "service:tolm.x", "DEFAULT", "(x=", ""}, kFlagMcast);
  EXPECT_FALSE(send(badFilter, multicast()));
  Message badScope = request(SrvRqst{"", "service:tolm.x", "elsewhere", "", ""}, kFlagMcast);
  EXPECT_FALSE(send(badScope, multicast()));
  auto mcastFlagOnUnicast = send(miss, remoteUdp());
  EXPECT_FALSE(mcastFlagOnUnicast) << "the multicast flag alone means multicast rules";
}

// Regression: a client listed its own 127.0.0.1, which silenced every other host's agent.
TEST_F(AgentTest, LoopbackEntriesInThePreviousResponderListNameNoHost) {
  ASSERT_EQ(registerUrl("service:tolm.x://a", ""), kOk);
  Message rq =
      request(SrvRqst{"127.0.0.1,192.0.2.9", "service:tolm.x", "DEFAULT", "", ""}, kFlagMcast);
  EXPECT_TRUE(send(rq, multicast()));
}

TEST_F(AgentTest, AnswersUnicastErrorsWithTheirCodes) {
  struct Case {
    const char* name;
    SrvRqst rq;
    uint16_t code;
  };
  const Case cases[] = {
      {"no type", {"", "", "DEFAULT", "", ""}, kParseError},
      {"bad filter", {"", "service:x", "DEFAULT", "(a=", ""}, kParseError},
      {"unknown SPI", {"", "service:x", "DEFAULT", "", "spi"}, kAuthenticationUnknown},
      {"foreign scope", {"", "service:x", "other", "", ""}, kScopeNotSupported},
      {"no scope", {"", "service:x", "", "", ""}, kScopeNotSupported},
  };
  for (const Case& c : cases) {
    auto reply = send(request(c.rq), remoteUdp());
    ASSERT_TRUE(reply) << c.name;
    EXPECT_EQ(std::get<SrvRply>(reply->body).error, c.code) << c.name;
  }
  std::vector<uint8_t> bad = encode(request(SrvRqst{"", "service:x", "DEFAULT", "", ""}));
  bad[6] = 1;  // reserved flag bit
  auto reply = sendBytes(bad, remoteUdp());
  ASSERT_TRUE(reply);
  EXPECT_EQ(std::get<SrvRply>(reply->body).error, kParseError);
  EXPECT_EQ(reply->header.xid, 0x5151);
  EXPECT_FALSE(sendBytes(bad, multicast()));

  Message mandatory = request(SrvRqst{"", "service:x", "DEFAULT", "", ""});
  mandatory.header.extensions.push_back(Extension{0x4001, {}});
  reply = send(mandatory, remoteTcp());
  ASSERT_TRUE(reply);
  EXPECT_EQ(std::get<SrvRply>(reply->body).error, kOptionNotUnderstood);
  EXPECT_FALSE(send(request(SrvAck{0}), remoteUdp())) << "replies are not requests";
  EXPECT_FALSE(sendBytes({2, 1, 0}, remoteUdp())) << "unreadable header";
}

TEST_F(AgentTest, TruncatesUdpRepliesToTheMtuAndSendsAllOverTcp) {
  for (int i = 0; i < 200; ++i) {
    ASSERT_EQ(registerUrl("service:tolm.x://10.0.0." + std::to_string(i) + ":3456", ""), kOk);
  }
  Message rq = request(SrvRqst{"", "service:tolm.x", "DEFAULT", "", ""});
  auto udp = send(rq, remoteUdp());
  ASSERT_TRUE(udp);
  EXPECT_LE(lastReplySize_, 1400u);
  EXPECT_NE(udp->header.flags & kFlagOverflow, 0);
  EXPECT_LT(std::get<SrvRply>(udp->body).urls.size(), 200u);
  auto tcp = send(rq, remoteTcp());
  ASSERT_TRUE(tcp);
  EXPECT_EQ(tcp->header.flags & kFlagOverflow, 0);
  EXPECT_EQ(std::get<SrvRply>(tcp->body).urls.size(), 200u);
}

TEST_F(AgentTest, AnswersDirectoryAndServiceAgentDiscovery) {
  auto da = send(request(SrvRqst{"", "service:directory-agent", "DEFAULT", "", ""}), localTcp());
  ASSERT_TRUE(da);
  EXPECT_EQ(da->function(), Function::kSrvRply);
  EXPECT_EQ(std::get<SrvRply>(da->body).error, kOk);
  EXPECT_TRUE(std::get<SrvRply>(da->body).urls.empty());
  EXPECT_TRUE(lastEndsExchange_) << "the asker reads until the agent closes";
  ASSERT_TRUE(send(request(SrvRqst{"", "DIRECTORY-AGENT", "", "", ""}), localTcp()));
  EXPECT_TRUE(lastEndsExchange_);
  ASSERT_TRUE(send(request(SrvRqst{"", "service:directory-agent", "", "", ""}), remoteUdp()));
  EXPECT_FALSE(lastEndsExchange_) << "UDP has no connection to end";
  ASSERT_TRUE(send(request(SrvRqst{"", "service:tolm.x", "DEFAULT", "", ""}), localTcp()));
  EXPECT_FALSE(lastEndsExchange_) << "other requests leave the connection open";
  EXPECT_FALSE(
      send(request(SrvRqst{"", "service:directory-agent", "", "", ""}, kFlagMcast), multicast()));

  auto sa = send(request(SrvRqst{"", "service:service-agent", "default", "", ""}, kFlagMcast),
                 multicast());
  ASSERT_TRUE(sa);
  ASSERT_EQ(sa->function(), Function::kSaAdvert);
  EXPECT_EQ(std::get<SaAdvert>(sa->body).url, "service:service-agent://192.0.2.1");
  EXPECT_EQ(std::get<SaAdvert>(sa->body).scopes, "DEFAULT");
  EXPECT_TRUE(
      send(request(SrvRqst{"", "service:service-agent", "", "", ""}, kFlagMcast), multicast()));
  EXPECT_FALSE(send(request(SrvRqst{"", "service:service-agent", "other", "", ""}, kFlagMcast),
                    multicast()));
}

TEST_F(AgentTest, AnswersAttributeRequests) {
  ASSERT_EQ(registerUrl("service:tolm.x://a", "(public_key=0),(name=A)"), kOk);
  ASSERT_EQ(registerUrl("service:tolm.x://b", "(public_key=1),(name=B)"), kOk);
  ASSERT_EQ(registerUrl("service:tolm.x://c", "(public_key=2)", localTcp(), "de"), kOk);
  auto attrs = [&](const std::string& url, const std::string& tags, const RequestContext& ctx,
                   const std::string& lang = "en") -> std::optional<AttrRply> {
    Message m{Header{0, 9, lang, {}}, AttrRqst{"", url, "DEFAULT", tags, ""}};
    auto reply = send(m, ctx);
    if (!reply) {
      return std::nullopt;
    }
    return std::get<AttrRply>(reply->body);
  };
  EXPECT_EQ(attrs("service:tolm.x://a", "", remoteUdp())->attrs, "(public_key=0),(name=A)");
  EXPECT_EQ(attrs("service:tolm.x://a", "public_key", remoteUdp())->attrs, "(public_key=0)");
  EXPECT_EQ(attrs("service:tolm.x://a", "nam*", remoteUdp())->attrs, "(name=A)");
  EXPECT_EQ(attrs("tolm.x", "public_key", remoteUdp())->attrs, "(public_key=0,1,2)");
  EXPECT_EQ(attrs("service:tolm.x://c", "", remoteUdp())->error, kLanguageNotSupported);
  EXPECT_EQ(attrs("service:tolm.x://c", "", remoteUdp(), "de")->attrs, "(public_key=2)");
  EXPECT_EQ(attrs("service:tolm.x://zz", "", remoteUdp())->attrs, "");
  EXPECT_FALSE(attrs("service:tolm.x://zz", "", multicast()));
  EXPECT_FALSE(attrs("service:tolm.x://a", "missing", multicast()));
  EXPECT_EQ(attrs("", "", remoteUdp())->error, kParseError);
  EXPECT_EQ(attrs("service:tolm.x://a", "a(b", remoteUdp())->error, kParseError);
}

TEST_F(AgentTest, MatchesPredicatesOnlyInTheRequestLanguage) {
  ASSERT_EQ(registerUrl("service:tolm.x://en", "(public_key=0)"), kOk);
  ASSERT_EQ(registerUrl("service:tolm.x://de", "(public_key=0)", localTcp(), "de"), kOk);
  auto find = [&](const std::string& filter, const std::string& lang) {
    Message m{Header{0, 9, lang, {}}, SrvRqst{"", "tolm.x", "DEFAULT", filter, ""}};
    return std::get<SrvRply>(send(m, remoteUdp())->body).urls.size();
  };
  EXPECT_EQ(find("", "en"), 2u) << "without a predicate language does not matter";
  EXPECT_EQ(find("(public_key=0)", "en-GB"), 1u);
  EXPECT_EQ(find("(public_key=0)", "de"), 1u);
  EXPECT_EQ(find("(public_key=1)", "en"), 0u);
}

// RFC 2608: a type registered in the request's scope, but only in other languages, is
// answered with LANGUAGE_NOT_SUPPORTED (silence by multicast), as for attribute requests.
TEST_F(AgentTest, AnswersLanguageNotSupportedForATypeOnlyInOtherLanguages) {
  ASSERT_EQ(registerUrl("service:tolm.x://de", "(public_key=0)", localTcp(), "de"), kOk);
  auto find = [&](const std::string& filter, const std::string& lang, const RequestContext& ctx,
                  const std::string& type = "tolm.x") -> std::optional<SrvRply> {
    Message m{Header{0, 9, lang, {}}, SrvRqst{"", type, "DEFAULT", filter, ""}};
    auto reply = send(m, ctx);
    if (!reply) {
      return std::nullopt;
    }
    return std::get<SrvRply>(reply->body);
  };
  struct Case {
    const char* filter;
    const char* lang;
    uint16_t error;
    size_t urls;
  };
  for (const Case& c : {Case{"", "en", kLanguageNotSupported, 0},
                        Case{"(public_key=0)", "en", kLanguageNotSupported, 0},
                        Case{"(public_key=0)", "de-AT", kOk, 1}, Case{"", "DE", kOk, 1},
                        Case{"(public_key=1)", "de", kOk, 0}}) {
    auto r = find(c.filter, c.lang, remoteUdp());
    ASSERT_TRUE(r) << c.filter << " " << c.lang;
    EXPECT_EQ(r->error, c.error) << c.filter << " " << c.lang;
    EXPECT_EQ(r->urls.size(), c.urls) << c.filter << " " << c.lang;
  }
  EXPECT_FALSE(find("", "en", multicast())) << "errors are not multicast";
  EXPECT_EQ(find("", "en", remoteUdp(), "printer")->error, kOk) << "no such type at all";
  ASSERT_EQ(registerUrl("service:tolm.x://en", "(public_key=1)"), kOk);
  EXPECT_EQ(find("(public_key=0)", "en", remoteUdp())->error, kOk) << "registered in en too";
  EXPECT_EQ(find("(public_key=0)", "en", remoteUdp())->urls.size(), 0u);
}

TEST_F(AgentTest, ListsServiceTypesByNamingAuthority) {
  ASSERT_EQ(registerUrl("service:tolm.x://a", ""), kOk);
  SrvReg lpr{
      UrlEntry{300, "service:printer:lpr://p", {}}, "service:printer:lpr", "DEFAULT", "", {}};
  ASSERT_TRUE(send(Message{Header{kFlagFresh, 1, "en", {}}, lpr}, localTcp()));
  auto types = [&](std::optional<std::string> na) {
    auto reply = send(request(SrvTypeRqst{"", na, "DEFAULT"}), remoteUdp());
    return std::get<SrvTypeRply>(reply->body).types;
  };
  EXPECT_EQ(types(std::nullopt), "service:tolm.x,service:printer:lpr");
  EXPECT_EQ(types(std::string("")), "service:printer:lpr");
  EXPECT_EQ(types(std::string("X")), "service:tolm.x");
  EXPECT_FALSE(
      send(request(SrvTypeRqst{"", std::string("none"), "DEFAULT"}, kFlagMcast), multicast()));
}

TEST_F(AgentTest, BindsRegistrationsToTheProcessInThePidExtension) {
  SrvReg reg{UrlEntry{65535, "service:tolm.x://p", {}}, "service:tolm.x", "DEFAULT", "", {}};
  Message m{Header{kFlagFresh, 1, "en", {}}, reg};
  auto pid = static_cast<uint32_t>(::getpid());
  m.header.extensions.push_back(
      Extension{kPidWatchExtension,
                {uint8_t(pid >> 24), uint8_t(pid >> 16), uint8_t(pid >> 8), uint8_t(pid)}});
  auto reply = send(m, localTcp());
  ASSERT_TRUE(reply);
  ASSERT_EQ(std::get<SrvAck>(reply->body).error, kOk);
  ASSERT_TRUE(store_.all()[0].process);
  EXPECT_EQ(store_.all()[0].process->pid, static_cast<pid_t>(pid));
}

TEST_F(AgentTest, DeregistersAndReportsUnknownUrls) {
  ASSERT_EQ(registerUrl("service:tolm.x://a", "(a=1),(b=2)"), kOk);
  auto dereg = [&](const std::string& url, const std::string& tags) {
    auto reply = send(request(SrvDeReg{"DEFAULT", UrlEntry{0, url, {}}, tags}), localTcp());
    return std::get<SrvAck>(reply->body).error;
  };
  EXPECT_EQ(dereg("service:tolm.x://a", "a"), kOk);
  EXPECT_EQ(store_.all()[0].attrs.toWire(), "(b=2)");
  EXPECT_EQ(dereg("service:tolm.x://a", ""), kOk);
  EXPECT_EQ(dereg("service:tolm.x://a", ""), kInvalidRegistration);
}

}  // namespace
}  // namespace vslp
