#include "uProductResources.h"

#include <algorithm>
#include <cstdio>

#include "forms/FileStream.h"
#include "uCodePage.h"
#include "uPackFiles.h"

namespace {

constexpr uint32_t FixedSignature = 0xFEEF04BD;
constexpr uint32_t UnicodeCodePage = 1200;

// UTF-16 of a checked UTF-8 text; none, with the reason, for bytes that are not UTF-8 or a control character,
// which the version and string resources would carry but no list or Properties page can show.
std::optional<std::u16string> Utf16Text(std::string_view text, std::string& problem) {
    std::u16string out;
    while (!text.empty()) {
        const auto decoded = DecodeUtf8(text);
        if (!decoded) {
            problem = "the text is not UTF-8";
            return std::nullopt;
        }
        const char32_t c = decoded->first;
        if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) {
            problem = "it holds the control character " + DescribeCharacter(text);
            return std::nullopt;
        }
        if (c >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
        text.remove_prefix(decoded->second);
    }
    return out;
}

std::string Utf8Text(const std::u16string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000)
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        else if (c >= 0xD800 && c < 0xE000)
            c = 0xFFFD; // a lone surrogate has no UTF-8 form
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | c >> 6);
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | c >> 12);
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | c >> 18);
            out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::u16string Ascii16(std::string_view text) {
    return {text.begin(), text.end()};
}

uint32_t Get32(const std::vector<uint8_t>& bytes, size_t at) {
    return at + 4 > bytes.size() ? 0
                                 : uint32_t{bytes[at]} | uint32_t{bytes[at + 1]} << 8 | uint32_t{bytes[at + 2]} << 16 |
                                       uint32_t{bytes[at + 3]} << 24;
}

void Put32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
    for (size_t i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

// The dotted version as VS_FIXEDFILEINFO's two halves; missing numbers are 0.
std::pair<uint32_t, uint32_t> FixedVersion(const std::string& dotted) {
    uint32_t parts[4] = {};
    size_t index = 0;
    for (char c : dotted) {
        if (c == '.')
            ++index;
        else if (index < 4)
            parts[index] = parts[index] * 10 + static_cast<uint32_t>(c - '0');
    }
    return {parts[0] << 16 | parts[1], parts[2] << 16 | parts[3]};
}

bool IsFileVersionText(const std::u16string& text) {
    int fields = 1;
    uint32_t value = 0;
    bool digit = false;
    for (char16_t c : text) {
        if (c == u'.' && digit) {
            ++fields, value = 0, digit = false;
        } else if (c >= u'0' && c <= u'9' && (value = value * 10 + static_cast<uint32_t>(c - u'0')) <= 65535) {
            digit = true;
        } else {
            return false;
        }
    }
    return digit && fields <= 4;
}

bool IsType(const TResource& r, uint16_t type) {
    return !r.Type.IsName && r.Type.Number == type;
}

bool IsNumbered(const TResource& r, uint16_t type, uint16_t name) {
    return IsType(r, type) && !r.Name.IsName && r.Name.Number == name;
}

TResource Numbered(uint16_t type, uint16_t name, uint16_t language, std::vector<uint8_t> data) {
    TResource r;
    r.Type.Number = type;
    r.Name.Number = name;
    r.Language = language;
    r.Data = std::move(data);
    return r;
}

// New resources take the language of the runtime's own version information, so that a lookup in the
// runtime's language finds them beside the resources that are kept.
uint16_t RuntimeLanguage(const std::vector<TResource>& resources) {
    for (const TResource& r : resources)
        if (IsType(r, ResVersion)) return r.Language;
    for (const TResource& r : resources)
        if (IsType(r, ResManifest)) return r.Language;
    return resources.empty() ? 0 : resources.front().Language;
}

TVersionNode TextNode(const std::u16string& key, const std::u16string& value) {
    TVersionNode node;
    node.Key = key;
    node.SetText(value);
    return node;
}

TVersionNode ListNode(const std::u16string& key) {
    TVersionNode node;
    node.Key = key;
    node.Text = true;
    return node;
}

// The translation VarFileInfo names first (language, code page), adding one for language when there is none.
std::pair<uint16_t, uint16_t> Translation(TVersionNode& root, uint16_t language) {
    TVersionNode* vars = root.Child(u"VarFileInfo");
    if (!vars) {
        root.Children.push_back(ListNode(u"VarFileInfo"));
        vars = &root.Children.back();
    }
    TVersionNode* translation = vars->Child(u"Translation");
    if (!translation) {
        TVersionNode node;
        node.Key = u"Translation";
        node.Value = {static_cast<uint8_t>(language), static_cast<uint8_t>(language >> 8),
                      static_cast<uint8_t>(UnicodeCodePage), static_cast<uint8_t>(UnicodeCodePage >> 8)};
        vars->Children.push_back(std::move(node));
        translation = &vars->Children.back();
    }
    const uint32_t pair = Get32(translation->Value, 0);
    return {static_cast<uint16_t>(pair), static_cast<uint16_t>(pair >> 16)};
}

std::u16string TableKey(std::pair<uint16_t, uint16_t> translation) {
    char key[9];
    std::snprintf(key, sizeof key, "%04X%04X", translation.first, translation.second);
    return Ascii16(key);
}

// The string table VerQueryValue reads for the first translation: renamed to it when it is the only one.
TVersionNode& StringTable(TVersionNode& root, uint16_t language) {
    const std::u16string key = TableKey(Translation(root, language));
    TVersionNode* strings = root.Child(u"StringFileInfo");
    if (!strings) {
        // StringFileInfo goes before VarFileInfo, where resource compilers put it.
        root.Children.insert(root.Children.begin(), ListNode(u"StringFileInfo"));
        strings = &root.Children.front();
    }
    if (TVersionNode* table = strings->Child(key)) return *table;
    if (strings->Children.size() == 1) {
        strings->Children.front().Key = key;
        return strings->Children.front();
    }
    strings->Children.push_back(ListNode(key));
    return strings->Children.back();
}

void SetString(TVersionNode& table, const std::u16string& key, const std::u16string& value) {
    if (TVersionNode* node = table.Child(key))
        node->SetText(value);
    else
        table.Children.push_back(TextNode(key, value));
}

TVersionNode NewVersionInfo() {
    TVersionNode root;
    root.Key = u"VS_VERSION_INFO";
    root.Value.assign(52, 0);
    Put32(root.Value, 0, FixedSignature);
    Put32(root.Value, 4, 0x00010000);  // structure version 1.0
    Put32(root.Value, 32, 0x00040004); // VOS_NT_WINDOWS32
    Put32(root.Value, 36, 1);          // VFT_APP
    return root;
}

// The fields as UTF-16, checked; unset when not given.
struct TProductTexts {
    std::optional<std::u16string> Name, Version, Company, Copyright, Description, ProductName;
    bool AnyVersionField() const { return Name || Version || Company || Copyright || Description || ProductName; }
};

class TProductApplier {
public:
    TProductApplier(const TProductFields& product, const std::string& runtime, TDiagnostics& diagnostics)
        : P(product), FRuntime(runtime), D(diagnostics) {}

    bool Run(std::vector<uint8_t>& image) {
        TProductTexts texts;
        texts.Name = Text(P.Name, "product.name", MaxProductNameLength);
        if (texts.Name && texts.Name->empty()) {
            D.Error(P.Name.Where, "product.name", "is empty; leave it out to have Windows list the file's name");
            texts.Name.reset();
        }
        texts.Version = Text(P.Version, "product.version", MaxProductTextLength);
        texts.Company = Text(P.Company, "product.company", MaxProductTextLength);
        texts.Copyright = Text(P.Copyright, "product.copyright", MaxProductTextLength);
        texts.Description = Text(P.Description, "product.description", MaxProductTextLength);
        texts.ProductName = Text(P.ProductName, "product.product_name", MaxProductTextLength);
        const std::optional<std::vector<TIconImage>> icon = Icon();
        if (D.HasErrors() || (!texts.AnyVersionField() && !icon)) return false;

        try {
            const auto section = FindResourceSection(image);
            if (!section) {
                D.Error({FRuntime}, "runtime", "has no resources, so it cannot carry the [product] fields");
                return false;
            }
            const std::vector<TResource> old =
                ReadResourceTree(section->Bytes, section->SectionRva, section->DirectoryRva);
            std::vector<TResource> resources = Apply(old, texts, icon);
            if (Sorted(resources) == Sorted(old)) return false;
            std::vector<uint8_t> rewritten = image;
            ReplaceResourceSection(rewritten, BuildResourceTree(resources, section->SectionRva));
            image = std::move(rewritten);
            return true;
        } catch (const EImageBlockException& e) {
            D.Error({FRuntime}, "runtime", "its resources cannot be rewritten: " + e.Message());
            return false;
        }
    }

private:
    std::optional<std::u16string> Text(const TSetting<std::string>& setting, const std::string& field, size_t limit) {
        if (!setting.Given()) return std::nullopt;
        std::string problem;
        auto text = Utf16Text(*setting.Value, problem);
        if (!text) {
            D.Error(setting.Where, field, TomlString(*setting.Value) + " cannot be used: " + problem);
        } else if (text->size() > limit) {
            D.Error(setting.Where, field,
                    "is " + std::to_string(text->size()) + " characters long; at most " + std::to_string(limit) +
                        (field == "product.name" ? " fit the Screen Saver settings' list" : " are kept"));
            text.reset();
        }
        return text;
    }

    std::optional<std::vector<TIconImage>> Icon() {
        if (!P.Icon.Given()) return std::nullopt;
        const std::string& path = *P.Icon.Value;
        const auto size = RegularFileSize(path);
        std::string why;
        if (!size) {
            why = "no such file";
        } else if (*size > static_cast<int64_t>(MaxIconFileSize)) {
            why = "is larger than " + std::to_string(MaxIconFileSize / 1024) + " KiB, the most an icon may be";
        } else {
            try {
                TMemoryStream bytes;
                bytes.LoadFromFile(path);
                if (auto images = ReadIconFile(bytes.Memory(), static_cast<size_t>(bytes.Length()), why)) return images;
                why = "is not an icon file Windows can show: " + why;
            } catch (const Exception& e) {
                why = e.Message();
            }
        }
        D.Error(P.Icon.Where, "product.icon", path + ": " + why);
        return std::nullopt;
    }

    static std::vector<TResource> Sorted(std::vector<TResource> resources) {
        std::sort(resources.begin(), resources.end(), [](const TResource& a, const TResource& b) {
            const auto key = [](const TResource& r) {
                return std::make_tuple(r.Type.IsName, r.Type.Name, r.Type.Number, r.Name.IsName, r.Name.Name,
                                       r.Name.Number, r.Language);
            };
            return key(a) < key(b);
        });
        return resources;
    }

    std::vector<TResource> Apply(const std::vector<TResource>& old, const TProductTexts& texts,
                                 const std::optional<std::vector<TIconImage>>& icon) {
        const uint16_t language = RuntimeLanguage(old);
        const TResource* oldStrings = nullptr;
        const TResource* oldVersion = nullptr;
        for (const TResource& r : old) {
            if (IsNumbered(r, ResString, 1) && (!oldStrings || r.Language == language)) oldStrings = &r;
            if (IsType(r, ResVersion) && (!oldVersion || r.Language == language)) oldVersion = &r;
        }
        std::vector<TResource> kept;
        for (const TResource& r : old) {
            const bool replaced = (icon && (IsType(r, ResIcon) || IsType(r, ResGroupIcon))) ||
                                  (texts.Name && IsNumbered(r, ResString, 1)) ||
                                  (texts.AnyVersionField() && IsType(r, ResVersion));
            if (!replaced) kept.push_back(r);
        }
        if (texts.Name) {
            std::vector<std::u16string> strings =
                oldStrings ? ReadStringBlock(oldStrings->Data) : std::vector<std::u16string>(16);
            strings[1] = *texts.Name; // string 1: entry 1 of block 1
            TResource block = Numbered(ResString, 1, language, BuildStringBlock(strings));
            if (oldStrings && ReadStringBlock(oldStrings->Data) == strings) block = *oldStrings;
            kept.push_back(std::move(block));
        }
        if (icon) {
            for (size_t i = 0; i < icon->size(); ++i)
                kept.push_back(Numbered(ResIcon, static_cast<uint16_t>(i + 1), language, (*icon)[i].Bytes));
            kept.push_back(Numbered(ResGroupIcon, ProductIconGroup, language, BuildIconGroup(*icon, 1)));
        }
        if (texts.AnyVersionField()) kept.push_back(Version(oldVersion, texts, language));
        return kept;
    }

    TResource Version(const TResource* old, const TProductTexts& texts, uint16_t language) {
        const TVersionNode before = old ? ReadVersionInfo(old->Data) : NewVersionInfo();
        TVersionNode root = before;
        if (root.Value.size() < 52 || Get32(root.Value, 0) != FixedSignature) root.Value = NewVersionInfo().Value;
        TVersionNode& table = StringTable(root, language);
        if (texts.Version) {
            const auto [high, low] = FixedVersion(*P.Version.Value);
            Put32(root.Value, 8, high);
            Put32(root.Value, 12, low);
            Put32(root.Value, 16, high);
            Put32(root.Value, 20, low);
            SetString(table, u"FileVersion", *texts.Version);
            SetString(table, u"ProductVersion", *texts.Version);
        }
        if (texts.Company) SetString(table, u"CompanyName", *texts.Company);
        if (texts.Copyright) SetString(table, u"LegalCopyright", *texts.Copyright);
        if (const auto& d = texts.Description ? texts.Description : texts.Name)
            SetString(table, u"FileDescription", *d);
        if (const auto& n = texts.ProductName ? texts.ProductName : texts.Name) SetString(table, u"ProductName", *n);
        // What already says all this keeps its bytes, so that a screensaver packed again stays as it was.
        if (old && root == before) return *old;
        return Numbered(ResVersion, 1, old ? old->Language : language, BuildVersionInfo(root));
    }

    const TProductFields& P;
    const std::string& FRuntime;
    TDiagnostics& D;
};

} // namespace

bool ApplyProduct(const TProductFields& product, std::vector<uint8_t>& image, const std::string& runtime,
                  TDiagnostics& diagnostics) {
    return TProductApplier(product, runtime, diagnostics).Run(image);
}

TProductInfo ReadProduct(const std::vector<uint8_t>& image) {
    TProductInfo info;
    std::vector<TResource> resources;
    try {
        const auto section = FindResourceSection(image);
        if (!section) return info;
        resources = ReadResourceTree(section->Bytes, section->SectionRva, section->DirectoryRva);
        const uint16_t language = RuntimeLanguage(resources);
        const TResource* strings = nullptr;
        const TResource* version = nullptr;
        const TResource* group = nullptr;
        for (const TResource& r : resources) {
            if (IsNumbered(r, ResString, 1) && (!strings || r.Language == language)) strings = &r;
            if (IsType(r, ResVersion) && (!version || r.Language == language)) version = &r;
            if (IsNumbered(r, ResGroupIcon, ProductIconGroup) && (!group || r.Language == language)) group = &r;
        }
        if (strings) {
            const std::u16string name = ReadStringBlock(strings->Data)[1];
            if (!name.empty()) info.Name = Utf8Text(name);
        }
        if (group) {
            auto entries = ReadIconGroup(group->Data).value_or(std::vector<std::pair<uint16_t, TIconImage>>{});
            for (auto& [iconId, icon] : entries) {
                // clang 14 cannot capture a structured binding in a lambda.
                const uint16_t wanted = iconId;
                const auto it = std::find_if(resources.begin(), resources.end(),
                                             [&](const TResource& r) { return IsNumbered(r, ResIcon, wanted); });
                if (it == resources.end()) continue;
                icon.Bytes = it->Data;
                info.Icon.push_back(std::move(icon));
            }
        }
        if (!version) return info;
        TVersionNode root = ReadVersionInfo(version->Data);
        const TVersionNode* table = &StringTable(root, language);
        const auto text = [&](const char* key) -> std::optional<std::string> {
            const TVersionNode* node = table->Child(Ascii16(key));
            if (!node) return std::nullopt;
            return Utf8Text(node->TextValue());
        };
        if (const TVersionNode* node = table->Child(u"FileVersion"); node && IsFileVersionText(node->TextValue()))
            info.Version = Utf8Text(node->TextValue());
        info.Company = text("CompanyName");
        info.Copyright = text("LegalCopyright");
        info.Description = text("FileDescription");
        info.ProductName = text("ProductName");
    } catch (const EImageBlockException&) {
        // Damaged resources carry nothing worth writing back.
    }
    return info;
}

std::optional<std::vector<uint8_t>> ReadImageHead(const std::string& fileName) {
    try {
        TFileStream file(fileName, TFileMode::fmOpenRead);
        const uint32_t end = ReadImageEnd(file);
        if (end == 0 || end > file.GetSize()) return std::nullopt;
        std::vector<uint8_t> head(end);
        file.SetPosition(0);
        file.ReadBuffer(head.data(), static_cast<int32_t>(end));
        return head;
    } catch (const Exception&) {
        return std::nullopt;
    }
}
