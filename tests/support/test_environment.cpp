// Settings of the user running the tests are never touched: the whole test program gets
// its own configuration folder. The driver module is looked for beside the program.
#include <stdlib.h>

#include <string>

#include "hw/driver_loader.h"

namespace {

struct TTestEnvironment {
  TTestEnvironment() {
    char dir[] = "/tmp/varnix-test-config-XXXXXX";
    if (mkdtemp(dir)) setenv("XDG_CONFIG_HOME", dir, 1);
    const std::string binary = VARNIX_BINARY;
    hw::SetProgramFolder(binary.substr(0, binary.find_last_of('/')));
  }
};

const TTestEnvironment g_environment;

}  // namespace
