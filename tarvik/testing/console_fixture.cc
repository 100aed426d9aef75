#include "tarvik/testing/console_fixture.h"

#include <stdlib.h>

#include <fstream>

#include <sys/stat.h>

namespace tarvik_test {

std::string tarvikPath() {
  const char* build = std::getenv("NVO_BUILD_DIR");
  return (std::filesystem::path(build != nullptr ? build : "build") / "bin" / "tarvik").string();
}

void writeAuthenticationFile(const std::filesystem::path& path, const std::string& url,
                             const std::string& dn, const std::string& password) {
  {
    std::ofstream file(path);
    file << "<?xml version='1.0' encoding='UTF-8'?><authentication><gateway><url>" << url
         << "</url><authname>" << dn << "</authname><password>" << password
         << "</password><objectname>" << dn
         << "</objectname><primaryGateway/></gateway></authentication>\n";
  }
  std::filesystem::permissions(
      path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

void ConsoleTest::SetUp() {
  if (const std::string missing = nvo_test::SlapdServer::missingPieces(); !missing.empty()) {
    GTEST_SKIP() << missing;
  }
  if (TmuxTerminal::tmuxPath().empty()) {
    GTEST_SKIP() << "tmux is not installed";
  }
  nvo_test::SlapdOptions options;
  options.directoryModel = true;
  options.demoData = true;
  options.extraLdif = extraLdif_;
  server_ = std::make_unique<nvo_test::SlapdServer>(options);
  std::string pattern = (std::filesystem::temp_directory_path() / "tarvik-test-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  dir_ = pattern;
}

void ConsoleTest::TearDown() {
  std::error_code ignored;
  if (!dir_.empty()) {
    std::filesystem::remove_all(dir_, ignored);
  }
}

std::unique_ptr<TmuxTerminal> ConsoleTest::startConsole(bool sessionFile,
                                                        const std::vector<std::string>& extraEnv) {
  // A fixed line editor (no user's inputrc), a UTF-8 locale, and a home and cache of the test's.
  std::vector<std::string> env{"INPUTRC=/dev/null", "LC_ALL=C.UTF-8", "HOME=" + dir_.string(),
                               "XDG_CACHE_HOME=" + (dir_ / "cache").string()};
  if (sessionFile) {
    const std::filesystem::path file = dir_ / "authentication.xml";
    writeAuthenticationFile(file, server_->uri(), nvo_test::SlapdServer::kAdminDn,
                            nvo_test::SlapdServer::kAdminPassword);
    env.push_back("NVO_AUTHENTICATION=" + file.string());
  } else {
    env.push_back("-NVO_AUTHENTICATION");
  }
  env.insert(env.end(), extraEnv.begin(), extraEnv.end());
  return std::make_unique<TmuxTerminal>(std::vector<std::string>{tarvikPath()}, env);
}

}  // namespace tarvik_test
