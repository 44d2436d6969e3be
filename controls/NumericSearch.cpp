// The numeric searches num.argmin, num.min, num.root and num.solve: a step search from
// num.Guess that grows its step while it gains and halves it when it does not.
#include "controls/ExpressionEval.h"
#include "controls/ExpressionInternals.h"

#include <algorithm>
#include <cmath>

namespace stipplor {

using namespace expression_internal;

std::string TOptimizationFunction::Syntax() const {
    return Mode == Solve ? "equation,x" : "expression,x";
}

std::string TOptimizationFunction::Description() const {
    switch (Mode) {
    case ArgMin:
        return "Find x that minimizes expression";
    case Min:
        return "Minimum value for expression in x";
    case Root:
        return "Root of expression in x";
    case Solve:
        return "Solve equation in x";
    }
    return {};
}

Extended TOptimizationFunction::Evaluate(std::string_view text, std::size_t& pos,
                                         TSymbolTable& table) {
    const std::size_t exprStart = pos;
    const std::size_t exprEnd = FindArgumentEnd(text, exprStart, true);
    if (exprEnd >= text.size() || text[exprEnd] != ',')
        throw EExpressionError(", expected", PositionAt(exprEnd));
    pos = exprEnd + 1;
    SkipBlanksAt(text, pos);
    if (pos >= text.size() || !IsNameStart(text[pos]))
        throw EExpressionError("Name expected", PositionAt(pos));
    const std::string variable = ReadNameAt(text, pos);

    const auto* guess = table.FindSymbol("num.Guess");
    if (guess == nullptr || guess->Kind() != TSymbolKind::Value)
        throw EExpressionError("Guess undefined", PositionAt(pos));
    Extended x = static_cast<const TSymbolValue*>(guess)->Value;

    const std::string_view argument = text.substr(exprStart, exprEnd - exprStart);
    std::string expression(argument);
    std::size_t equals = std::string_view::npos;
    if (Mode == Solve) {
        equals = argument.find('=');
        if (equals == std::string_view::npos)
            throw EExpressionError("= not found", PositionAt(exprStart));
        if (const auto second = argument.find('=', equals + 1); second != std::string_view::npos)
            throw EExpressionError("Extra = found", PositionAt(exprStart + second));
        expression.clear();
        expression.append("(")
            .append(argument.substr(0, equals))
            .append(")-(")
            .append(argument.substr(equals + 1))
            .append(")");
    }
    // Maps a position in the evaluated expression back into text; the rewritten equation has
    // one character more before its left part and three around the '='.
    const auto positionInText = [&](int32_t inner) {
        std::size_t offset = static_cast<std::size_t>(std::max(inner, 1)) - 1;
        if (Mode == Solve)
            offset = offset <= equals + 1 ? (offset > 0 ? offset - 1 : 0) : offset - 3;
        return PositionAt(exprStart + std::min(offset, argument.size()));
    };

    const bool absolute = Mode == Root || Mode == Solve;
    TTemporaryBinding binding(table, variable, x);
    const auto f = [&](Extended at) {
        binding.Set(at);
        const Extended value = stipplor::Evaluate(expression, &table, true);
        return absolute ? std::fabs(value) : value;
    };
    Extended f0 = 0;
    try {
        f0 = f(x);
    } catch (const EExpressionError& error) {
        if (WorkExhausted())
            throw;
        throw EExpressionError("Unable to evaluate guess: " + error.Message(),
                               positionInText(error.Position()));
    }
    const auto fOr = [&](Extended at, Extended fallback) {
        try {
            return f(at);
        } catch (const EExpressionError&) {
            if (WorkExhausted())
                throw;
            return fallback;
        }
    };
    Extended step = 1;
    for (int round = 0; round < 5000 && x + step != x; ++round) {
        if (const Extended up = fOr(x + step, f0); up < f0) {
            x += step;
            step *= 1.1L;
            f0 = up;
        } else if (const Extended down = fOr(x - step, f0); down < f0) {
            x -= step;
            step *= -1.1L;
            f0 = down;
        } else {
            step *= 0.5L;
        }
    }
    Extended result = x;
    if (Mode == Min)
        result = f0;
    if (absolute && f0 > 0.00001L)
        throw EExpressionError("No solution found, try changing starting guess", PositionAt(pos));
    if (std::fabs(result) < 1e-100L)
        return 0;
    if (result > 1e100L)
        return InfinityValue;
    if (result < -1e100L)
        return -InfinityValue;
    return result;
}

} // namespace stipplor
