// Writes the seed corpora of the fuzz targets, all made with the project's own writers and zlib:
//   fuzz_seeds OUTDIR  ->  OUTDIR/store, OUTDIR/peimage, OUTDIR/inflate, OUTDIR/swf, OUTDIR/bmp
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <zlib.h>

#include "BMPBuilder.h"
#include "IconBuilder.h"
#include "PEBuilder.h"
#include "SWFBuilder.h"
#include "store/uExeAdder.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Text(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Deterministic bytes that deflate poorly.
Bytes Noise(size_t size, uint32_t seed) {
    Bytes out(size);
    for (uint8_t& b : out) {
        seed = seed * 1664525u + 1013904223u;
        b = static_cast<uint8_t>(seed >> 24);
    }
    return out;
}

Bytes Compress(const Bytes& data, int level) {
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    Bytes out(size);
    if (compress2(out.data(), &size, data.data(), static_cast<uLong>(data.size()), level) != Z_OK) {
        std::fprintf(stderr, "compress2 failed\n");
        std::exit(1);
    }
    out.resize(size);
    return out;
}

// A stream that needs a preset dictionary, which the program's inflaters refuse.
Bytes CompressWithDictionary(const Bytes& data, const Bytes& dictionary) {
    z_stream z{};
    Bytes out(compressBound(static_cast<uLong>(data.size())) + 64);
    if (deflateInit(&z, Z_DEFAULT_COMPRESSION) != Z_OK ||
        deflateSetDictionary(&z, dictionary.data(), static_cast<uInt>(dictionary.size())) != Z_OK) {
        std::fprintf(stderr, "deflate set-up failed\n");
        std::exit(1);
    }
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

// The smallest image the reader accepts with a section: the table ends at 0x160, the one section follows it.
Bytes SmallImage() {
    TTestImage image;
    image.LfaNew = 64;
    image.Sections = {{0x160, 0x20, 0x11}};
    return BuildPEImage(image);
}

class TSeedWriter {
public:
    explicit TSeedWriter(const std::filesystem::path& dir) : FDir(dir) { std::filesystem::create_directories(dir); }
    void Add(const std::string& name, const Bytes& bytes) {
        WriteFileBytes((FDir / name).string(), bytes);
        ++FCount;
    }
    int Count() const { return FCount; }

private:
    std::filesystem::path FDir;
    int FCount = 0;
};

void StoreSeeds(TSeedWriter& out) {
    const Bytes image = SmallImage();
    const std::vector<TStoreItem> mixed = {
        {"movie", Concat(Text("FWS\x06"), Noise(48, 7)), true},
        {"fullscreen", {1}, false},
        {"interval", {0x10, 0x27, 0, 0}, false},
        {"", Text("an item without a name"), true},
        {"empty", {}, true},  // stored size 0 despite its flag
        {"blank", {}, false}, // stored size 0, raw
        {"caption", Text(std::string(40, 'x')), true},
    };
    const auto withStore = [&](const Bytes& img, const std::vector<TStoreItem>& items, int32_t key) {
        return Concat(img, BuildStore(items, key, static_cast<int64_t>(img.size())));
    };

    const Bytes primary = withStore(image, mixed, 0x5A);
    out.Add("primary-mixed", primary);
    out.Add("primary-key0", withStore(image, mixed, 0));
    out.Add("primary-no-items", withStore(image, {}, 0x33));
    out.Add("primary-one-raw", withStore(image, {{"a", {1, 2, 3, 4}, false}}, 0x7F));
    out.Add("primary-one-compressed", withStore(image, {{"b", Text("abcabcabcabcabc"), true}}, -1));
    out.Add("store-alone", BuildStore(mixed, 0x11, 0));
    out.Add("bare-image", image);
    out.Add("simple-image-store", withStore(BuildSimplePEImage(), {{"m", Noise(64, 3), true}}, 0x42));

    // Extra bytes behind the magic send the reader through the image headers.
    const Bytes tail = Text("signature block");
    out.Add("fallback-tail", Concat(primary, tail));
    Bytes flagZero = Concat(primary, tail);
    flagZero[image.size() + 4] = 0;
    out.Add("fallback-flag-zero", flagZero);
    Bytes wrongTotal = Concat(primary, tail);
    wrongTotal[image.size()] ^= 0x08;
    out.Add("fallback-wrong-total", wrongTotal);

    TTestImage descending;
    descending.LfaNew = 64;
    descending.Sections = {{0x1C0, 0x20, 0x22}, {0x1A0, 0x20, 0x33}};
    out.Add("fallback-descending-sections", Concat(withStore(BuildPEImage(descending), mixed, 0x21), tail));

    // A compressed payload with a damaged byte in its deflate data, and one cut short.
    Bytes damaged = withStore(image, {{"ok", Text("fine"), true}, {"bad", Text(std::string(64, 'q')), true}}, 9);
    damaged[damaged.size() - 12 - 6] ^= 0xFF;
    out.Add("primary-damaged-payload", damaged);
}

void ImageSeeds(TSeedWriter& out) {
    const auto add = [&](const std::string& name, int32_t lfaNew, std::vector<TTestSection> sections) {
        TTestImage image;
        image.LfaNew = lfaNew;
        image.Sections = std::move(sections);
        out.Add(name, BuildPEImage(image));
    };
    add("no-sections", 64, {});
    add("one-section", 64, {{0x160, 0x20, 0x11}});
    add("descending", 64, {{0x1C0, 0x20, 0x22}, {0x1A0, 0x20, 0x33}});
    add("empty-section", 64, {{0x188, 0, 0}, {0x188, 0x10, 0x44}});
    add("header-gap", 64, {{0x200, 0x40, 0x55}});
    add("short-dos-header", 32, {{0x180, 0x10, 0x66}});
    add("long-stub", 0x100, {{0x240, 0x20, 0x77}});
    std::vector<TTestSection> many;
    for (uint32_t i = 0; i < 8; ++i)
        many.push_back({0x300 + 0x10 * i, 0x10, static_cast<uint8_t>(i)});
    add("eight-sections", 64, many);
    out.Add("simple", BuildSimplePEImage());
    TTestImage wide;
    wide.Is64 = true; // the section table behind the longer optional header
    wide.Sections = {{0x200, 0x40, 0x64}, {0x240, 0x20, 0x65}};
    out.Add("pe32plus", BuildPEImage(wide));

    Bytes cut = BuildSimplePEImage();
    cut.resize(0x500); // the last section reaches past the end
    out.Add("section-past-end", cut);
    Bytes noNt = BuildSimplePEImage();
    noNt[128] = 'N';
    out.Add("bad-nt-signature", noNt);
    Bytes behind = Concat(SmallImage(), BuildStore({{"x", Text("payload"), true}}, 5, 0x180));
    out.Add("with-store", behind);
}

void InflateSeeds(TSeedWriter& out) {
    // The first byte of each seed picks the read pattern of the stream; the zlib stream follows.
    const std::vector<std::pair<std::string, Bytes>> inputs = {
        {"empty", {}},
        {"one-byte", {0x41}},
        {"text", Text("the quick brown fox jumps over the lazy dog; the quick brown fox jumps again")},
        {"zeros", Bytes(20000, 0)},
        {"noise", Noise(1500, 11)},
        {"mixed", Concat(Concat(Noise(300, 5), Bytes(3000, 0x20)), Noise(300, 6))},
    };
    uint8_t control = 0;
    for (int level : {0, 1, 6, 9}) {
        for (const auto& [name, data] : inputs) {
            out.Add("level" + std::to_string(level) + "-" + name, Concat({control}, Compress(data, level)));
            control = static_cast<uint8_t>(control + 37);
        }
    }
    // Compressed data larger than the stream's 64 KiB input buffer, so that it refills.
    out.Add("stored-refill", Concat({0x05}, Compress(Noise(70000, 13), 0)));
    out.Add("dictionary", Concat({0x09}, CompressWithDictionary(Text("dictionary words"), Text("dictionary"))));
    Bytes truncated = Compress(Bytes(5000, 0x61), 6);
    truncated.resize(truncated.size() / 2);
    out.Add("truncated", Concat({0x0D}, truncated));
    Bytes corrupt = Compress(Text(std::string(200, 'z') + "tail"), 6);
    corrupt[corrupt.size() - 1] ^= 0x01; // checksum
    out.Add("bad-checksum", Concat({0x11}, corrupt));
    out.Add("trailing-bytes", Concat(Concat({0x15}, Compress(Text("payload"), 6)), Text("after the stream")));
}

void SwfSeeds(TSeedWriter& out) {
    TSWFMovie movie = SimpleMovie(550, 400, 0x00FFFFFF, true);
    out.Add("plain", BuildSWF(movie));
    movie.Version = 6;
    movie.Compressed = true;
    out.Add("compressed-v6", BuildSWF(movie));
    Bytes old = BuildSWF(movie);
    old[3] = 5; // before compression existed: the deflated body is read as it stands
    out.Add("compressed-v5", old);
    Bytes cut = BuildSWF(movie);
    cut.resize(cut.size() / 2);
    out.Add("compressed-cut", cut);
    // Inflates to far more than the reader may ever look at.
    TSWFMovie large = movie;
    large.Tags.insert(large.Tags.begin(), SWFTag(77, Bytes(4 << 20, 0)));
    out.Add("compressed-large", BuildSWF(large));
    TSWFMovie wide;
    wide.XMin = -(1 << 30);
    wide.XMax = (1 << 30) - 1;
    wide.YMin = -19;
    wide.YMax = 19;
    out.Add("nbits-31", BuildSWF(wide));
    TSWFMovie empty;
    empty.XMax = empty.YMax = 0;
    out.Add("nbits-0", BuildSWF(empty));
    out.Add("header-only", Bytes{'F', 'W', 'S', 6, 8, 0, 0, 0});
}

void BmpSeeds(TSeedWriter& out) {
    // 7 x 5: odd, so that every row is padded; a gradient of eight colours, so that indices and runs vary.
    constexpr int32_t width = 7, height = 5;
    const std::vector<uint32_t> palette = {0x000000, 0xFF0000, 0x00FF00, 0x0000FF,
                                           0xFFFF00, 0x00FFFF, 0xFF00FF, 0xFFFFFF};
    std::vector<uint32_t> pixels, twoTone;
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            pixels.push_back(palette[static_cast<size_t>((x + 2 * y) / 3 % 8)]);
            twoTone.push_back(palette[(x + y) % 2 ? 7 : 0]);
        }
    struct TKind {
        const char* Name;
        int BitCount;
        uint32_t Compression;
    };
    const TKind kinds[] = {{"1", 1, 0},   {"4", 4, 0},   {"8", 8, 0},          {"16-555", 16, 0}, {"16-565", 16, 3},
                           {"24", 24, 0}, {"32", 32, 0}, {"32-fields", 32, 3}, {"4-rle", 4, 2},   {"8-rle", 8, 1}};
    for (const TKind& kind : kinds) {
        const bool runLength = kind.Compression == 1 || kind.Compression == 2;
        for (bool topDown : {false, true}) {
            if (runLength && topDown) continue; // run-length bitmaps are bottom-up only
            const std::vector<uint32_t>& image = kind.BitCount == 1 ? twoTone : pixels;
            const std::vector<uint32_t> colours =
                kind.BitCount == 1 ? std::vector<uint32_t>{0x000000, 0xFFFFFF} : palette;
            TTestBitmap bitmap = MakeBitmap(image, width, height, kind.BitCount, topDown, kind.Compression, colours);
            out.Add(std::string("bpp") + kind.Name + (topDown ? "-topdown" : ""), BuildBMP(bitmap));
        }
    }
    TTestBitmap core = MakeBitmap(pixels, width, height, 8, false, 0, palette);
    core.HeaderSize = 12;
    out.Add("core-header", BuildBMP(core));
    TTestBitmap v5 = MakeBitmap(pixels, width, height, 32, true, 3);
    v5.HeaderSize = 124;
    out.Add("v5-fields", BuildBMP(v5));
    // Run-length records of every kind: absolute runs with padding, a delta, a run clipped at the right edge.
    TTestBitmap records = MakeBitmap(std::vector<uint32_t>(width * height, 0), width, height, 8, false, 1, palette);
    records.Bits = {0x00, 0x03, 1,    2,    3,    0x00, 0x09, 0x04, 0x00, 0x00, 0x00, 0x02, 0x02, 0x01,
                    0x03, 0x05, 0x00, 0x00, 0x00, 0x05, 1,    2,    3,    4,    5,    0x00, 0x00, 0x01};
    out.Add("rle8-records", BuildBMP(records));
    records.BitCount = 4;
    records.Compression = 2;
    records.Palette.resize(16, 0x808080);
    records.Bits = {0x00, 0x05, 0x12, 0x34, 0x50, 0x00, 0x04, 0x67, 0x00, 0x02, 0x01, 0x01, 0x0B, 0x1F, 0x00, 0x01};
    out.Add("rle4-records", BuildBMP(records));
}

// Icons of several sizes at every bit count, PNG images among them, alone and mixed.
void IconSeeds(TSeedWriter& out) {
    for (int bits : {1, 4, 8, 16, 24, 32})
        out.Add("dib" + std::to_string(bits), BuildIconFile({MakeDibIcon(16, static_cast<uint16_t>(bits), 0x3366CC)}));
    out.Add("png", BuildIconFile({MakePngIcon(16, 0xFF8800)}));
    out.Add("sample", BuildIconFile(SampleIconImages(0x3366CC)));
    out.Add("mixed", BuildIconFile({MakeDibIcon(32, 8, 0), MakePngIcon(24, 0), MakeDibIcon(20, 1, 0)}));
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTDIR\n", argv[0]);
        return 2;
    }
    const std::filesystem::path root = argv[1];
    TSeedWriter store(root / "store"), image(root / "peimage"), inflate(root / "inflate"), swf(root / "swf"),
        bmp(root / "bmp"), icon(root / "icon");
    StoreSeeds(store);
    ImageSeeds(image);
    InflateSeeds(inflate);
    SwfSeeds(swf);
    BmpSeeds(bmp);
    IconSeeds(icon);
    std::printf("seeds: %d store, %d peimage, %d inflate, %d swf, %d bmp, %d icon in %s\n", store.Count(),
                image.Count(), inflate.Count(), swf.Count(), bmp.Count(), icon.Count(), root.string().c_str());
    return 0;
}
