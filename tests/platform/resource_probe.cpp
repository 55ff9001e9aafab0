// Prints the size and first line of the resources it is asked for, or "none".

#include <cstdio>
#include <string>

#include "platform/resources.h"

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    auto bytes = platform::find_resource(argv[i]);
    if (!bytes) {
      std::printf("%s: none\n", argv[i]);
      continue;
    }
    std::string text(bytes->begin(), bytes->end());
    std::printf("%s: %zu %s\n", argv[i], bytes->size(), text.substr(0, text.find_first_of("\r\n")).c_str());
  }
  return 0;
}
