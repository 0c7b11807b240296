#include <cstdio>

#include "run/driver.h"

int main(int argc, char** argv) {
  return RunPass(argc, argv, stdout, stderr);
}
