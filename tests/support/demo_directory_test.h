// DemoDirectoryTest: a GoogleTest fixture whose suite shares one private slapd holding the
// gateway's schema, access rules and demo data (SlapdServer with directoryModel and demoData).
// Each test is skipped when slapd or its tools are missing. Tests that change demo entries
// leave what the next test of the suite relies on, or work in their own containers.
#ifndef TESTS_SUPPORT_DEMO_DIRECTORY_TEST_H_
#define TESTS_SUPPORT_DEMO_DIRECTORY_TEST_H_

#include <memory>

#include <gtest/gtest.h>

#include "tests/support/slapd_server.h"

namespace nvo_test {

class DemoDirectoryTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!SlapdServer::missingPieces().empty()) {
      return;
    }
    SlapdOptions options;
    options.directoryModel = true;
    options.demoData = true;
    server_ = std::make_unique<SlapdServer>(options);
  }
  static void TearDownTestSuite() { server_.reset(); }
  void SetUp() override {
    if (server_ == nullptr) {
      GTEST_SKIP() << "needs " << SlapdServer::missingPieces();
    }
  }

  // One per test suite (GoogleTest runs suites one after the other).
  static inline std::unique_ptr<SlapdServer> server_;
};

}  // namespace nvo_test

#endif  // TESTS_SUPPORT_DEMO_DIRECTORY_TEST_H_
