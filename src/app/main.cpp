#include "app/cli/cli.h"

int main(int argc, char** argv) { return app::RunCommandLine(argc, argv); }
