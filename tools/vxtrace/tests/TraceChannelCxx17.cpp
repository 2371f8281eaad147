// The channel header is public: it must build as C++17, and its two spellings of each
// piece of a line must agree.
#include "vx380/TraceChannel.h"

namespace ch = vx380::channel;

template <class Text>
constexpr bool SameBothWays(const Text& t) {
  if (t.str().size() != t.u16().size()) return false;
  for (std::size_t i = 0; i < t.str().size(); ++i)
    if (static_cast<char16_t>(t.str()[i]) != t.u16()[i]) return false;
  return true;
}

static_assert(SameBothWays(ch::kEntryPrefix) && SameBothWays(ch::kExitPrefix) && SameBothWays(ch::kEndOfLine));
static_assert(SameBothWays(ch::kHierarchyBegin) && SameBothWays(ch::kErrorNumberLabel));
static_assert(ch::kHierarchyBegin.str().substr(0, ch::kHierarchyPrefix.str().size()) == ch::kHierarchyPrefix.str());
static_assert(ch::kEntryPrefix.str() == "RBDEBUG , BEG>>> , ........ , ");
