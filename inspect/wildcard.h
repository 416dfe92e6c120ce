// Shell-style wildcards over names, ignoring case: what --ignore and --why
// take, and what the redistributable table is written in.
#pragma once

#include <string_view>

namespace analysis {

// `*`, `?`, `[abc]`, `[a-z]` and `[!x]` over the whole of `text`; a `[`
// without its `]` stands for itself. Both sides compared ignoring case.
bool wildcardMatch(std::string_view pattern, std::string_view text);

}  // namespace analysis
