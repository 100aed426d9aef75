// The two forms of the schema stay one schema: nvo.schema converted by slapd's own tools into
// cn=config, and nvo.ldif loaded into cn=config, give the same attribute types and object
// classes, and both load without error.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/slapd_server.h"

namespace {

namespace fs = std::filesystem;

using nvo_test::ProcessResult;

// The schema values slapcat shows for cn={1}nvo, blanks collapsed.
std::vector<std::string> schemaValues(const fs::path& configDir) {
  const ProcessResult dump =
      nvo_test::runCommand({"/usr/sbin/slapcat", "-n0", "-F", configDir.string(), "-a",
                            "(cn={1}nvo)", "-o", "ldif-wrap=no"});
  EXPECT_EQ(dump.exitCode, 0) << dump.err;
  std::vector<std::string> values;
  std::istringstream lines(dump.out);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind("olcAttributeTypes:", 0) != 0 && line.rfind("olcObjectClasses:", 0) != 0) {
      continue;
    }
    std::string collapsed;
    for (char c : line) {
      if (c != ' ' || collapsed.empty() || collapsed.back() != ' ') {
        collapsed += c;
      }
    }
    values.push_back(collapsed);
  }
  return values;
}

TEST(SchemaFormsTest, SchemaFileAndConfigLdifAgree) {
  const std::string missing = nvo_test::SlapdServer::missingPieces();
  if (!missing.empty()) {
    GTEST_SKIP() << "needs the Debian package slapd; missing: " << missing;
  }
  const char* source = std::getenv("NVO_SOURCE_DIR");
  ASSERT_NE(source, nullptr);
  const fs::path schema = fs::path(source) / "gateway/schema";
  std::string pattern = (fs::temp_directory_path() / "nvo-schema-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  const fs::path dir = pattern;
  fs::create_directories(dir / "from-schema");
  fs::create_directories(dir / "from-ldif");

  std::ofstream(dir / "slapd.conf") << "include /etc/ldap/schema/core.schema\ninclude "
                                    << (schema / "nvo.schema").string() << "\n";
  const ProcessResult converted =
      nvo_test::runCommand({"/usr/sbin/slaptest", "-f", (dir / "slapd.conf").string(), "-F",
                            (dir / "from-schema").string()});
  ASSERT_EQ(converted.exitCode, 0) << converted.err;

  std::ofstream(dir / "config.ldif")
      << "dn: cn=config\nobjectClass: olcGlobal\ncn: config\n\n"
         "dn: cn=schema,cn=config\nobjectClass: olcSchemaConfig\ncn: schema\n\n"
         "include: file:///etc/ldap/schema/core.ldif\n\ninclude: file://"
      << (schema / "nvo.ldif").string() << "\n";
  const ProcessResult loaded =
      nvo_test::runCommand({"/usr/sbin/slapadd", "-n0", "-F", (dir / "from-ldif").string(), "-l",
                            (dir / "config.ldif").string()});
  ASSERT_EQ(loaded.exitCode, 0) << loaded.err;

  const std::vector<std::string> fromSchema = schemaValues(dir / "from-schema");
  EXPECT_EQ(fromSchema.size(), 17u + 9u);  // attribute types and object classes
  EXPECT_EQ(schemaValues(dir / "from-ldif"), fromSchema);
  fs::remove_all(dir);
}

}  // namespace
