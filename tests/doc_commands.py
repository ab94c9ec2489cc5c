#!/usr/bin/env python3
"""Runs the commands of the README and the guide's pages as written, and compares their output.

Each fenced ```console block's `$ ` lines are commands (a line ending in a backslash goes on
on the next); the lines after a command, up to the next `$ ` line or the block's end, are
what it prints, standard output and standard error together, compared line for line, digit
for digit. A command shown without output must only succeed. Every command must end with
status 0: a page that shows a refusal shows `echo "status $?"` after it.

A page's blocks run in order in one shell, in a fresh temporary folder, with the programs of
the build first on PATH. A block after `<!-- file: NAME -->` is written to NAME in that folder
instead of run (a Python example, a levels file). A block after `<!-- test: jack -->` needs
a JACK server: ctest gives such a page the jack lock, and the page starts its own server,
under a name of the test's (JACK_DEFAULT_SERVER), which the shell stops at the end.

Output that varies from run to run is compared through patterns the page gives before the
block, each a Python regular expression over one line of output:
  <!-- varies: REGEX -->     what REGEX's groups match (all of its match, without groups) varies:
                             it is masked in the shown and the printed lines alike; it must
                             match in at least one shown line of the block
  <!-- may print: REGEX -->  a line where REGEX matches may be printed or not, anywhere: such
                             lines are left out of the comparison, and of the page by --update
Several marks may stand before one block, one a line.

Every relative link must name a file that exists, and its anchor a heading of that page.

Commands are only shown where they are tested: a ```sh, ```bash or ```shell block, or a
```python block that is not a file, is refused. Indented blocks are not run here: they hold
the programs' synopses, a CMake fragment, and build lines that tests of their own run as
shown (the README's release build and the C++ page's shared library in build_commands_test.sh,
the README's test command by CI, checked by Doc.CiRunsTheReadmeTestCommand).

  doc_commands.py [--update] --bin DIR [--python-dir DIR] [--pythonpath DIR]
                  [--build DIR] [--source DIR] [--cxxflags FLAGS] PAGE...

--build and --source make the page's folder stand in for a clone: build/release is the build
folder, examples/ the source's. --cxxflags are flags every compile and link against the
library needs (the sanitizers', in a sanitized build): CXXFLAGS and LDFLAGS for CMake, and
a g++ first on PATH that adds them.

--update rewrites in place the shown output of every command whose printed lines differ from
it, as compared, with what it prints now (keeping a shown line that differs from a printed one
only in what varies); the test never uses it. A new command's output is shown by putting a line
`...` after it and running --update.
"""
import argparse
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile

FENCE = re.compile(r"^```(\S*)\s*$")
MARK = re.compile(r"^<!-- (file|test|varies|may print): (.+?) -->\s*$")
UNTESTED = {"sh", "bash", "shell", "python"}
TIMEOUT = 300  # seconds a command may take before its page fails


class Command:
    def __init__(self, text, line, shown_from, shown):
        self.text = text            # the command, its continuation lines joined with newlines
        self.line = line            # its line number in the page, from 1
        self.shown_from = shown_from  # index of its first shown output line in the page
        self.shown = shown          # the lines shown after it
        self.varies = []            # patterns of what varies within a line (its block's marks)
        self.may_print = []         # patterns of lines that may be printed or not

    def compared(self, lines):
        """The lines as compared: those that may be printed or not left out, what varies masked."""
        kept = [line for line in lines if not any(p.search(line) for p in self.may_print)]
        return [mask(line, self.varies) for line in kept]

    def shown_anew(self, printed):
        """What --update shows: the printed lines but those that may be printed or not, where
        a shown line differs from one only in what varies, the shown line."""
        shown = {mask(line, self.varies): line for line in self.shown}
        return [shown.get(mask(line, self.varies), line) for line in printed
                if not any(p.search(line) for p in self.may_print)]


def mask(line, patterns):
    def masked(m):
        if not m.re.groups:
            return "…"
        text, at = "", m.start()
        for g in range(1, m.re.groups + 1):
            if m.start(g) >= 0:
                text += line[at:m.start(g)] + "…"
                at = m.end(g)
        return text + line[at:m.end()]
    for pattern in patterns:
        line = pattern.sub(masked, line)
    return line


def marked(path, line, kind, value):
    """A mark's value checked: a file name, a test's name, or a compiled pattern."""
    if kind in ("file", "test") and re.search(r"\s", value):
        sys.exit(f"{path}:{line}: a {kind} mark names one word")
    if kind == "test" and value != "jack":
        sys.exit(f"{path}:{line}: no test is named {value} (only jack is)")
    if kind in ("varies", "may print"):
        try:
            return re.compile(value)
        except re.error as e:
            sys.exit(f"{path}:{line}: the pattern {value} is not a regular expression: {e}")
    return value


def apply_marks(path, line, marks, found):
    """The block's marks of what varies given to its commands."""
    varies = [v for k, v in marks if k == "varies"]
    placeholder = any(c.shown == ["..."] for c in found)  # output --update is to show
    for pattern in [] if placeholder else varies:
        if not any(pattern.search(shown) for c in found for shown in c.shown):
            sys.exit(f"{path}:{line}: the pattern {pattern.pattern} matches no line the block shows")
    for c in found:
        c.varies = varies
        c.may_print = [v for k, v in marks if k == "may print"]


def parse(path):
    """The page's steps, in order: ("file", name, text) and ("run", Command)."""
    lines = open(path, encoding="utf-8").read().split("\n")
    steps, marks, i = [], [], 0
    while i < len(lines):
        m = MARK.match(lines[i])
        if m:
            marks.append((m.group(1), marked(path, i + 1, m.group(1), m.group(2))))
            i += 1
            continue
        fence = FENCE.match(lines[i])
        if not fence:
            if lines[i].strip():
                marks = []
            i += 1
            continue
        lang, start = fence.group(1), i + 1
        end = start
        while end < len(lines) and not lines[end].startswith("```"):
            end += 1
        if end == len(lines):
            sys.exit(f"{path}:{i + 1}: the block is never closed")
        body = lines[start:end]
        file = [v for k, v in marks if k == "file"]
        if file:
            steps.append(("file", file[0], "\n".join(body) + "\n"))
        elif lang == "console":
            found = commands(path, body, start)
            apply_marks(path, i + 1, marks, found)
            steps.extend(("run", c) for c in found)
        elif lang in UNTESTED:
            sys.exit(f"{path}:{i + 1}: a ```{lang} block is never run: make it a console block "
                     "or a file")
        marks, i = [], end + 1
    return lines, steps


def commands(path, body, first):
    found, k = [], 0
    if body and not body[0].startswith("$ "):
        sys.exit(f"{path}:{first + 1}: a console block starts with a command")
    while k < len(body):
        line = first + k
        text = body[k][2:]
        while text.endswith("\\") and k + 1 < len(body):
            k += 1
            text += "\n" + body[k]
        k += 1
        start = k
        while k < len(body) and not body[k].startswith("$ "):
            k += 1
        found.append(Command(text, line + 1, first + start, body[start:k]))
    return found


class Shell:
    """One bash for a page, in its own session, each command's output to a file of its own."""

    def __init__(self, folder, scratch, env):
        self.scratch = scratch
        self.count = 0
        self.bash = subprocess.Popen(["bash", "--noprofile", "--norc"], cwd=folder, env=env,
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL, start_new_session=True,
                                     text=True)

    def run(self, text):
        self.count += 1
        out = os.path.join(self.scratch, f"out{self.count}")
        done = f"__done_{self.count}__"
        self.bash.stdin.write(f"{{ {text}\n}} </dev/null >'{out}' 2>&1\n"
                              f"echo \"{done} $?\"\n")
        self.bash.stdin.flush()
        while True:
            ready, _, _ = select.select([self.bash.stdout], [], [], TIMEOUT)
            if not ready:
                self.close()
                return f"none within {TIMEOUT} s", open(out, encoding="utf-8", errors="replace").read()
            reply = self.bash.stdout.readline()
            if not reply:
                return None, open(out, encoding="utf-8", errors="replace").read()
            if reply.startswith(done):
                status = int(reply.split()[1])
                return status, open(out, encoding="utf-8", errors="replace").read()

    def close(self):
        """Ends the shell and whatever it started (a JACK server in the background)."""
        try:
            os.killpg(self.bash.pid, signal.SIGTERM)
        except ProcessLookupError:
            pass
        try:
            self.bash.stdin.close()
        except BrokenPipeError:
            pass
        self.bash.wait()


def environment(args, home):
    env = dict(os.environ)
    path = [os.path.abspath(args.bin)]
    if args.python_dir:
        path.append(os.path.abspath(args.python_dir))
    if args.cxxflags:
        path.insert(0, os.path.join(home, "..", "tools"))
        env["CXXFLAGS"] = env["LDFLAGS"] = args.cxxflags
    env["PATH"] = os.pathsep.join(path + [env.get("PATH", "/usr/bin:/bin")])
    if args.pythonpath:
        env["PYTHONPATH"] = os.path.abspath(args.pythonpath)
    env["HOME"] = home
    env["JACK_DEFAULT_SERVER"] = f"vellisk-doc-{os.getpid()}"
    env["LC_ALL"] = "C.UTF-8"
    env["PYTHONDONTWRITEBYTECODE"] = "1"
    env.pop("MANPATH", None)
    env.pop("PKG_CONFIG_PATH", None)
    return env


def prepare(folder, args):
    """The page's folder stands in for a clone: examples/ and, when given, build/release."""
    if args.cxxflags:
        tools = os.path.join(folder, "..", "tools")
        os.mkdir(tools)
        compiler = shutil.which("g++")
        with open(os.path.join(tools, "g++"), "w", encoding="utf-8") as f:
            f.write(f'#!/bin/sh\nexec {compiler} "$@" {args.cxxflags}\n')
        os.chmod(os.path.join(tools, "g++"), 0o755)
    if args.source:
        os.symlink(os.path.join(os.path.abspath(args.source), "examples"),
                   os.path.join(folder, "examples"))
    if args.build:
        os.mkdir(os.path.join(folder, "build"))
        os.symlink(os.path.abspath(args.build), os.path.join(folder, "build", "release"))


def slug(heading):
    """The anchor the forge gives a heading."""
    text = heading.lstrip("#").strip().lower().replace("`", "")
    return re.sub(r"[^\w\- ]", "", text).replace(" ", "-")


def headings(path):
    found, fenced = set(), False
    for line in open(path, encoding="utf-8"):
        if line.startswith("```"):
            fenced = not fenced
        elif not fenced and line.startswith("#"):
            found.add(slug(line))
    return found


def broken_links(path):
    failures, folder = [], os.path.dirname(os.path.abspath(path))
    text = open(path, encoding="utf-8").read()
    for target in re.findall(r"\]\(([^)\s]+)\)", text):
        if re.match(r"[a-z]+:", target):
            continue
        file, _, anchor = target.partition("#")
        where = os.path.normpath(os.path.join(folder, file)) if file else os.path.abspath(path)
        if not os.path.exists(where):
            failures.append(f"{path}: the link {target} names no file")
        elif anchor and where.endswith(".md") and anchor not in headings(where):
            failures.append(f"{path}: the link {target} names no heading of {file or path}")
    return failures


def run_page(path, args):
    lines, steps = parse(path)
    failures, updates = broken_links(path), {}
    top = tempfile.mkdtemp(prefix="vellisk-doc-")
    folder, scratch = os.path.join(top, "work"), os.path.join(top, "scratch")
    os.mkdir(folder)
    os.mkdir(scratch)
    shell = None
    try:
        prepare(folder, args)
        shell = Shell(folder, scratch, environment(args, folder))
        for step in steps:
            if step[0] == "file":
                with open(os.path.join(folder, step[1]), "w", encoding="utf-8") as f:
                    f.write(step[2])
                continue
            command = step[1]
            status, output = shell.run(command.text)
            printed = output.split("\n")
            if printed and printed[-1] == "":
                printed.pop()
            where = f"{path}:{command.line}: $ {command.text}"
            if status != 0:
                failures.append(f"{where}\nended with status {status}:\n{output}")
                break
            shown, got = command.compared(command.shown), command.compared(printed)
            if command.shown and got != shown:
                updates[command.shown_from] = (len(command.shown), command.shown_anew(printed))
                failures.append(f"{where}\nprinted other lines than the page shows"
                                + (" (… masks what varies)" if command.varies else "") + ":\n"
                                + "\n".join(diff(shown, got)))
    finally:
        if shell:
            shell.close()
        shutil.rmtree(top, ignore_errors=True)
    if args.update and updates:
        rewrite(path, lines, updates)
        return [f for f in failures if "printed other lines" not in f]
    return failures


def diff(shown, printed):
    import difflib
    return list(difflib.unified_diff(shown, printed, "shown", "printed", lineterm=""))


def rewrite(path, lines, updates):
    out, i = [], 0
    while i < len(lines):
        if i in updates:
            count, printed = updates[i]
            out.extend(printed)
            i += count
        else:
            out.append(lines[i])
            i += 1
    with open(path, "w", encoding="utf-8") as f:
        f.write("\n".join(out))
    print(f"{path}: {len(updates)} outputs rewritten")


def main():
    # ctest's timeout ends the run by SIGTERM: the shells are ended on the way out.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("ended by SIGTERM"))
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--update", action="store_true")
    parser.add_argument("--bin", required=True)
    parser.add_argument("--python-dir")
    parser.add_argument("--pythonpath")
    parser.add_argument("--build")
    parser.add_argument("--source")
    parser.add_argument("--cxxflags", default="")
    parser.add_argument("pages", nargs="+")
    args = parser.parse_args()
    failures = []
    for page in args.pages:
        failures += run_page(page, args)
    for f in failures:
        print(f, file=sys.stderr)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
