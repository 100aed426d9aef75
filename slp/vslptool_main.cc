// vslptool: finds and registers SLP services from the command line.
#include <string>
#include <vector>

#include "slp/tool.h"

int main(int argc, char** argv) {
  return vslp::runTool(std::vector<std::string>(argv + 1, argv + argc));
}
