// Entry point: hands the arguments to the run and returns its exit status.
#include <cstdio>
#include <string>
#include <vector>

#include "driver/run.h"
#include "os/process.h"

int main(int argc, char** argv) {
  takeloom::PrepareProcess();
  const std::vector<std::string> args(argv + 1, argv + argc);
  return takeloom::RunTakeloom(args, stdout);
}
