// A read as the pipeline hands it over: the sequence and its reverse
// complement, owned here.
#pragma once

#include <cstring>
#include <memory>
#include <vector>

#include "fm/mapper/mapper_read.h"
#include "fm/runtime/sequence.h"

namespace ryx_test {

struct OwnedRead {
  explicit OwnedRead(const std::vector<unsigned char> &codes) {
    forward.reset(Sequence::create(static_cast<unsigned int>(codes.size()), false, nullptr));
    if (!codes.empty()) std::memcpy(forward->symbols, codes.data(), codes.size());
    forward->symbols[codes.size()] = 255;
    reverse.reset(forward->copy());
    reverse->reverse();
    read.assign(forward.get(), reverse.get());
  }
  std::unique_ptr<Sequence> forward;
  std::unique_ptr<Sequence> reverse;
  MapperRead read;
};

}  // namespace ryx_test
