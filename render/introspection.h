// The option table as other programs read it: as JSON (the manual's option
// reference) and as a bash completion script. Both are printed by hidden
// entry points of veltrane-render (--options-json, --completion bash), so that
// what they say is the table itself, never a parse of the help text.
#pragma once

#include <string>

namespace render {

// {"modes": [...], "options": [{"name", "short", "kind", "arity", "values",
// "help", "modes", "default", "range", "ranges", "choices"}, ...]}, in the
// table's order; "range" is the option's, "ranges" each mode's own.
std::string OptionsJson();

// The bash completion of veltrane-render: the modes where a mode may stand;
// after a mode, only the options that mode reads; after an option, as many
// values as it takes (a file name, one of its words, or nothing to offer for
// a number), so that a flag takes none.
std::string BashCompletion();

} // namespace render
