#!/usr/bin/env python3
"""The manual page against the program: every option --help prints is in its
OPTIONS section with the same value name, and nothing else is; its version is
--version's; every diagnostic line the sources write is in it; groff reads it
without a warning.

usage: check_man_page.py <procloop> <procloop.1> <src dir>
"""
import pathlib
import re
import subprocess
import sys

procloop, page_path, src = sys.argv[1], pathlib.Path(sys.argv[2]), pathlib.Path(sys.argv[3])
page = page_path.read_text()
failures = []


def plain(roff):
    """Roff source as text: escapes and font changes gone, macros' quotes dropped."""
    text = re.sub(r"\\f[BIRP]", "", roff).replace("\\-", "-").replace("\\(mu", "x").replace("\\e", "\\")
    return re.sub(r'^\.(B|I|BI|IB|BR|RB|IR|RI)\s+', "", text, flags=re.M).replace('"', "")


def run(*args):
    return subprocess.run([procloop, *args], capture_output=True, text=True, check=True).stdout


# --help's option lines: "  --name <value>   meaning".
helped = set(re.findall(r"^  (--[a-z-]+(?: <[a-z]+>)?)\s", run("--help"), flags=re.M))
# The page's: each .TP's tag line in OPTIONS.
options = page.split("\n.SH OPTIONS\n")[1].split("\n.SH ")[0]
tagged = set()
for tag in re.findall(r"^\.TP\n(.*)$", options, flags=re.M):
    words = plain(tag).split()
    tagged.add(words[0] + (f" <{words[1]}>" if len(words) > 1 else ""))
for missing in sorted(helped - tagged):
    failures.append(f"--help has {missing}, the page does not")
for extra in sorted(tagged - helped):
    failures.append(f"the page has {extra}, --help does not")

version = run("--version").split()[1]
if f'"procloop {version}"' not in page:
    failures.append(f"the page's .TH does not say procloop {version}")

# Every literal diagnostic in the sources, comments left out, as its fixed
# pieces around the printf conversions, found in order on one line of the page.
lines = plain(page).splitlines()
for source in sorted(src.rglob("*.[ch]*")):
    code = re.sub(r"//.*", "", source.read_text())
    for literal in re.findall(r'"((?:error|warn|info): [^"]*)"', code):
        pieces = [p for p in re.split(r"%[-0-9.]*(?:l{0,2})[a-zA-Z]|\\n", literal) if p]
        pattern = ".*".join(re.escape(p) for p in pieces)
        if not any(re.search(pattern, line) for line in lines):
            failures.append(f"{source.relative_to(src)}: {literal!r} is not on the page")

groff = subprocess.run(["groff", "-man", "-ww", "-z", "-Tutf8", str(page_path)], capture_output=True, text=True)
if groff.returncode != 0 or groff.stderr:
    failures.append("groff: " + groff.stderr)

print("\n".join(failures) or f"{len(helped)} options, version {version}: in step")
sys.exit(1 if failures else 0)
