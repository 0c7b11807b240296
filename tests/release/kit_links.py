#!/usr/bin/env python3
"""The unzipped kit names no file it lacks: every relative link of its
docs (Markdown) leads to a file it holds, and every path of a source
tree's file that its docs and examples name (scripts/..., tests/...,
build/..., with a source or doc file's extension) is one it holds.
Prints each one it lacks; exit status 1 when there is any."""
import os
import re
import sys

LINK = re.compile(r"\]\(([^)\s]+)\)")
# A path in the source tree's form, ending in a file a kit could hold.
PATH = re.compile(r"(?<![\w/.$-])((?:\.\./)*(?:[\w.-]+/)+[\w.-]+\."
                  r"(?:md|sh|py|cmake|nsi|nsh|wxs|c|cc|h|txt|ps1|cmd))\b")
# The source tree's build folder, in either kind of slash: never in a kit.
BUILD = re.compile(r"(?<![\w.$-])(?:\.\.[/\\])*build[/\\][\w.\\/-]+")
ROOTS = ("scripts/", "tests/", "cmake/", "src/", "bench/", "build/",
         "docs/", "examples/", "try/")


def problems(root):
    for folder, _, names in os.walk(root):
        for name in names:
            if not name.endswith((".md", ".nsi", ".nsh", ".wxs", ".sh",
                                  ".ps1", ".cmd")):
                continue
            path = os.path.join(folder, name)
            rel = os.path.relpath(path, root)
            with open(path, encoding="utf-8", errors="replace") as f:
                text = f.read()
            if name.endswith(".md"):
                for target in LINK.findall(text):
                    if re.match(r"[a-z]+:", target) or target.startswith("#"):
                        continue
                    file = os.path.normpath(os.path.join(
                        folder, target.split("#")[0]))
                    if not os.path.exists(file):
                        yield "%s links to %s" % (rel, target)
            for named in BUILD.findall(text):
                yield "%s names %s" % (rel, named)
            for named in PATH.findall(text):
                bare = re.sub(r"^(\.\./)+", "", named)
                if not bare.startswith(ROOTS):
                    continue
                if not (os.path.exists(os.path.join(root, bare)) or
                        os.path.exists(os.path.normpath(
                            os.path.join(folder, named)))):
                    yield "%s names %s" % (rel, named)


def main():
    found = sorted(set(problems(sys.argv[1])))
    for line in found:
        print("kit: %s, which the kit lacks" % line)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
