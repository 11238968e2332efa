// Feeds arbitrary bytes to the request parser, whole and split at a point taken from the input,
// and checks that the incremental assembler agrees with the pure parser.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "hooks/RequestParser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const tallyloft::Parse whole = tallyloft::parseBody(bytes);
  if (whole.kind == tallyloft::Parse::Kind::complete && whole.body.size() > bytes.size()) {
    std::abort();
  }
  const std::size_t split = size == 0 ? 0 : data[0] % (size + 1);
  tallyloft::RequestAssembler assembler;
  assembler.append(bytes.substr(0, split));
  if (assembler.kind() != tallyloft::parseBody(bytes.substr(0, split)).kind) std::abort();
  assembler.append(bytes.substr(split));
  if (assembler.kind() != whole.kind) std::abort();
  if (whole.kind == tallyloft::Parse::Kind::complete && assembler.body() != whole.body) {
    std::abort();
  }
  // The server keeps one assembler for the first receive of every peer: after a reset it must
  // remember nothing of the peer before.
  static tallyloft::RequestAssembler reused;
  reused.reset();
  reused.append(bytes);
  if (reused.kind() != whole.kind) std::abort();
  if (whole.kind == tallyloft::Parse::Kind::complete && reused.body() != whole.body) std::abort();
  return 0;
}
