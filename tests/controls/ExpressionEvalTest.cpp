#include "controls/ExpressionEval.h"
#include "core/LongDouble.h"

#include <gtest/gtest.h>

#include <cfenv>
#include <charconv>
#include <cmath>
#include <limits>
#include <numbers>
#include <random>
#include <string>

namespace stipplor {
namespace {

constexpr Extended Infinity = std::numeric_limits<Extended>::infinity();

// A fresh table that, like the global one, refuses undefined names.
struct Table : TSymbolTable {
    Table() { ErrorOnUndefined = true; }
};

Extended Eval(std::string_view text, TSymbolTable& table) {
    return Evaluate(text, &table);
}

// "message@position" of the EExpressionError that evaluating text raises.
std::string ErrorOf(std::string_view text, TSymbolTable& table) {
    try {
        return "gave " + std::to_string(static_cast<double>(Eval(text, table)));
    } catch (const EExpressionError& error) {
        return error.Message() + "@" + std::to_string(error.Position());
    }
}

// The same without the position.
std::string MessageOf(std::string_view text, TSymbolTable& table) {
    const std::string error = ErrorOf(text, table);
    return error.substr(0, error.rfind('@'));
}

// Each case in a fresh table; an error fails the test.
void ExpectValues(std::initializer_list<std::pair<const char*, Extended>> cases) {
    for (const auto& [text, expected] : cases) {
        Table table;
        EXPECT_EQ(Eval(text, table), expected) << text;
    }
}

void ExpectErrors(std::initializer_list<std::pair<const char*, const char*>> cases) {
    for (const auto& [text, error] : cases) {
        Table table;
        EXPECT_EQ(ErrorOf(text, table), error) << text;
    }
}

void ExpectNear(const char* text, double expected, double tolerance) {
    Table table;
    EXPECT_NEAR(static_cast<double>(Eval(text, table)), expected, tolerance) << text;
}

// Cases that all fail with one message, at the given positions.
void ExpectErrorsAt(const std::string& message,
                    std::initializer_list<std::pair<const char*, int>> cases) {
    for (const auto& [text, position] : cases) {
        Table table;
        EXPECT_EQ(ErrorOf(text, table), message + "@" + std::to_string(position)) << text;
    }
}

TEST(ExpressionEval, PrecedenceAndAssociativity) {
    ExpectValues({{"1+2*3", 7},   {"2^3^2", 64}, {"-2^2", -4},       {"7%3", 1},    {"-7%3", -1},
                  {"(1+2)*3", 9}, {"10-4-3", 3}, {"8/4/2", 1},       {"2*3^2", 18}, {"1+2=3", 1},
                  {"1|0&0", 0},   {"1<2=1", 1},  {" 1 +\t2\r\n", 3}, {"--2", 2},    {"+-2", -2},
                  {"1+(2", 3},    {"sin(0", 0},  {"1)garbage", 1},   {"1;2", 1},    {"2^-1", 0.5L},
                  {"2*3%4", 2},   {"0-2^2", -4}, {"((((1))))", 1},   {"3-(1-1)", 3}});
}

TEST(ExpressionEval, Numbers) {
    ExpectValues({{"$1F", 31}, {"$ff", 255}, {"$FFFFFFFF", -1}, {"1,5", 1.5L}});
    ExpectValues({{"1,5+1", 2.5L}, {"1e3", 1000}, {"1e+3", 1000}, {"1E-3", 0.001L}});
    ExpectValues({{".5", 0.5L}, {"5.", 5}, {"2*-3", -6}, {"2e-3-1", 0.002L - 1}});
    const char* bad = "Invalid number format";
    ExpectErrorsAt(bad, {{"2*-x", 4}, {"2*-(3)", 4}, {"$", 2}, {"$G", 2}, {"$100000000", 11}});
    ExpectErrorsAt(bad, {{"1.5.3", 6}, {"1,5,3", 6}, {"1e", 3}, {"1e5000", 7}});
}

// Short decimals take a quicker road than the general converter; both must agree exactly.
TEST(ExpressionEval, DecimalsAreCorrectlyRounded) {
    std::mt19937 random(7);
    Table table;
    for (int i = 0; i < 20000; ++i) {
        std::string text = random() % 4 == 0 ? "-" : "";
        const int digits = 1 + static_cast<int>(random() % 24);
        const int point = static_cast<int>(random() % (digits + 2));
        for (int d = 0; d < digits; ++d) {
            if (d == point)
                text += random() % 2 ? "." : ",";
            text += static_cast<char>('0' + random() % 10);
        }
        if (random() % 3 == 0)
            text += "e" + std::to_string(static_cast<int>(random() % 81) - 40);
        const std::string reference = CommaToPoint(text);
        Extended expected = 0;
        LongDoubleFromChars(reference.data(), reference.data() + reference.size(), expected);
        ASSERT_EQ(Eval(text, table), expected) << text;
    }
}

TEST(ExpressionEval, ComparisonsUseNearlyEqual) {
    ExpectValues({{"1=1.00000000000000001", 1}, {"1=1.000000000000001", 0}, {"1e20=1e20+1", 1}});
    ExpectValues({{"1e-17=0", 1}, {"1e-15=0", 0}, {"3>3", 0}, {"3<3", 0}, {"3#3", 0}});
    ExpectValues({{"3<4", 1}, {"4>3", 1}, {"2&0", 0}, {"2&-1", 1}, {"0|5", 1}, {"0|0", 0}});
}

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
uint16_t X87ControlWord() {
    uint16_t word;
    asm volatile("fnstcw %0" : "=m"(word));
    return word;
}

void SetX87ControlWord(uint16_t word) {
    asm volatile("fldcw %0" : : "m"(word));
}

// A caller that runs the x87 unit at double precision (as Windows hosts do) still gets
// extended results, and its own setting back.
TEST(ExpressionEval, EvaluatesAtExtendedPrecisionWhateverTheCallersSetting) {
    const uint16_t saved = X87ControlWord();
    const uint16_t doublePrecision = uint16_t((saved & ~0x300) | 0x200);
    SetX87ControlWord(doublePrecision);
    Table table;
    const Extended small = Eval("1 + 1e-19 - 1", table);
    const uint16_t after = X87ControlWord();
    SetX87ControlWord(saved);
    EXPECT_GT(small, 0) << "the 64-bit mantissa keeps 1e-19 beside 1";
    EXPECT_EQ(after, doublePrecision);
}
#endif

TEST(ExpressionEval, InfinityAndNaN) {
    ExpectValues({{"1/0", Infinity}, {"-1/0", -Infinity}, {"inf=inf", 1}, {"inf#inf", 0}});
    ExpectValues({{"inf>1e4000", 1}, {"-inf<inf", 1}, {"-inf=inf", 0}, {"1/inf", 0}});
    ExpectValues({{"cot(0)", Infinity}});
    // A NaN operand is refused even where the operator could hide it.
    const char* invalid = "Invalid floating point operation";
    ExpectErrorsAt(invalid, {{"0/0", 4}, {"inf-inf", 8}, {"0*inf", 6}, {"5%0", 4}});
    ExpectErrorsAt(invalid, {{"sqrt(-1)", 9}, {"0|sqrt(-1)", 11}, {"arccos(2)=1", 12}});
}

TEST(ExpressionEval, MessagesAndPositions) {
    ExpectErrorsAt("Expression is empty", {{"", 0}, {":f()= ;", 7}});
    ExpectErrorsAt("Value expected", {{"()", 2}, {"2+", 3}, {"(", 2}, {"if(0,1,2+)", 10}});
    ExpectErrorsAt("Operator expected", {{"2 3", 3}, {"2 (3)", 3}, {"if(0,2,3 4)", 10}});
    ExpectErrorsAt("Undefined symbol: PI", {{"PI", 3}, {"sin(PI)", 6}});
    ExpectErrorsAt("Name expected", {{":1=2", 2}, {":f(1)=2", 4}, {"num.min(x,1)", 11}});
    ExpectErrorsAt(", expected", {{"if(1)", 5}, {"if(1,2)", 7}, {"num.min(x)", 10}});
    ExpectErrorsAt(") expected", {{":f(x=2", 5}, {"if(1", 5}, {"if(1,2,3", 9}});
    ExpectErrors(
        {{"*2", "Unexpected character: *@1"},
         {"2+@", "Unexpected character: @@3"},
         {"2+\xC3\xA9", "Unexpected character: \xC3\xA9@3"},
         {"sin (0)", "( expected@4"},
         {":a 2", "= or ( expected@4"},
         {":f(x) 2", "= expected@7"},
         {"fac(2.5)", "Undefined@8"},
         {"bin(102)", "Invalid binary number@8"},
         {"num.solve(x,x)", "= not found@11"},
         {"num.solve(x=1=2,x)", "Extra = found@14"},
         {"num.min(1/0-inf,x)", "Unable to evaluate guess: Invalid floating point operation@16"}});

    Table table;
    EXPECT_TRUE(std::isnan(Evaluate(" ", &table, false)));
    EXPECT_THROW(Evaluate("()", &table, false), EExpressionError);
    table.RemoveSymbol("num.Guess");
    EXPECT_EQ(MessageOf("num.min(x,x)", table), "Guess undefined");

    struct TOdd final : TSymbol {
        TSymbolKind Kind() const noexcept override { return static_cast<TSymbolKind>(7); }
    };
    table.Define("odd", std::make_unique<TOdd>());
    EXPECT_EQ(MessageOf("odd", table), "Unknown symbol type: odd");
}

TEST(ExpressionEval, DefinitionsPersistInTheTable) {
    Table table;
    EXPECT_EQ(Eval(":a=2; a*3", table), 6);
    EXPECT_EQ(Eval("a+1", table), 3);
    EXPECT_EQ(Eval(":r=2; pi*r^2", table), 4 * std::numbers::pi_v<Extended>);
    EXPECT_EQ(Eval("2 :b=5; +b", table), 7);

    EXPECT_EQ(Eval(":f(x)=x*x; f(3)+1", table), 10);
    EXPECT_EQ(Eval("f(5)", table), 25);
    EXPECT_EQ(table.FindSymbol("x"), nullptr); // the parameter binding is undone
    EXPECT_EQ(Eval(":x=7; f(2)+x", table), 11);
    EXPECT_EQ(Eval("x", table), 7); // an existing symbol comes back

    EXPECT_EQ(Eval(":k()=a*2; k", table), 4);
    EXPECT_EQ(Eval(":a=5; k", table), 10); // stored expressions are evaluated at each use
    EXPECT_EQ(Eval(":s()=  1+\t2 ;s", table), 3);
    EXPECT_EQ(static_cast<TSymbolExpression*>(table.FindSymbol("s"))->Body, "1+ 2");

    table.RemoveSymbol("a");
    EXPECT_THROW(table.RemoveSymbol("a"), EExpressionError);

    TSymbolTable lenient; // a new table gives 0 for undefined names
    EXPECT_EQ(Eval("nothing+1", lenient), 1);
    EXPECT_TRUE(GlobalSymbolTable().ErrorOnUndefined);
    EXPECT_EQ(Evaluate(":globalDefinition=3; globalDefinition"), 3);
    EXPECT_EQ(Evaluate("globalDefinition*2"), 6);

    // A definition may replace the very symbol that is running; it must finish on the old one.
    EXPECT_EQ(Eval(":f(x)=(:f=1)x*2; f(3)", table), 6);
    EXPECT_EQ(Eval("f", table), 1);
    EXPECT_EQ(Eval(":g()=(:g=5)7; g", table), 7);
    EXPECT_EQ(Eval("g", table), 5);
    table.RemoveSymbol("x");
    EXPECT_EQ(Eval("num.min((:x=2)(x-1)^2,x)", table), 1);
    EXPECT_EQ(table.FindSymbol("x"), nullptr);
}

TEST(ExpressionEval, RecursionAndRunawayInputAreRefused) {
    ExpectErrors({{":g()=g(); g", "Recursive reference@11"},
                  {":f(x)=f(x); f(1)", "Recursive reference@16"},
                  {":f(x)=g(x); :g(x)=f(x); f(1)", "Recursive reference@28"}});

    Table table;
    const std::string deep(100000, '(');
    EXPECT_EQ(MessageOf(deep, table), "Expression nested too deeply");
    EXPECT_EQ(MessageOf(deep + "1" + std::string(100000, ')'), table),
              "Expression nested too deeply");
    EXPECT_EQ(MessageOf("1" + std::string(100000, '-') + "1", table), "Invalid number format");

    std::string chain = ":a0()=1;";
    for (int i = 1; i < 400; ++i)
        chain += ":a" + std::to_string(i) + "()=a" + std::to_string(i - 1) + ";";
    EXPECT_EQ(MessageOf(chain + "a399", table), "Expression nested too deeply");
    EXPECT_EQ(Eval("a100", table), 1); // a shallow part of the chain still works

    // Each level calls the one below twice: 2^40 calls unless the work is bounded.
    std::string doubling = ":f0(x)=x;";
    for (int i = 1; i <= 40; ++i) {
        const std::string below = "f" + std::to_string(i - 1) + "(x)";
        doubling += ":f" + std::to_string(i) + "(x)=" + below + "+" + below + ";";
    }
    EXPECT_EQ(MessageOf(doubling + "f40(1)", table), "Expression too complex");
    EXPECT_EQ(Eval("f10(1)", table), 1024);
    EXPECT_EQ(MessageOf("num.min(num.min(num.min(x^2+y^2+z^2,x),y),z)", table),
              "Expression too complex");
}

TEST(ExpressionEval, IfEvaluatesOnlyTheChosenBranch) {
    ExpectValues({{"if(1,2,1/0)", 2}, {"if(0,2,3)", 3}, {"if(1>2,1,0)", 0}, {"if(1,2,PI)", 2}});
    ExpectValues({{"if(1,if(0,1,(2)),3)", 2}, {"if( 1 , 2 , 3 )", 2}, {"1+if(0,5,6)*2", 13}});
    Table table;
    EXPECT_EQ(Eval("if(1,(:t=1)2,(:u=1)3)", table), 2);
    EXPECT_NE(table.FindSymbol("t"), nullptr);
    EXPECT_EQ(table.FindSymbol("u"), nullptr);
}

TEST(ExpressionEval, OptimisersStartFromTheGuess) {
    Table table;
    ExpectNear("num.root(x^2-2,x)", std::sqrt(2.0), 1e-5);
    ExpectNear("num.solve(x*x=9,x)", 3.0, 1e-5);
    ExpectNear("num.min((x-1)^2+5,x)", 5.0, 1e-9);
    ExpectNear("num.argmin((x-1)^2+5,x)", 1.0, 1e-4);
    ExpectNear(":num.Guess=-5; num.root(x^2-2,x)", -std::sqrt(2.0), 1e-5);
    EXPECT_EQ(Eval(":y=7; num.min((y-1)^2,y)+y", table), 7); // the variable is restored
    // Results beyond 1e100 become infinite.
    EXPECT_EQ(Eval("num.argmin(-x,x)", table), Infinity);
    EXPECT_EQ(Eval("num.min(-x,x)", table), -Infinity);
    EXPECT_EQ(MessageOf("num.root(x^2+1,x)", table),
              "No solution found, try changing starting guess");
}

// Including ones that must not loop on huge arguments.
TEST(ExpressionEval, BuiltIns) {
    Table table;
    ExpectValues({{"fac(5)", 120}, {"fac(0)", 1}, {"fac(1)", 1}, {"fac(5.0000001)", 120}});
    ExpectValues(
        {{"fac(1e30)", Infinity}, {"fac(1e4000)", Infinity}, {"bin(0)", 0}, {"bin(101)", 5}});
    ExpectValues({{"bin(1011)", 11}, {"bin(1111111111111111)", 65535}, {"round(2.5)", 2}});
    ExpectValues({{"round(3.5)", 4}, {"round(-2.5)", -2}, {"round(0.5)", 0}, {"floor(-1.5)", -2}});
    ExpectValues({{"ceil(-1.5)", -1}, {"frac(-1.25)", -0.25L}, {"abs(-3)", 3}, {"sqrt(16)", 4}});
    ExpectValues({{"log2(8)", 3}, {"exp(0)", 1}, {"kb+Mb+Gb", 1074791424}, {"randn(0)", 0}});
    ExpectValues({{"sin(0)+cos(0)+tanh(0)", 1}, {"num.Guess", 0.500000001L}});
    ExpectErrors({{"fac(-1)", "Undefined@7"}, {"bin(-1)", "Invalid binary number@7"}});
    ExpectErrorsAt("Max 16 bits in binary number",
                   {{"bin(1e17)", 9}, {"bin(11111111111111111)", 22}});
    ExpectNear("ln(e)", 1.0, 1e-15);
    for (int i = 0; i < 200; ++i) {
        const Extended r = Eval("rand(10)", table);
        ASSERT_TRUE(r >= 0 && r < 10);
    }
}

// Registered symbolic functions join every table created afterwards; their failures are
// contained even when they misbehave.
TEST(ExpressionEval, RegisteredSymbolicFunctions) {
    struct TCountTo final : TSymbolicFunction {
        Extended Evaluate(std::string_view text, std::size_t& pos, TSymbolTable&) override {
            const std::size_t start = pos;
            while (pos < text.size() && text[pos] != ')')
                ++pos;
            if (pos - start > 3)
                throw Exception("Too long");
            return static_cast<Extended>(pos - start);
        }
        std::string Syntax() const override { return "text"; }
        std::string Description() const override { return "Length of text"; }
    };
    struct TBackwards final : TSymbolicFunction {
        Extended Evaluate(std::string_view, std::size_t& pos, TSymbolTable&) override {
            pos = 0;
            return 1;
        }
        std::string Syntax() const override { return ""; }
        std::string Description() const override { return ""; }
    };
    RegisterSymbolicFunction("len", [] { return std::make_unique<TCountTo>(); });
    RegisterSymbolicFunction("back", [] { return std::make_unique<TBackwards>(); });
    ExpectValues({{"len(abc)*2", 6}, {"len( )", 0}, {"back()+1", 2}});
    ExpectErrors({{"len(abcdef)", "Too long@10"}});
}

TEST(ExpressionEval, FloatingPointEnvironmentIsRestored) {
    Table table;
    std::fesetround(FE_UPWARD);
    std::feclearexcept(FE_ALL_EXCEPT);
    EXPECT_EQ(Eval("round(2.5)", table), 2); // evaluation rounds to nearest whatever the caller set
    EXPECT_EQ(Eval("1/0", table), Infinity);
    EXPECT_THROW(Eval("0/0", table), EExpressionError);
    EXPECT_EQ(std::fegetround(), FE_UPWARD);
    EXPECT_EQ(std::fetestexcept(FE_ALL_EXCEPT), 0);
    std::fesetround(FE_TONEAREST);
}

} // namespace
} // namespace stipplor
