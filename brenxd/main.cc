// brenxd: the workstation creation agent.
#include "brenxd/brenxd_main.h"

int main(int argc, char** argv) {
  return brenxd::runBrenxd(argc, argv);
}
