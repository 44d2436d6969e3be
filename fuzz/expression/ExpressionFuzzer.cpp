// Evaluates arbitrary text. The first byte picks the table's ErrorOnUndefined and the Strict
// flag; every input gets a fresh table, so that definitions of one input cannot change the next.
// Any exception other than an expression error, a crash or a hang is a finding.
#include "controls/ExpressionEval.h"

#include <cfenv>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const uint8_t flags = data[0];
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    stipplor::TSymbolTable table;
    table.ErrorOnUndefined = (flags & 1) != 0;
    try {
        stipplor::Evaluate(text, &table, (flags & 2) != 0);
    } catch (const stipplor::EExpressionError& error) {
        if (error.Position() < 0 || static_cast<size_t>(error.Position()) > text.size() + 1)
            std::abort();
    }
    if (std::fegetround() != FE_TONEAREST)
        std::abort();
    return 0;
}
