#pragma once
// Arithmetic typed into value fields: an operator-precedence evaluator that works straight on
// the text against a table of named symbols, in 80-bit extended precision.
//
// Everything here runs on the user-interface thread; the symbol tables and the Busy flags are
// not protected against concurrent use.
#include "core/Exception.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace stipplor {

using Extended = long double;

class EExpressionError : public Exception {
public:
    // position: 1-based index of the offending character in the evaluated text, 0 when the
    // error is not tied to a place.
    EExpressionError(std::string message, int32_t position)
        : Exception(std::move(message)), position_(position) {}
    int32_t Position() const noexcept { return position_; }
    const char* ClassName() const noexcept override { return "EExpressionError"; }

private:
    int32_t position_;
};

class TSymbolTable;

// The numbers are those of the original symbol records; names stored in tables keep them.
enum class TSymbolKind : uint8_t { Function = 0, Value = 1, Expression = 2, Symbolic = 3 };

class TSymbol {
public:
    virtual ~TSymbol() = default;
    TSymbol(const TSymbol&) = delete;
    TSymbol& operator=(const TSymbol&) = delete;
    virtual TSymbolKind Kind() const noexcept = 0;

protected:
    TSymbol() = default;
};

class TSymbolValue : public TSymbol {
public:
    explicit TSymbolValue(Extended value) : Value(value) {}
    TSymbolKind Kind() const noexcept final { return TSymbolKind::Value; }
    Extended Value;
};

// A value the user is meant to set, such as the optimisers' start value "num.Guess".
class TParameterValue final : public TSymbolValue {
public:
    using TSymbolValue::TSymbolValue;
};

class TSymbolFunction : public TSymbol {
public:
    TSymbolKind Kind() const noexcept final { return TSymbolKind::Function; }
    virtual Extended Evaluate(TSymbolTable& table, Extended x) = 0;
};

using TExtendedFunction = Extended (*)(Extended);

class TStandardFunction final : public TSymbolFunction {
public:
    TStandardFunction(TExtendedFunction callback, std::string description = {})
        : Callback(callback), Description(std::move(description)) {}
    Extended Evaluate(TSymbolTable&, Extended x) override { return Callback(x); }
    TExtendedFunction Callback;
    std::string Description;
};

// A function of one parameter defined inside an expression, as in ":f(x)=x*x".
class TExpressionFunction final : public TSymbolFunction {
public:
    TExpressionFunction(std::string parameterName, int32_t position, std::string body)
        : ParameterName(std::move(parameterName)), Position(position), Body(std::move(body)) {}
    Extended Evaluate(TSymbolTable& table, Extended x) override;
    bool Busy = false;
    std::string ParameterName;
    int32_t Position; // where the body started in the defining text
    std::string Body;
};

// An expression stored by name and evaluated at every use, as in ":r()=2*a".
class TSymbolExpression final : public TSymbol {
public:
    TSymbolExpression(int32_t position, std::string body)
        : Position(position), Body(std::move(body)) {}
    TSymbolKind Kind() const noexcept final { return TSymbolKind::Expression; }
    Extended Evaluate(TSymbolTable& table);
    bool Busy = false;
    int32_t Position;
    std::string Body;
};

// A function that reads its own argument text. Evaluate starts at text[pos] (0-based, just
// after the opening parenthesis and its blanks) and leaves pos on the closing parenthesis.
class TSymbolicFunction : public TSymbol {
public:
    TSymbolKind Kind() const noexcept final { return TSymbolKind::Symbolic; }
    virtual Extended Evaluate(std::string_view text, std::size_t& pos, TSymbolTable& table) = 0;
    virtual std::string Syntax() const = 0;
    virtual std::string Description() const = 0;
};

// if(condition,trueVal,falseVal): evaluates only the chosen branch.
class TIfFunction final : public TSymbolicFunction {
public:
    Extended Evaluate(std::string_view text, std::size_t& pos, TSymbolTable& table) override;
    std::string Syntax() const override { return "condition,trueVal,falseVal"; }
    std::string Description() const override { return "Conditional value"; }
};

// The numeric searches num.argmin, num.min, num.root and num.solve, starting from num.Guess.
class TOptimizationFunction final : public TSymbolicFunction {
public:
    enum TMode : uint8_t { ArgMin = 0, Min = 1, Root = 2, Solve = 3 };
    explicit TOptimizationFunction(TMode mode) : Mode(mode) {}
    Extended Evaluate(std::string_view text, std::size_t& pos, TSymbolTable& table) override;
    std::string Syntax() const override;
    std::string Description() const override;
    TMode Mode;
};

// Names sorted by plain byte order, case-sensitive. The table owns its symbols; a symbol that
// is being evaluated stays alive until its evaluation ends even when an expression redefines
// or removes its name meanwhile. A new table holds the built-in symbols.
class TSymbolTable {
public:
    TSymbolTable();
    TSymbolTable(const TSymbolTable&) = delete;
    TSymbolTable& operator=(const TSymbolTable&) = delete;
    TSymbolTable(TSymbolTable&&) noexcept = default;
    TSymbolTable& operator=(TSymbolTable&&) noexcept = default;
    ~TSymbolTable();

    // Replaces (and frees) the symbol of an existing name, else inserts the pair.
    void Define(std::string_view name, std::unique_ptr<TSymbol> symbol);
    // mustExist: a missing name raises "Undefined symbol: <name>" instead of giving nullptr.
    TSymbol* FindSymbol(std::string_view name, bool mustExist = false) const;
    void RemoveSymbol(std::string_view name);

    // Puts symbol (nullptr: nothing) under name and hands back what was there, without
    // freeing it; used for temporary bindings that are undone afterwards.
    std::shared_ptr<TSymbol> Exchange(std::string_view name, std::shared_ptr<TSymbol> symbol);
    std::shared_ptr<TSymbol> FindShared(std::string_view name) const;

    std::size_t Count() const noexcept { return entries_.size(); }
    const std::string& Name(std::size_t index) const { return entries_.at(index).first; }
    TSymbol* Symbol(std::size_t index) const { return entries_.at(index).second.get(); }

    bool ErrorOnUndefined = false;

private:
    using Entry = std::pair<std::string, std::shared_ptr<TSymbol>>;
    std::vector<Entry>::iterator Locate(std::string_view name);
    std::vector<Entry>::const_iterator Locate(std::string_view name) const;
    std::vector<Entry> entries_;
};

// The process-wide table used when Evaluate is given none: ErrorOnUndefined is set, and
// definitions made in expressions persist in it until shutdown.
TSymbolTable& GlobalSymbolTable();

// Further symbolic functions for every table created afterwards. The system registers none.
using TSymbolicFunctionFactory = std::function<std::unique_ptr<TSymbolicFunction>()>;
void RegisterSymbolicFunction(std::string name, TSymbolicFunctionFactory factory);

// table nullptr: the global table. strict: an empty operand list raises "Value expected"
// instead of giving NaN. The floating-point environment is restored on every exit.
Extended Evaluate(std::string_view text, TSymbolTable* table = nullptr, bool strict = true);

std::string CommaToPoint(std::string_view text);
std::string TrimBlanks(std::string_view text);

} // namespace stipplor
