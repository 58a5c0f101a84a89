#!/usr/bin/env python3
"""Keeps the README's example outputs those of the current build.

An example output in README.md (or in a document of docs/) is a fenced
block right after a marker line

    <!-- output: COMMAND | KEEP -->

COMMAND runs from the project's root with the build's programs first on the
PATH (bash, so <(...) works); its standard output, cut as KEEP says, must
be the block. KEEP is a comma-separated list of
    N-M      lines N to M (1-based, inclusive); N- to the end
    last:K   the last K lines
    block:RE from the first line that matches RE to the next empty line
    ...      a "[...]" line
    cols:A-B of the lines kept after it, columns A to B (1-based), "[...]"
             marking what was cut at either end
An empty KEEP keeps everything. A block after

    <!-- file: PATH -->

must be the file's text (a script of examples/, shown whole).

usage: readme_examples.py BUILD_DIR [--update]
  checks every example (status 1 and a diff where one differs), or with
  --update rewrites the blocks.
"""
import difflib
import os
import re
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MARKER = re.compile(r"^<!-- output: (.*?)(?: \| (.*?))? -->$")
FILE_MARKER = re.compile(r"^<!-- file: (.*?) -->$")


def run(command, build):
    env = dict(os.environ, PATH=os.path.abspath(build) + os.pathsep + os.environ.get("PATH", ""),
               PYTHONPATH=os.path.join(os.path.abspath(build), "python"))
    done = subprocess.run(["bash", "-c", command], cwd=ROOT, env=env, capture_output=True, text=True)
    if done.returncode != 0:
        sys.exit("README example failed (status %d): %s\n%s" % (done.returncode, command, done.stderr))
    return done.stdout.split("\n")[:-1] if done.stdout.endswith("\n") else done.stdout.split("\n")


def cut(lines, keep):
    if not keep:
        return lines
    kept, columns = [], None  # (line, columns it is cut to)
    for token in (t.strip() for t in keep.split(",")):
        if token == "...":
            kept.append(("[...]", None))
        elif token.startswith("last:"):
            kept += [(line, columns) for line in lines[-int(token[5:]):]]
        elif token.startswith("block:"):
            pattern = re.compile(token[6:])
            start = next(k for k, line in enumerate(lines) if pattern.search(line))
            end = next((k for k in range(start, len(lines)) if not lines[k]), len(lines))
            kept += [(line, columns) for line in lines[start:end]]
        elif token.startswith("cols:"):
            a, b = token[5:].split("-")
            columns = (int(a), int(b))
        else:
            a, b = token.split("-")
            kept += [(line, columns) for line in lines[int(a) - 1:int(b) if b else len(lines)]]
    shown = []
    for line, span in kept:
        if span and line:
            a, b = span
            line = ("[...]" if a > 1 else "") + line[a - 1:b] + ("[...]" if len(line) > b else "")
        shown.append(line)
    return shown


def check(name, build, update):
    """Checks (or rewrites) one file's examples: (examples, stale ones)."""
    path = os.path.join(ROOT, name)
    lines = open(path).read().split("\n")
    out, k, stale, count = [], 0, 0, 0
    while k < len(lines):
        out.append(lines[k])
        match = MARKER.match(lines[k]) or FILE_MARKER.match(lines[k])
        if not match:
            k += 1
            continue
        if k + 1 >= len(lines) or not lines[k + 1].startswith("```"):
            sys.exit("%s:%d: an output marker without a code block after it" % (name, k + 1))
        end = next(j for j in range(k + 2, len(lines)) if lines[j].startswith("```"))
        if match.re is FILE_MARKER:
            wanted = open(os.path.join(ROOT, match.group(1))).read().rstrip("\n").split("\n")
        elif match.group(1).startswith("python3 ") and not os.path.isdir(os.path.join(build, "python")):
            print("skipped (this build has no Python module): " + match.group(1))
            wanted = lines[k + 2:end]
        else:
            wanted = cut(run(match.group(1), build), match.group(2))
        shown = lines[k + 2:end]
        count += 1
        if shown != wanted:
            stale += 1
            if not update:
                sys.stdout.writelines(difflib.unified_diff([s + "\n" for s in shown], [w + "\n" for w in wanted],
                                                           "%s:%d" % (name, k + 3), match.group(1)))
        out += [lines[k + 1]] + wanted + [lines[end]]
        k = end + 1
    if update and stale:
        open(path, "w").write("\n".join(out))
    return count, stale


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    build, update = sys.argv[1], "--update" in sys.argv[2:]
    # The README and the documents it links to.
    docs = os.path.join(ROOT, "docs")
    names = ["README.md"] + sorted(os.path.join("docs", f) for f in os.listdir(docs) if f.endswith(".md"))
    count = stale = 0
    for name in names:
        c, s = check(name, build, update)
        count, stale = count + c, stale + s
    if update:
        print("%d examples, %d rewritten" % (count, stale))
    elif stale:
        sys.exit("%d of %d README examples differ from what the build prints (scripts/readme_examples.py BUILD "
                 "--update rewrites them)" % (stale, count))
    else:
        print("%d README examples are what the build prints" % count)


main()
