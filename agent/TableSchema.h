#pragma once
// What the agent knows of the table's values, learnt from the runtime's type
// registry once the table library is loaded: the key fields (the match
// spec's attributes), the actions (the names of the action type enumeration
// and the action spec class of each) and each action's parameters. Objects
// are created through the registry and their fields set and read through the
// generic attribute interface, so no field is named in the agent's code.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "TableTypes.h"

namespace NatAgent {

// The match spec's fields packed into one number, 16 bits each in
// declaration order: the identity of an entry's key, independent of objects.
using MatchKey = std::uint64_t;

struct ActionInfo {
    std::string name;  // as written in a line: the enum name without "ActionSpec"
    Kiv::U8 type;      // the action type value
    const Kiv::TypeInfo* typeInfo;
    // The attributes a line sets: none for a class without fields of its own,
    // otherwise every attribute but the action type.
    std::vector<const Kiv::AttributeInfo*> params;
    std::vector<std::string_view> paramNames;  // of `params`, for the per-line lookups
};

// An entry's field values, comparable whatever objects carry them.
struct EntryFields {
    MatchKey key = 0;
    Kiv::U8 actionType = 0;
    std::vector<Kiv::U64> params;  // in the order of ActionInfo::params

    bool operator==(const EntryFields&) const = default;
};

class TableSchema {
  public:
    // Throws AgentError when the registry lacks the library's types.
    TableSchema();

    const std::vector<const Kiv::AttributeInfo*>& keyFields() const noexcept { return keyFields_; }
    // The index of key field `name` in keyFields(), or -1.
    int keyIndex(std::string_view name) const noexcept;
    const std::vector<ActionInfo>& actions() const noexcept { return actions_; }
    // Null for a name that is no action of the table.
    const ActionInfo* action(std::string_view name) const noexcept;
    // Throws AgentError for a type without a name.
    const ActionInfo& action(Kiv::U8 type) const;
    // The index of parameter `name` in action.params, or -1.
    static int paramIndex(const ActionInfo& action, std::string_view name) noexcept;
    // "a, b and c", for messages.
    static std::string nameList(const std::vector<std::string>& names);

    Dorvu::Ptr<MatchSpec> newMatch() const;
    Dorvu::Ptr<ActionSpec> newAction(const ActionInfo& action) const;

    MatchKey keyOf(const MatchSpec& match) const;
    // The key of these field values, in keyFields() order.
    MatchKey keyOf(const std::vector<Kiv::U64>& values) const;
    // A new match object with the key's fields, and a new action object
    // with the fields' action and parameters.
    Dorvu::Ptr<MatchSpec> matchOf(MatchKey key) const;
    Dorvu::Ptr<ActionSpec> actionOf(const EntryFields& fields) const;
    // The value of key field `field` (an index into keyFields()).
    Kiv::U64 keyValue(MatchKey key, std::size_t field) const noexcept;
    // "name=value ..." of the key fields.
    std::string keyText(MatchKey key) const;
    // Null fields for an empty entry.
    EntryFields fieldsOf(const MatchSpec& match, const ActionSpec& action) const;
    // "action=NAME name=value ..." of the action and its parameters.
    std::string actionText(const EntryFields& fields) const;

  private:
    const Kiv::TypeInfo* matchType_;
    std::vector<const Kiv::AttributeInfo*> keyFields_;
    std::vector<std::string_view> keyNames_;
    std::vector<ActionInfo> actions_;
};

}  // namespace NatAgent
