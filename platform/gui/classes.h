#pragma once
// The component model: owned components, published properties that a stored
// form sets, events bound to an object's method, and pointer lists.
#include "sysutils.h"

#include <any>
#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <typeindex>
#include <variant>
#include <vector>

class TObject {
public:
    virtual ~TObject() = default;
};

// An event: a method bound to an object, plus the method's name so that a
// stored form can be written back. Empty until assigned.
template <class... Args>
class TEvent {
public:
    TEvent() = default;
    TEvent(std::string name, std::function<void(Args...)> code) : Name(std::move(name)), Code(std::move(code)) {}
    explicit operator bool() const { return static_cast<bool>(Code); }
    void operator()(Args... args) const { Code(std::forward<Args>(args)...); }

    std::string Name;
    std::function<void(Args...)> Code;
};

using TNotifyEvent = TEvent<TObject*>;

// A list of pointers, in insertion order.
template <class T>
class TList {
public:
    int Count() const { return static_cast<int>(items_.size()); }
    T* operator[](int i) const { return items_[static_cast<size_t>(i)]; }
    void Add(T* p) { items_.push_back(p); }
    int IndexOf(const T* p) const
    {
        auto it = std::find(items_.begin(), items_.end(), p);
        return it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
    }
    void Delete(int i) { items_.erase(items_.begin() + i); }
    bool Remove(const T* p)
    {
        const int i = IndexOf(p);
        if (i >= 0)
            Delete(i);
        return i >= 0;
    }
    void Clear() { items_.clear(); }
    auto begin() const { return items_.begin(); }
    auto end() const { return items_.end(); }

private:
    std::vector<T*> items_;
};

// A byte stream over memory, for the binary blocks of a stored form.
class TMemoryStream {
public:
    TMemoryStream() = default;
    explicit TMemoryStream(std::vector<uint8_t> bytes) : Bytes(std::move(bytes)) {}
    // Reads up to Count bytes; returns how many were there.
    size_t Read(void* Buffer, size_t Count);
    void Write(const void* Buffer, size_t Count);

    std::vector<uint8_t> Bytes;
    size_t Position = 0;
};

// A value of a stored form.
struct TIdent { // a bare name: an enumeration value, a colour or a method
    std::string Name;
    bool operator==(const TIdent&) const = default;
};
using TSetValue = std::vector<std::string>;
using TBytes = std::vector<uint8_t>;
using TValue = std::variant<int64_t, bool, std::string, TIdent, TBytes, TSetValue>;

class TComponent;
class TReader;

// One published property: how a stored value is applied, and what is stored.
struct TPropInfo {
    std::string Name;
    std::function<void(TComponent&, const TValue&, TReader&)> Set;
    std::function<std::optional<TValue>(const TComponent&)> Get; // nullopt: not stored
};

// Lets a component store data that is no published property (binary blocks).
class TFiler {
public:
    virtual ~TFiler() = default;
    virtual void DefineBinaryProperty(const std::string& Name, const std::function<void(TMemoryStream&)>& ReadData,
                                      const std::function<void(TMemoryStream&)>& WriteData, bool HasData) = 0;
};

enum TComponentStateFlag : unsigned { csLoading = 1, csDestroying = 2 };

class TComponent : public TObject {
public:
    explicit TComponent(TComponent* AOwner);
    // Destroys the owned components, the last created first.
    ~TComponent() override;
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    TComponent* Owner() const { return owner_; }
    const std::string& Name() const { return name_; }
    void SetName(const std::string& name) { name_ = name; }
    int ComponentCount() const { return static_cast<int>(components_.size()); }
    TComponent* Components(int i) const { return components_[static_cast<size_t>(i)]; }
    TComponent* FindComponent(const std::string& name) const;

    unsigned ComponentState() const { return state_; }
    // Marks this component and the ones it owns as being destroyed. Destructors
    // that run code which might look at the state call it first.
    void Destroying();

    // Published properties, the base's first.
    virtual void GetProps(std::vector<TPropInfo>& props) const;
    // Extra stored data; the default stores none.
    virtual void DefineProperties(TFiler& Filer);
    // Runs once the whole stored form has been read.
    virtual void Loaded();
    void SetLoading() { state_ |= csLoading; }

    // Methods and fields a stored form may name (a form publishes its handlers
    // and component fields here).
    void PublishMethod(const std::string& name, std::any method) { methods_[name] = std::move(method); }
    const std::any* FindMethod(const std::string& name) const;
    void PublishField(const std::string& name, std::function<void(TComponent*)> bind) { fields_[name] = std::move(bind); }
    void BindField(const std::string& name, TComponent* component);

protected:
    // Frees every owned component now, the last created first. Safe to call twice.
    void DestroyComponents();

private:
    TComponent* owner_;
    std::string name_;
    std::vector<TComponent*> components_;
    unsigned state_ = 0;
    std::map<std::string, std::any> methods_;
    std::map<std::string, std::function<void(TComponent*)>> fields_;
};

// Component classes by name, for creating the components of a stored form.
using TComponentFactory = std::function<TComponent*(TComponent* owner)>;
void RegisterComponentClass(const std::string& name, std::type_index type, TComponentFactory factory);
template <class T>
void RegisterComponentClass(const std::string& name)
{
    RegisterComponentClass(name, typeid(T), [](TComponent* owner) -> TComponent* { return new T(owner); });
}
const TComponentFactory* FindComponentClass(const std::string& name);
std::string ComponentClassName(const TComponent& component);

// Raised for a stored form that cannot be read.
class EReadError : public Exception {
public:
    using Exception::Exception;
};

// Helpers to declare published properties in GetProps.
template <class C>
TPropInfo IntProp(const char* name, std::function<int64_t(const C&)> get, std::function<void(C&, int64_t)> set)
{
    return {name,
            [name, set](TComponent& c, const TValue& v, TReader&) {
                if (!std::holds_alternative<int64_t>(v))
                    throw EReadError(Format("Invalid property value for %s", name));
                set(static_cast<C&>(c), std::get<int64_t>(v));
            },
            [get](const TComponent& c) -> std::optional<TValue> { return get(static_cast<const C&>(c)); }};
}

template <class C>
TPropInfo BoolProp(const char* name, std::function<bool(const C&)> get, std::function<void(C&, bool)> set,
                   std::optional<bool> defaultValue = std::nullopt)
{
    return {name,
            [name, set](TComponent& c, const TValue& v, TReader&) {
                if (!std::holds_alternative<bool>(v))
                    throw EReadError(Format("Invalid property value for %s", name));
                set(static_cast<C&>(c), std::get<bool>(v));
            },
            [get, defaultValue](const TComponent& c) -> std::optional<TValue> {
                const bool value = get(static_cast<const C&>(c));
                if (defaultValue && *defaultValue == value)
                    return std::nullopt;
                return value;
            }};
}

template <class C>
TPropInfo StrProp(const char* name, std::function<std::string(const C&)> get, std::function<void(C&, const std::string&)> set)
{
    return {name,
            [name, set](TComponent& c, const TValue& v, TReader&) {
                if (!std::holds_alternative<std::string>(v))
                    throw EReadError(Format("Invalid property value for %s", name));
                set(static_cast<C&>(c), std::get<std::string>(v));
            },
            [get](const TComponent& c) -> std::optional<TValue> {
                std::string s = get(static_cast<const C&>(c));
                if (s.empty())
                    return std::nullopt;
                return s;
            }};
}

// An identifier-valued property (enumerations, colours): stored as given.
template <class C>
TPropInfo IdentProp(const char* name, std::function<std::string(const C&)> get, std::function<void(C&, const std::string&)> set)
{
    return {name,
            [name, set](TComponent& c, const TValue& v, TReader&) {
                if (!std::holds_alternative<TIdent>(v))
                    throw EReadError(Format("Invalid property value for %s", name));
                set(static_cast<C&>(c), std::get<TIdent>(v).Name);
            },
            [get](const TComponent& c) -> std::optional<TValue> {
                std::string s = get(static_cast<const C&>(c));
                if (s.empty())
                    return std::nullopt;
                return TIdent{s};
            }};
}

// An event property: the stored value names a method that the form publishes.
const std::any& ResolveMethod(TReader& reader, const TValue& value, const char* property);

template <class C, class E>
TPropInfo EventProp(const char* name, E C::*field)
{
    return {name,
            [name, field](TComponent& c, const TValue& v, TReader& r) {
                const std::any& method = ResolveMethod(r, v, name);
                const E* event = std::any_cast<E>(&method);
                if (!event)
                    throw EReadError(Format("Method %s does not fit event %s", std::get<TIdent>(v).Name.c_str(), name));
                static_cast<C&>(c).*field = *event;
            },
            [field](const TComponent& c) -> std::optional<TValue> {
                const E& event = static_cast<const C&>(c).*field;
                if (!event)
                    return std::nullopt;
                return TIdent{event.Name};
            }};
}
