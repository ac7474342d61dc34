// A small JSON reader for updkit's input files (manifests). Strings stay UTF-8.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace updkit {

class TJsonValue {
public:
    enum class TKind { Null, Bool, Number, String, Array, Object };

    TKind Kind() const { return m_kind; }
    bool IsNull() const { return m_kind == TKind::Null; }

    /// Typed access; each raises upd::Exception "<what> must be a <type>" on another kind.
    bool AsBool(const std::string& what) const;
    /// A whole number within 64 bits.
    std::int64_t AsInteger(const std::string& what) const;
    const std::string& AsString(const std::string& what) const;
    const std::vector<TJsonValue>& AsArray(const std::string& what) const;

    /// A member of an object, or nullptr when absent (or this is not an object).
    const TJsonValue* Find(std::string_view key) const;
    const std::vector<std::pair<std::string, TJsonValue>>& Members() const { return m_members; }

private:
    friend class TJsonParser;
    TKind m_kind = TKind::Null;
    bool m_bool = false;
    double m_number = 0;
    bool m_integral = false;
    std::int64_t m_integer = 0;
    std::string m_string;
    std::vector<TJsonValue> m_items;
    std::vector<std::pair<std::string, TJsonValue>> m_members;
};

/// Parses a whole document (RFC 8259; a UTF-8 byte order mark is skipped).
/// Raises upd::Exception "JSON error at line L, column C: <reason>".
TJsonValue ParseJson(std::string_view text);

} // namespace updkit
