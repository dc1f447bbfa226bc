#include <iconv.h>

#include <cerrno>
#include <functional>
#include <string>

#include "uCodePage.h"

namespace {

// Owns one iconv descriptor.
class TIconv {
public:
    TIconv(const std::string& to, const std::string& from) : FCd(iconv_open(to.c_str(), from.c_str())) {}
    ~TIconv() {
        if (Valid()) iconv_close(FCd);
    }
    TIconv(const TIconv&) = delete;
    TIconv& operator=(const TIconv&) = delete;
    bool Valid() const { return FCd != reinterpret_cast<iconv_t>(-1); }

    // The whole input converted; on failure, the offset of the input that could not be converted.
    std::optional<std::string> Convert(std::string_view input, size_t& failedAt) {
        std::string output;
        char* in = const_cast<char*>(input.data());
        size_t inLeft = input.size();
        char buffer[4096];
        for (;;) {
            char* out = buffer;
            size_t outLeft = sizeof buffer;
            const size_t result = iconv(FCd, inLeft ? &in : nullptr, &inLeft, &out, &outLeft);
            output.append(buffer, static_cast<size_t>(out - buffer));
            if (result != static_cast<size_t>(-1)) {
                if (inLeft == 0) return output;
                continue;
            }
            if (errno == E2BIG) continue;
            failedAt = static_cast<size_t>(in - input.data());
            return std::nullopt;
        }
    }

private:
    iconv_t FCd;
};

// input converted between UTF-8 and the code page; on failure problem is what describe says of the offset
// where conversion stopped.
std::optional<std::string> Convert(std::string_view input, int codePage, bool fromUtf8, std::string& problem,
                                   const std::function<std::string(size_t)>& describe) {
    const std::string page = "CP" + std::to_string(codePage);
    TIconv converter(fromUtf8 ? page : "UTF-8", fromUtf8 ? "UTF-8" : page);
    if (!converter.Valid()) {
        problem = "this system cannot convert code page " + std::to_string(codePage);
        return std::nullopt;
    }
    size_t failedAt = 0;
    auto converted = converter.Convert(input, failedAt);
    if (!converted) problem = describe(failedAt);
    return converted;
}

} // namespace

std::optional<std::string> ConvertFromUtf8(std::string_view utf8, int codePage, std::string& problem) {
    return Convert(utf8, codePage, true, problem, [&](size_t at) {
        return DescribeCharacter(utf8.substr(at)) + " has no code in code page " + std::to_string(codePage);
    });
}

std::optional<std::string> ConvertToUtf8(std::string_view bytes, int codePage, std::string& problem) {
    return Convert(bytes, codePage, false, problem, [&](size_t at) {
        return "the byte at offset " + std::to_string(at) + " is no character of code page " + std::to_string(codePage);
    });
}

std::optional<std::string> Utf8ToSystem(std::string_view utf8, std::string&) {
    return std::string(utf8);
}

std::optional<std::string> SystemToUtf8(std::string_view text, std::string&) {
    return std::string(text);
}
