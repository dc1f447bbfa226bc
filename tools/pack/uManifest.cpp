#include "uManifest.h"

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <string_view>

#include <toml++/toml.h>

#include "forms/FileStream.h"
#include "uCodePage.h"
#include "uPackFiles.h"

namespace {

// Values given with --set carry this as their source, so that errors name the command line.
constexpr std::string_view SetSource = "--set";

TSourcePos Pos(const toml::source_region& region, const std::string& fallbackFile) {
    TSourcePos pos;
    pos.File = region.path ? *region.path : fallbackFile;
    if (pos.File != SetSource) {
        pos.Line = region.begin.line;
        pos.Column = region.begin.column;
    }
    return pos;
}

std::string Quoted(std::string_view text) {
    return "\"" + std::string(text) + "\"";
}

size_t EditDistance(std::string_view a, std::string_view b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

std::string Describe(const toml::node& node) {
    switch (node.type()) {
    case toml::node_type::string:
        return "the string " + Quoted(*node.value<std::string>());
    case toml::node_type::integer:
        return "the integer " + std::to_string(*node.value<int64_t>());
    case toml::node_type::floating_point:
        return "a floating-point number";
    case toml::node_type::boolean:
        return *node.value<bool>() ? "true" : "false";
    case toml::node_type::table:
        return "a table";
    case toml::node_type::array:
        return "an array";
    default:
        return "a date or time";
    }
}

bool IsDottedVersion(std::string_view text) {
    bool digit = false;
    for (char c : text) {
        if (c >= '0' && c <= '9') {
            digit = true;
        } else if (c == '.' && digit) {
            digit = false;
        } else {
            return false;
        }
    }
    return digit;
}

// What a VS_FIXEDFILEINFO can hold: up to four 16-bit numbers.
bool IsFileVersion(std::string_view text) {
    if (!IsDottedVersion(text)) return false;
    int fields = 1;
    uint32_t value = 0;
    for (char c : text) {
        if (c == '.') {
            ++fields;
            value = 0;
        } else if ((value = value * 10 + static_cast<uint32_t>(c - '0')) > 65535) {
            return false;
        }
    }
    return fields <= 4;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Walks the parsed document into a TManifest, reporting every key it does not know and every value of the
// wrong kind.
class TManifestReader {
public:
    TManifestReader(TManifest& manifest, TDiagnostics& diagnostics, std::string manifestDir)
        : M(manifest), D(diagnostics), FManifestDir(std::move(manifestDir)) {}

    void Root(const toml::table& root) {
        CheckKeys(root, "", {"id", "code_page", "arch", "product", "movie", "screen", "files", "dialog", "no_player"});
        if (auto* node = root.get("id")) String(*node, "id", M.Id);
        if (auto* node = root.get("code_page")) CodePage(*node);
        if (auto* node = root.get("arch")) Choice(*node, "arch", ArchNames, false, M.Arch);
        if (auto* node = root.get("product")) {
            if (auto* table = Table(*node, "product")) Product(*table);
        }
        if (auto* node = root.get("movie")) {
            if (auto* table = Table(*node, "movie")) Movie(*table);
        }
        if (auto* node = root.get("screen")) {
            if (auto* table = Table(*node, "screen")) Screen(*table);
        }
        if (auto* node = root.get("files")) Files(*node);
        if (auto* node = root.get("dialog")) {
            if (auto* table = Table(*node, "dialog")) Dialog(*table);
        }
        if (auto* node = root.get("no_player")) {
            if (auto* table = Table(*node, "no_player")) NoPlayer(*table);
        }
    }

private:
    void Movie(const toml::table& t) {
        CheckKeys(t, "movie.",
                  {"file", "name", "loop", "scale", "quality", "menu", "right_click", "background", "flashvars",
                   "required_flash_version"});
        if (auto* n = t.get("file")) Path(*n, "movie.file", M.MovieFile);
        if (auto* n = t.get("name")) String(*n, "movie.name", M.MovieName);
        if (auto* n = t.get("loop")) Bool(*n, "movie.loop", M.Loop);
        if (auto* n = t.get("scale")) {
            TSetting<int32_t> scale;
            static constexpr const char* Scales[] = {"showall", "exactfit"};
            if (Choice(*n, "movie.scale", Scales, false, scale)) {
                M.Stretch.Value = *scale.Value == 1;
                M.Stretch.Where = scale.Where;
            }
        }
        if (auto* n = t.get("quality")) Choice(*n, "movie.quality", QualityNames, true, M.Quality);
        if (auto* n = t.get("menu")) Bool(*n, "movie.menu", M.Menu);
        if (auto* n = t.get("right_click")) Bool(*n, "movie.right_click", M.RightClick);
        if (auto* n = t.get("background")) Background(*n);
        if (auto* n = t.get("flashvars")) FlashVars(*n);
        if (auto* n = t.get("required_flash_version")) {
            if (String(*n, "movie.required_flash_version", M.RequiredFlashVersion) &&
                *M.RequiredFlashVersion.Value != "auto" && !IsDottedVersion(*M.RequiredFlashVersion.Value)) {
                D.Error(M.RequiredFlashVersion.Where, "movie.required_flash_version",
                        "expected \"auto\" or a dotted version such as \"9.0.115\", not " + Describe(*n));
                M.RequiredFlashVersion.Value.reset();
            }
        }
    }

    void Screen(const toml::table& t) {
        CheckKeys(t, "screen.", {"monitors", "end_on_mouse", "end_on_key", "show_cursor", "throttle_preview"});
        if (auto* n = t.get("monitors")) Choice(*n, "screen.monitors", MonitorNames, true, M.Monitors);
        if (auto* n = t.get("end_on_mouse")) Bool(*n, "screen.end_on_mouse", M.EndOnMouse);
        if (auto* n = t.get("end_on_key")) Bool(*n, "screen.end_on_key", M.EndOnKey);
        if (auto* n = t.get("show_cursor")) Bool(*n, "screen.show_cursor", M.ShowCursor);
        if (auto* n = t.get("throttle_preview")) Bool(*n, "screen.throttle_preview", M.ThrottlePreview);
    }

    void Dialog(const toml::table& t) {
        CheckKeys(t, "dialog.", {"caption", "copyright", "link", "close_button", "picture"});
        if (auto* n = t.get("caption")) String(*n, "dialog.caption", M.Caption);
        if (auto* n = t.get("copyright")) String(*n, "dialog.copyright", M.Copyright);
        if (auto* n = t.get("link")) String(*n, "dialog.link", M.Link);
        if (auto* n = t.get("close_button")) Bool(*n, "dialog.close_button", M.CloseButton);
        if (auto* n = t.get("picture")) Path(*n, "dialog.picture", M.Picture);
    }

    void Product(const toml::table& t) {
        CheckKeys(t, "product.",
                  {"name", "icon", "version", "company", "copyright", "description", "product_name"});
        TProductFields& P = M.Product;
        if (auto* n = t.get("name")) String(*n, "product.name", P.Name);
        if (auto* n = t.get("icon")) Path(*n, "product.icon", P.Icon);
        if (auto* n = t.get("version")) {
            if (String(*n, "product.version", P.Version) && !IsFileVersion(*P.Version.Value)) {
                D.Error(P.Version.Where, "product.version",
                        "expected 1 to 4 numbers from 0 to 65535 separated by dots, such as \"1.2.0\", not " +
                            Describe(*n));
                P.Version.Value.reset();
            }
        }
        if (auto* n = t.get("company")) String(*n, "product.company", P.Company);
        if (auto* n = t.get("copyright")) String(*n, "product.copyright", P.Copyright);
        if (auto* n = t.get("description")) String(*n, "product.description", P.Description);
        if (auto* n = t.get("product_name")) String(*n, "product.product_name", P.ProductName);
    }

    void NoPlayer(const toml::table& t) {
        CheckKeys(t, "no_player.", {"text", "link"});
        if (auto* n = t.get("text")) String(*n, "no_player.text", M.NoPlayerText);
        if (auto* n = t.get("link")) String(*n, "no_player.link", M.NoPlayerLink);
    }

    void Files(const toml::node& node) {
        const toml::array* array = node.as_array();
        if (!array) {
            D.Error(At(node), "files", "expected an array of tables ([[files]]), not " + Describe(node));
            return;
        }
        M.Files.clear();
        for (size_t i = 0; i < array->size(); ++i) {
            const toml::node& entry = *array->get(i);
            const std::string field = "files[" + std::to_string(i) + "]";
            const toml::table* t = entry.as_table();
            if (!t) {
                D.Error(At(entry), field, "expected a table with a path, not " + Describe(entry));
                continue;
            }
            TManifestFile file;
            file.Where = At(entry);
            CheckKeys(*t, field + ".", {"path", "name"});
            if (auto* n = t->get("path"))
                Path(*n, field + ".path", file.Path);
            else
                D.Error(file.Where, field + ".path", "missing: every additional file needs a path");
            if (auto* n = t->get("name")) String(*n, field + ".name", file.Name);
            M.Files.push_back(std::move(file));
        }
    }

    void CodePage(const toml::node& node) {
        const auto value = node.value_exact<int64_t>();
        if (!value || !IsSupportedCodePage(static_cast<int>(*value)) || *value > 65001) {
            D.Error(At(node), "code_page",
                    "expected a Windows ANSI code page (874, 932, 936, 949, 950, 1250 to 1258) or 65001, not " +
                        Describe(node));
            return;
        }
        M.CodePage.Value = *value;
        M.CodePage.Where = At(node);
    }

    void Background(const toml::node& node) {
        M.Background.Where = At(node);
        if (auto number = node.value_exact<int64_t>()) {
            if (*number < INT32_MIN || *number > UINT32_MAX) {
                D.Error(At(node), "movie.background", "expected a 32-bit value, not " + Describe(node));
                return;
            }
            M.Background.Value = static_cast<int32_t>(static_cast<uint32_t>(*number));
            return;
        }
        const auto text = node.value_exact<std::string>();
        if (text && text->size() == 7 && (*text)[0] == '#' &&
            std::all_of(text->begin() + 1, text->end(), [](char c) { return HexDigit(c) >= 0; })) {
            const auto byte = [&](size_t i) {
                return static_cast<uint32_t>(HexDigit((*text)[i]) * 16 + HexDigit((*text)[i + 1]));
            };
            // Written as the web writes colours, stored as the system keeps them: red in the low byte.
            M.Background.Value = static_cast<int32_t>(byte(1) | byte(3) << 8 | byte(5) << 16);
            return;
        }
        D.Error(At(node), "movie.background", "expected a colour \"#RRGGBB\" or an integer, not " + Describe(node));
    }

    void FlashVars(const toml::node& node) {
        if (node.is_string()) {
            String(node, "movie.flashvars", M.FlashVars);
            return;
        }
        const toml::table* t = node.as_table();
        if (!t) {
            D.Error(At(node), "movie.flashvars",
                    "expected a string or a table of names and values, not " + Describe(node));
            return;
        }
        // The table's own order is alphabetical; the movie gets the variables in the order they were written.
        std::vector<std::pair<const toml::key*, const toml::node*>> entries;
        for (auto&& [key, value] : *t)
            entries.emplace_back(&key, &value);
        std::stable_sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
            return a.first->source().begin < b.first->source().begin;
        });
        std::string vars;
        bool ok = true;
        for (const auto& [key, value] : entries) {
            std::string text;
            if (auto s = value->value_exact<std::string>())
                text = *s;
            else if (auto i = value->value_exact<int64_t>())
                text = std::to_string(*i);
            else if (auto b = value->value_exact<bool>())
                text = *b ? "true" : "false";
            else {
                D.Error(At(*value), "movie.flashvars." + std::string(key->str()),
                        "expected a string, an integer or true or false, not " + Describe(*value));
                ok = false;
                continue;
            }
            if (!vars.empty()) vars += '&';
            vars += PercentEncode(key->str()) + "=" + PercentEncode(text);
        }
        if (!ok) return;
        M.FlashVars.Value = vars;
        M.FlashVars.Where = At(node);
    }

    const toml::table* Table(const toml::node& node, const std::string& field) {
        if (const toml::table* t = node.as_table()) return t;
        D.Error(At(node), field, "expected a table ([" + field + "]), not " + Describe(node));
        return nullptr;
    }

    template <class T>
    bool Exact(const toml::node& node, const std::string& field, TSetting<T>& setting, const char* expected) {
        const auto value = node.value_exact<T>();
        if (!value) {
            D.Error(At(node), field, std::string("expected ") + expected + ", not " + Describe(node));
            return false;
        }
        setting.Value = *value;
        setting.Where = At(node);
        return true;
    }
    bool Bool(const toml::node& node, const std::string& field, TSetting<bool>& setting) {
        return Exact(node, field, setting, "true or false");
    }
    bool String(const toml::node& node, const std::string& field, TSetting<std::string>& setting) {
        return Exact(node, field, setting, "a string");
    }

    // A path as written, resolved against the folder of the manifest it was written in.
    void Path(const toml::node& node, const std::string& field, TSetting<std::string>& setting) {
        if (!String(node, field, setting)) return;
        if (setting.Value->empty()) {
            D.Error(setting.Where, field, "the path is empty");
            setting.Value.reset();
            return;
        }
        std::string problem;
        auto path = Utf8ToSystem(*setting.Value, problem);
        if (!path) {
            D.Error(setting.Where, field, "this system cannot name the path " + Describe(node) + ": " + problem);
            setting.Value.reset();
            return;
        }
        setting.Written = *setting.Value;
        setting.Value = setting.Where.File == SetSource ? *path : JoinPath(FManifestDir, *path);
    }

    template <size_t N>
    bool Choice(const toml::node& node, const std::string& field, const char* const (&names)[N], bool integers,
                TSetting<int32_t>& setting) {
        setting.Where = At(node);
        if (auto text = node.value_exact<std::string>()) {
            for (size_t i = 0; i < N; ++i) {
                if (*text == names[i]) {
                    setting.Value = static_cast<int32_t>(i);
                    return true;
                }
            }
        } else if (auto number = node.value_exact<int64_t>(); number && integers) {
            if (*number >= INT32_MIN && *number <= INT32_MAX) {
                setting.Value = static_cast<int32_t>(*number);
                return true;
            }
        }
        std::string expected;
        for (size_t i = 0; i < N; ++i)
            expected += (i == 0 ? "" : i + 1 == N ? " or " : ", ") + Quoted(names[i]);
        if (integers) expected += " or a 32-bit integer";
        D.Error(setting.Where, field, "expected " + expected + ", not " + Describe(node));
        return false;
    }

    void CheckKeys(const toml::table& table, const std::string& prefix, std::initializer_list<std::string_view> known) {
        for (auto&& [key, value] : table) {
            if (std::find(known.begin(), known.end(), key.str()) != known.end()) continue;
            std::string message = "unknown key";
            for (std::string_view candidate : known) {
                if (EditDistance(key.str(), candidate) <= 2) {
                    message += "; did you mean " + Quoted(candidate) + "?";
                    break;
                }
            }
            D.Error(Pos(key.source(), M.Source), prefix + std::string(key.str()), message);
        }
    }

    TSourcePos At(const toml::node& node) const { return Pos(node.source(), M.Source); }

    TManifest& M;
    TDiagnostics& D;
    std::string FManifestDir;
};

bool LooksLikeSwf(const std::string& fileName) {
    try {
        TFileStream file(fileName, TFileMode::fmOpenRead);
        char head[3] = {};
        file.Read(head, 3);
        return (head[0] == 'F' || head[0] == 'C' || head[0] == 'Z') && head[1] == 'W' && head[2] == 'S';
    } catch (const EFOpenError&) {
        return false;
    }
}

bool ReadText(const std::string& fileName, std::string& text) {
    try {
        TFileStream file(fileName, TFileMode::fmOpenRead);
        const int64_t size = file.GetSize();
        // A manifest is a few hundred bytes; anything near this is not one.
        if (size > 16 * 1024 * 1024) return false;
        text.resize(static_cast<size_t>(size));
        file.ReadBuffer(text.data(), static_cast<int32_t>(size));
        return true;
    } catch (const EStreamError&) {
        return false;
    }
}

// Keys whose value is a string whatever it looks like: "--set movie.required_flash_version=9.0" means the text.
bool TakesOnlyText(std::string_view key) {
    static constexpr std::string_view Keys[] = {"id",
                                                "arch",
                                                "product.name",
                                                "product.icon",
                                                "product.version",
                                                "product.company",
                                                "product.copyright",
                                                "product.description",
                                                "product.product_name",
                                                "no_player.text",
                                                "no_player.link",
                                                "movie.file",
                                                "movie.name",
                                                "movie.required_flash_version",
                                                "dialog.caption",
                                                "dialog.copyright",
                                                "dialog.link",
                                                "dialog.picture"};
    return std::find(std::begin(Keys), std::end(Keys), key) != std::end(Keys) || key.rfind("movie.flashvars.", 0) == 0;
}

// Moves every value of from into to; tables that exist on both sides are merged, anything else is replaced.
void MergeInto(toml::table& to, toml::table& from) {
    for (auto&& [key, value] : from) {
        toml::node* existing = to.get(key.str());
        if (value.is_table() && existing && existing->is_table() && !key.str().empty()) {
            MergeInto(*existing->as_table(), *value.as_table());
            continue;
        }
        value.visit([&, &k = key](auto&& node) { to.insert_or_assign(k, std::move(node)); });
    }
}

// One "key=value" of the command line as a TOML document of that one key.
std::optional<toml::table> ParseSetting(const std::string& argument, TDiagnostics& diagnostics) {
    const TSourcePos where{std::string(SetSource)};
    std::string problem;
    const auto text = SystemToUtf8(argument, problem);
    if (!text) {
        diagnostics.Error(where, argument, problem);
        return std::nullopt;
    }
    const std::string& setting = *text;
    const size_t equals = setting.find('=');
    if (equals == std::string::npos || equals == 0) {
        diagnostics.Error(where, setting, "expected KEY=VALUE");
        return std::nullopt;
    }
    const std::string key = setting.substr(0, equals);
    const std::string value = setting.substr(equals + 1);
    toml::table table;
    try {
        table = toml::parse(key + "=" + value, SetSource);
        // The value as TOML: it must be the one value of the key written, and a text key keeps the text.
        const toml::node* node = table.at_path(key).node();
        if (node && !(TakesOnlyText(key) && !node->is_string() && !node->is_table())) return table;
    } catch (const toml::parse_error&) {
    }
    try {
        return toml::parse(key + "=" + TomlString(value), SetSource);
    } catch (const toml::parse_error& e) {
        diagnostics.Error(where, key, "not a key the manifest could hold: " + std::string(e.description()));
        return std::nullopt;
    }
}

} // namespace

void TDiagnostics::Error(const TSourcePos& where, std::string field, std::string message) {
    FAll.push_back({where, std::move(field), std::move(message), false});
    ++FErrors;
}

void TDiagnostics::Warn(const TSourcePos& where, std::string field, std::string message) {
    FAll.push_back({where, std::move(field), std::move(message), true});
}

std::string FormatDiagnostic(const TDiagnostic& d) {
    std::string text = d.Where.File;
    if (d.Where.Line > 0) text += ":" + std::to_string(d.Where.Line) + ":" + std::to_string(d.Where.Column);
    text += ": ";
    if (!d.Field.empty()) text += d.Field + ": ";
    if (d.Warning) text += "warning: ";
    return text + d.Message;
}

std::string PercentEncode(std::string_view text) {
    std::string encoded;
    for (char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if ((b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') || b == '-' || b == '.' ||
            b == '_' || b == '~') {
            encoded += c;
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", b);
            encoded += hex;
        }
    }
    return encoded;
}

std::string TomlString(std::string_view text) {
    std::string quoted = "\"";
    for (char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (c == '\n') {
            quoted += "\\n";
        } else if (c == '\t') {
            quoted += "\\t";
        } else if (b < 0x20 || b == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04X", b);
            quoted += escape;
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

bool LoadManifest(const std::string& input, const std::vector<std::string>& sets, TManifest& manifest,
                  TDiagnostics& diagnostics) {
    manifest = TManifest();
    manifest.Source = input;
    toml::table root;
    std::string manifestDir;
    if (!RegularFileSize(input)) {
        diagnostics.Error({input}, "", "no such file");
        return false;
    }
    if (LooksLikeSwf(input)) {
        // A movie alone: the manifest of the simple case holds only the movie's path.
        toml::table movie;
        std::string problem;
        const auto file = SystemToUtf8(input, problem);
        if (!file) {
            diagnostics.Error({input}, "movie.file", problem);
            return false;
        }
        movie.insert("file", *file);
        root.insert("movie", std::move(movie));
    } else {
        std::string text;
        if (!ReadText(input, text)) {
            diagnostics.Error({input}, "", "cannot read the manifest");
            return false;
        }
        try {
            root = toml::parse(text, input);
        } catch (const toml::parse_error& e) {
            diagnostics.Error(Pos(e.source(), input), "", std::string(e.description()));
            return false;
        }
        manifestDir = DirectoryOf(input);
    }
    for (const std::string& setting : sets)
        if (auto table = ParseSetting(setting, diagnostics)) MergeInto(root, *table);

    TManifestReader reader(manifest, diagnostics, manifestDir);
    reader.Root(root);
    const toml::node* movie = root.get("movie");
    if (!root.at_path("movie.file") && (!movie || movie->is_table()))
        diagnostics.Error({input}, "movie.file", "missing: a screensaver needs a movie ([movie] file = \"...\")");
    return true;
}
