#!/usr/bin/env python3
"""Every option of every program is documented once, in its manual page, and nothing more.

For each program and command (gpsfwimg build, gpsfwstation history, ...) the options its
--help names are compared with the options its manual page (man/PROGRAM.1.in) lists, in both
directions: an option added without documentation, or documented and gone, fails.

What counts as named:
  --help: the leading option words of a line that starts with '-' (the option column), and
          every option word of a usage line ("Usage: PROG ...", "PROG ...", or a usage
          line's continuation starting with '['). Usage lines of another command are that
          command's.
  manual: the tag of every .TP item whose tag starts with an option. A comment line
          '.\\" options: COMMAND' makes the tags that follow COMMAND's, up to the next one.

Usage: options_test.py BIN_DIR SOURCE_DIR
"""
import re
import subprocess
import sys

# Each program with the commands that have a --help of their own ("" is the program itself).
PROGRAMS = {
    "gpsfwload": [""],
    "gpsfwsim": [""],
    "gpsfwimg": ["", "build", "info", "sample"],
    "gpsfwstation": ["", "history", "stats", "serve"],
}

OPTION = re.compile(r"^(--[a-z0-9][a-z0-9-]*|-[a-zA-Z])(?=$|[=,\]|\[\s])")


def option_words(words):
    """The option words among WORDS, each cut at '=' or a bracket."""
    found = set()
    for word in (part for word in words for part in word.split("|")):
        word = word.lstrip("[(")
        match = OPTION.match(word)
        if match:
            found.add(match.group(1))
    return found


def leading_options(line):
    """The option column of an option line: options and their value names, up to the text."""
    found = set()
    for word in line.split():
        match = OPTION.match(word.lstrip("["))
        if match:
            found.add(match.group(1))
        elif re.match(r"^[a-z]", word):
            break
    return found


def help_options(program, command, text):
    """{command: options} named by the --help TEXT of PROGRAM [COMMAND]."""
    found = {}
    scope = command
    for raw in text.splitlines():
        line = raw.strip()
        words = line.split()
        if not words:
            continue
        if words[0].lower() == "usage:":
            words = words[1:]
        if words and words[0] == program:
            scope = command
            for word in words[1:]:
                if word in PROGRAMS[program] and word:
                    scope = word
                found.setdefault(scope, set()).update(option_words([word]))
        elif line.startswith("["):
            found.setdefault(scope, set()).update(option_words(words))
        elif line.startswith("-"):
            scope = command
            found.setdefault(scope, set()).update(leading_options(line))
        else:
            scope = command
    return found


def manual_options(path):
    """{command: options} the manual page lists as .TP tags."""
    found = {"": set()}
    scope = ""
    lines = open(path, encoding="utf-8").read().splitlines()
    for i, line in enumerate(lines):
        marker = re.match(r'^\.\\"\s*options:\s*(\S*)', line)
        if marker:
            scope = marker.group(1)
            found.setdefault(scope, set())
            continue
        if line.strip() != ".TP" or i + 1 >= len(lines):
            continue
        tag = lines[i + 1]
        if not re.match(r"^\.(B|BI|BR|IR|I)?\s*\\-", tag) and not tag.startswith("\\-"):
            continue
        plain = tag.replace("\\-", "-").replace("\\fR", " ").replace("\\fP", " ")
        plain = plain.replace("\\fB", " ").replace("\\fI", " ").replace('"', " ")
        plain = re.sub(r"^\.[A-Z]+\s", "", plain)
        found[scope].update(option_words(plain.replace(",", " ").split()))
    return found


def run_help(bin_dir, program, command):
    args = [f"{bin_dir}/{program}"] + ([command] if command else []) + ["--help"]
    result = subprocess.run(args, capture_output=True, text=True, timeout=60)
    if result.returncode != 0:
        sys.exit(f"{' '.join(args)} ended with status {result.returncode}: {result.stderr}")
    return result.stdout


def main():
    bin_dir, source_dir = sys.argv[1], sys.argv[2]
    problems = []
    for program, commands in PROGRAMS.items():
        named = {}
        for command in commands:
            for scope, options in help_options(program, command, run_help(bin_dir, program, command)).items():
                named.setdefault(scope, set()).update(options)
        page = f"{source_dir}/man/{program}.1.in"
        documented = manual_options(page)
        for command in commands:
            title = f"{program} {command}".strip()
            helped = named.get(command, set())
            listed = documented.get(command, set())
            for option in sorted(helped - listed):
                problems.append(f"{title}: {option} is in --help but not documented in {page}")
            for option in sorted(listed - helped):
                problems.append(f"{title}: {option} is documented in {page} but not in --help")
            print(f"{title}: {len(helped & listed)} options documented and in --help")
    for problem in problems:
        print(problem)
    if problems:
        sys.exit(1)


if __name__ == "__main__":
    main()
