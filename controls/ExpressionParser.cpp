// The evaluator proper: reads the text from left to right with an operator-precedence stack,
// inside a controlled floating-point environment and under limits of nesting and work.
#include "controls/ExpressionEval.h"
#include "controls/ExpressionInternals.h"
#include "core/LongDouble.h"

#include <algorithm>
#include <array>
#include <cfenv>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <new>
#include <optional>

// The x87 unit's precision is set on every system: a Windows host may run it at 53 bits.
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define STIPPLOR_X87_CONTROL 1
#endif

namespace stipplor {

using namespace expression_internal;

namespace {

// ---------------------------------------------------------------------------------------------
// Limits. Text comes straight from a person (or a fuzzer), so nesting and total work are
// bounded: parentheses, stored definitions and nested searches could otherwise overflow the
// stack or multiply into hours of work.

constexpr int MaxNesting = 256;
constexpr uint64_t MaxWork = 1'000'000;

struct EvaluationLimits {
    int depth = 0;
    uint64_t work = 0;
    bool exhausted = false;
};

thread_local EvaluationLimits limits;

const char* const TooComplexMessage = "Expression too complex";

class NestingGuard {
public:
    explicit NestingGuard(int32_t position) {
        if (limits.depth >= MaxNesting)
            throw EExpressionError("Expression nested too deeply", position);
        ++limits.depth;
    }
    ~NestingGuard() { --limits.depth; }
    NestingGuard(const NestingGuard&) = delete;
    NestingGuard& operator=(const NestingGuard&) = delete;
};

// Once exhausted, every further step fails too, so a search that swallows errors still ends
// quickly and the outermost Evaluate reports the exhaustion.
void ChargeWork(uint64_t units, int32_t position) {
    limits.work += units;
    if (limits.exhausted || limits.work > MaxWork) {
        limits.exhausted = true;
        throw EExpressionError(TooComplexMessage, position);
    }
}

// Saves the whole floating-point environment and evaluates with all exceptions masked (1/0 is
// infinity, invalid operations give NaN), rounding to nearest and, on x87, 64-bit precision.
class FloatingPointEnvironment {
public:
    FloatingPointEnvironment() {
        std::feholdexcept(&saved_);
        std::fesetround(FE_TONEAREST);
#ifdef STIPPLOR_X87_CONTROL
        constexpr uint16_t ExtendedPrecision = 0x300; // precision control: 64-bit mantissa
        uint16_t word;
        asm volatile("fnstcw %0" : "=m"(word));
        word |= ExtendedPrecision;
        asm volatile("fldcw %0" : : "m"(word));
#endif
    }
    ~FloatingPointEnvironment() {
        std::fesetenv(&saved_);
    }
    FloatingPointEnvironment(const FloatingPointEnvironment&) = delete;
    FloatingPointEnvironment& operator=(const FloatingPointEnvironment&) = delete;

private:
    std::fenv_t saved_;
};

std::string MessageOf(const std::exception& error) {
    if (const auto* own = dynamic_cast<const Exception*>(&error))
        return own->Message();
    return error.what();
}

// ---------------------------------------------------------------------------------------------
// Characters and operators.

int HexDigit(char c) {
    if (IsDigit(c))
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

constexpr std::array<uint8_t, 256> MakePrecedence() {
    constexpr std::string_view operators = "|&=#><+-/*%^";
    constexpr std::array<uint8_t, 12> levels = {1, 1, 2, 2, 2, 2, 3, 3, 4, 4, 4, 5};
    std::array<uint8_t, 256> table{};
    for (std::size_t i = 0; i < operators.size(); ++i)
        table[static_cast<unsigned char>(operators[i])] = levels[i];
    return table;
}

constexpr std::array<uint8_t, 256> PrecedenceTable = MakePrecedence();

int Level(char op) {
    return PrecedenceTable[static_cast<unsigned char>(op)];
}

// Equal values count as nearly equal, so that inf = inf holds although inf - inf is NaN; an
// infinite value is near nothing else (its tolerance would be infinite, making -inf = inf).
bool NearlyEqual(Extended a, Extended b) {
    if (a == b)
        return true;
    if (std::isinf(a) || std::isinf(b))
        return false;
    const Extended tolerance =
        std::max<Extended>(1e-16L, std::min(std::fabs(a), std::fabs(b)) * 1e-16L);
    return std::fabs(a - b) <= tolerance;
}

Extended Truth(bool condition) {
    return condition ? 1.0L : 0.0L;
}

Extended ApplyOperator(char op, Extended a, Extended b) {
    switch (op) {
    case '|':
        return Truth(a != 0 || b != 0);
    case '&':
        return Truth(a != 0 && b != 0);
    case '=':
        return Truth(NearlyEqual(a, b));
    case '#':
        return Truth(!NearlyEqual(a, b));
    case '>':
        return Truth(a > b && !NearlyEqual(a, b));
    case '<':
        return Truth(a < b && !NearlyEqual(a, b));
    case '+':
        return a + b;
    case '-':
        return a - b;
    case '/':
        return a / b;
    case '*':
        return a * b;
    case '%':
        return a - b * std::trunc(a / b);
    case '^':
        return std::pow(a, b);
    default:
        return NaNValue;
    }
}

// The complete UTF-8 sequence starting at text[index] when it is one, else the single byte.
std::string CharacterAt(std::string_view text, std::size_t index) {
    const auto lead = static_cast<unsigned char>(text[index]);
    std::size_t length = 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF)
        length = 3;
    else if (lead >= 0xF0 && lead <= 0xF4)
        length = 4;
    if (index + length > text.size())
        length = 1;
    for (std::size_t i = 1; i < length; ++i)
        if ((static_cast<unsigned char>(text[index + i]) & 0xC0) != 0x80)
            return std::string(1, text[index]);
    return std::string(text.substr(index, length));
}

// Reads the common short decimals without the general converter, which is slow: up to 19
// significant digits and a power of ten up to 27 are exact in extended precision, so one
// multiplication or division rounds the result correctly. Anything else gets nullopt.
std::optional<Extended> QuickDecimal(std::string_view text) {
    static constexpr std::array<Extended, 28> PowersOfTen = {
        1e0L,  1e1L,  1e2L,  1e3L,  1e4L,  1e5L,  1e6L,  1e7L,  1e8L,  1e9L,
        1e10L, 1e11L, 1e12L, 1e13L, 1e14L, 1e15L, 1e16L, 1e17L, 1e18L, 1e19L,
        1e20L, 1e21L, 1e22L, 1e23L, 1e24L, 1e25L, 1e26L, 1e27L};
    std::size_t i = 0;
    const bool negative = !text.empty() && text[0] == '-';
    if (negative)
        ++i;
    uint64_t mantissa = 0;
    int significant = 0;
    int scale = 0; // decimal exponent contributed by the digits' position
    int digitCount = 0;
    bool point = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (IsDigit(c)) {
            ++digitCount;
            if (mantissa == 0 && c == '0') {
                scale -= point ? 1 : 0;
                continue;
            }
            if (++significant > 19)
                return std::nullopt;
            mantissa = mantissa * 10 + static_cast<uint64_t>(c - '0');
            scale -= point ? 1 : 0;
        } else if ((c == '.' || c == ',') && !point) {
            point = true;
        } else {
            break;
        }
    }
    if (digitCount == 0)
        return std::nullopt;
    if (i < text.size()) {
        if (text[i] != 'e' && text[i] != 'E')
            return std::nullopt;
        ++i;
        bool negativeExponent = false;
        if (i < text.size() && (text[i] == '+' || text[i] == '-'))
            negativeExponent = text[i++] == '-';
        if (i == text.size())
            return std::nullopt;
        int exponent = 0;
        for (; i < text.size(); ++i) {
            if (!IsDigit(text[i]) || exponent > 10000)
                return std::nullopt;
            exponent = exponent * 10 + (text[i] - '0');
        }
        scale += negativeExponent ? -exponent : exponent;
    }
    Extended value = static_cast<Extended>(mantissa);
    if (mantissa != 0) {
        if (scale > 27 || scale < -27)
            return std::nullopt;
        value = scale >= 0 ? value * PowersOfTen[static_cast<std::size_t>(scale)]
                           : value / PowersOfTen[static_cast<std::size_t>(-scale)];
    }
    return negative ? -value : value;
}

// ---------------------------------------------------------------------------------------------
// The parser: one instance per Evaluate, reading the text from left to right.

class Parser {
public:
    Parser(std::string_view text, TSymbolTable& table, bool strict)
        : text_(text), table_(table), strict_(strict) {}

    Extended Expression();

private:
    struct StackEntry {
        char op;
        Extended value;
    };
    // Levels on the stack rise strictly from the bottom entry's 0, so six entries suffice.
    using OperatorStack = std::array<StackEntry, 8>;

    bool AtEnd() const { return pos_ >= text_.size(); }
    bool At(char c) const { return !AtEnd() && text_[pos_] == c; }
    void SkipBlanks() { SkipBlanksAt(text_, pos_); }
    [[noreturn]] void Fail(std::string message) const {
        throw EExpressionError(std::move(message), PositionAt(pos_));
    }
    void Expect(char c) {
        if (!At(c))
            Fail(std::string(1, c) + " expected");
        ++pos_;
    }

    void Reduce(OperatorStack& stack, std::size_t& top, int level) const;
    Extended Operand();
    Extended Number();
    Extended NameOperand();
    Extended CallFunction(TSymbolFunction& function);
    Extended CallSymbolic(TSymbolicFunction& function);
    void Definition();
    std::string ReadBody();

    std::string_view text_;
    std::size_t pos_ = 0;
    TSymbolTable& table_;
    bool strict_;
};

Extended Parser::Expression() {
    NestingGuard nesting(PositionAt(pos_));
    SkipBlanks();
    OperatorStack stack;
    std::size_t top = 0;
    stack[0] = {'\0', 0.0L};
    char pending = '+';
    std::size_t operands = 0;
    while (!AtEnd() && text_[pos_] != ')' && text_[pos_] != ';') {
        const char c = text_[pos_];
        if (c == ':') {
            ++pos_;
            Definition();
            SkipBlanks();
            continue;
        }
        if (Level(c) > 0) {
            if (operands == 0 && c != '+' && c != '-')
                Fail("Unexpected character: " + CharacterAt(text_, pos_));
            ++pos_;
            SkipBlanks();
            pending = c;
        } else if (operands > 0) {
            Fail("Operator expected");
        }
        const Extended value = Operand();
        Reduce(stack, top, Level(pending));
        stack[++top] = {pending, value};
        ++operands;
        SkipBlanks();
    }
    Extended result = NaNValue;
    if (operands > 0) {
        Reduce(stack, top, 1);
        result = stack[0].value;
    } else if (strict_) {
        Fail("Value expected");
    }
    if (!AtEnd())
        ++pos_;
    return result;
}

// A NaN operand is refused as well as a NaN result, so that no operator (not even a
// comparison) can turn an invalid value into a valid-looking one.
void Parser::Reduce(OperatorStack& stack, std::size_t& top, int level) const {
    while (top > 0 && Level(stack[top].op) >= level) {
        const Extended a = stack[top - 1].value;
        const Extended b = stack[top].value;
        const Extended result = ApplyOperator(stack[top].op, a, b);
        if (std::isnan(a) || std::isnan(b) || std::isnan(result))
            Fail("Invalid floating point operation");
        stack[top - 1].value = result;
        --top;
    }
}

Extended Parser::Operand() {
    ChargeWork(1, PositionAt(pos_));
    if (AtEnd())
        Fail("Value expected");
    const char c = text_[pos_];
    if (c == '$' || c == ',' || c == '-' || c == '.' || IsDigit(c))
        return Number();
    if (c == '(') {
        ++pos_;
        return Expression();
    }
    if (IsNameStart(c))
        return NameOperand();
    Fail("Unexpected character: " + CharacterAt(text_, pos_));
}

Extended Parser::Number() {
    if (At('$')) {
        ++pos_;
        const std::size_t start = pos_;
        uint64_t value = 0;
        bool overflow = false;
        for (int digit; !AtEnd() && (digit = HexDigit(text_[pos_])) >= 0; ++pos_) {
            value = value * 16 + static_cast<uint64_t>(digit);
            overflow = overflow || value > 0xFFFFFFFFu;
        }
        if (pos_ == start || overflow)
            Fail("Invalid number format");
        return static_cast<int32_t>(static_cast<uint32_t>(value));
    }
    const std::size_t start = pos_;
    if (At('-'))
        ++pos_;
    while (!AtEnd()) {
        const char c = text_[pos_];
        const bool afterExponent =
            pos_ > start && (text_[pos_ - 1] == 'e' || text_[pos_ - 1] == 'E');
        if (IsDigit(c) || c == ',' || c == '.' || c == 'e' || c == 'E' ||
            ((c == '+' || c == '-') && afterExponent))
            ++pos_;
        else
            break;
    }
    const std::string_view digits = text_.substr(start, pos_ - start);
    if (const auto quick = QuickDecimal(digits))
        return *quick;
    const std::string number = CommaToPoint(digits);
    Extended value = 0;
    const char* const end = number.data() + number.size();
    const auto [stop, error] = LongDoubleFromChars(number.data(), end, value);
    if (error != std::errc() || stop != end)
        Fail("Invalid number format");
    return value;
}

Extended Parser::NameOperand() {
    const std::string name = ReadNameAt(text_, pos_);
    // Shared ownership keeps the symbol alive should the text redefine its name while it runs.
    const std::shared_ptr<TSymbol> symbol = table_.FindShared(name);
    if (!symbol) {
        if (table_.ErrorOnUndefined)
            Fail("Undefined symbol: " + name);
        return 0.0L;
    }
    switch (symbol->Kind()) {
    case TSymbolKind::Value:
        return static_cast<TSymbolValue&>(*symbol).Value;
    case TSymbolKind::Expression:
        try {
            return static_cast<TSymbolExpression&>(*symbol).Evaluate(table_);
        } catch (const EExpressionError& error) {
            // The body is another text: point at the reference instead.
            throw EExpressionError(error.Message(), PositionAt(pos_ - 1));
        }
    case TSymbolKind::Function:
        return CallFunction(static_cast<TSymbolFunction&>(*symbol));
    case TSymbolKind::Symbolic:
        return CallSymbolic(static_cast<TSymbolicFunction&>(*symbol));
    }
    Fail("Unknown symbol type: " + name);
}

Extended Parser::CallFunction(TSymbolFunction& function) {
    Expect('(');
    try {
        const Extended argument = Expression();
        return function.Evaluate(table_, argument);
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception& error) {
        throw EExpressionError(MessageOf(error), PositionAt(pos_ - 1));
    }
}

Extended Parser::CallSymbolic(TSymbolicFunction& function) {
    Expect('(');
    SkipBlanks();
    const std::size_t start = pos_;
    Extended value = 0;
    try {
        value = function.Evaluate(text_, pos_, table_);
    } catch (const EExpressionError&) {
        throw;
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception& error) {
        pos_ = std::clamp(pos_, start, text_.size());
        throw EExpressionError(MessageOf(error), PositionAt(pos_ - 1));
    }
    // A function that moved backwards would make the parser read the same text forever.
    pos_ = std::clamp(pos_, start, text_.size());
    SkipBlanks();
    Expect(')');
    return value;
}

void Parser::Definition() {
    SkipBlanks();
    if (AtEnd() || !IsNameStart(text_[pos_]))
        Fail("Name expected");
    const std::string name = ReadNameAt(text_, pos_);
    SkipBlanks();
    if (At('=')) {
        ++pos_;
        const Extended value = Expression();
        table_.Define(name, std::make_unique<TSymbolValue>(value));
        return;
    }
    if (!At('('))
        Fail("= or ( expected");
    ++pos_;
    SkipBlanks();
    if (At(')')) {
        ++pos_;
        SkipBlanks();
        Expect('=');
        SkipBlanks();
        const int32_t bodyPosition = PositionAt(pos_);
        std::string body = ReadBody();
        table_.Define(name, std::make_unique<TSymbolExpression>(bodyPosition, std::move(body)));
        return;
    }
    if (AtEnd() || !IsNameStart(text_[pos_]))
        Fail("Name expected");
    std::string parameter = ReadNameAt(text_, pos_);
    SkipBlanks();
    Expect(')');
    SkipBlanks();
    Expect('=');
    SkipBlanks();
    const int32_t bodyPosition = PositionAt(pos_);
    std::string body = ReadBody();
    table_.Define(name, std::make_unique<TExpressionFunction>(std::move(parameter), bodyPosition,
                                                              std::move(body)));
}

// The body runs to the next ';' (included) or the end of the text.
std::string Parser::ReadBody() {
    const std::size_t start = pos_;
    const std::size_t semicolon = text_.find(';', start);
    const std::size_t end = semicolon == std::string_view::npos ? text_.size() : semicolon + 1;
    pos_ = end;
    std::string body = TrimBlanks(text_.substr(start, end - start));
    if (!body.empty() && body.back() == ';')
        body = TrimBlanks(std::string_view(body).substr(0, body.size() - 1));
    if (body.empty())
        throw EExpressionError("Expression is empty", PositionAt(start));
    // Stored bodies may nest and be defined again at every evaluation of a search: their
    // bytes count as work, so that memory stays bounded as well as time.
    ChargeWork(1 + body.size() / 16, PositionAt(start));
    std::replace_if(
        body.begin(), body.end(), [](char c) { return IsBlank(c); }, ' ');
    return body;
}

} // namespace

namespace expression_internal {

bool WorkExhausted() {
    return limits.exhausted;
}

// Finds the end of one argument of a symbolic function: the next ',' outside parentheses
// (when commas end it) or the ')' that closes more than was opened; text.size() if none.
std::size_t FindArgumentEnd(std::string_view text, std::size_t start, bool commaEnds) {
    int depth = 0;
    for (std::size_t i = start; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '(') {
            ++depth;
        } else if (c == ')') {
            if (depth == 0)
                return i;
            --depth;
        } else if (c == ',' && commaEnds && depth == 0) {
            return i;
        }
    }
    return text.size();
}

// Evaluates text[start, end) as an expression of its own and reports its errors at their
// place in the enclosing text.
Extended EvaluateArgument(std::string_view text, std::size_t start, std::size_t end,
                          TSymbolTable& table) {
    try {
        return Evaluate(text.substr(start, end - start), &table, true);
    } catch (const EExpressionError& error) {
        const std::size_t inner = static_cast<std::size_t>(std::max(error.Position(), 1));
        throw EExpressionError(error.Message(), PositionAt(start + inner - 1));
    }
}

} // namespace expression_internal

std::string CommaToPoint(std::string_view text) {
    std::string result(text);
    if (const auto comma = result.find(','); comma != std::string::npos)
        result[comma] = '.';
    return result;
}

std::string TrimBlanks(std::string_view text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && IsBlank(text[begin]))
        ++begin;
    while (end > begin && IsBlank(text[end - 1]))
        --end;
    return std::string(text.substr(begin, end - begin));
}

Extended Evaluate(std::string_view text, TSymbolTable* table, bool strict) {
    if (text.empty())
        throw EExpressionError("Expression is empty", 0);
    TSymbolTable& symbols = table != nullptr ? *table : GlobalSymbolTable();
    const bool outermost = limits.depth == 0;
    // Nested evaluations (stored definitions, searches) run inside the outermost one's
    // environment; saving it once is enough and keeps the searches fast.
    std::optional<FloatingPointEnvironment> environment;
    if (outermost) {
        environment.emplace();
        limits.work = 0;
        limits.exhausted = false;
    }
    // Setting up an evaluation costs about as much as a few operands, and symbolic functions
    // scan their text again at every call: both count as work.
    ChargeWork(4 + text.size() / 64, 0);
    const Extended result = Parser(text, symbols, strict).Expression();
    if (outermost && limits.exhausted)
        throw EExpressionError(TooComplexMessage, 0);
    return result;
}

} // namespace stipplor
