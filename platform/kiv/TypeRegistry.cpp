#include "TypeRegistry.h"

#include <mutex>

#include "Strep.h"

namespace Kiv {

namespace {

struct Registry {
    std::mutex mutex;
    std::vector<const TypeInfo*> types;
};

Registry& registry() {
    static Registry* r = new Registry;  // types unregister during static destruction
    return *r;
}

const AttributeInfo& needAttribute(const PtrInterface& object, std::string_view name) {
    const AttributeInfo* info = object.kivType().attribute(name);
    if (!info) {
        throw AttributeException(_fmt("%s has no attribute '%.*s'", object.kivType().name(),
                                      static_cast<int>(name.size()), name.data()));
    }
    return *info;
}

}  // namespace

const char* attrTypeName(AttrType type) noexcept {
    switch (type) {
        case AttrType::Bool:
            return "Bool";
        case AttrType::U8:
            return "U8";
        case AttrType::U16:
            return "U16";
        case AttrType::U32:
            return "U32";
        case AttrType::U64:
            return "U64";
        case AttrType::String:
            return "String";
        case AttrType::Enum:
            return "Enum";
        case AttrType::Ref:
            return "Ref";
        case AttrType::Collection:
            return "Collection";
    }
    return "?";
}

String valueText(const Value& value) {
    struct Visitor {
        String operator()(std::monostate) const { return kNullRefText; }
        String operator()(bool b) const { return b ? "true" : "false"; }
        String operator()(U64 n) const { return std::to_string(n); }
        String operator()(const String& s) const { return s; }
        String operator()(const ObjectRef& r) const { return valueToStrepOfRawPtr(r.ptr()); }
    };
    return std::visit(Visitor{}, value);
}

void throwWrongValue(const char* what, const char* expected, const Value& got) {
    throw AttributeException(_fmt("%s takes %s, not %s", what, expected, valueText(got).c_str()));
}

String detail::attributeWhat(const AttributeInfo& info) {
    return _fmt("attribute '%s'", info.name);
}

TypeInfo::TypeInfo(const char* name, const TypeInfo* base, std::vector<AttributeInfo> attributes,
                   std::vector<OperationInfo> operations, Creator create)
    : name_(name),
      base_(base),
      attributes_(std::move(attributes)),
      operations_(std::move(operations)),
      create_(create) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    r.types.push_back(this);
}

TypeInfo::~TypeInfo() {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    std::erase(r.types, this);
}

std::vector<const AttributeInfo*> TypeInfo::attributes() const {
    std::vector<const AttributeInfo*> all =
        base_ ? base_->attributes() : std::vector<const AttributeInfo*>{};
    for (const auto& a : attributes_) all.push_back(&a);
    return all;
}

std::vector<const OperationInfo*> TypeInfo::operations() const {
    std::vector<const OperationInfo*> all =
        base_ ? base_->operations() : std::vector<const OperationInfo*>{};
    for (const auto& o : operations_) all.push_back(&o);
    return all;
}

const AttributeInfo* TypeInfo::attribute(std::string_view name) const noexcept {
    for (const TypeInfo* t = this; t; t = t->base_) {
        for (const auto& a : t->attributes_) {
            if (nameIs(a.name, name))
                return &a;
        }
    }
    return nullptr;
}

const OperationInfo* TypeInfo::operation(std::string_view name) const noexcept {
    for (const TypeInfo* t = this; t; t = t->base_) {
        for (const auto& o : t->operations_) {
            if (nameIs(o.name, name))
                return &o;
        }
    }
    return nullptr;
}

bool TypeInfo::isA(const TypeInfo& other) const noexcept {
    for (const TypeInfo* t = this; t; t = t->base_) {
        if (t == &other)
            return true;
    }
    return false;
}

const TypeInfo* TypeInfo::named(std::string_view name) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    for (const TypeInfo* t : r.types) {
        if (name == t->name())
            return t;
    }
    return nullptr;
}

Value genericGet(const PtrInterface& object, std::string_view attribute) {
    const AttributeInfo& info = needAttribute(object, attribute);
    if (!info.get) {
        throw AttributeException(_fmt("attribute '%s' of %s is a collection; use its operations",
                                      info.name, object.kivType().name()));
    }
    return info.get(object);
}

namespace {

void setAttribute(PtrInterface& object, const AttributeInfo& info, const Value& value) {
    if (!info.set) {
        throw AttributeException(
            _fmt("attribute '%s' of %s is read only", info.name, object.kivType().name()));
    }
    info.set(object, info, value);
}

}  // namespace

void genericSet(PtrInterface& object, std::string_view attribute, const Value& value) {
    setAttribute(object, needAttribute(object, attribute), value);
}

void genericSetStrep(PtrInterface& object, std::string_view attribute, std::string_view text) {
    genericSetStrep(object, needAttribute(object, attribute), text);
}

void genericSetStrep(PtrInterface& object, const AttributeInfo& info, std::string_view text) {
    CharRange range(text);
    Value value;
    try {
        switch (info.type) {
            case AttrType::Bool:
                if (range.consume("true")) {
                    value = true;
                } else if (range.consume("false")) {
                    value = false;
                } else {
                    range.error("expected true or false");
                }
                break;
            case AttrType::U8:
            case AttrType::U16:
            case AttrType::U32:
            case AttrType::U64:
                value = range.needUnsigned();
                break;
            case AttrType::Enum:
                value = static_cast<U64>(info.enumType->read(range));
                break;
            case AttrType::String:
                value = String(range.rest());
                range.advance(text.size());
                break;
            case AttrType::Ref:
                value = sequenceToValueOfPtr(range);
                break;
            case AttrType::Collection:
                throw AttributeException(_fmt("attribute '%s' of %s is a collection", info.name,
                                              object.kivType().name()));
        }
        range.checkAllDataConsumed();
    } catch (const RangeException&) {
        rethrowFromDeserializeAttr(info.name);
    }
    setAttribute(object, info, value);
}

Value genericCall(PtrInterface& object, std::string_view operation, std::span<const Value> args) {
    const OperationInfo* info = object.kivType().operation(operation);
    if (!info) {
        throw AttributeException(_fmt("%s has no operation '%.*s'", object.kivType().name(),
                                      static_cast<int>(operation.size()), operation.data()));
    }
    if (args.size() != info->arity) {
        throw AttributeException(_fmt("operation '%s' of %s takes %zu arguments, not %zu",
                                      info->name, object.kivType().name(), info->arity,
                                      args.size()));
    }
    return info->call(object, *info, args);
}

const CollectionOps& genericCollection(const PtrInterface& object, std::string_view attribute) {
    const AttributeInfo& info = needAttribute(object, attribute);
    if (!info.collection) {
        throw AttributeException(
            _fmt("attribute '%s' of %s is not a collection", info.name, object.kivType().name()));
    }
    return *info.collection;
}

}  // namespace Kiv
