#pragma once
// The type registry: every runtime class registers its name, its base, its
// attributes in declaration order and its operations, as a table beside the
// class. Generic code then reads and writes attributes and calls operations
// by name, through a small value variant.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <span>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "EnumType.h"
#include "Exception.h"
#include "Format.h"
#include "PtrInterface.h"
#include "Types.h"

namespace Kiv {

using ObjectRef = Dorvu::Ptr<const PtrInterface>;
// A value as generic code sees it: nothing, a flag, an unsigned number, a
// text or an object reference.
using Value = std::variant<std::monostate, bool, U64, String, ObjectRef>;

// The value's text: "None", "true"/"false", decimal numbers, the text itself,
// or the reference text of valueToStrepOfRawPtr.
String valueText(const Value& value);

enum class AttrType : U8 { Bool, U8, U16, U32, U64, String, Enum, Ref, Collection };
const char* attrTypeName(AttrType type) noexcept;

// The operations of a collection attribute (a map from keys to values).
struct CollectionOps {
    std::size_t (*count)(const PtrInterface&);
    bool (*has)(const PtrInterface&, const Value& key);
    Value (*get)(const PtrInterface&, const Value& key);
    void (*set)(PtrInterface&, const Value& key, const Value& value);
    Value (*del)(PtrInterface&, const Value& key);
    // Visits pairs from `start` (the first pair when `start` holds nothing)
    // until `visit` returns false. A `start` that is not a key visits nothing.
    void (*iterate)(const PtrInterface&, const Value& start,
                    const std::function<bool(const Value& key, const Value& value)>& visit);
};

// Whether the registered name `name` reads `text`, without measuring `name` first.
// A registered name has no NUL inside, so a text with one never matches, and
// `name` is read no further than its end.
inline bool nameIs(const char* name, std::string_view text) noexcept {
    for (const char c : text) {
        if (c == '\0' || *name != c)
            return false;
        ++name;
    }
    return *name == '\0';
}

struct AttributeInfo {
    const char* name;
    AttrType type;
    Value (*get)(const PtrInterface&) = nullptr;
    // Null when read only.
    void (*set)(PtrInterface&, const AttributeInfo&, const Value&) = nullptr;
    const EnumType* enumType = nullptr;
    const CollectionOps* collection = nullptr;

    bool writable() const noexcept { return set != nullptr; }
};

struct OperationInfo {
    const char* name;
    std::size_t arity;
    Value (*call)(PtrInterface&, const OperationInfo&, std::span<const Value> args);
};

class TypeInfo {
  public:
    using Creator = PtrInterface::Ptr (*)();

    // Registers the type; the registration ends with the object (library unload).
    TypeInfo(const char* name, const TypeInfo* base, std::vector<AttributeInfo> attributes,
             std::vector<OperationInfo> operations, Creator create = nullptr);
    ~TypeInfo();
    TypeInfo(const TypeInfo&) = delete;
    TypeInfo& operator=(const TypeInfo&) = delete;

    const char* name() const noexcept { return name_; }
    const TypeInfo* base() const noexcept { return base_; }
    const std::vector<AttributeInfo>& ownAttributes() const noexcept { return attributes_; }
    const std::vector<OperationInfo>& ownOperations() const noexcept { return operations_; }
    // Inherited ones first, each class's in declaration order.
    std::vector<const AttributeInfo*> attributes() const;
    std::vector<const OperationInfo*> operations() const;
    const AttributeInfo* attribute(std::string_view name) const noexcept;
    const OperationInfo* operation(std::string_view name) const noexcept;
    bool isA(const TypeInfo& other) const noexcept;
    // A new object of the type through its class creation function; null when
    // the type has none.
    PtrInterface::Ptr create() const { return create_ ? create_() : nullptr; }

    static const TypeInfo* named(std::string_view name);

  private:
    const char* name_;
    const TypeInfo* base_;
    std::vector<AttributeInfo> attributes_;
    std::vector<OperationInfo> operations_;
    Creator create_;
};

// Registers a type when its library is loaded, so that generic code finds it
// by name before any object of it exists. At namespace scope, beside the
// type's table: `const Kiv::TypeRegistration registration{&Class::kivTypeInfo};`
struct TypeRegistration {
    explicit TypeRegistration(const TypeInfo& (*typeInfo)()) { typeInfo(); }
};

Value genericGet(const PtrInterface& object, std::string_view attribute);
void genericSet(PtrInterface& object, std::string_view attribute, const Value& value);
// Sets an attribute from text read by the attribute's type: numbers in decimal
// or 0x hexadecimal, enum names or numbers, true/false, object references.
void genericSetStrep(PtrInterface& object, std::string_view attribute, std::string_view text);
// The same for an attribute already looked up in the object's type.
void genericSetStrep(PtrInterface& object, const AttributeInfo& info, std::string_view text);
Value genericCall(PtrInterface& object, std::string_view operation,
                  std::span<const Value> args = {});
const CollectionOps& genericCollection(const PtrInterface& object, std::string_view attribute);

// ---- Conversions between C++ values and Values. Value types of a library
// take part in generic calls by specialising ValueTraits.

template <class T, class = void>
struct ValueTraits;

[[noreturn]] void throwWrongValue(const char* what, const char* expected, const Value& got);

template <>
struct ValueTraits<bool> {
    static constexpr AttrType type = AttrType::Bool;
    static Value to(bool v) { return v; }
    static bool from(const Value& v, const char* what) {
        if (const bool* b = std::get_if<bool>(&v))
            return *b;
        throwWrongValue(what, "a flag", v);
    }
};

template <class T>
struct ValueTraits<T, std::enable_if_t<std::is_unsigned_v<T> && !std::is_same_v<T, bool>>> {
    static constexpr AttrType type = sizeof(T) == 1   ? AttrType::U8
                                     : sizeof(T) == 2 ? AttrType::U16
                                     : sizeof(T) == 4 ? AttrType::U32
                                                      : AttrType::U64;
    static Value to(T v) { return static_cast<U64>(v); }
    static T from(const Value& v, const char* what) {
        const U64* n = std::get_if<U64>(&v);
        if (!n)
            throwWrongValue(what, attrTypeName(type), v);
        if (*n > std::numeric_limits<T>::max()) {
            throw AttributeException(
                _fmt("%s takes a %s (0 to %llu), not %llu", what, attrTypeName(type),
                     static_cast<unsigned long long>(std::numeric_limits<T>::max()),
                     static_cast<unsigned long long>(*n)));
        }
        return static_cast<T>(*n);
    }
};

template <>
struct ValueTraits<String> {
    static constexpr AttrType type = AttrType::String;
    static Value to(const String& v) { return v; }
    static String from(const Value& v, const char* what) {
        if (const String* s = std::get_if<String>(&v))
            return *s;
        throwWrongValue(what, "a text", v);
    }
};

// An opaque handle travels as its address.
template <>
struct ValueTraits<VoidPtr> {
    static constexpr AttrType type = AttrType::U64;
    static Value to(VoidPtr p) { return static_cast<U64>(reinterpret_cast<std::uintptr_t>(p)); }
    static VoidPtr from(const Value& v, const char* what) {
        return reinterpret_cast<VoidPtr>(
            static_cast<std::uintptr_t>(ValueTraits<U64>::from(v, what)));
    }
};

template <class X>
struct ValueTraits<Dorvu::Ptr<X>> {
    static constexpr AttrType type = AttrType::Ref;
    static Value to(const Dorvu::Ptr<X>& p) { return ObjectRef(p.ptr()); }
    static Dorvu::Ptr<X> from(const Value& v, const char* what) {
        if (std::holds_alternative<std::monostate>(v))
            return nullptr;
        const ObjectRef* ref = std::get_if<ObjectRef>(&v);
        if (!ref)
            throwWrongValue(what, "an object reference", v);
        if (!*ref)
            return nullptr;
        auto* object = dynamic_cast<const std::remove_const_t<X>*>(ref->ptr());
        if (!object) {
            throw AttributeException(_fmt("%s takes a %s, not a %s", what,
                                          std::remove_const_t<X>::kivTypeInfo().name(),
                                          (*ref)->kivType().name()));
        }
        return Dorvu::Ptr<X>(const_cast<std::remove_const_t<X>*>(object));
    }
};

// ---- Table builders.

namespace detail {

template <class M>
struct Getter;
template <class C, class R>
struct Getter<R (C::*)() const> {
    using Class = C;
    using Result = std::decay_t<R>;
};
template <class C, class R>
struct Getter<R (C::*)() const noexcept> : Getter<R (C::*)() const> {};

template <class M>
struct Setter;
template <class C, class A>
struct Setter<void (C::*)(A)> {
    using Class = C;
    using Arg = std::decay_t<A>;
};
template <class C, class A>
struct Setter<void (C::*)(A) noexcept> : Setter<void (C::*)(A)> {};

template <class M>
struct Method;
template <class C, class R, class... A>
struct Method<R (C::*)(A...)> {
    using Class = C;
    using Result = std::decay_t<R>;
    using Args = std::tuple<std::decay_t<A>...>;
    static constexpr std::size_t arity = sizeof...(A);
};
template <class C, class R, class... A>
struct Method<R (C::*)(A...) const> : Method<R (C::*)(A...)> {
    using Class = const C;
};
template <class C, class R, class... A>
struct Method<R (C::*)(A...) noexcept> : Method<R (C::*)(A...)> {};
template <class C, class R, class... A>
struct Method<R (C::*)(A...) const noexcept> : Method<R (C::*)(A...) const> {};

template <class T>
T argument(const OperationInfo& op, std::span<const Value> args, std::size_t i) {
    const String what = _fmt("argument %zu of '%s'", i + 1, op.name);
    return ValueTraits<T>::from(args[i], what.c_str());
}

template <auto Fn, std::size_t... I>
Value invoke(PtrInterface& object, const OperationInfo& op, std::span<const Value> args,
             std::index_sequence<I...>) {
    using M = Method<decltype(Fn)>;
    using Args = typename M::Args;
    auto& self = static_cast<typename M::Class&>(object);
    if constexpr (std::is_void_v<typename M::Result>) {
        (self.*Fn)(argument<std::tuple_element_t<I, Args>>(op, args, I)...);
        return std::monostate{};
    } else {
        return ValueTraits<typename M::Result>::to(
            (self.*Fn)(argument<std::tuple_element_t<I, Args>>(op, args, I)...));
    }
}

String attributeWhat(const AttributeInfo& info);

// The value an attribute setter receives. A number in range, the common case,
// is taken as it is; the attribute's name is formatted into the context text
// only on the way to an error.
template <class T>
T setterValue(const Value& v, const AttributeInfo& info) {
    if constexpr (std::is_unsigned_v<T> && !std::is_same_v<T, bool>) {
        if (const U64* n = std::get_if<U64>(&v); n && *n <= std::numeric_limits<T>::max())
            return static_cast<T>(*n);
    } else if constexpr (std::is_same_v<T, bool>) {
        if (const bool* b = std::get_if<bool>(&v))
            return *b;
    }
    return ValueTraits<T>::from(v, attributeWhat(info).c_str());
}

}  // namespace detail

template <auto Get>
AttributeInfo readOnlyAttribute(const char* name) {
    using G = detail::Getter<decltype(Get)>;
    return AttributeInfo{name, ValueTraits<typename G::Result>::type,
                         [](const PtrInterface& o) -> Value {
                             return ValueTraits<typename G::Result>::to(
                                 (static_cast<const typename G::Class&>(o).*Get)());
                         }};
}

template <auto Get, auto Set>
AttributeInfo attribute(const char* name) {
    using S = detail::Setter<decltype(Set)>;
    AttributeInfo info = readOnlyAttribute<Get>(name);
    info.set = [](PtrInterface& o, const AttributeInfo& self, const Value& v) {
        (static_cast<typename S::Class&>(o).*Set)(detail::setterValue<typename S::Arg>(v, self));
    };
    return info;
}

// An enum attribute reads as its number and is set from a number or a name.
template <auto Get, auto Set>
AttributeInfo enumAttribute(const char* name, const EnumType& type) {
    using G = detail::Getter<decltype(Get)>;
    using S = detail::Setter<decltype(Set)>;
    AttributeInfo info{name, AttrType::Enum};
    info.enumType = &type;
    info.get = [](const PtrInterface& o) -> Value {
        return static_cast<U64>((static_cast<const typename G::Class&>(o).*Get)());
    };
    info.set = [](PtrInterface& o, const AttributeInfo& self, const Value& v) {
        const EnumType& e = *self.enumType;
        U8 raw = 0;
        try {
            if (const U64* n = std::get_if<U64>(&v)) {
                raw = e.valueOf(*n);
            } else if (const String* s = std::get_if<String>(&v)) {
                raw = e.valueOf(std::string_view(*s));
            } else {
                throwWrongValue(detail::attributeWhat(self).c_str(), e.typeName(), v);
            }
        } catch (const RangeException&) {
            rethrowFromDeserializeAttr(self.name);
        }
        (static_cast<typename S::Class&>(o).*Set)(static_cast<typename S::Arg>(raw));
    };
    return info;
}

inline AttributeInfo collectionAttribute(const char* name, const CollectionOps& ops) {
    AttributeInfo info{name, AttrType::Collection};
    info.collection = &ops;
    return info;
}

template <auto Fn>
OperationInfo operation(const char* name) {
    using M = detail::Method<decltype(Fn)>;
    return OperationInfo{
        name, M::arity, [](PtrInterface& o, const OperationInfo& op, std::span<const Value> args) {
            return detail::invoke<Fn>(o, op, args, std::make_index_sequence<M::arity>{});
        }};
}

}  // namespace Kiv
