#include "uPackView.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iomanip>
#include <memory>
#include <new>
#include <sstream>
#include <vector>

#include <nlohmann/json.hpp>

#include "store/uPEUtils.h"
#include "uPackError.h"
#include "uPackFiles.h"

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

// Item names are bytes in whatever code page the content was made for: JSON gets each byte as the character of
// that number (U+0000 to U+00FF), so that every name survives the trip and can be turned back into its bytes.
std::string Latin1(const std::string& bytes) {
    std::string utf8;
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x80) {
            utf8 += c;
        } else {
            utf8 += static_cast<char>(0xC0 | b >> 6);
            utf8 += static_cast<char>(0x80 | (b & 0x3F));
        }
    }
    return utf8;
}

// Items up to this size are held in memory; a larger one (a movie, an additional file) is measured as it is
// inflated and inflated again, straight into its file, when it is written out: the tool's memory then does not
// follow the size of the items, which the screensaver streams as well.
constexpr int64_t HeldWholeUpTo = 16 * 1024 * 1024;

// Keeps what is written to it up to HeldWholeUpTo bytes, and beyond that only counts.
class TMeasuringSink : public TStream {
public:
    int64_t Size() const { return FSize; }
    bool Held() const { return FSize <= HeldWholeUpTo; }
    const std::vector<uint8_t>& Bytes() const { return FBytes; }
    int32_t Read(void*, int32_t) override { return 0; }
    int32_t Write(const void* buffer, int32_t count) override {
        const auto* bytes = static_cast<const uint8_t*>(buffer);
        FSize += count;
        if (Held())
            FBytes.insert(FBytes.end(), bytes, bytes + count);
        else
            std::vector<uint8_t>().swap(FBytes);
        return count;
    }
    int64_t Seek64(int64_t, TSeekOrigin) override { return FSize; }

private:
    std::vector<uint8_t> FBytes;
    int64_t FSize = 0;
};

// Reads every item: names and flags, sizes, and the data of the items small enough to hold.
void ReadReportItems(TStoreReader& reader, const std::string& fileName, TItemTypes& items) {
    ReadItems(reader, items, [&](const TStoreRecord& record, TItemType& item) {
        TMeasuringSink sink;
        reader.CopyData(record, sink);
        if (sink.Size() > INT32_MAX)
            throw EPackError(fileName, "item \"" + PrintableName(record.Name) + "\" unpacks to more than 2 GiB");
        item.Size = static_cast<int32_t>(sink.Size());
        if (!sink.Held() || sink.Bytes().empty()) return;
        item.Data = static_cast<uint8_t*>(std::malloc(sink.Bytes().size()));
        if (!item.Data) throw std::bad_alloc();
        std::memcpy(item.Data, sink.Bytes().data(), sink.Bytes().size());
    });
}

// Raises EPackError for a file the reader would silently take as empty.
void CheckReadable(const std::string& fileName) {
    if (DirectoryExists(fileName)) throw EPackError(fileName, "is a directory");
    if (!RegularFileSize(fileName)) throw EPackError(fileName, "no such file");
    try {
        TFileReadStream probe(fileName);
    } catch (const EFOpenError&) {
        throw EPackError(fileName, "cannot open file");
    }
}

} // namespace

void ReadStoreReport(const std::string& fileName, TStoreReport& report) {
    CheckReadable(fileName);
    try {
        TFileReadStream stream(fileName);
        TStoreReader reader(stream);
        const TStoreLocation& location = reader.Location();
        report.FileSize = location.FileSize;
        report.Path = location.Path;
        report.Tail = location.Tail;
        report.ImageEnd.reset();
        if (location.ImageEnd >= 0) {
            report.ImageEnd = location.ImageEnd;
        } else {
            // The primary path never looks at the image; a store may sit behind a file that is not one.
            try {
                report.ImageEnd = ReadImageEnd(stream);
            } catch (const EImageBlockException&) {
            }
        }
        ReadReportItems(reader, fileName, report.Items);
        report.Arch = ReadImageArch(stream);
    } catch (const EPackError&) {
        throw;
    } catch (const Exception& e) {
        throw EPackError(fileName, e.Message());
    } catch (const std::bad_alloc&) {
        throw EPackError(fileName, "Out of memory");
    }
}

std::string JsonString(const std::string& bytes) {
    return nlohmann::json(Latin1(bytes)).dump(-1, ' ', true);
}

std::string InfoText(const TStoreReport& report) {
    std::ostringstream text;
    text << "file size: " << report.FileSize << "\n";
    text << "image end: ";
    if (report.ImageEnd)
        text << *report.ImageEnd << "\n";
    else
        text << "not an executable image\n";
    if (report.Arch) text << "arch: " << ArchDescription(*report.Arch) << "\n";
    text << "store: " << PathName(report.Path);
    if (report.Path == TStorePath::Primary) text << " (magic at the end of the file)";
    if (report.Path == TStorePath::Fallback) text << " (found through the image end, bytes follow the store)";
    text << "\n";
    text << "tail: " << report.Tail << "\n";
    text << "items: " << report.Items.size() << "\n";
    return text.str();
}

std::string InfoJson(const TStoreReport& report) {
    nlohmann::ordered_json json = {{"file_size", report.FileSize},
                                   {"image_end", nullptr},
                                   {"store", PathName(report.Path)},
                                   {"tail", report.Tail},
                                   {"items", report.Items.size()},
                                   {"arch", nullptr}};
    if (report.ImageEnd) json["image_end"] = *report.ImageEnd;
    // Scripts compare the name; the text form spells out a machine that is neither.
    if (report.Arch) json["arch"] = ArchIndex(*report.Arch) >= 0 ? ArchDescription(*report.Arch) : "other";
    return json.dump() + "\n";
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
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (size_t i = 0; i < items.size(); ++i) {
        const TItemType& item = items[i];
        list.push_back({{"index", i},
                        {"name", Latin1(item.Name)},
                        {"compressed", item.Compressed},
                        {"stored_size", item.StoredSize},
                        {"size", item.Size}});
    }
    return list.dump(2, ' ', true) + "\n";
}

namespace {
// Creates or replaces the file and has write fill it; the file's own failures are reported against its name.
void WriteToPackFile(const std::string& fileName, const std::function<void(TStream& file)>& write) {
    try {
        TFileStream file(fileName, TFileMode::fmCreate);
        write(file);
    } catch (const EFOpenError&) {
        throw EPackError(fileName, "cannot create file");
    } catch (const EWriteError&) {
        throw EPackError(fileName, "cannot write file");
    }
}
} // namespace

void WritePackFile(const std::string& fileName, const void* data, size_t size) {
    WriteToPackFile(fileName, [&](TStream& file) {
        for (size_t done = 0; done < size;) {
            const auto n = static_cast<int32_t>(std::min<size_t>(size - done, 1 << 30));
            file.WriteBuffer(static_cast<const uint8_t*>(data) + done, n);
            done += static_cast<size_t>(n);
        }
    });
}

void WriteItemFile(const std::string& source, const TItemTypes& items, const TItemType& item,
                   const std::string& fileName) {
    if (item.Data || item.Size <= 0) {
        WritePackFile(fileName, item.Data, static_cast<size_t>(std::max(item.Size, 0)));
        return;
    }
    const auto index = static_cast<size_t>(&item - &items[0]);
    std::unique_ptr<TFileReadStream> stream;
    try {
        stream = std::make_unique<TFileReadStream>(source);
    } catch (const EFOpenError&) {
        throw EPackError(source, "cannot open file");
    }
    try {
        TStoreReader reader(*stream);
        TStoreRecord record;
        for (size_t i = 0;; ++i) {
            if (!reader.Next(record)) throw EPackError(source, "changed while it was read");
            if (i == index) break;
        }
        WriteToPackFile(fileName, [&](TStream& file) {
            if (reader.CopyData(record, file) != item.Size) throw EPackError(source, "changed while it was read");
        });
    } catch (const EPackError&) {
        throw;
    } catch (const Exception& e) {
        throw EPackError(source, e.Message());
    }
}

void ExtractItems(const std::string& source, const TItemTypes& items, const std::string& dir) {
    if (!CreateDirectories(dir)) throw EPackError(dir, "cannot create directory");
    for (size_t i = 0; i < items.size(); ++i) {
        std::ostringstream name;
        name << std::setw(4) << std::setfill('0') << i << ".bin";
        WriteItemFile(source, items, items[i], JoinPath(dir, name.str()));
    }
    const std::string json = ListJson(items);
    WritePackFile(JoinPath(dir, "items.json"), json.data(), json.size());
}
