#!/usr/bin/env python3
"""Fails when a source folder includes from a folder above it.

Order, lowest first: forms; store and support (neither uses the other); flash; ui; app. tools/ may include any
src/ header that does not need Win32 app code: none from src/app that includes <windows.h> itself or through the
headers it includes (the authoring tool builds natively and must keep doing so).

Usage: check_layering.py ROOT        checks ROOT/src and ROOT/tools
       check_layering.py --self-test checks that planted violations are found
"""
import os
import re
import sys
import tempfile

LEVEL = {"forms": 0, "store": 1, "support": 1, "flash": 2, "ui": 3, "app": 4}
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')
SYSTEM_WINDOWS = re.compile(r'^\s*#\s*include\s*<windows\.h>', re.IGNORECASE)
SOURCE_ENDINGS = (".h", ".hpp", ".c", ".cc", ".cpp")


def sources(folder):
    for base, _, names in os.walk(folder):
        for name in sorted(names):
            if name.endswith(SOURCE_ENDINGS):
                yield os.path.join(base, name)


def includes(path):
    """(line number, text) of each quoted include."""
    with open(path, encoding="utf-8", errors="replace") as f:
        for number, line in enumerate(f, 1):
            m = INCLUDE.match(line)
            if m:
                yield number, m.group(1)


def resolve(src, including_file, name):
    """The path under src/ that a quoted include names, or None when it names nothing there."""
    local = os.path.normpath(os.path.join(os.path.dirname(including_file), name))
    if os.path.isfile(local) and os.path.commonpath([src, local]) == src:
        return os.path.relpath(local, src)
    rooted = os.path.normpath(os.path.join(src, name))
    if os.path.isfile(rooted) and os.path.commonpath([src, rooted]) == src:
        return os.path.relpath(rooted, src)
    return None


def needs_windows(src, header, seen):
    """True when the header includes <windows.h> outside an _WIN32 guard, itself or through its includes."""
    if header in seen:
        return seen[header]
    seen[header] = False
    path = os.path.join(src, header)
    depth = 0
    guarded_at = []
    result = False
    with open(path, encoding="utf-8", errors="replace") as f:
        lines = f.readlines()
    for line in lines:
        text = line.strip()
        if text.startswith("#if"):
            depth += 1
            if "_WIN32" in text:
                guarded_at.append(depth)
        elif text.startswith(("#else", "#elif")):
            # The other branch of an _WIN32 guard is the platform-free one.
            if guarded_at and guarded_at[-1] == depth:
                guarded_at.pop()
        elif text.startswith("#endif"):
            if guarded_at and guarded_at[-1] == depth:
                guarded_at.pop()
            depth -= 1
        if guarded_at:
            continue
        if SYSTEM_WINDOWS.match(line):
            result = True
        m = INCLUDE.match(line)
        if m:
            target = resolve(src, path, m.group(1))
            if target and needs_windows(src, target, seen):
                result = True
    seen[header] = result
    return result


def check(root):
    src = os.path.join(root, "src")
    problems = []
    for path in sources(src):
        folder = os.path.relpath(path, src).split(os.sep)[0]
        if folder not in LEVEL:
            continue
        for number, name in includes(path):
            target = resolve(src, path, name)
            if not target:
                continue
            other = target.split(os.sep)[0]
            if other == folder or other not in LEVEL:
                continue
            if LEVEL[other] >= LEVEL[folder]:
                problems.append(f"{os.path.relpath(path, root)}:{number}: {folder} may not include {name}")
    seen = {}
    for path in sources(os.path.join(root, "tools")):
        for number, name in includes(path):
            target = resolve(src, path, name)
            if target and target.split(os.sep)[0] == "app" and needs_windows(src, target, seen):
                problems.append(f"{os.path.relpath(path, root)}:{number}: tools may not need Win32 app code ({name})")
    return problems


def self_test():
    planted = {
        "src/forms/Low.h": '#include "flash/High.h"\n',
        "src/store/Store.h": '#include "support/Sup.h"\n',
        "src/support/Sup.h": "#pragma once\n",
        "src/flash/High.h": '#include "../ui/Ui.h"\n#include "forms/Ok.h"\n',
        "src/forms/Ok.h": "#ifdef _WIN32\n#include <windows.h>\n#endif\n",
        "src/forms/Else.h": "#ifdef _WIN32\n#else\n#include <windows.h>\n#endif\n",
        "src/app/Else.h": '#include "forms/Else.h"\n',
        "src/ui/Ui.h": '#include "Ui2.h"\n',
        "src/ui/Ui2.h": "#pragma once\n",
        "src/app/Core.h": '#include "forms/Ok.h"\n',
        "src/app/Win.h": '#include "Win2.h"\n',
        "src/app/Win2.h": "#include <windows.h>\n",
        "tools/t/main.cpp": '#include "app/Core.h"\n#include "app/Win.h"\n#include "app/Else.h"\n',
    }
    expected = {
        "src/forms/Low.h:1: forms may not include flash/High.h",
        "src/store/Store.h:1: store may not include support/Sup.h",
        "src/flash/High.h:1: flash may not include ../ui/Ui.h",
        "tools/t/main.cpp:2: tools may not need Win32 app code (app/Win.h)",
        "tools/t/main.cpp:3: tools may not need Win32 app code (app/Else.h)",
    }
    with tempfile.TemporaryDirectory() as root:
        for name, text in planted.items():
            path = os.path.join(root, name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "w") as f:
                f.write(text)
        found = set(p.replace(os.sep, "/") for p in check(root))
    if found != expected:
        print("self-test: expected", sorted(expected), "found", sorted(found))
        return 1
    return 0


def main():
    if sys.argv[1:] == ["--self-test"]:
        return self_test()
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    problems = check(os.path.abspath(sys.argv[1]))
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
