#!/usr/bin/env python3
"""Fails when a source file includes, or a layer's library links, anything of a layer above its own.

Usage: layer_order_test.py <source root>
"""
import pathlib
import re
import sys

# Lowest first; a layer may use its own files and those of the layers before it.
LAYERS = ["base", "logging", "platform", "modules", "engine", "ui", "app"]
LIBRARIES = {"nvbase": "base", "nvlogging": "logging", "nvplatform": "platform", "nvmodules": "modules",
             "nvengine": "engine", "nvui": "ui", "nvapp": "app"}
INCLUDE = re.compile(r'^\s*#\s*include\s*"(\w+)/', re.MULTILINE)
LINK = re.compile(r"target_link_libraries\s*\(([^)]*)\)", re.DOTALL)


def rank(layer):
    return LAYERS.index(layer)


def upward_includes(root):
    for layer in LAYERS:
        for path in sorted((root / layer).rglob("*")):
            if path.suffix not in (".h", ".cpp", ".c", ".rc"):
                continue
            text = path.read_text(encoding="utf-8", errors="replace")
            for match in INCLUDE.finditer(text):
                target = match.group(1)
                if target in LAYERS and rank(target) > rank(layer):
                    line = text.count("\n", 0, match.start()) + 1
                    yield f"{path.relative_to(root)}:{line}: {layer} includes {target}/"


def upward_links(root):
    for layer in LAYERS:
        lists = root / layer / "CMakeLists.txt"
        if not lists.exists():
            continue
        text = lists.read_text(encoding="utf-8")
        for match in LINK.finditer(text):
            for word in match.group(1).split():
                target = LIBRARIES.get(word)
                if target is not None and rank(target) > rank(layer):
                    yield f"{lists.relative_to(root)}: {layer} links {word}"


def main():
    root = pathlib.Path(sys.argv[1]).resolve()
    missing = [layer for layer in LAYERS if not (root / layer).is_dir()]
    if missing:
        print("layer folders missing: " + ", ".join(missing))
        return 1
    problems = list(upward_includes(root)) + list(upward_links(root))
    for problem in problems:
        print(problem)
    print(f"{len(problems)} upward dependencies")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
