// The user's settings store. Values keep the type they were written with; a reader that finds
// another type treats the key as absent.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace sombrix {

using DefaultsValue =
    std::variant<bool, std::int64_t, double, std::string, std::vector<std::string>>;

class DefaultsStore {
public:
    virtual ~DefaultsStore() = default;
    // What is known of `key`: a value written in this session, saved or not, else what the
    // store's backing holds. Absent when neither has it.
    virtual std::optional<DefaultsValue> object(std::string_view key) = 0;
    // A write takes effect for this session at once, even when it cannot be kept.
    virtual void setBool(std::string_view key, bool value) = 0;
    virtual void setDouble(std::string_view key, double value) = 0;
    virtual void setString(std::string_view key, std::string_view value) = 0;
    // An empty list removes the key: it means the same as no list at all.
    virtual void setStringList(std::string_view key, const std::vector<std::string>& list) = 0;
    // Empty while every write has been kept; otherwise, in plain words for the user, why the
    // settings could not be saved and where.
    virtual std::string saveProblem() const { return {}; }
};

}  // namespace sombrix
