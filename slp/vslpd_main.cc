// vslpd: the SLPv2 service agent daemon.
#include <string>
#include <vector>

#include "slp/daemon.h"

int main(int argc, char** argv) {
  return vslp::runDaemon(std::vector<std::string>(argv + 1, argv + argc));
}
