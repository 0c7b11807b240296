#include <cstdio>
#include <string>
#include <vector>

#include "platform/process.h"
#include "run/driver.h"

int main(int argc, char** argv) {
  platform::HardenProcess();
  const std::vector<std::string> args = platform::CommandLine(argc, argv);
  std::vector<const char*> pointers;
  for (const std::string& arg : args) pointers.push_back(arg.c_str());
  return run::RunPass(static_cast<int>(pointers.size()), pointers.data(), stdout,
                 stderr);
}
