#include "driver/run.h"

#include "driver/setup.h"

namespace takeloom {
namespace {

int Fail(const std::string& message, std::FILE* out) {
  std::fputs(message.c_str(), out);
  std::fflush(out);
  return 1;
}

}  // namespace

int RunTakeloom(const std::vector<std::string>& args, std::FILE* out) {
  std::fputs("\nTakeloom 2.00 by Quorvane\n\n", out);
  BuildState state;
  state.suffix = SuffixFromArgs(args);
  std::string err;
  if (!LoadInputs(&state, out, &err)) return Fail(err, out);
  std::fflush(out);
  return 0;
}

}  // namespace takeloom
