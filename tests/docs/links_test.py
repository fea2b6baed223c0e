#!/usr/bin/env python3
"""Every relative link and picture of README.md and docs/*.md leads somewhere.

A link resolves when it names a file that exists, and, with #anchor, a heading of that page that
gives the anchor as GitHub makes anchors. The package installs README.md beside docs/, so a link
must also stay within README.md and docs/: one into src/ or examples/ would work in the source
tree and lead nowhere in /usr/share/doc/boxtally/.

Usage: links_test.py SOURCE_DIR. Prints every broken link and exits 1 when there is one.
"""

import os
import re
import sys

FENCE = re.compile(r"^ {0,3}(```|~~~)")
CODE_SPAN = re.compile(r"(`+)(?:(?!\1).)+?\1")
# "](target)" or '](target "title")': the target of an inline link or picture.
LINK = re.compile(r"\]\(\s*<?([^()\s<>]*)>?(?:\s+\"[^\"]*\")?\s*\)")
SCHEME = re.compile(r"^[A-Za-z][A-Za-z0-9+.-]*:")
HEADING = re.compile(r"^ {0,3}(#{1,6})\s+(.*?)\s*#*\s*$")


def prose_lines(text):
    """The lines outside fenced code blocks, with their numbers from 1."""
    fence = None
    for number, line in enumerate(text.splitlines(), 1):
        opened = FENCE.match(line)
        if fence is None and opened:
            fence = opened.group(1)
        elif fence is not None and line.lstrip().startswith(fence):
            fence = None
        elif fence is None:
            yield number, line


def anchor_of(heading):
    """The anchor GitHub gives a heading: its text as shown, in lower case, without punctuation
    other than '-' and '_', blanks made '-'."""
    text = re.sub(r"!?\[([^\]]*)\]\([^)]*\)", r"\1", heading)  # links and pictures: their text
    text = re.sub(r"<[^>]*>", "", text)  # inline HTML
    text = text.replace("`", "").replace("*", "")
    text = re.sub(r"[^\w\- ]", "", text.strip().lower())
    return text.replace(" ", "-")


def anchors(path):
    """Every anchor of a page: repeated headings get -1, -2, ... as on GitHub."""
    found = set()
    seen = {}
    with open(path, encoding="utf-8") as page:
        for _, line in prose_lines(page.read()):
            match = HEADING.match(line)
            if not match:
                continue
            anchor = anchor_of(match.group(2))
            count = seen.get(anchor, 0)
            seen[anchor] = count + 1
            found.add(anchor if count == 0 else f"{anchor}-{count}")
    return found


def broken_links(source_dir, page):
    """(line number, target, why) for each link of `page` that leads nowhere."""
    docs = os.path.join(source_dir, "docs")
    readme = os.path.join(source_dir, "README.md")
    with open(page, encoding="utf-8") as f:
        text = f.read()
    for number, line in prose_lines(text):
        for target in LINK.findall(CODE_SPAN.sub("", line)):
            if not target or SCHEME.match(target):
                continue
            path, _, anchor = target.partition("#")
            resolved = os.path.normpath(os.path.join(os.path.dirname(page), path)) if path else page
            if not os.path.exists(resolved):
                yield number, target, "no such file"
                continue
            inside = resolved == readme or resolved.startswith(docs + os.sep)
            if not inside:
                yield number, target, "outside README.md and docs/: not installed with them"
                continue
            if anchor and (not resolved.endswith(".md") or anchor not in anchors(resolved)):
                yield number, target, f"no heading gives the anchor #{anchor}"


def main():
    source_dir = os.path.abspath(sys.argv[1])
    docs = os.path.join(source_dir, "docs")
    pages = [os.path.join(source_dir, "README.md")]
    pages += sorted(os.path.join(docs, name) for name in os.listdir(docs) if name.endswith(".md"))
    failures = 0
    links = 0
    for page in pages:
        for number, target, why in broken_links(source_dir, page):
            print(f"{os.path.relpath(page, source_dir)}:{number}: ({target}): {why}")
            failures += 1
        with open(page, encoding="utf-8") as f:
            links += sum(len(LINK.findall(CODE_SPAN.sub("", l))) for _, l in prose_lines(f.read()))
    print(f"{len(pages)} pages, {links} links, {failures} broken")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
