// What the tests read inside CgiHandler, which declares this struct its
// friend: how many requests took the reply of an identical read.
#pragma once

#include <cstddef>

#include "cgi_handler.h"

namespace ktr::test {

struct CgiTestAccess {
  static std::size_t Joined(const CgiHandler& cgi) { return cgi.SharedReplies(); }
};

}  // namespace ktr::test
