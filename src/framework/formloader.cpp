#include "framework/formloader.h"

#include "framework/controls.h"
#include "framework/forms.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>

namespace {

// ---------------------------------------------------------------------------------------------
// tokens

struct TToken {
    enum TKind { tkEnd, tkIdent, tkInt, tkFloat, tkString, tkSymbol, tkHex };
    TKind Kind = tkEnd;
    std::string
        Text; // Ident (dotted), String (unescaped), Symbol (one char), Hex (digits), numbers
    int64_t Int = 0;
    long double Real = 0;
    int Line = 0;
};

bool IdentStart(char c) {
    return std::isalpha(static_cast<unsigned char>(c)) || c == '_';
}
bool IdentPart(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

class TLexer {
  public:
    explicit TLexer(std::string_view text) : fText(text) {}

    TToken Next() {
        SkipSpace();
        TToken t;
        t.Line = fLine;
        if (fPos >= fText.size()) return t;
        const char c = fText[fPos];
        if (IdentStart(c)) return Identifier(t);
        if (std::isdigit(static_cast<unsigned char>(c)) ||
            ((c == '-' || c == '+') && fPos + 1 < fText.size() &&
             std::isdigit(static_cast<unsigned char>(fText[fPos + 1]))))
            return Number(t);
        if (c == '$') return HexNumber(t);
        if (c == '"') return QuotedString(t);
        if (c == '{') return HexBlock(t);
        if (std::string_view("=:[],<>()").find(c) != std::string_view::npos) {
            ++fPos;
            t.Kind = TToken::tkSymbol;
            t.Text = std::string(1, c);
            return t;
        }
        throw EFormError(std::string("unexpected character '") + c + "'", fLine);
    }

  private:
    void SkipSpace() {
        while (fPos < fText.size()) {
            const char c = fText[fPos];
            if (c == '\n') {
                ++fLine;
                ++fPos;
            } else if (c == ' ' || c == '\t' || c == '\r') {
                ++fPos;
            } else if (c == '#' ||
                       (c == '/' && fPos + 1 < fText.size() && fText[fPos + 1] == '/')) {
                while (fPos < fText.size() && fText[fPos] != '\n')
                    ++fPos;
            } else {
                break;
            }
        }
    }

    TToken Identifier(TToken& t) {
        const size_t start = fPos;
        for (;;) {
            while (fPos < fText.size() && IdentPart(fText[fPos]))
                ++fPos;
            // Dotted names (Font.Name) are one token; a dot must be followed by a name.
            if (fPos + 1 < fText.size() && fText[fPos] == '.' && IdentStart(fText[fPos + 1])) {
                ++fPos;
                continue;
            }
            break;
        }
        t.Kind = TToken::tkIdent;
        t.Text = std::string(fText.substr(start, fPos - start));
        return t;
    }

    TToken Number(TToken& t) {
        const size_t start = fPos;
        if (fText[fPos] == '-' || fText[fPos] == '+') ++fPos;
        bool isFloat = false;
        while (fPos < fText.size()) {
            const char c = fText[fPos];
            if (std::isdigit(static_cast<unsigned char>(c))) {
                ++fPos;
            } else if (c == '.' || c == 'e' || c == 'E') {
                isFloat = true;
                ++fPos;
                if ((c == 'e' || c == 'E') && fPos < fText.size() &&
                    (fText[fPos] == '-' || fText[fPos] == '+'))
                    ++fPos;
            } else {
                break;
            }
        }
        if (fPos < fText.size() && IdentPart(fText[fPos]))
            throw EFormError("malformed number '" +
                                 std::string(fText.substr(start, fPos - start + 1)) + "'",
                             fLine);
        const std::string text(fText.substr(start, fPos - start));
        char* end = nullptr;
        errno = 0;
        if (isFloat) {
            t.Kind = TToken::tkFloat;
            t.Real = std::strtold(text.c_str(), &end);
        } else {
            t.Kind = TToken::tkInt;
            t.Int = std::strtoll(text.c_str(), &end, 10);
        }
        if (errno == ERANGE || end != text.c_str() + text.size())
            throw EFormError("malformed number '" + text + "'", fLine);
        t.Text = text;
        return t;
    }

    TToken HexNumber(TToken& t) {
        const size_t start = ++fPos;
        while (fPos < fText.size() && std::isxdigit(static_cast<unsigned char>(fText[fPos])))
            ++fPos;
        const std::string digits(fText.substr(start, fPos - start));
        if (digits.empty() || digits.size() > 16 || (fPos < fText.size() && IdentPart(fText[fPos])))
            throw EFormError("malformed hexadecimal number", fLine);
        t.Kind = TToken::tkInt;
        t.Int = int64_t(std::strtoull(digits.c_str(), nullptr, 16));
        t.Text = "$" + digits;
        return t;
    }

    TToken QuotedString(TToken& t) {
        ++fPos;
        std::string out;
        for (;;) {
            if (fPos >= fText.size() || fText[fPos] == '\n')
                throw EFormError("unterminated string", t.Line);
            const char c = fText[fPos++];
            if (c == '"') break;
            if (c == '\\') {
                if (fPos >= fText.size()) throw EFormError("unterminated string", t.Line);
                const char e = fText[fPos++];
                if (e == '"' || e == '\\')
                    out += e;
                else if (e == 'n')
                    out += '\n';
                else
                    throw EFormError(std::string("unknown escape \\") + e + " in a string", fLine);
            } else {
                out += c;
            }
        }
        t.Kind = TToken::tkString;
        t.Text = std::move(out);
        return t;
    }

    TToken HexBlock(TToken& t) {
        ++fPos;
        std::string digits;
        for (;;) {
            if (fPos >= fText.size()) throw EFormError("unterminated binary block", t.Line);
            const char c = fText[fPos++];
            if (c == '}') break;
            if (c == '\n') {
                ++fLine;
            } else if (std::isxdigit(static_cast<unsigned char>(c))) {
                digits += c;
            } else if (c != ' ' && c != '\t' && c != '\r') {
                throw EFormError(std::string("unexpected character '") + c + "' in a binary block",
                                 fLine);
            }
        }
        if (digits.size() % 2)
            throw EFormError("binary block with an odd number of hexadecimal digits", t.Line);
        t.Kind = TToken::tkHex;
        t.Text = std::move(digits);
        return t;
    }

    std::string_view fText;
    size_t fPos = 0;
    int fLine = 1;
};

std::string Describe(const TToken& t) {
    switch (t.Kind) {
    case TToken::tkEnd:
        return "the end of the description";
    case TToken::tkString:
        return "string \"" + t.Text + "\"";
    case TToken::tkHex:
        return "a binary block";
    default:
        return "'" + t.Text + "'";
    }
}

// ---------------------------------------------------------------------------------------------
// parser

class TParser {
  public:
    explicit TParser(std::string_view text) : fLexer(text) { Advance(); }

    TFormObject Root() {
        TFormObject root = Object();
        if (fTok.Kind != TToken::tkEnd)
            throw EFormError("expected the end of the description after the root object, found " +
                                 Describe(fTok),
                             fTok.Line);
        return root;
    }

  private:
    void Advance() { fTok = fLexer.Next(); }
    bool IsKeyword(std::string_view word) const {
        return fTok.Kind == TToken::tkIdent && fTok.Text == word;
    }
    bool IsSymbol(char c) const {
        return fTok.Kind == TToken::tkSymbol && fTok.Text.size() == 1 && fTok.Text[0] == c;
    }
    void Expect(char c, const char* where) {
        if (!IsSymbol(c))
            throw EFormError(std::string("expected '") + c + "' " + where + ", found " +
                                 Describe(fTok),
                             fTok.Line);
        Advance();
    }
    std::string ExpectName(const char* what) {
        if (fTok.Kind != TToken::tkIdent || fTok.Text.find('.') != std::string::npos)
            throw EFormError(std::string("expected ") + what + ", found " + Describe(fTok),
                             fTok.Line);
        std::string name = fTok.Text;
        Advance();
        return name;
    }

    TFormObject Object() {
        if (!IsKeyword("object"))
            throw EFormError("expected 'object', found " + Describe(fTok), fTok.Line);
        TFormObject obj;
        obj.Line = fTok.Line;
        Advance();
        obj.Name = ExpectName("an object name");
        Expect(':', "after the object name");
        obj.ClassName = ExpectName("a class name");
        for (;;) {
            if (IsKeyword("end")) {
                Advance();
                return obj;
            }
            if (IsKeyword("object")) {
                obj.Children.push_back(Object());
                continue;
            }
            if (fTok.Kind != TToken::tkIdent)
                throw EFormError("expected a property, 'object' or 'end' in object " + obj.Name +
                                     ", found " + Describe(fTok),
                                 fTok.Line);
            obj.Properties.push_back(Property());
        }
    }

    TFormProperty Property() {
        TFormProperty p;
        p.Line = fTok.Line;
        p.Name = fTok.Text;
        Advance();
        Expect('=', ("after property " + p.Name).c_str());
        p.Value = Value();
        return p;
    }

    TFormValue Value() {
        TFormValue v;
        v.Line = fTok.Line;
        switch (fTok.Kind) {
        case TToken::tkInt:
            v.Kind = TFormValue::vaInteger;
            v.Int = fTok.Int;
            Advance();
            return v;
        case TToken::tkFloat:
            v.Kind = TFormValue::vaFloat;
            v.Real = fTok.Real;
            Advance();
            return v;
        case TToken::tkString:
            v.Kind = TFormValue::vaString;
            v.Text = fTok.Text;
            Advance();
            return v;
        case TToken::tkHex:
            v.Kind = TFormValue::vaBinary;
            for (size_t i = 0; i < fTok.Text.size(); i += 2)
                v.Bytes.push_back(
                    uint8_t(std::strtoul(fTok.Text.substr(i, 2).c_str(), nullptr, 16)));
            Advance();
            return v;
        case TToken::tkIdent:
            return IdentifierValue(v);
        case TToken::tkSymbol:
            if (IsSymbol('[')) return SetValue(v);
            if (IsSymbol('<')) return CollectionValue(v);
            [[fallthrough]];
        case TToken::tkEnd:
            break;
        }
        throw EFormError("expected a value, found " + Describe(fTok), fTok.Line);
    }

    TFormValue& IdentifierValue(TFormValue& v) {
        const std::string name = fTok.Text;
        Advance();
        if (!IsSymbol('(')) {
            v.Kind = TFormValue::vaIdent;
            v.Text = name;
            return v;
        }
        Advance();
        if (name == "resource") {
            if (fTok.Kind != TToken::tkString)
                throw EFormError("resource() takes a name in quotes", fTok.Line);
            v.Kind = TFormValue::vaResource;
            v.Text = fTok.Text;
            Advance();
            Expect(')', "after the resource name");
            return v;
        }
        if (name == "rgb") {
            int64_t c[3];
            for (int i = 0; i < 3; ++i) {
                if (i) Expect(',', "between the parts of rgb()");
                if (fTok.Kind != TToken::tkInt || fTok.Int < 0 || fTok.Int > 255)
                    throw EFormError("rgb() takes three numbers from 0 to 255", fTok.Line);
                c[i] = fTok.Int;
                Advance();
            }
            Expect(')', "after rgb()'s three numbers");
            v.Kind = TFormValue::vaInteger;
            v.Int = c[0] | (c[1] << 8) | (c[2] << 16);
            return v;
        }
        throw EFormError("unknown function " + name + "()", v.Line);
    }

    TFormValue& SetValue(TFormValue& v) {
        Advance();
        v.Kind = TFormValue::vaSet;
        if (IsSymbol(']')) {
            Advance();
            return v;
        }
        for (;;) {
            v.Names.push_back(ExpectName("a name in the set"));
            if (IsSymbol(']')) {
                Advance();
                return v;
            }
            Expect(',', "or ']' in the set");
        }
    }

    TFormValue& CollectionValue(TFormValue& v) {
        Advance();
        v.Kind = TFormValue::vaCollection;
        for (;;) {
            if (IsSymbol('>')) {
                Advance();
                return v;
            }
            if (!IsKeyword("item"))
                throw EFormError(
                    "expected 'item' or '>' in the collection, found " + Describe(fTok), fTok.Line);
            TFormItem item;
            item.Line = fTok.Line;
            Advance();
            while (!IsKeyword("end")) {
                if (fTok.Kind != TToken::tkIdent)
                    throw EFormError("expected a property or 'end' in the item, found " +
                                         Describe(fTok),
                                     fTok.Line);
                item.Properties.push_back(Property());
            }
            Advance();
            v.Items.push_back(std::move(item));
        }
    }

    TLexer fLexer;
    TToken fTok;
};

// ---------------------------------------------------------------------------------------------
// names of values

using TNames = std::pair<std::string_view, int64_t>;

constexpr TNames kColorNames[] = {
    {"clBlack", clBlack},
    {"clMaroon", clMaroon},
    {"clGreen", clGreen},
    {"clOlive", clOlive},
    {"clNavy", clNavy},
    {"clPurple", clPurple},
    {"clTeal", clTeal},
    {"clGray", clGray},
    {"clSilver", clSilver},
    {"clRed", clRed},
    {"clLime", clLime},
    {"clYellow", clYellow},
    {"clBlue", clBlue},
    {"clFuchsia", clFuchsia},
    {"clAqua", clAqua},
    {"clWhite", clWhite},
    {"clNone", clNone},
    {"clDefault", clDefault},
    {"clScrollBar", clScrollBar},
    {"clBackground", clBackground},
    {"clWindow", clWindow},
    {"clWindowText", clWindowText},
    {"clBtnFace", clBtnFace},
    {"clBtnShadow", clBtnShadow},
    {"clGrayText", clGrayText},
    {"clBtnText", clBtnText},
    {"clBtnHighlight", clBtnHighlight},
};

constexpr TNames kCursorNames[] = {
    {"crDefault", crDefault},     {"crNone", crNone},           {"crArrow", crArrow},
    {"crCross", crCross},         {"crIBeam", crIBeam},         {"crSizeNESW", crSizeNESW},
    {"crSizeNS", crSizeNS},       {"crSizeNWSE", crSizeNWSE},   {"crSizeWE", crSizeWE},
    {"crUpArrow", crUpArrow},     {"crHourGlass", crHourGlass}, {"crNo", crNo},
    {"crHandPoint", crHandPoint}, {"crSizeAll", crSizeAll},
};

const char* KindName(TFormValue::TKind kind) {
    switch (kind) {
    case TFormValue::vaInteger:
        return "a number";
    case TFormValue::vaFloat:
        return "a decimal number";
    case TFormValue::vaString:
        return "a string";
    case TFormValue::vaIdent:
        return "a name";
    case TFormValue::vaSet:
        return "a set";
    case TFormValue::vaBinary:
        return "binary data";
    case TFormValue::vaResource:
        return "a resource";
    case TFormValue::vaCollection:
        return "a collection";
    }
    return "a value";
}

// ---------------------------------------------------------------------------------------------
// loading

class TLoader {
  public:
    TLoader(TForm& form, const TFormLoadContext& context) : fForm(form), fReader(form, context) {
        if (!context.Classes) throw EFormError("no class registry to load the form with", 0);
        fClasses = context.Classes;
    }

    void Load(const TFormObject& root) {
        if (root.ClassName != fForm.ClassName())
            throw EFormError("the description is of class " + root.ClassName +
                                 ", the form being loaded is a " + std::string(fForm.ClassName()),
                             root.Line);
        const TFormClass* cls = fClasses->Find(root.ClassName);
        if (!cls) cls = fClasses->Find("TForm");
        if (!cls) throw EFormError("class TForm is not registered", root.Line);

        fForm.SetLoading(true);
        try {
            if (!root.Name.empty()) fForm.SetName(root.Name);
            SetProperties(fForm, *cls, root);
            for (const TFormObject& child : root.Children)
                Create(child, &fForm);
            fReader.RunDeferred();
        } catch (...) {
            // What was built stays owned by the form; none of it is left marked as loading.
            fForm.SetLoading(false);
            for (TComponent* c : fCreated)
                c->SetLoading(false);
            throw;
        }
        fForm.Loaded();
        for (TComponent* c : fCreated)
            c->Loaded();
    }

  private:
    void Create(const TFormObject& obj, TWinControl* parent) {
        const TFormClass* cls = fClasses->Find(obj.ClassName);
        if (!cls)
            throw EFormError("unknown class " + obj.ClassName + " of object " + obj.Name, obj.Line);
        if (!cls->Factory())
            throw EFormError("class " + obj.ClassName + " of object " + obj.Name +
                                 " cannot be created (it is only a base class)",
                             obj.Line);
        if (fForm.FindComponent(obj.Name) || obj.Name == fForm.Name())
            throw EFormError("a second component named " + obj.Name, obj.Line);

        TComponent* c = nullptr;
        try {
            c = cls->Factory()(&fForm);
        } catch (const EFormError&) {
            throw;
        } catch (const std::exception& e) {
            throw EFormError("creating " + obj.Name + " (" + obj.ClassName + "): " + e.what(),
                             obj.Line);
        }
        if (!c) throw EFormError("class " + obj.ClassName + " made no object", obj.Line);
        fCreated.push_back(c);
        c->SetName(obj.Name);
        c->SetLoading(true);

        auto* control = dynamic_cast<TControl*>(c);
        if (control && parent) {
            try {
                control->SetParent(parent);
            } catch (const std::exception& e) {
                throw EFormError(obj.Name + " cannot be placed in " + parent->Name() + ": " +
                                     e.what(),
                                 obj.Line);
            }
        }
        SetProperties(*c, *cls, obj);

        auto* windowed = dynamic_cast<TWinControl*>(c);
        for (const TFormObject& child : obj.Children) {
            if (!windowed && IsControlClass(child))
                throw EFormError(obj.Name + " (" + obj.ClassName + ") cannot hold control " +
                                     child.Name,
                                 child.Line);
            Create(child, windowed ? windowed : parent);
        }
    }

    // Whether an object would be a control (its class chain reaches TControl), known before it
    // is created.
    bool IsControlClass(const TFormObject& obj) const {
        for (const TFormClass* k = fClasses->Find(obj.ClassName); k; k = k->Parent())
            if (k->Name() == "TControl") return true;
        return false;
    }

    void SetProperties(TComponent& c, const TFormClass& cls, const TFormObject& obj) {
        for (const TFormProperty& p : obj.Properties) {
            const TFormSetter* setter = cls.FindProperty(p.Name);
            if (!setter)
                throw EFormError(obj.ClassName + " has no property " + p.Name + " (object " +
                                     obj.Name + ")",
                                 p.Line);
            try {
                (*setter)(c, p.Value, fReader);
            } catch (const EFormError&) {
                throw;
            } catch (const std::exception& e) {
                throw EFormError(obj.Name + "." + p.Name + ": " + e.what(), p.Line);
            }
        }
    }

    TForm& fForm;
    TFormReader fReader;
    const TFormClassRegistry* fClasses = nullptr;
    std::vector<TComponent*> fCreated;
};

} // namespace

// ---------------------------------------------------------------------------------------------

TFormObject ParseFormDescription(std::string_view text) {
    return TParser(text).Root();
}

TFormClass& TFormClass::Property(std::string name, TFormSetter setter) {
    fProperties[std::move(name)] = std::move(setter);
    return *this;
}

const TFormSetter* TFormClass::FindProperty(std::string_view name) const {
    for (const TFormClass* k = this; k; k = k->fParent) {
        auto it = k->fProperties.find(name);
        if (it != k->fProperties.end()) return &it->second;
    }
    return nullptr;
}

TFormClass& TFormClassRegistry::Register(const std::string& name, const std::string& parent,
                                         TFormFactory factory) {
    const TFormClass* base = nullptr;
    if (!parent.empty()) {
        base = Find(parent);
        if (!base)
            throw EFormError(
                "class " + name + " derives from " + parent + ", which is not registered", 0);
    }
    auto it = fClasses.find(name);
    if (it != fClasses.end()) {
        // Keep the entry (derived classes point at it) and its properties.
        TFormClass& existing = *it->second;
        existing.fParent = base;
        existing.fFactory = std::move(factory);
        return existing;
    }
    auto cls = std::make_unique<TFormClass>(name, base, std::move(factory));
    TFormClass& ref = *cls;
    fClasses.emplace(name, std::move(cls));
    return ref;
}

const TFormClass* TFormClassRegistry::Find(std::string_view name) const {
    auto it = fClasses.find(name);
    return it == fClasses.end() ? nullptr : it->second.get();
}

TFormClass* TFormClassRegistry::Find(std::string_view name) {
    auto it = fClasses.find(name);
    return it == fClasses.end() ? nullptr : it->second.get();
}

void LoadForm(TForm& form, std::string_view description, const TFormLoadContext& context) {
    LoadForm(form, ParseFormDescription(description), context);
}

void LoadForm(TForm& form, const TFormObject& root, const TFormLoadContext& context) {
    TLoader(form, context).Load(root);
}

// ---------------------------------------------------------------------------------------------
// reader

TFormReader::TFormReader(TComponent& root, const TFormLoadContext& context)
    : fRoot(root), fContext(context) {}

void TFormReader::Fail(const TFormValue& v, const std::string& message) const {
    throw EFormError(message, v.Line);
}

int64_t TFormReader::Integer(const TFormValue& v, int64_t min, int64_t max) const {
    if (v.Kind != TFormValue::vaInteger)
        Fail(v, std::string("expected a whole number, found ") + KindName(v.Kind));
    if (v.Int < min || v.Int > max)
        Fail(v, std::to_string(v.Int) + " is out of range (" + std::to_string(min) + ".." +
                    std::to_string(max) + ")");
    return v.Int;
}

long double TFormReader::Float(const TFormValue& v) const {
    if (v.Kind == TFormValue::vaInteger) return static_cast<long double>(v.Int);
    if (v.Kind != TFormValue::vaFloat)
        Fail(v, std::string("expected a number, found ") + KindName(v.Kind));
    return v.Real;
}

bool TFormReader::Boolean(const TFormValue& v) const {
    if (v.Kind == TFormValue::vaIdent) {
        if (v.Text == "True") return true;
        if (v.Text == "False") return false;
    }
    Fail(v, std::string("expected True or False, found ") +
                (v.Kind == TFormValue::vaIdent ? v.Text : KindName(v.Kind)));
}

const std::string& TFormReader::String(const TFormValue& v) const {
    if (v.Kind != TFormValue::vaString)
        Fail(v, std::string("expected a string in quotes, found ") + KindName(v.Kind));
    return v.Text;
}

const std::string& TFormReader::Identifier(const TFormValue& v) const {
    if (v.Kind != TFormValue::vaIdent)
        Fail(v, std::string("expected a name, found ") + KindName(v.Kind));
    return v.Text;
}

int64_t TFormReader::Enumeration(const TFormValue& v, std::span<const TNames> names) const {
    const std::string& name = Identifier(v);
    for (const auto& [n, value] : names)
        if (n == name) return value;
    std::string known;
    for (const auto& n : names)
        known += (known.empty() ? "" : ", ") + std::string(n.first);
    Fail(v, "unknown value " + name + " (one of " + known + ")");
}

int64_t TFormReader::SetOf(const TFormValue& v, std::span<const TNames> names) const {
    if (v.Kind != TFormValue::vaSet)
        Fail(v, std::string("expected a set, found ") + KindName(v.Kind));
    int64_t bits = 0;
    for (const std::string& member : v.Names) {
        TFormValue one;
        one.Kind = TFormValue::vaIdent;
        one.Text = member;
        one.Line = v.Line;
        bits |= Enumeration(one, names);
    }
    return bits;
}

int32_t TFormReader::Color(const TFormValue& v) const {
    if (v.Kind == TFormValue::vaInteger) return int32_t(Integer(v, INT32_MIN, UINT32_MAX));
    if (v.Kind != TFormValue::vaIdent)
        Fail(v, std::string("expected a colour, found ") + KindName(v.Kind));
    for (const auto& [n, value] : kColorNames)
        if (n == v.Text) return int32_t(value);
    Fail(v, "unknown colour " + v.Text);
}

int32_t TFormReader::Cursor(const TFormValue& v) const {
    if (v.Kind == TFormValue::vaInteger) return int32_t(Integer(v, INT16_MIN, INT16_MAX));
    if (v.Kind != TFormValue::vaIdent)
        Fail(v, std::string("expected a cursor, found ") + KindName(v.Kind));
    for (const auto& [n, value] : kCursorNames)
        if (n == v.Text) return int32_t(value);
    Fail(v, "unknown cursor " + v.Text);
}

std::vector<uint8_t> TFormReader::Binary(const TFormValue& v) const {
    if (v.Kind == TFormValue::vaBinary) return v.Bytes;
    if (v.Kind != TFormValue::vaResource)
        Fail(v, std::string("expected binary data, found ") + KindName(v.Kind));
    std::span<const uint8_t> bytes;
    if (fContext.Resources) bytes = fContext.Resources(v.Text);
    if (bytes.empty()) Fail(v, "unknown resource \"" + v.Text + "\"");
    return {bytes.begin(), bytes.end()};
}

TNotifyEvent TFormReader::Handler(const TFormValue& v) const {
    const std::string& name = Identifier(v);
    auto it = fContext.Handlers.find(name);
    if (it == fContext.Handlers.end() || !it->second) Fail(v, "unknown event handler " + name);
    return it->second;
}

void TFormReader::Reference(const TFormValue& v, std::function<void(TComponent&)> apply) {
    const std::string& name = Identifier(v);
    auto resolve = [this, name, line = v.Line, apply = std::move(apply)] {
        TComponent* c = fRoot.FindComponent(name);
        if (!c) throw EFormError("no component named " + name + " in the form", line);
        apply(*c);
    };
    if (fRoot.FindComponent(name))
        resolve();
    else
        fReferences.push_back({v.Line, name, std::move(resolve)});
}

void TFormReader::AfterLoad(int line, std::function<void()> check) {
    fChecks.push_back({line, std::string(), std::move(check)});
}

void TFormReader::RunDeferred() {
    for (auto* list : {&fReferences, &fChecks}) {
        for (TDeferred& d : *list) {
            try {
                d.Run();
            } catch (const EFormError&) {
                throw;
            } catch (const std::exception& e) {
                throw EFormError(e.what(), d.Line);
            }
        }
        list->clear();
    }
}
