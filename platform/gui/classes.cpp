#include "classes.h"

#include "formfile.h"

#include <cstring>

size_t TMemoryStream::Read(void* Buffer, size_t Count)
{
    const size_t n = std::min(Count, Bytes.size() - std::min(Position, Bytes.size()));
    if (n > 0)
        std::memcpy(Buffer, Bytes.data() + Position, n);
    Position += n;
    return n;
}

void TMemoryStream::Write(const void* Buffer, size_t Count)
{
    if (Position + Count > Bytes.size())
        Bytes.resize(Position + Count);
    if (Count > 0)
        std::memcpy(Bytes.data() + Position, Buffer, Count);
    Position += Count;
}

TComponent::TComponent(TComponent* AOwner) : owner_(AOwner)
{
    if (owner_)
        owner_->components_.push_back(this);
}

TComponent::~TComponent()
{
    Destroying();
    DestroyComponents();
    if (owner_) {
        auto& siblings = owner_->components_;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
    }
}

void TComponent::DestroyComponents()
{
    while (!components_.empty()) {
        TComponent* last = components_.back();
        components_.pop_back();
        last->owner_ = nullptr;
        delete last;
    }
}

void TComponent::Destroying()
{
    if (state_ & csDestroying)
        return;
    state_ |= csDestroying;
    for (TComponent* c : components_)
        c->Destroying();
}

TComponent* TComponent::FindComponent(const std::string& name) const
{
    for (TComponent* c : components_)
        if (c->name_ == name)
            return c;
    return nullptr;
}

void TComponent::GetProps(std::vector<TPropInfo>&) const {}

void TComponent::DefineProperties(TFiler&) {}

void TComponent::Loaded() { state_ &= ~csLoading; }

const std::any* TComponent::FindMethod(const std::string& name) const
{
    auto it = methods_.find(name);
    return it == methods_.end() ? nullptr : &it->second;
}

void TComponent::BindField(const std::string& name, TComponent* component)
{
    auto it = fields_.find(name);
    if (it != fields_.end())
        it->second(component);
}

namespace {
struct ClassEntry {
    std::string name;
    std::type_index type;
    TComponentFactory factory;
};
std::vector<ClassEntry>& classes()
{
    static std::vector<ClassEntry> all;
    return all;
}
} // namespace

void RegisterComponentClass(const std::string& name, std::type_index type, TComponentFactory factory)
{
    for (auto& e : classes())
        if (e.name == name)
            return;
    classes().push_back({name, type, std::move(factory)});
}

const TComponentFactory* FindComponentClass(const std::string& name)
{
    for (auto& e : classes())
        if (e.name == name)
            return &e.factory;
    return nullptr;
}

std::string ComponentClassName(const TComponent& component)
{
    const std::type_index type = typeid(component);
    for (auto& e : classes())
        if (e.type == type)
            return e.name;
    return {};
}

const std::any& ResolveMethod(TReader& reader, const TValue& value, const char* property)
{
    if (!std::holds_alternative<TIdent>(value))
        throw EReadError(Format("Invalid property value for %s", property));
    const std::string& name = std::get<TIdent>(value).Name;
    const std::any* method = reader.Root().FindMethod(name);
    if (!method)
        throw EReadError(Format("Method %s not found", name.c_str()));
    return *method;
}
