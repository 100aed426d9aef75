// tolmd: the event notification daemon.
#include "tolmd/tolmd_main.h"

int main(int argc, char** argv) {
  return tolmd::runTolmd(argc, argv);
}
