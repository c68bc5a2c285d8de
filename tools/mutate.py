#!/usr/bin/env python3
"""Fault seeding for Sonvault: plants one small fault (a mutant) at a time in src/ and checks
that the test suite notices it.

The script clones the committed HEAD (or --rev) of a repository into a work directory, so the
working tree it was started from is never touched, configures one Release build there once and
then, for each mutant: writes it, rebuilds incrementally, runs the tests and restores the file.

  killed        the build succeeded and a test failed or timed out
  survived      the build succeeded and every test passed
  not compiled  the build failed (left out of the score)

Mutants, over every .cpp and .h file under src/ (code lines only: comments, blank lines and
preprocessor lines are skipped, and so are lines in #if branches for _WIN32, which this build
never compiles):
  cmp    a comparison flipped:  < and <=,  > and >=,  == and !=  (spaced binary operators only)
  logic  && and || swapped
  int+1  an integer literal (decimal or hex) moved up by one
  int-1  an integer literal moved down by one
  bool   true and false swapped
  del    a whole statement line deleted (not a declaration; continue, break and return included)
  incr   a ++x or x++ statement removed where the del mutant does not already cover it
The list is sorted by file, line, operator and column. Each mutant carries a key made of the
file, operator, original line text and occurrence numbers, so runs on two commits can be
compared without relying on line numbers.

Usage:
  tools/mutate.py [REPO] [--workdir DIR] [--rev REV] [--files GLOB ...] [--limit N] [--stride N]
                  [--list] [--out results.json]

  REPO defaults to the repository holding this script; --workdir defaults to a temporary
  directory (removed at the end). GLOBs match paths such as src/transfer/frame.cpp. A full run
  takes long: start it at low priority, e.g.
    nice -n 19 tools/mutate.py --workdir /tmp/mutate --out /tmp/mutate/results.json
"""

import argparse
import fnmatch
import json
import os
import re
import resource
import shutil
import subprocess
import sys
import tempfile
import time

OPERATORS = ("bool", "cmp", "del", "incr", "int+1", "int-1", "logic")

CMP_SWAP = {"<": "<=", "<=": "<", ">": ">=", ">=": ">", "==": "!=", "!=": "=="}
CMP_RE = re.compile(r"(?<=\s)(<=|>=|==|!=|<|>)(?=\s)")
LOGIC_RE = re.compile(r"(?<=\s)(&&|\|\|)(?=\s)")
BOOL_RE = re.compile(r"\b(true|false)\b")
INT_RE = re.compile(r"(?<![\w.])(0[xX][0-9a-fA-F]+|[0-9]+)([uUlL]*)(?![\w.])")
INCR_RE = re.compile(r"(?:^|(?<=[;{})]))(\s*)(\+\+\s*[A-Za-z_][\w.\[\]>-]*|"
                     r"[A-Za-z_][\w.\[\]>-]*\s*\+\+)\s*;")

# Leading words that make a line a declaration rather than a statement.
DECL_WORDS = {
    "auto", "class", "const", "constexpr", "consteval", "constinit", "enum", "explicit",
    "extern", "friend", "inline", "mutable", "namespace", "signed", "static", "static_assert",
    "struct", "template", "thread_local", "typedef", "typename", "union", "unsigned", "using",
    "virtual", "volatile",
}
STATEMENT_WORDS = {"return", "delete", "throw", "goto", "case", "else", "do", "co_return",
                   "co_yield", "break", "continue"}
DECL_RE = re.compile(r"^[A-Za-z_][\w:]*(?:<[^;()]*>)?(?:\s*[*&]+\s*|\s+)[A-Za-z_]\w*\s*"
                     r"(?:\[[^\]]*\]\s*)?(?:[=;({,]|$)")

# Test processes may not write files larger than this (a mutant that loses the 32 MiB window
# check must not fill the disk) nor map more memory than this.
FILE_SIZE_LIMIT = 256 << 20
MEMORY_LIMIT = 4 << 30


def run(cmd, cwd=None, capture=True, env=None, preexec=None):
    return subprocess.run(cmd, cwd=cwd, env=env, preexec_fn=preexec, text=True,
                          stdout=subprocess.PIPE if capture else None,
                          stderr=subprocess.STDOUT if capture else None)


def git(repo, *args):
    result = run(["git", "-C", repo] + list(args))
    if result.returncode != 0:
        sys.exit("git %s failed:\n%s" % (" ".join(args), result.stdout))
    return result.stdout.strip()


# ---------------------------------------------------------------------------- line scanning

def mask_line(text, in_block):
    """Returns (masked, in_block): text with comments blanked out and the insides of string and
    character literals replaced by '_', same length, so operators in them are never matched."""
    out = []
    i = 0
    n = len(text)
    while i < n:
        if in_block:
            end = text.find("*/", i)
            if end < 0:
                out.append(" " * (n - i))
                i = n
            else:
                out.append(" " * (end + 2 - i))
                i = end + 2
                in_block = False
            continue
        c = text[i]
        if text.startswith("//", i):
            out.append(" " * (n - i))
            break
        if text.startswith("/*", i):
            in_block = True
            out.append("  ")
            i += 2
            continue
        if c in "\"'":
            j = i + 1
            while j < n and text[j] != c:
                j += 2 if text[j] == "\\" else 1
            j = min(j, n - 1)
            out.append(c + "_" * (j - i - 1) + text[j])
            i = j + 1
            continue
        out.append(c)
        i += 1
    return "".join(out), in_block


def is_declaration(code):
    first = re.match(r"[A-Za-z_]\w*", code)
    if first and first.group(0) in DECL_WORDS:
        return True
    if first and first.group(0) in STATEMENT_WORDS:
        return False
    return bool(DECL_RE.match(code))


def win32_branch_active(directive):
    """Whether the code under an #if/#ifdef/#ifndef/#elif directive is compiled here, as far as
    a _WIN32 test decides it; None when the condition is not about _WIN32."""
    m = re.match(r"#\s*(ifdef|ifndef)\s+(\w+)", directive)
    if m:
        if m.group(2) != "_WIN32":
            return None
        return m.group(1) == "ifndef"
    m = re.match(r"#\s*(?:el)?if\s+(!?)\s*defined\s*\(?\s*_WIN32\s*\)?\s*$", directive)
    if m:
        return m.group(1) == "!"
    return None


def code_lines(lines):
    """Yields (index, code) for each line that is compiled code; code is the masked text with
    trailing blanks removed. Also yields whether the line starts a statement."""
    in_block = False
    stack = []  # per #if: [parent_active, branch_active, win32_condition]
    active = True
    previous = ""  # masked code of the previous code line
    for index, raw in enumerate(lines):
        text = raw.rstrip("\r\n")
        masked, in_block_after = mask_line(text, in_block)
        stripped = masked.strip()
        in_block = in_block_after
        if stripped.startswith("#"):
            directive = stripped
            if re.match(r"#\s*if", directive):
                cond = win32_branch_active(directive)
                branch = True if cond is None else cond
                stack.append([active, branch, cond is not None])
                active = active and branch
            elif re.match(r"#\s*elif", directive) and stack:
                cond = win32_branch_active(directive)
                parent, _, was_win32 = stack[-1]
                branch = True if cond is None else cond
                stack[-1] = [parent, branch, was_win32 or cond is not None]
                active = parent and branch
            elif re.match(r"#\s*else", directive) and stack:
                parent, branch, was_win32 = stack[-1]
                branch = (not branch) if was_win32 else True
                stack[-1][1] = branch
                active = parent and branch
            elif re.match(r"#\s*endif", directive) and stack:
                active = stack.pop()[0]
            previous = ";"
            continue
        if not stripped or not active:
            continue
        prev = previous.rstrip()
        starts = (prev == "" or prev.endswith((";", "{", "}")) or
                  (prev.endswith(":") and not prev.endswith("::")))
        yield index, masked.rstrip(), starts
        previous = masked


# ---------------------------------------------------------------------------- mutants

def shift_literal(digits, delta):
    if digits.lower().startswith("0x"):
        value = int(digits, 16) + delta
        body = digits[2:]
        upper = any(ch.isupper() for ch in body) or not any(ch.isalpha() for ch in body)
        text = format(abs(value), "0%d%s" % (len(body), "X" if upper else "x"))
        return ("-" if value < 0 else "") + digits[:2] + text
    if len(digits) > 1 and digits.startswith("0"):
        return None  # octal: left alone
    return str(int(digits) + delta)


def line_mutants(text, masked, starts):
    """Mutants of one code line: (operator, column, description, new_text or None to delete)."""
    out = []
    for m in CMP_RE.finditer(masked):
        new = CMP_SWAP[m.group(1)]
        out.append(("cmp", m.start(), "%s -> %s" % (m.group(1), new),
                    text[:m.start()] + new + text[m.end():]))
    for m in LOGIC_RE.finditer(masked):
        new = "||" if m.group(1) == "&&" else "&&"
        out.append(("logic", m.start(), "%s -> %s" % (m.group(1), new),
                    text[:m.start()] + new + text[m.end():]))
    for m in BOOL_RE.finditer(masked):
        new = "false" if m.group(1) == "true" else "true"
        out.append(("bool", m.start(), "%s -> %s" % (m.group(1), new),
                    text[:m.start()] + new + text[m.end():]))
    for m in INT_RE.finditer(masked):
        for op, delta in (("int+1", 1), ("int-1", -1)):
            moved = shift_literal(m.group(1), delta)
            if moved is None:
                continue
            literal = moved + m.group(2)
            out.append((op, m.start(), "%s -> %s" % (m.group(0), literal),
                        text[:m.start()] + literal + text[m.end():]))
    code = masked.strip()
    deletable = (starts and code.endswith(";") and not code.startswith("}") and
                 not is_declaration(code))
    if deletable:
        out.append(("del", len(text) - len(text.lstrip()), "line deleted", None))
    else:
        for m in INCR_RE.finditer(masked):
            start = m.start(2)
            out.append(("incr", start, "%s removed" % text[start:m.end(2)],
                        text[:start] + text[m.end(2):]))
    return out


def generate_mutants(root, globs):
    files = git(root, "ls-files", "src").splitlines()
    files = sorted(f for f in files if f.endswith((".cpp", ".h")))
    if globs:
        files = [f for f in files
                 if any(fnmatch.fnmatch(f, g) or fnmatch.fnmatch(os.path.basename(f), g)
                        for g in globs)]
    mutants = []
    for path in files:
        with open(os.path.join(root, path), encoding="utf-8", newline="") as handle:
            lines = handle.readlines()
        seen_text = {}
        for index, masked, starts in code_lines(lines):
            raw = lines[index]
            text = raw.rstrip("\r\n")
            ending = raw[len(text):]
            original = text.strip()
            repeat = seen_text.get(original, 0)
            seen_text[original] = repeat + 1
            results = set()
            per_op = {}
            for op, column, desc, new_text in sorted(line_mutants(text, masked, starts),
                                                     key=lambda t: (OPERATORS.index(t[0]), t[1])):
                if new_text is not None and new_text.strip() in results:
                    continue
                results.add(new_text.strip() if new_text is not None else None)
                occurrence = per_op.get(op, 0)
                per_op[op] = occurrence + 1
                mutants.append({
                    "file": path,
                    "line": index + 1,
                    "operator": op,
                    "change": desc,
                    "original": original,
                    "mutated": "(deleted)" if new_text is None else new_text.strip(),
                    "key": [path, op, original, occurrence, repeat],
                    "_index": index,
                    "_replacement": "" if new_text is None else new_text,
                    "_ending": ending,
                })
    mutants.sort(key=lambda m: (m["file"], m["line"], OPERATORS.index(m["operator"]),
                                m["key"][3]))
    return mutants


# ---------------------------------------------------------------------------- running

def limit_resources():
    os.setpgrp()
    resource.setrlimit(resource.RLIMIT_FSIZE, (FILE_SIZE_LIMIT, FILE_SIZE_LIMIT))
    resource.setrlimit(resource.RLIMIT_AS, (MEMORY_LIMIT, MEMORY_LIMIT))


def build(root):
    # Only what the tests run: the tool and the test binary.
    return run(["nice", "cmake", "--build", "build", "-j2", "--target", "sonvault",
                "sonvault_tests"], cwd=root)


def run_tests(root, env):
    return run(["nice", "ctest", "--test-dir", "build", "-j2", "--timeout", "60",
                "--stop-on-failure"], cwd=root,
               env=env, preexec=limit_resources)


def failed_tests(output):
    failed = []
    seen = False
    for line in output.splitlines():
        if "The following tests FAILED" in line:
            seen = True
        elif seen:
            m = re.match(r"\s*\d+\s*-\s*(\S+)\s*\((.*)\)", line)
            if m:
                failed.append("%s (%s)" % (m.group(1), m.group(2)))
    return failed


def first_error(output):
    for line in output.splitlines():
        if re.search(r"\berror\b:", line):
            return line.strip()[:200]
    return output.strip().splitlines()[-1][:200] if output.strip() else ""


def write_results(path, meta, mutants):
    if not path:
        return
    public = [{k: v for k, v in m.items() if not k.startswith("_")} for m in mutants]
    counts = {s: sum(1 for m in public if m.get("status") == s)
              for s in ("killed", "survived", "not compiled")}
    data = dict(meta)
    data["counts"] = counts
    data["survivors"] = [m for m in public if m.get("status") == "survived"]
    data["mutants"] = public
    tmp = path + ".tmp"
    with open(tmp, "w", encoding="utf-8") as handle:
        json.dump(data, handle, indent=1)
        handle.write("\n")
    os.replace(tmp, path)


def describe(m):
    return "%s:%d %s %s" % (m["file"], m["line"], m["operator"], m["mutated"])


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description="Plant one fault at a time in src/ and run the "
                                     "tests against each (see the header of this file).")
    parser.add_argument("repo", nargs="?", help="repository (default: the one holding this script)")
    parser.add_argument("--workdir", help="where to clone and build (default: a temporary "
                        "directory, removed afterwards)")
    parser.add_argument("--rev", default="HEAD", help="commit to test (default: HEAD)")
    parser.add_argument("--files", nargs="+", metavar="GLOB", help="only files matching a GLOB")
    parser.add_argument("--limit", type=int, help="only the first N mutants")
    parser.add_argument("--stride", type=int, default=1,
                        help="every Nth mutant of the sorted list only, for a quicker sample")
    parser.add_argument("--list", action="store_true", help="print the mutants and stop")
    parser.add_argument("--out", help="write the results as JSON to this file")
    args = parser.parse_args()

    repo = args.repo or run(["git", "-C", here, "rev-parse", "--show-toplevel"]).stdout.strip()
    repo = os.path.abspath(repo)
    commit = git(repo, "rev-parse", "--verify", args.rev + "^{commit}")

    temporary = args.workdir is None
    workdir = tempfile.mkdtemp(prefix="mutate-") if temporary else os.path.abspath(args.workdir)
    os.makedirs(workdir, exist_ok=True)
    root = os.path.join(workdir, "repo")
    try:
        if os.path.exists(root):
            shutil.rmtree(root)
        subprocess.run(["git", "clone", "-q", repo, root], check=True)
        git(root, "checkout", "-q", "--detach", commit)

        mutants = generate_mutants(root, args.files)
        total = len(mutants)
        mutants = mutants[::args.stride]
        if args.limit is not None:
            mutants = mutants[:args.limit]
        if args.list:
            for i, m in enumerate(mutants, 1):
                print("%4d %s:%d %-5s %-22s %s" % (i, m["file"], m["line"], m["operator"],
                                                 m["change"], m["mutated"]))
            print("%d mutants (%d before --limit) at %s" % (len(mutants), total, commit))
            return 0

        meta = {"repository": repo, "commit": commit, "workdir": workdir,
                "started": time.strftime("%Y-%m-%d %H:%M:%S"), "total": len(mutants)}
        print("commit %s, %d mutants; configuring and building once..." % (commit, len(mutants)),
              flush=True)
        configure = run(["cmake", "-S", ".", "-B", "build", "-DCMAKE_BUILD_TYPE=Release"],
                        cwd=root)
        if configure.returncode != 0:
            sys.exit("configure failed:\n" + configure.stdout)
        first = build(root)
        if first.returncode != 0:
            sys.exit("the unmutated build failed:\n" + first.stdout[-4000:])
        tmpdir = os.path.join(workdir, "tmp")
        env = dict(os.environ, TMPDIR=tmpdir)
        os.makedirs(tmpdir, exist_ok=True)
        clean = run_tests(root, env)
        if clean.returncode != 0:
            sys.exit("the unmutated tests fail:\n" + clean.stdout[-4000:])

        started = time.time()
        for number, m in enumerate(mutants, 1):
            path = os.path.join(root, m["file"])
            with open(path, encoding="utf-8", newline="") as handle:
                original = handle.read()
            lines = original.splitlines(keepends=True)
            lines[m["_index"]] = m["_replacement"] + m["_ending"]
            t0 = time.time()
            try:
                with open(path, "w", encoding="utf-8", newline="") as handle:
                    handle.write("".join(lines))
                built = build(root)
                if built.returncode != 0:
                    m["status"] = "not compiled"
                    m["detail"] = first_error(built.stdout)
                else:
                    shutil.rmtree(tmpdir, ignore_errors=True)
                    os.makedirs(tmpdir, exist_ok=True)
                    tested = run_tests(root, env)
                    if tested.returncode == 0:
                        m["status"] = "survived"
                    else:
                        m["status"] = "killed"
                        failed = failed_tests(tested.stdout)
                        m["failed_tests"] = len(failed)
                        m["detail"] = "; ".join(failed[:3])
                        if "Timeout" in tested.stdout:
                            m["timeout"] = True
            finally:
                with open(path, "w", encoding="utf-8", newline="") as handle:
                    handle.write(original)
            m["seconds"] = round(time.time() - t0, 1)
            print("[%d/%d] %-12s %s" % (number, len(mutants), m["status"].upper(), describe(m)),
                  flush=True)
            meta["elapsed_seconds"] = round(time.time() - started)
            write_results(args.out, meta, mutants[:number])

        meta["finished"] = time.strftime("%Y-%m-%d %H:%M:%S")
        write_results(args.out, meta, mutants)
        counts = {s: sum(1 for m in mutants if m["status"] == s)
                  for s in ("killed", "survived", "not compiled")}
        scored = counts["killed"] + counts["survived"]
        print()
        print("killed %d, survived %d, not compiled %d (%d mutants, %.0f%% of the compiled ones "
              "killed)" % (counts["killed"], counts["survived"], counts["not compiled"],
                           len(mutants), 100.0 * counts["killed"] / scored if scored else 0))
        survivors = [m for m in mutants if m["status"] == "survived"]
        if survivors:
            print("survivors:")
            for m in survivors:
                print("  %s:%d %s (%s)" % (m["file"], m["line"], m["operator"], m["change"]))
                print("      was: %s" % m["original"])
                print("      now: %s" % m["mutated"])
        return 0
    finally:
        if temporary:
            shutil.rmtree(workdir, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
