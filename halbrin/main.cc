// halbrin: prepares an LDAP directory to hold the software repository. See README.md.
#include <cstdlib>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "halbrin/ldap_connection.h"
#include "halbrin/repository_setup.h"

int main(int argc, char** argv) {
  try {
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    return halbrin::runRepositorySetup(args, &halbrin::LdapConnection::open, std::cout);
  } catch (const std::exception& e) {
    std::cerr << "halbrin: " << e.what() << '\n';
    return EXIT_FAILURE;
  }
}
