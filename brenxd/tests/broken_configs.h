// Configuration files the agent must refuse, each with the error text it reads them with;
// shared by the syncer's unit test and the agent's end-to-end test.
#ifndef BRENXD_TESTS_BROKEN_CONFIGS_H_
#define BRENXD_TESTS_BROKEN_CONFIGS_H_

#include <string>
#include <vector>

namespace brenxd_test {

struct BrokenConfig {
  std::string text;
  std::string error;
};

inline std::vector<BrokenConfig> brokenConfigs() {
  const std::string gateway =
      "<gateway><authname>a</authname><password>p</password><objectname>o</objectname>"
      "<primaryGateway/></gateway>";
  return {
      {"<a><authentication", "Invalid XML in configuration file: No root tag"},
      {"", "Invalid XML in configuration file: No root tag"},
      {"<a><workstationcreation/></a>", "Invalid XML in configuration file: No authentication tag"},
      {"<a><authentication><gateway><authname>a</authname></gateway></authentication></a>",
       "Invalid XML in configuration file: No primary gateway"},
      {"<a><authentication><gateway><primaryGateway/><password>p</password><objectname>o"
       "</objectname></gateway></authentication></a>",
       "Invalid XML in configuration file: No gateway authname"},
      {"<a><authentication><gateway><primaryGateway/><authname>a</authname><objectname>o"
       "</objectname></gateway></authentication></a>",
       "Invalid XML in configuration file: No gateway password"},
      {"<a><authentication><gateway><primaryGateway/><authname>a</authname><password>p"
       "</password></gateway></authentication></a>",
       "Invalid XML in configuration file: No gateway objectname"},
      {"<a><authentication>" + gateway + "</authentication></a>",
       "workstationcreation tag not found in configuration"},
  };
}

}  // namespace brenxd_test

#endif  // BRENXD_TESTS_BROKEN_CONFIGS_H_
