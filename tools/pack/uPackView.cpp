#include "uPackView.h"

#include <cstdio>
#include <filesystem>
#include <iomanip>
#include <sstream>
#include <system_error>

#include "store/uPEUtils.h"
#include "uPackError.h"

namespace fs = std::filesystem;

namespace {

const char* PathName(TStorePath path) {
    switch (path) {
    case TStorePath::Primary:
        return "primary";
    case TStorePath::Fallback:
        return "fallback";
    case TStorePath::None:
        break;
    }
    return "none";
}

// Item names are untrusted: nothing in them may reach a terminal as a control sequence.
std::string PrintableName(const std::string& bytes) {
    std::string text;
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b == '\\') {
            text += "\\\\";
        } else if (b >= 0x20 && b <= 0x7E) {
            text += c;
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02x", b);
            text += hex;
        }
    }
    return text;
}

// Raises EPackError for a file the reader would silently take as empty.
void CheckReadable(const std::string& fileName) {
    std::error_code error;
    const fs::file_status status = fs::status(fileName, error);
    if (status.type() == fs::file_type::not_found) throw EPackError(fileName, "no such file");
    if (status.type() == fs::file_type::directory) throw EPackError(fileName, "is a directory");
    try {
        TFileReadStream probe(fileName);
    } catch (const EFOpenError&) {
        throw EPackError(fileName, "cannot open file");
    }
}

void WriteFile(const fs::path& path, const void* data, int32_t size) {
    const std::string name = path.string();
    try {
        TFileStream file(name, TFileMode::fmCreate);
        file.WriteBuffer(data, size);
    } catch (const EFOpenError&) {
        throw EPackError(name, "cannot create file");
    } catch (const EWriteError&) {
        throw EPackError(name, "cannot write file");
    }
}

} // namespace

void ReadStoreReport(const std::string& fileName, TStoreReport& report) {
    CheckReadable(fileName);
    try {
        TStoreLocation location;
        {
            TFileReadStream stream(fileName);
            location = LocateStore(stream, fileName);
        }
        report.FileSize = location.FileSize;
        report.Path = location.Path;
        report.Tail = location.Tail;
        report.ImageEnd.reset();
        if (location.ImageEnd >= 0) {
            report.ImageEnd = location.ImageEnd;
        } else {
            // The primary path never looks at the image; a store may sit behind a file that is not one.
            try {
                report.ImageEnd = TPEImage(fileName).GetImageEnd();
            } catch (const EImageBlockException&) {
            }
        }
        ReadExeItems(fileName, report.Items);
    } catch (const Exception& e) {
        throw EPackError(fileName, e.Message());
    } catch (const std::bad_alloc&) {
        throw EPackError(fileName, "Out of memory");
    }
}

std::string JsonString(const std::string& bytes) {
    std::string json = "\"";
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b == '"' || b == '\\') {
            json += '\\';
            json += c;
        } else if (b >= 0x20 && b <= 0x7E) {
            json += c;
        } else {
            char escape[7];
            std::snprintf(escape, sizeof escape, "\\u%04x", b);
            json += escape;
        }
    }
    return json + "\"";
}

std::string InfoText(const TStoreReport& report) {
    std::ostringstream text;
    text << "file size: " << report.FileSize << "\n";
    text << "image end: ";
    if (report.ImageEnd)
        text << *report.ImageEnd << "\n";
    else
        text << "not an executable image\n";
    text << "store: " << PathName(report.Path);
    if (report.Path == TStorePath::Primary) text << " (magic at the end of the file)";
    if (report.Path == TStorePath::Fallback) text << " (found through the image end, bytes follow the store)";
    text << "\n";
    text << "tail: " << report.Tail << "\n";
    text << "items: " << report.Items.size() << "\n";
    return text.str();
}

std::string InfoJson(const TStoreReport& report) {
    std::ostringstream json;
    json << "{\"file_size\": " << report.FileSize << ", \"image_end\": ";
    if (report.ImageEnd)
        json << *report.ImageEnd;
    else
        json << "null";
    json << ", \"store\": \"" << PathName(report.Path) << "\", \"tail\": " << report.Tail
         << ", \"items\": " << report.Items.size() << "}\n";
    return json.str();
}

std::string ListText(const TItemTypes& items) {
    if (items.empty()) return "no items\n";
    std::ostringstream text;
    text << std::setw(5) << "index"
         << "  " << std::left << std::setw(10) << "compressed" << std::right << "  " << std::setw(11) << "stored size"
         << "  " << std::setw(11) << "size"
         << "  name\n";
    for (size_t i = 0; i < items.size(); ++i) {
        const TItemType& item = items[i];
        text << std::setw(5) << i << "  " << std::left << std::setw(10) << (item.Compressed ? "yes" : "no")
             << std::right << "  " << std::setw(11) << item.StoredSize << "  " << std::setw(11) << item.Size << "  "
             << PrintableName(item.Name) << "\n";
    }
    return text.str();
}

std::string ListJson(const TItemTypes& items) {
    if (items.empty()) return "[]\n";
    std::ostringstream json;
    json << "[\n";
    for (size_t i = 0; i < items.size(); ++i) {
        const TItemType& item = items[i];
        json << "  {\"index\": " << i << ", \"name\": " << JsonString(item.Name)
             << ", \"compressed\": " << (item.Compressed ? "true" : "false") << ", \"stored_size\": " << item.StoredSize
             << ", \"size\": " << item.Size << "}" << (i + 1 < items.size() ? ",\n" : "\n");
    }
    json << "]\n";
    return json.str();
}

void ExtractItems(const TItemTypes& items, const std::string& dir) {
    std::error_code error;
    fs::create_directories(dir, error);
    if (error || !fs::is_directory(dir, error)) throw EPackError(dir, "cannot create directory");

    const fs::path base(dir);
    for (size_t i = 0; i < items.size(); ++i) {
        std::ostringstream name;
        name << std::setw(4) << std::setfill('0') << i << ".bin";
        WriteFile(base / name.str(), items[i].Data, items[i].Size);
    }
    const std::string json = ListJson(items);
    WriteFile(base / "items.json", json.data(), static_cast<int32_t>(json.size()));
}
