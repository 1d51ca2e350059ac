#include <sys/wait.h>

#include <cstdio>

#include "tests/server/server_process.h"

int RunProgram(const std::vector<std::string>& args, std::string& output) {
  std::string command;
  for (const std::string& a : args) command += "'" + a + "' ";
  command += "2>&1";
  FILE* pipe = popen(command.c_str(), "re");  // not inherited by programs other threads start
  if (pipe == nullptr) return -1;
  char buffer[4096];
  size_t n;
  output.clear();
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
  int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
