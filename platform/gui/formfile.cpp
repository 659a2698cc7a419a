#include "formfile.h"

#include <cctype>
#include <sstream>

namespace {

std::string trim(const std::string& s)
{
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b])))
        ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1])))
        --e;
    return s.substr(b, e - b);
}

class Parser {
public:
    explicit Parser(const std::string& text)
    {
        std::istringstream in(text);
        std::string line;
        while (std::getline(in, line)) {
            line = trim(line);
            if (!line.empty())
                lines_.push_back(line);
        }
    }

    bool atEnd() const { return pos_ >= lines_.size(); }
    const std::string& peek() const { return lines_.at(pos_); }
    std::string next()
    {
        if (atEnd())
            fail("unexpected end of form");
        return lines_[pos_++];
    }
    [[noreturn]] void fail(const std::string& what) const
    {
        throw EReadError(Format("Stored form, line %zu: %s", pos_, what.c_str()));
    }

    // "object Name: Class" -> {Name, Class}
    std::pair<std::string, std::string> objectHeader()
    {
        const std::string line = next();
        if (line.rfind("object ", 0) != 0)
            fail("'object' expected");
        const auto colon = line.find(':');
        if (colon == std::string::npos)
            fail("':' expected");
        return {trim(line.substr(7, colon - 7)), trim(line.substr(colon + 1))};
    }

    TValue value(const std::string& text)
    {
        if (text.empty())
            fail("value expected");
        if (text[0] == '\'')
            return stringValue(text);
        if (text[0] == '{')
            return bytesValue(text);
        if (text[0] == '[') {
            TSetValue set;
            std::string inner = text.substr(1, text.find(']') - 1);
            std::istringstream items(inner);
            std::string item;
            while (std::getline(items, item, ','))
                if (!trim(item).empty())
                    set.push_back(trim(item));
            return set;
        }
        if (text[0] == '-' || std::isdigit(static_cast<unsigned char>(text[0]))) {
            try {
                size_t used = 0;
                const long long v = std::stoll(text, &used);
                if (used != text.size())
                    fail("bad number " + text);
                return static_cast<int64_t>(v);
            } catch (const std::logic_error&) {
                fail("bad number " + text);
            }
        }
        if (text == "True")
            return true;
        if (text == "False")
            return false;
        return TIdent{text};
    }

private:
    std::string stringValue(const std::string& text)
    {
        std::string out;
        size_t i = 1;
        for (;;) {
            if (i >= text.size())
                fail("unterminated string");
            if (text[i] == '\'') {
                if (i + 1 < text.size() && text[i + 1] == '\'') {
                    out += '\'';
                    i += 2;
                    continue;
                }
                break;
            }
            out += text[i++];
        }
        return out;
    }

    TBytes bytesValue(std::string text)
    {
        std::string hex = text.substr(1);
        while (hex.find('}') == std::string::npos)
            hex += next();
        hex.erase(hex.find('}'));
        TBytes bytes;
        if (hex.size() % 2)
            fail("odd number of hex digits");
        for (size_t i = 0; i < hex.size(); i += 2) {
            if (!std::isxdigit(static_cast<unsigned char>(hex[i])) || !std::isxdigit(static_cast<unsigned char>(hex[i + 1])))
                fail("bad hex digit");
            bytes.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
        }
        return bytes;
    }

    std::vector<std::string> lines_;
    size_t pos_ = 0;
};

// Finds the stored block Name among the component's DefineProperties and reads it.
class BlockReader : public TFiler {
public:
    BlockReader(std::string name, TBytes bytes) : name_(std::move(name)), bytes_(std::move(bytes)) {}
    void DefineBinaryProperty(const std::string& Name, const std::function<void(TMemoryStream&)>& ReadData,
                              const std::function<void(TMemoryStream&)>&, bool) override
    {
        if (Name != name_ || found)
            return;
        found = true;
        TMemoryStream stream(bytes_);
        ReadData(stream);
    }
    bool found = false;

private:
    std::string name_;
    TBytes bytes_;
};

void applyProperty(TReader& reader, TComponent& component, const std::string& name, const TValue& value, Parser& parser)
{
    std::vector<TPropInfo> props;
    component.GetProps(props);
    for (const auto& p : props)
        if (p.Name == name) {
            p.Set(component, value, reader);
            return;
        }
    if (std::holds_alternative<TBytes>(value)) {
        BlockReader filer(name, std::get<TBytes>(value));
        component.DefineProperties(filer);
        if (filer.found)
            return;
    }
    parser.fail("unknown property " + name + " of " + component.Name());
}

// Reads "Name = value" lines up to the next "object" or "end".
void readProperties(TReader& reader, TComponent& component, Parser& parser)
{
    while (!parser.atEnd()) {
        const std::string& line = parser.peek();
        if (line == "end" || line.rfind("object ", 0) == 0)
            return;
        std::string l = parser.next();
        const auto eq = l.find('=');
        if (eq == std::string::npos)
            parser.fail("'=' expected");
        applyProperty(reader, component, trim(l.substr(0, eq)), parser.value(trim(l.substr(eq + 1))), parser);
    }
}

std::string quote(const std::string& s)
{
    std::string out = "'";
    for (char c : s) {
        out += c;
        if (c == '\'')
            out += '\'';
    }
    return out + "'";
}

std::string valueText(const TValue& v, const std::string& indent)
{
    struct Visitor {
        const std::string& indent;
        std::string operator()(int64_t i) const { return std::to_string(i); }
        std::string operator()(bool b) const { return b ? "True" : "False"; }
        std::string operator()(const std::string& s) const { return quote(s); }
        std::string operator()(const TIdent& id) const { return id.Name; }
        std::string operator()(const TSetValue& set) const
        {
            std::string out = "[";
            for (size_t i = 0; i < set.size(); ++i)
                out += (i ? ", " : "") + set[i];
            return out + "]";
        }
        std::string operator()(const TBytes& bytes) const
        {
            static const char* digits = "0123456789ABCDEF";
            std::string out = "{";
            for (size_t i = 0; i < bytes.size(); ++i) {
                if (i % 32 == 0)
                    out += "\n" + indent + "  ";
                out += digits[bytes[i] >> 4];
                out += digits[bytes[i] & 15];
            }
            return out + "}";
        }
    };
    return std::visit(Visitor{indent}, v);
}

class BlockWriter : public TFiler {
public:
    BlockWriter(std::string& out, std::string indent) : out_(out), indent_(std::move(indent)) {}
    void DefineBinaryProperty(const std::string& Name, const std::function<void(TMemoryStream&)>&,
                              const std::function<void(TMemoryStream&)>& WriteData, bool HasData) override
    {
        if (!HasData)
            return;
        TMemoryStream stream;
        WriteData(stream);
        out_ += indent_ + Name + " = " + valueText(stream.Bytes, indent_) + "\n";
    }

private:
    std::string& out_;
    std::string indent_;
};

void writeProperties(const TComponent& component, std::string& out, const std::string& indent)
{
    std::vector<TPropInfo> props;
    component.GetProps(props);
    for (const auto& p : props)
        if (auto v = p.Get(component))
            out += indent + p.Name + " = " + valueText(*v, indent) + "\n";
    BlockWriter filer(out, indent);
    const_cast<TComponent&>(component).DefineProperties(filer);
}

} // namespace

void TReader::ReadRootComponent(const std::string& Text)
{
    Parser parser(Text);
    const auto [rootName, rootClass] = parser.objectHeader();
    if (rootClass != ComponentClassName(root_))
        parser.fail("the form is for " + rootClass);
    root_.SetName(rootName);
    std::vector<TComponent*> loading{&root_};
    root_.SetLoading();
    readProperties(*this, root_, parser);
    while (parser.peek() != "end") {
        const auto [name, className] = parser.objectHeader();
        const TComponentFactory* factory = FindComponentClass(className);
        if (!factory)
            parser.fail("class " + className + " not found");
        TComponent* component = (*factory)(&root_);
        component->SetName(name);
        component->SetLoading();
        root_.BindField(name, component);
        loading.push_back(component);
        readProperties(*this, *component, parser);
        if (parser.next() != "end")
            parser.fail("'end' expected");
    }
    parser.next();
    for (TComponent* c : loading)
        c->Loaded();
}

std::string WriteComponentText(const TComponent& Root)
{
    std::string out = "object " + Root.Name() + ": " + ComponentClassName(Root) + "\n";
    writeProperties(Root, out, "  ");
    for (int i = 0; i < Root.ComponentCount(); ++i) {
        const TComponent& c = *Root.Components(i);
        out += "  object " + c.Name() + ": " + ComponentClassName(c) + "\n";
        writeProperties(c, out, "    ");
        out += "  end\n";
    }
    return out + "end\n";
}
