// pellorin-archive: see archive_tool.h for the commands.
#include <iostream>
#include <string>
#include <vector>

#include "tools/archive/archive_tool.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return RunArchiveTool(args, std::cout, std::cerr);
}
