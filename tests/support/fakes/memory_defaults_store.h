// A settings store in memory; values keep the type they were written with.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/defaults_store.h"

namespace sombrix::fakes {

class MemoryDefaultsStore : public DefaultsStore {
public:
    std::optional<DefaultsValue> object(std::string_view key) override {
        const auto it = values_.find(key);
        if (it == values_.end())
            return std::nullopt;
        return it->second;
    }
    void setBool(std::string_view key, bool value) override { set(key, value); }
    void setDouble(std::string_view key, double value) override { set(key, value); }
    void setString(std::string_view key, std::string_view value) override {
        set(key, std::string(value));
    }
    void setStringList(std::string_view key, const std::vector<std::string>& list) override {
        if (list.empty())
            remove(key);
        else
            set(key, list);
    }
    std::string saveProblem() const override { return problem; }

    // Control side: any stored type, as another program (or an older version) may have left it.
    void set(std::string_view key, DefaultsValue value) {
        values_.insert_or_assign(std::string(key), std::move(value));
    }
    // The stored value when it has type T.
    template <typename T>
    std::optional<T> stored(std::string_view key) {
        const auto value = object(key);
        if (!value || !std::holds_alternative<T>(*value))
            return std::nullopt;
        return std::get<T>(*value);
    }
    void remove(std::string_view key) { values_.erase(std::string(key)); }

    // What saveProblem() reports, as a store that cannot write its file would.
    std::string problem;

private:
    std::map<std::string, DefaultsValue, std::less<>> values_;
};

}  // namespace sombrix::fakes
