#pragma once
// What the evaluator's source files share: reading names and blanks, argument boundaries,
// temporary bindings and the state of the work limit. For controls/ only; the interface is
// ExpressionEval.h.
#include "controls/ExpressionEval.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <string_view>

namespace stipplor::expression_internal {

inline constexpr Extended NaNValue = std::numeric_limits<Extended>::quiet_NaN();
inline constexpr Extended InfinityValue = std::numeric_limits<Extended>::infinity();

inline int32_t PositionAt(std::size_t index) {
    constexpr auto Largest = static_cast<std::size_t>(std::numeric_limits<int32_t>::max());
    return static_cast<int32_t>(std::min(index + 1, Largest));
}

inline bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

inline bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

inline bool IsLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

inline bool IsNameStart(char c) {
    return IsLetter(c) || c == '_';
}

inline bool IsNameChar(char c) {
    return IsNameStart(c) || IsDigit(c) || c == '.';
}

inline std::string ReadNameAt(std::string_view text, std::size_t& pos) {
    const std::size_t start = pos;
    while (pos < text.size() && IsNameChar(text[pos]))
        ++pos;
    return std::string(text.substr(start, pos - start));
}

inline void SkipBlanksAt(std::string_view text, std::size_t& pos) {
    while (pos < text.size() && IsBlank(text[pos]))
        ++pos;
}

// Finds the end of one argument of a symbolic function: the next ',' outside parentheses
// (when commas end it) or the ')' that closes more than was opened; text.size() if none.
std::size_t FindArgumentEnd(std::string_view text, std::size_t start, bool commaEnds);

// Evaluates text[start, end) as an expression of its own and reports its errors at their
// place in the enclosing text.
Extended EvaluateArgument(std::string_view text, std::size_t start, std::size_t end,
                          TSymbolTable& table);

// True once the outermost evaluation has used up its work: every further step fails, and a
// search that swallows errors has to pass this one on.
bool WorkExhausted();

// Puts the constants, the standard functions, if and the numeric searches into a new table.
void DefineBuiltinSymbols(TSymbolTable& table);

// Binds a name to a value for the length of a scope, keeping what was there for the end.
class TTemporaryBinding {
public:
    TTemporaryBinding(TSymbolTable& table, std::string name, Extended value)
        : table_(table), name_(std::move(name)),
          saved_(table_.Exchange(name_, std::make_shared<TSymbolValue>(value))) {}
    ~TTemporaryBinding() { table_.Exchange(name_, std::move(saved_)); }
    TTemporaryBinding(const TTemporaryBinding&) = delete;
    TTemporaryBinding& operator=(const TTemporaryBinding&) = delete;

    // A fresh symbol each time: the evaluated text may have redefined the name meanwhile.
    void Set(Extended value) { table_.Exchange(name_, std::make_shared<TSymbolValue>(value)); }

private:
    TSymbolTable& table_;
    std::string name_;
    std::shared_ptr<TSymbol> saved_;
};

} // namespace stipplor::expression_internal
