#include "TableSchema.h"

#include <cctype>

#include "AgentError.h"

namespace NatAgent {

namespace {

// The library's classes are found by these names; everything else about
// them comes from the registry.
constexpr std::string_view kMatchSpecType = "BfTwiceNatAddrPort::TwiceNatAddrPortMatchSpec";
constexpr std::string_view kBaseActionType = "BfTwiceNatAddrPort::TwiceNatAddrPortBaseActionSpec";
constexpr std::string_view kActionTypeAttribute = "actionType";
// Enum value names end with this; action spec classes are named after them.
constexpr std::string_view kActionSuffix = "ActionSpec";
constexpr unsigned kKeyFieldBits = 16;
constexpr unsigned kMaxKeyFields = 64 / kKeyFieldBits;

const Kiv::TypeInfo& needType(std::string_view name) {
    const Kiv::TypeInfo* type = Kiv::TypeInfo::named(name);
    if (type == nullptr) {
        throw AgentError("the table library registered no type " + std::string(name));
    }
    return *type;
}

// "twiceNatAddrPortHitActionSpec" -> "BfTwiceNatAddrPort::TwiceNatAddrPortHitActionSpec"
std::string actionClassName(std::string_view enumName) {
    const std::string_view prefix = kBaseActionType.substr(0, kBaseActionType.rfind("::") + 2);
    std::string name(prefix);
    name += static_cast<char>(std::toupper(static_cast<unsigned char>(enumName[0])));
    name += enumName.substr(1);
    return name;
}

Kiv::U64 numberOf(const Kiv::Value& value) {
    const Kiv::U64* number = std::get_if<Kiv::U64>(&value);
    return number ? *number : 0;
}

}  // namespace

TableSchema::TableSchema() : matchType_(&needType(kMatchSpecType)) {
    for (const Kiv::AttributeInfo* attribute : matchType_->attributes()) {
        if (attribute->type != Kiv::AttrType::U16 || !attribute->writable()) {
            throw AgentError("match spec field " + std::string(attribute->name) +
                             " is not a writable U16");
        }
        keyFields_.push_back(attribute);
        keyNames_.emplace_back(attribute->name);
    }
    if (keyFields_.empty() || keyFields_.size() > kMaxKeyFields) {
        throw AgentError("the match spec has " + std::to_string(keyFields_.size()) + " fields");
    }
    const Kiv::AttributeInfo* actionType =
        needType(kBaseActionType).attribute(kActionTypeAttribute);
    if (actionType == nullptr || actionType->enumType == nullptr) {
        throw AgentError("the action specs have no action type enumeration");
    }
    const Kiv::EnumType& names = *actionType->enumType;
    for (std::size_t value = 0; value < names.size(); ++value) {
        std::string_view enumName = names.nameOf(static_cast<Kiv::U8>(value));
        if (!enumName.ends_with(kActionSuffix)) {
            throw AgentError("action type name " + std::string(enumName) + " does not end with " +
                             std::string(kActionSuffix));
        }
        ActionInfo info{std::string(enumName.substr(0, enumName.size() - kActionSuffix.size())),
                        static_cast<Kiv::U8>(value),
                        &needType(actionClassName(enumName)),
                        {},
                        {}};
        if (!info.typeInfo->ownAttributes().empty()) {
            for (const Kiv::AttributeInfo* attribute : info.typeInfo->attributes()) {
                if (std::string_view(attribute->name) != kActionTypeAttribute) {
                    info.params.push_back(attribute);
                    info.paramNames.emplace_back(attribute->name);
                }
            }
        }
        actions_.push_back(std::move(info));
    }
}

namespace {

int indexIn(const std::vector<std::string_view>& names, std::string_view name) noexcept {
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (names[i] == name) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

}  // namespace

int TableSchema::keyIndex(std::string_view name) const noexcept {
    return indexIn(keyNames_, name);
}

const ActionInfo* TableSchema::action(std::string_view name) const noexcept {
    for (const ActionInfo& info : actions_) {
        if (info.name == name) {
            return &info;
        }
    }
    return nullptr;
}

const ActionInfo& TableSchema::action(Kiv::U8 type) const {
    if (type >= actions_.size()) {
        throw AgentError("action type " + std::to_string(type) + " has no name");
    }
    return actions_[type];
}

int TableSchema::paramIndex(const ActionInfo& action, std::string_view name) noexcept {
    return indexIn(action.paramNames, name);
}

std::string TableSchema::nameList(const std::vector<std::string>& names) {
    std::string list;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) {
            list += i + 1 == names.size() ? " and " : ", ";
        }
        list += names[i];
    }
    return list;
}

Dorvu::Ptr<MatchSpec> TableSchema::newMatch() const {
    // The registry hands out the base; the type was checked when the schema was built.
    Kiv::PtrInterface::Ptr object = matchType_->create();
    return Dorvu::Ptr<MatchSpec>(static_cast<MatchSpec*>(object.ptr()));
}

Dorvu::Ptr<ActionSpec> TableSchema::newAction(const ActionInfo& action) const {
    Kiv::PtrInterface::Ptr object = action.typeInfo->create();
    return Dorvu::Ptr<ActionSpec>(static_cast<ActionSpec*>(object.ptr()));
}

MatchKey TableSchema::keyOf(const MatchSpec& match) const {
    MatchKey key = 0;
    for (const Kiv::AttributeInfo* field : keyFields_) {
        key = key << kKeyFieldBits | numberOf(field->get(match));
    }
    return key;
}

MatchKey TableSchema::keyOf(const std::vector<Kiv::U64>& values) const {
    MatchKey key = 0;
    for (const Kiv::U64 value : values) {
        key = key << kKeyFieldBits | (value & ((Kiv::U64{1} << kKeyFieldBits) - 1));
    }
    return key;
}

Dorvu::Ptr<MatchSpec> TableSchema::matchOf(MatchKey key) const {
    Dorvu::Ptr<MatchSpec> match = newMatch();
    for (std::size_t i = 0; i < keyFields_.size(); ++i) {
        Kiv::genericSet(*match, keyFields_[i]->name, Kiv::Value{keyValue(key, i)});
    }
    return match;
}

Dorvu::Ptr<ActionSpec> TableSchema::actionOf(const EntryFields& fields) const {
    const ActionInfo& info = action(fields.actionType);
    Dorvu::Ptr<ActionSpec> object = newAction(info);
    for (std::size_t i = 0; i < info.params.size() && i < fields.params.size(); ++i) {
        Kiv::genericSet(*object, info.params[i]->name, Kiv::Value{fields.params[i]});
    }
    return object;
}

Kiv::U64 TableSchema::keyValue(MatchKey key, std::size_t field) const noexcept {
    const auto shift = static_cast<unsigned>(keyFields_.size() - 1 - field) * kKeyFieldBits;
    return (key >> shift) & ((Kiv::U64{1} << kKeyFieldBits) - 1);
}

std::string TableSchema::keyText(MatchKey key) const {
    std::string text;
    for (std::size_t i = 0; i < keyFields_.size(); ++i) {
        if (i > 0) {
            text += ' ';
        }
        text += keyFields_[i]->name;
        text += '=';
        text += std::to_string(keyValue(key, i));
    }
    return text;
}

EntryFields TableSchema::fieldsOf(const MatchSpec& match, const ActionSpec& action) const {
    EntryFields fields;
    fields.key = keyOf(match);
    fields.actionType =
        static_cast<Kiv::U8>(numberOf(Kiv::genericGet(action, kActionTypeAttribute)));
    const ActionInfo& info = this->action(fields.actionType);
    // The getters take the object as the class that declares them.
    if (!action.kivType().isA(*info.typeInfo)) {
        throw AgentError(std::string("an action spec of class ") + action.kivType().name() +
                         " says it is " + info.name);
    }
    for (const Kiv::AttributeInfo* param : info.params) {
        fields.params.push_back(numberOf(param->get(action)));
    }
    return fields;
}

std::string TableSchema::actionText(const EntryFields& fields) const {
    const ActionInfo& info = action(fields.actionType);
    std::string text = "action=" + info.name;
    for (std::size_t i = 0; i < info.params.size() && i < fields.params.size(); ++i) {
        text += ' ';
        text += info.params[i]->name;
        text += '=';
        text += std::to_string(fields.params[i]);
    }
    return text;
}

}  // namespace NatAgent
