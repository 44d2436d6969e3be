// Symbol tables: a sorted vector of names with shared symbols, the global table, registered
// symbolic functions, and the evaluation of stored expressions and functions.
#include "controls/ExpressionEval.h"
#include "controls/ExpressionInternals.h"

#include <algorithm>
#include <memory>

namespace stipplor {

using namespace expression_internal;

namespace {

class BusyScope {
public:
    explicit BusyScope(bool& busy) : busy_(busy) {
        if (busy_)
            throw EExpressionError("Recursive reference", 0);
        busy_ = true;
    }
    ~BusyScope() { busy_ = false; }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    bool& busy_;
};

struct Registration {
    std::string name;
    TSymbolicFunctionFactory factory;
};

std::vector<Registration>& SymbolicRegistrations() {
    static std::vector<Registration> registrations;
    return registrations;
}

} // namespace

Extended TSymbolExpression::Evaluate(TSymbolTable& table) {
    BusyScope busy(Busy);
    return stipplor::Evaluate(Body, &table, true);
}

Extended TExpressionFunction::Evaluate(TSymbolTable& table, Extended x) {
    if (Busy)
        throw EExpressionError("Recursive reference", 0);
    TTemporaryBinding parameter(table, ParameterName, x);
    BusyScope busy(Busy);
    return stipplor::Evaluate(Body, &table, true);
}

TSymbolTable::TSymbolTable() {
    DefineBuiltinSymbols(*this);
    for (const auto& registration : SymbolicRegistrations())
        if (auto symbol = registration.factory())
            Define(registration.name, std::move(symbol));
}

TSymbolTable::~TSymbolTable() = default;

std::vector<TSymbolTable::Entry>::iterator TSymbolTable::Locate(std::string_view name) {
    return std::lower_bound(
        entries_.begin(), entries_.end(), name,
        [](const Entry& entry, std::string_view key) { return entry.first < key; });
}

std::vector<TSymbolTable::Entry>::const_iterator TSymbolTable::Locate(std::string_view name) const {
    return std::lower_bound(
        entries_.begin(), entries_.end(), name,
        [](const Entry& entry, std::string_view key) { return entry.first < key; });
}

void TSymbolTable::Define(std::string_view name, std::unique_ptr<TSymbol> symbol) {
    Exchange(name, std::shared_ptr<TSymbol>(std::move(symbol)));
}

std::shared_ptr<TSymbol> TSymbolTable::Exchange(std::string_view name,
                                                std::shared_ptr<TSymbol> symbol) {
    const auto it = Locate(name);
    const bool found = it != entries_.end() && it->first == name;
    if (!found) {
        if (symbol)
            entries_.emplace(it, std::string(name), std::move(symbol));
        return nullptr;
    }
    std::shared_ptr<TSymbol> previous = std::move(it->second);
    if (symbol)
        it->second = std::move(symbol);
    else
        entries_.erase(it);
    return previous;
}

std::shared_ptr<TSymbol> TSymbolTable::FindShared(std::string_view name) const {
    const auto it = Locate(name);
    if (it == entries_.end() || it->first != name)
        return nullptr;
    return it->second;
}

TSymbol* TSymbolTable::FindSymbol(std::string_view name, bool mustExist) const {
    const auto it = Locate(name);
    if (it != entries_.end() && it->first == name)
        return it->second.get();
    if (mustExist)
        throw EExpressionError("Undefined symbol: " + std::string(name), 0);
    return nullptr;
}

void TSymbolTable::RemoveSymbol(std::string_view name) {
    FindSymbol(name, true);
    Exchange(name, nullptr);
}

TSymbolTable& GlobalSymbolTable() {
    static TSymbolTable table = [] {
        TSymbolTable created;
        created.ErrorOnUndefined = true;
        return created;
    }();
    return table;
}

void RegisterSymbolicFunction(std::string name, TSymbolicFunctionFactory factory) {
    SymbolicRegistrations().push_back({std::move(name), std::move(factory)});
}

} // namespace stipplor
