#include <cstdio>

#include "platform/platform.h"
#include "run/driver.h"

int main(int argc, char** argv) {
  platform::HardenProcess();
  return RunPass(argc, argv, stdout, stderr);
}
