// The built-in symbols of every new table: constants, the standard functions of one argument,
// if, and the numeric searches with their start value.
#include "controls/ExpressionEval.h"
#include "controls/ExpressionInternals.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <memory>
#include <numbers>
#include <random>

namespace stipplor {

using namespace expression_internal;

namespace {

// 64 random bits scaled by 2^-64 are exact in extended precision and stay below 1.
Extended UniformRandom() {
    static std::mt19937_64 engine{std::random_device{}()};
    return std::ldexp(static_cast<Extended>(engine()), -64);
}

Extended Factorial(Extended x) {
    const Extended n = std::nearbyint(x);
    if (!(x >= 0) || !(std::fabs(x - n) <= 0.000001L))
        throw Exception("Undefined");
    Extended product = 1;
    // Once the product is infinite it stays so; stopping there keeps fac(1e30) instant.
    for (Extended i = 2; i <= n && !std::isinf(product); i += 1)
        product *= i;
    return product;
}

Extended Binary(Extended x) {
    if (std::isnan(x) || std::isinf(x))
        throw Exception("Invalid binary number");
    if (std::fabs(x) >= 1e17L)
        throw Exception("Max 16 bits in binary number");
    std::array<char, 32> digits{};
    const int length = std::snprintf(digits.data(), digits.size(), "%.0Lf", x);
    if (length > 16)
        throw Exception("Max 16 bits in binary number");
    Extended value = 0;
    for (int i = 0; i < length; ++i) {
        if (digits[i] != '0' && digits[i] != '1')
            throw Exception("Invalid binary number");
        value = value * 2 + (digits[i] - '0');
    }
    return value;
}

// Polar method; s = 0 is skipped as well, since ln(0)/0 has no value.
Extended GaussianRandom(Extended deviation) {
    Extended u = 0;
    Extended s = 0;
    do {
        u = 2 * UniformRandom() - 1;
        const Extended v = 2 * UniformRandom() - 1;
        s = u * u + v * v;
    } while (s >= 1 || s == 0);
    return deviation * u * std::sqrt(-2 * std::log(s) / s);
}

struct BuiltinFunction {
    const char* name;
    TExtendedFunction callback;
    const char* description;
};

const BuiltinFunction BuiltinFunctions[] = {
    {"sin", [](Extended x) { return std::sin(x); }, ""},
    {"cos", [](Extended x) { return std::cos(x); }, ""},
    {"arctan", [](Extended x) { return std::atan(x); }, ""},
    {"arccos", [](Extended x) { return std::acos(x); }, ""},
    {"arcsin", [](Extended x) { return std::asin(x); }, ""},
    {"tan", [](Extended x) { return std::tan(x); }, ""},
    {"cot", [](Extended x) { return 1 / std::tan(x); }, ""},
    {"sinh", [](Extended x) { return std::sinh(x); }, ""},
    {"cosh", [](Extended x) { return std::cosh(x); }, ""},
    {"tanh", [](Extended x) { return std::tanh(x); }, ""},
    {"arccosh", [](Extended x) { return std::acosh(x); }, ""},
    {"arcsinh", [](Extended x) { return std::asinh(x); }, ""},
    {"arctanh", [](Extended x) { return std::atanh(x); }, ""},
    {"log10", [](Extended x) { return std::log10(x); }, "Base 10 logarithm"},
    {"log2", [](Extended x) { return std::log2(x); }, "Base 2 logarithm"},
    {"ln", [](Extended x) { return std::log(x); }, "Base e logarithm"},
    {"sqrt", [](Extended x) { return std::sqrt(x); }, "Square root"},
    {"exp", [](Extended x) { return std::exp(x); }, "e^x"},
    {"fac", Factorial, "x!"},
    {"abs", [](Extended x) { return std::fabs(x); }, "|x|"},
    {"ceil", [](Extended x) { return std::ceil(x); }, "Rounds up toward positive infinity"},
    {"floor", [](Extended x) { return std::floor(x); }, "Rounds toward negative infinity"},
    {"round", [](Extended x) { return std::nearbyint(x); }, "Round to nearest integer"},
    {"frac", [](Extended x) { return x - std::trunc(x); }, "Fractional part of real number"},
    {"rand", [](Extended x) { return x * UniformRandom(); }, "Random number in [0;x["},
    {"randn", GaussianRandom, "Gaussian random number, StdDev=x"},
    {"bin", Binary, "Convert binary number"},
};

} // namespace

Extended TIfFunction::Evaluate(std::string_view text, std::size_t& pos, TSymbolTable& table) {
    std::array<std::size_t, 3> starts{};
    std::array<std::size_t, 3> ends{};
    std::size_t cursor = pos;
    for (std::size_t i = 0; i < 3; ++i) {
        if (cursor >= text.size())
            throw EExpressionError(") expected", PositionAt(text.size()));
        starts[i] = cursor;
        ends[i] = FindArgumentEnd(text, cursor, i < 2);
        if (i < 2) {
            if (ends[i] >= text.size())
                throw EExpressionError(") expected", PositionAt(text.size()));
            if (text[ends[i]] == ')')
                throw EExpressionError(", expected", PositionAt(ends[i]));
        }
        cursor = ends[i] + 1;
    }
    pos = ends[2];
    const Extended condition = EvaluateArgument(text, starts[0], ends[0], table);
    const std::size_t chosen = condition != 0 ? 1 : 2;
    return EvaluateArgument(text, starts[chosen], ends[chosen], table);
}

namespace expression_internal {

void DefineBuiltinSymbols(TSymbolTable& table) {
    table.Define("pi", std::make_unique<TSymbolValue>(std::numbers::pi_v<Extended>));
    table.Define("e", std::make_unique<TSymbolValue>(std::numbers::e_v<Extended>));
    table.Define("inf", std::make_unique<TSymbolValue>(InfinityValue));
    table.Define("kb", std::make_unique<TSymbolValue>(1024.0L));
    table.Define("Mb", std::make_unique<TSymbolValue>(1048576.0L));
    table.Define("Gb", std::make_unique<TSymbolValue>(1073741824.0L));
    for (const auto& builtin : BuiltinFunctions)
        table.Define(builtin.name,
                     std::make_unique<TStandardFunction>(builtin.callback, builtin.description));
    table.Define("num.argmin",
                 std::make_unique<TOptimizationFunction>(TOptimizationFunction::ArgMin));
    table.Define("num.min", std::make_unique<TOptimizationFunction>(TOptimizationFunction::Min));
    table.Define("num.root", std::make_unique<TOptimizationFunction>(TOptimizationFunction::Root));
    table.Define("num.solve",
                 std::make_unique<TOptimizationFunction>(TOptimizationFunction::Solve));
    table.Define("num.Guess", std::make_unique<TParameterValue>(0.500000001L));
    table.Define("if", std::make_unique<TIfFunction>());
}

} // namespace expression_internal

} // namespace stipplor
