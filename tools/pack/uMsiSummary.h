// Fixing what wixl takes from the clock in an MSI package: the package code (the summary's revision number) and
// the creation and save times, so that the same inputs give the same package bytes.
#pragma once

#include <cstdint>
#include <string>

#include "forms/Classes.h"

// In the compound file in msi (read and written in place), sets the summary information's revision number to
// packageCode ("{XXXXXXXX-...}", 38 characters, replacing one of the same length) and its creation and last-save
// times to fileTime (100 ns since 1601). Raises EReadError saying what it could not find or read.
void FixMsiSummary(TStream& msi, const std::string& packageCode, uint64_t fileTime);
