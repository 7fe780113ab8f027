#!/usr/bin/env python3
"""Checks the include rules between the source folders.

    scripts/check_layers.py [ROOT]      every violation on its own line; exit 1 when any
    scripts/check_layers.py --self-test  shows that each kind of violation is caught

Each folder may include its own headers and those of the folders below it. The
Qt-free code (the core, the command-line tools, the service, and the decisions of
the monitor, the editor and the shell) includes no Qt header and none of our
headers that is not Qt-free itself, so that it builds and is tested without Qt.
"""

import os
import re
import sys
import tempfile

# What each folder may include of ours, besides itself.
BELOW = {
    "src/base": [],
    "src/platform": ["base"],
    "src/formula": ["base", "platform"],
    "src/model": ["base", "platform"],
    "src/service": ["base", "platform", "formula", "model"],
    "src/widgets": ["base", "platform"],
    "src/browser": ["base", "platform", "formula", "widgets"],
    "src/monitor": ["base", "platform", "formula", "model", "service", "widgets", "browser"],
    "src/editor": ["base", "platform", "formula", "model", "service", "widgets", "browser"],
    "src/app": ["base", "platform", "formula", "model", "service", "widgets", "browser", "monitor", "editor"],
    "tools": ["base", "platform", "formula", "model", "service", "browser", "monitor", "editor"],
    "server": ["base", "platform", "formula", "model", "service"],
}

# Qt-free: whole folders, and the files of the mixed folders that carry no window.
QT_FREE_FOLDERS = ["src/base", "src/platform", "src/formula", "src/model", "src/service", "tools", "server"]
QT_FREE_FILES = {
    "src/browser": ["browser_state", "ready_wait", "page_steps", "page_encoding", "url_resolve", "direct_page",
                    "page_fetch", "page_reading"],
    "src/monitor": ["monitor_core", "gbk_texts"],
    "src/editor": ["verify_rows", "editor_rules", "pseudo_code", "test_run", "gbk_texts"],
    "src/app": ["scheduler", "log_file", "mem_manager", "gbk_texts"],
}

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')
QT_HEADER = re.compile(r"^(Q[A-Za-z]|qt)")


def folder_of(rel):
    for folder in BELOW:
        if rel.startswith(folder + "/"):
            return folder
    return None


def qt_free(rel):
    folder = folder_of(rel)
    if folder in QT_FREE_FOLDERS:
        return True
    stem = os.path.splitext(os.path.basename(rel))[0]
    return stem in QT_FREE_FILES.get(folder, [])


def our_header(root, rel_folder, name):
    """The path (from ROOT) of one of our headers named in an include, or None."""
    top = name.split("/", 1)[0]
    if top in ("base", "platform", "formula", "model", "service", "widgets", "browser", "monitor", "editor", "app"):
        return "src/" + name
    if top == "cli":
        return "tools/" + name
    if os.path.exists(os.path.join(root, rel_folder, name)):
        return rel_folder + "/" + name
    return None


def check(root):
    problems = []
    for folder in BELOW:
        for dirpath, _, files in os.walk(os.path.join(root, folder)):
            for file in sorted(files):
                if not file.endswith((".h", ".cpp")):
                    continue
                path = os.path.join(dirpath, file)
                rel = os.path.relpath(path, root).replace(os.sep, "/")
                with open(path, encoding="utf-8", errors="replace") as f:
                    for number, line in enumerate(f, 1):
                        m = INCLUDE.match(line)
                        if not m:
                            continue
                        name = m.group(2)
                        where = f"{rel}:{number}: "
                        if qt_free(rel) and QT_HEADER.match(name):
                            problems.append(where + f"Qt header <{name}> in Qt-free code")
                            continue
                        if m.group(1) != '"':
                            continue
                        header = our_header(root, os.path.dirname(rel), name)
                        if header is None:
                            continue
                        target = folder_of(header)
                        if target != folder and target is not None:
                            allowed = BELOW[folder]
                            short = target.split("/")[-1]
                            if short not in allowed:
                                problems.append(where + f'"{name}": {folder} may not include {target}')
                                continue
                        if qt_free(rel) and not qt_free(header):
                            problems.append(where + f'"{name}" uses Qt, included from Qt-free code')
    return problems


def self_test():
    cases = {
        "src/formula/a.cpp": "#include <QString>\n",
        "src/editor/b.cpp": '#include "app/Unit1.h"\n',
        "src/editor/e.cpp": '#include "monitor/myFrame4.h"\n',
        "src/editor/pseudo_code.cpp": '#include "editor/myFrame5.h"\n',
        "src/base/c.h": '#include "formula/wild.h"\n',
        "src/monitor/monitor_core.h": "#include <QtCore/QObject>\n",
        "src/app/fine.cpp": '#include "editor/Unit2.h"\n#include <QWidget>\n#include "base/text_helpers.h"\n',
    }
    with tempfile.TemporaryDirectory() as root:
        for rel, text in cases.items():
            os.makedirs(os.path.join(root, os.path.dirname(rel)), exist_ok=True)
            with open(os.path.join(root, rel), "w", encoding="utf-8") as f:
                f.write(text)
        found = sorted(p.split(":", 1)[0] for p in check(root))
    expected = sorted(rel for rel in cases if "fine" not in rel)
    if found != expected:
        print("self-test: expected violations in", expected, "found in", found)
        return 1
    print(f"self-test: {len(expected)} kinds of violation caught, the allowed file passes")
    return 0


def main():
    if len(sys.argv) > 1 and sys.argv[1] == "--self-test":
        return self_test()
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    problems = check(os.path.abspath(root))
    for p in problems:
        print(p)
    if problems:
        print(f"{len(problems)} forbidden include(s)")
        return 1
    print("includes keep to their layers")
    return 0


if __name__ == "__main__":
    sys.exit(main())
