// The failures the authoring tool reports: each names the file it is about.
#pragma once

#include <string>
#include <utility>

#include "forms/SysUtils.h"

// A failure on one file (read or written); reported as "mutone-pack: FILE: message", exit code 1.
class EPackError : public Exception {
public:
    EPackError(std::string fileName, std::string message)
        : Exception(std::move(message)), FFileName(std::move(fileName)) {}
    const std::string& FileName() const noexcept { return FFileName; }

private:
    std::string FFileName;
};

// A command line the tool cannot make sense of; reported with the usage text, exit code 2.
class EUsageError : public Exception {
    using Exception::Exception;
};
