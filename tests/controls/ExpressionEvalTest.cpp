#include "controls/ExpressionEval.h"

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

constexpr Extended kInf = std::numeric_limits<Extended>::infinity();

// A fresh table that, like the global one, refuses undefined names.
struct Table : TSymbolTable {
    Table() { ErrorOnUndefined = true; }
};

struct ValueCase {
    const char* text;
    Extended expected;
};

struct ErrorCase {
    const char* text;
    const char* message;
    int32_t position;
};

void ExpectValues(std::initializer_list<ValueCase> cases) {
    for (const auto& c : cases) {
        Table table;
        SCOPED_TRACE(c.text);
        try {
            EXPECT_EQ(Evaluate(c.text, &table), c.expected);
        } catch (const EExpressionError& error) {
            ADD_FAILURE() << error.Message() << " at " << error.Position();
        }
    }
}

void ExpectErrors(std::initializer_list<ErrorCase> cases) {
    for (const auto& c : cases) {
        Table table;
        SCOPED_TRACE(c.text);
        try {
            const Extended value = Evaluate(c.text, &table);
            ADD_FAILURE() << "gave " << static_cast<double>(value);
        } catch (const EExpressionError& error) {
            EXPECT_EQ(error.Message(), c.message);
            EXPECT_EQ(error.Position(), c.position);
        }
    }
}

Extended Eval(std::string_view text, TSymbolTable& table) {
    return Evaluate(text, &table);
}

TEST(ExpressionEval, PrecedenceAndAssociativity) {
    ExpectValues({{"1+2*3", 7},   {"2^3^2", 64}, {"-2^2", -4},       {"7%3", 1},    {"-7%3", -1},
                  {"(1+2)*3", 9}, {"10-4-3", 3}, {"8/4/2", 1},       {"2*3^2", 18}, {"1+2=3", 1},
                  {"1|0&0", 0},   {"1<2=1", 1},  {" 1 +\t2\r\n", 3}, {"--2", 2},    {"+-2", -2},
                  {"1+(2", 3},    {"sin(0", 0},  {"1)garbage", 1},   {"1;2", 1},    {"2^-1", 0.5L},
                  {"2*3%4", 2},   {"0-2^2", -4}, {"((((1))))", 1},   {"3-(1-1)", 3}});
}

TEST(ExpressionEval, Numbers) {
    ExpectValues({{"$1F", 31},
                  {"$ff", 255},
                  {"$FFFFFFFF", -1},
                  {"1,5", 1.5L},
                  {"1,5+1", 2.5L},
                  {"1e3", 1000},
                  {"1e+3", 1000},
                  {"1E-3", 0.001L},
                  {".5", 0.5L},
                  {"5.", 5},
                  {"2*-3", -6},
                  {"2e-3-1", 0.002L - 1}});
    ExpectErrors({{"2*-x", "Invalid number format", 4},
                  {"2*-(3)", "Invalid number format", 4},
                  {"$", "Invalid number format", 2},
                  {"$G", "Invalid number format", 2},
                  {"$100000000", "Invalid number format", 11},
                  {"1.5.3", "Invalid number format", 6},
                  {"1,5,3", "Invalid number format", 6},
                  {"1e", "Invalid number format", 3},
                  {"1e5000", "Invalid number format", 7},
                  {"2e", "Invalid number format", 3}});
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
        std::from_chars(reference.data(), reference.data() + reference.size(), expected);
        ASSERT_EQ(Eval(text, table), expected) << text;
    }
}

TEST(ExpressionEval, ComparisonsUseNearlyEqual) {
    ExpectValues({{"1=1.00000000000000001", 1},
                  {"3>3", 0},
                  {"3<3", 0},
                  {"3#3", 0},
                  {"3<4", 1},
                  {"4>3", 1},
                  {"1e20=1e20+1", 1},
                  {"1e-17=0", 1},
                  {"1e-15=0", 0},
                  {"1=1.000000000000001", 0},
                  {"2&0", 0},
                  {"2&-1", 1},
                  {"0|5", 1},
                  {"0|0", 0}});
}

TEST(ExpressionEval, InfinityAndNaN) {
    ExpectValues({{"1/0", kInf},
                  {"-1/0", -kInf},
                  {"inf=inf", 1},
                  {"inf#inf", 0},
                  {"inf>1e4000", 1},
                  {"-inf<inf", 1},
                  {"-inf=inf", 0},
                  {"1/inf", 0},
                  {"cot(0)", kInf}});
    ExpectErrors({{"0/0", "Invalid floating point operation", 4},
                  {"inf-inf", "Invalid floating point operation", 8},
                  {"0*inf", "Invalid floating point operation", 6},
                  {"5%0", "Invalid floating point operation", 4},
                  {"sqrt(-1)", "Invalid floating point operation", 9},
                  // A NaN operand is refused even where the operator could hide it.
                  {"0|sqrt(-1)", "Invalid floating point operation", 11},
                  {"arccos(2)=1", "Invalid floating point operation", 12}});
}

TEST(ExpressionEval, MessagesAndPositions) {
    ExpectErrors(
        {{"", "Expression is empty", 0},
         {"()", "Value expected", 2},
         {"2+", "Value expected", 3},
         {"(", "Value expected", 2},
         {"*2", "Unexpected character: *", 1},
         {"2+@", "Unexpected character: @", 3},
         {"2+\xC3\xA9", "Unexpected character: \xC3\xA9", 3},
         {"2 3", "Operator expected", 3},
         {"2 (3)", "Operator expected", 3},
         {"PI", "Undefined symbol: PI", 3},
         {"sin (0)", "( expected", 4},
         {":1=2", "Name expected", 2},
         {":a 2", "= or ( expected", 4},
         {":f(1)=2", "Name expected", 4},
         {":f(x=2", ") expected", 5},
         {":f(x) 2", "= expected", 7},
         {":f()= ;", "Expression is empty", 7},
         {"sin(PI)", "Undefined symbol: PI", 6},
         {"fac(2.5)", "Undefined", 8},
         {"bin(102)", "Invalid binary number", 8},
         {"if(1)", ", expected", 5},
         {"if(1", ") expected", 5},
         {"if(1,2)", ", expected", 7},
         {"if(1,2,3", ") expected", 9},
         {"if(0,2,3 4)", "Operator expected", 10},
         {"if(0,1,2+)", "Value expected", 10},
         {"num.min(x)", ", expected", 10},
         {"num.min(x,1)", "Name expected", 11},
         {"num.solve(x,x)", "= not found", 11},
         {"num.solve(x=1=2,x)", "Extra = found", 14},
         {"num.min(1/0-inf,x)", "Unable to evaluate guess: Invalid floating point operation", 16}});

    Table table;
    EXPECT_TRUE(std::isnan(Evaluate(" ", &table, false)));
    EXPECT_THROW(Evaluate("()", &table, false), EExpressionError);
    table.RemoveSymbol("num.Guess");
    try {
        Eval("num.min(x,x)", table);
        ADD_FAILURE();
    } catch (const EExpressionError& error) {
        EXPECT_EQ(error.Message(), "Guess undefined");
    }
}

TEST(ExpressionEval, UnknownSymbolKind) {
    struct TOdd final : TSymbol {
        TSymbolKind Kind() const noexcept override { return static_cast<TSymbolKind>(7); }
    };
    Table table;
    table.Define("odd", std::make_unique<TOdd>());
    try {
        Eval("odd", table);
        ADD_FAILURE();
    } catch (const EExpressionError& error) {
        EXPECT_EQ(error.Message(), "Unknown symbol type: odd");
    }
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

    // Names are case-sensitive and kept in plain byte order.
    EXPECT_EQ(table.FindSymbol("PI"), nullptr);
    for (std::size_t i = 1; i < table.Count(); ++i)
        EXPECT_LT(table.Name(i - 1), table.Name(i));

    table.RemoveSymbol("a");
    EXPECT_EQ(table.FindSymbol("a"), nullptr);
    EXPECT_THROW(table.RemoveSymbol("a"), EExpressionError);
    try {
        table.FindSymbol("zz", true);
        ADD_FAILURE();
    } catch (const EExpressionError& error) {
        EXPECT_EQ(error.Message(), "Undefined symbol: zz");
        EXPECT_EQ(error.Position(), 0);
    }

    TSymbolTable lenient; // a new table gives 0 for undefined names
    EXPECT_FALSE(lenient.ErrorOnUndefined);
    EXPECT_EQ(Eval("nothing+1", lenient), 1);

    EXPECT_TRUE(GlobalSymbolTable().ErrorOnUndefined);
    EXPECT_EQ(Evaluate(":globalDefinition=3; globalDefinition"), 3);
    EXPECT_EQ(Evaluate("globalDefinition*2"), 6);
}

// A definition may replace the very symbol that is running; it must finish on the old one.
TEST(ExpressionEval, RedefinitionWhileRunning) {
    Table table;
    EXPECT_EQ(Eval(":f(x)=(:f=1)x*2; f(3)", table), 6);
    EXPECT_EQ(Eval("f", table), 1);
    EXPECT_EQ(Eval(":g()=(:g=5)7; g", table), 7);
    EXPECT_EQ(Eval("g", table), 5);
    EXPECT_EQ(Eval("num.min((:x=2)(x-1)^2,x)", table), 1);
    EXPECT_EQ(table.FindSymbol("x"), nullptr);
}

TEST(ExpressionEval, RecursionAndRunawayInputAreRefused) {
    ExpectErrors({{":g()=g(); g", "Recursive reference", 11},
                  {":f(x)=f(x); f(1)", "Recursive reference", 16},
                  {":f(x)=g(x); :g(x)=f(x); f(1)", "Recursive reference", 28}});

    Table table;
    const auto expectError = [&](const std::string& text, const std::string& message) {
        try {
            Eval(text, table);
            ADD_FAILURE() << "no error";
        } catch (const EExpressionError& error) {
            EXPECT_EQ(error.Message(), message);
        }
    };
    expectError(std::string(100000, '('), "Expression nested too deeply");
    expectError(std::string(100000, '(') + "1" + std::string(100000, ')'),
                "Expression nested too deeply");
    expectError("1" + std::string(100000, '-') + "1", "Invalid number format");

    std::string chain = ":a0()=1;";
    for (int i = 1; i < 400; ++i)
        chain += ":a" + std::to_string(i) + "()=a" + std::to_string(i - 1) + ";";
    expectError(chain + "a399", "Expression nested too deeply");
    EXPECT_EQ(Eval("a100", table), 1); // a shallow part of the chain still works

    // Each level calls the one below twice: 2^40 calls unless the work is bounded.
    std::string doubling = ":f0(x)=x;";
    for (int i = 1; i <= 40; ++i)
        doubling += ":f" + std::to_string(i) + "(x)=f" + std::to_string(i - 1) + "(x)+f" +
                    std::to_string(i - 1) + "(x);";
    expectError(doubling + "f40(1)", "Expression too complex");
    EXPECT_EQ(Eval("f10(1)", table), 1024);
    expectError("num.min(num.min(num.min(x^2+y^2+z^2,x),y),z)", "Expression too complex");
}

TEST(ExpressionEval, IfEvaluatesOnlyTheChosenBranch) {
    ExpectValues({{"if(1,2,1/0)", 2},
                  {"if(0,2,3)", 3},
                  {"if(1>2,1,0)", 0},
                  {"if(1,if(0,1,(2)),3)", 2},
                  {"if( 1 , 2 , 3 )", 2},
                  {"if(1,2,PI)", 2},
                  {"1+if(0,5,6)*2", 13}});
    Table table;
    EXPECT_EQ(Eval("if(1,(:t=1)2,(:u=1)3)", table), 2);
    EXPECT_NE(table.FindSymbol("t"), nullptr);
    EXPECT_EQ(table.FindSymbol("u"), nullptr);
}

TEST(ExpressionEval, OptimisersStartFromTheGuess) {
    Table table;
    EXPECT_NEAR(static_cast<double>(Eval("num.root(x^2-2,x)", table)), std::sqrt(2.0), 1e-5);
    EXPECT_NEAR(static_cast<double>(Eval("num.solve(x*x=9,x)", table)), 3.0, 1e-5);
    EXPECT_NEAR(static_cast<double>(Eval("num.min((x-1)^2+5,x)", table)), 5.0, 1e-9);
    EXPECT_NEAR(static_cast<double>(Eval("num.argmin((x-1)^2+5,x)", table)), 1.0, 1e-4);
    EXPECT_NEAR(static_cast<double>(Eval(":num.Guess=-5; num.root(x^2-2,x)", table)),
                -std::sqrt(2.0), 1e-5);
    EXPECT_EQ(Eval(":y=7; num.min((y-1)^2,y)+y", table), 7); // the variable is restored
    // Results beyond 1e100 become infinite.
    EXPECT_EQ(Eval("num.argmin(-x,x)", table), kInf);
    EXPECT_EQ(Eval("num.min(-x,x)", table), -kInf);
    try {
        Eval("num.root(x^2+1,x)", table);
        ADD_FAILURE();
    } catch (const EExpressionError& error) {
        EXPECT_EQ(error.Message(), "No solution found, try changing starting guess");
    }

    const auto* root = static_cast<TOptimizationFunction*>(table.FindSymbol("num.root"));
    const auto* solve = static_cast<TOptimizationFunction*>(table.FindSymbol("num.solve"));
    EXPECT_EQ(root->Syntax(), "expression,x");
    EXPECT_EQ(root->Description(), "Root of expression in x");
    EXPECT_EQ(solve->Syntax(), "equation,x");
    EXPECT_EQ(solve->Description(), "Solve equation in x");
}

TEST(ExpressionEval, BuiltIns) {
    ExpectValues({{"fac(5)", 120},
                  {"fac(0)", 1},
                  {"fac(1)", 1},
                  {"fac(5.0000001)", 120},
                  {"fac(1e30)", kInf},
                  {"fac(1e4000)", kInf},
                  {"bin(101)", 5},
                  {"bin(1011)", 11},
                  {"bin(0)", 0},
                  {"bin(1111111111111111)", 65535},
                  {"round(2.5)", 2},
                  {"round(3.5)", 4},
                  {"round(-2.5)", -2},
                  {"round(0.5)", 0},
                  {"floor(-1.5)", -2},
                  {"ceil(-1.5)", -1},
                  {"frac(-1.25)", -0.25L},
                  {"abs(-3)", 3},
                  {"sqrt(16)", 4},
                  {"log2(8)", 3},
                  {"exp(0)", 1},
                  {"kb+Mb+Gb", 1024.0L + 1048576.0L + 1073741824.0L},
                  {"sin(0)+cos(0)+tanh(0)", 1},
                  {"randn(0)", 0},
                  {"num.Guess", 0.500000001L}});
    ExpectErrors({{"fac(-1)", "Undefined", 7},
                  {"bin(-1)", "Invalid binary number", 7},
                  {"bin(1e17)", "Max 16 bits in binary number", 9},
                  {"bin(11111111111111111)", "Max 16 bits in binary number", 22}});

    Table table;
    EXPECT_NEAR(static_cast<double>(Eval("ln(e)", table)), 1.0, 1e-15);
    EXPECT_NEAR(static_cast<double>(Eval("log10(1000)", table)), 3.0, 1e-15);
    EXPECT_NEAR(static_cast<double>(Eval("arctan(1)*4", table)), std::numbers::pi, 1e-15);
    for (int i = 0; i < 200; ++i) {
        const Extended r = Eval("rand(10)", table);
        ASSERT_TRUE(r >= 0 && r < 10);
        ASSERT_TRUE(std::isfinite(Eval("randn(1)", table)));
    }
    EXPECT_EQ(static_cast<TStandardFunction*>(table.FindSymbol("abs"))->Description, "|x|");
    EXPECT_EQ(static_cast<TStandardFunction*>(table.FindSymbol("sin"))->Description, "");
    EXPECT_EQ(table.FindSymbol("num.Guess")->Kind(), TSymbolKind::Value);
    EXPECT_NE(dynamic_cast<TParameterValue*>(table.FindSymbol("num.Guess")), nullptr);
    const auto* conditional = static_cast<TSymbolicFunction*>(table.FindSymbol("if"));
    EXPECT_EQ(conditional->Syntax(), "condition,trueVal,falseVal");
    EXPECT_EQ(conditional->Description(), "Conditional value");
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
    ExpectErrors({{"len(abcdef)", "Too long", 10}});
}

TEST(ExpressionEval, FloatingPointEnvironmentIsRestored) {
    Table table;
    std::fesetround(FE_UPWARD);
    std::feclearexcept(FE_ALL_EXCEPT);
    EXPECT_EQ(Eval("round(2.5)", table), 2); // evaluation rounds to nearest whatever the caller set
    EXPECT_EQ(Eval("1/0", table), kInf);
    EXPECT_THROW(Eval("0/0", table), EExpressionError);
    EXPECT_EQ(std::fegetround(), FE_UPWARD);
    EXPECT_EQ(std::fetestexcept(FE_ALL_EXCEPT), 0);
    std::fesetround(FE_TONEAREST);
}

TEST(ExpressionEval, TextHelpers) {
    EXPECT_EQ(CommaToPoint("1,5,3"), "1.5,3");
    EXPECT_EQ(CommaToPoint("15"), "15");
    EXPECT_EQ(TrimBlanks(" \t1 2\r\n"), "1 2");
    EXPECT_EQ(TrimBlanks(" \n "), "");
}

} // namespace
} // namespace stipplor
