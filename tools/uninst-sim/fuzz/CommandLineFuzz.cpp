// libFuzzer target for the command line: the program name is stripped within
// the text, double-byte characters included, and the switches are read in
// place without leaving their buffer. The first byte picks the code page.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/Startup.h"
#include "app/Switches.h"
#include "platform/sim/SimMachine.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace uninst;
  if (size == 0) return 0;
  sim::SimMachine machine;
  machine.Config().oemCodePage = (data[0] & 1) ? 932 : 437;
  machine.Config().ansiCodePage = (data[0] & 1) ? 932 : sim::kWesternAnsiCodePage;
  const std::string line(reinterpret_cast<const char*>(data + 1), size - 1);
  const char* begin = line.c_str();
  const char* end = begin + std::strlen(begin);
  const char* rest = StripProgramName(begin, machine);
  if (rest < begin || rest > end) std::abort();
  if (*rest != '\0' && static_cast<unsigned char>(*rest) <= 0x20) std::abort();

  std::vector<char> buffer(rest, end + 1);
  const Switches switches = ReadSwitches(buffer.data(), machine);
  if (switches.directoryGiven &&
      (switches.directory < buffer.data() || switches.directory >= buffer.data() + buffer.size())) {
    std::abort();
  }
  return 0;
}
