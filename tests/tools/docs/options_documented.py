#!/usr/bin/env python3
"""Checks that a program's documentation and its --help agree on the options.

qrmhost: --help lists exactly the commands docs/qrmhost.md has a "### COMMAND" section for, and the
options of `qrmhost COMMAND --help` are those the section names (heading or option table), global
ones aside. camsim: the options of --help are those of the options table in docs/camsim.md, and
--help mentions every /sim/ path the document names.
Usage: options_documented.py qrmhost PROGRAM DOC | camsim PROGRAM DOC
"""
import re
import subprocess
import sys

OPTION = re.compile(r"(?<![\w-])--[a-z][a-z0-9-]*")


def help_text(*arguments):
    return subprocess.run(list(arguments) + ["--help"], capture_output=True, text=True, check=True).stdout


def listed_options(help_output):
    """The options CLI11 lists, one per line ("  --name VALUE   help"), not those named in help texts."""
    return set(re.findall(r"^\s+(?:-\w,)?(--[a-z][a-z0-9-]*)", help_output, re.M)) - {"--help"}


def documented_options(text, with_first_line=False):
    """Options in the first cells of option rows ("| `--name VALUE` | meaning |"), and in the heading when asked."""
    cells = [line.split("|")[1] for line in text.splitlines() if line.startswith("| `--")]
    if with_first_line:
        cells.append(text.splitlines()[0])
    return set(OPTION.findall("\n".join(cells))) - {"--help"}


def check_qrmhost(program, doc):
    problems = []
    head, _, listing = help_text(program).partition("Subcommands:")
    global_options = listed_options(head)
    # {command: its section} for the '### command' headings of the Commands part.
    documented = {m.group(1): m.group(0) for m in re.finditer(r"^### (\S+)(.*?)(?=^##|\Z)", doc, re.S | re.M)}
    commands = re.findall(r"^([a-z][\w-]*)$", listing, re.M)
    problems += [f"`{c}` is documented but --help does not list it" for c in sorted(set(documented) - set(commands))]
    for command in commands:
        if command not in documented:
            problems.append(f"`{command}` has no section in the document")
            continue
        offered = listed_options(help_text(program, command)) - global_options
        named = documented_options(documented[command], with_first_line=True)
        problems += [f"{command}: {o} is not documented" for o in sorted(offered - named)]
        problems += [f"{command}: the document names {o}, which the command does not take"
                     for o in sorted(named - offered - global_options)]
    return problems


def check_camsim(program, doc):
    text = help_text(program)
    offered, named = listed_options(text), documented_options(doc)
    problems = [f"{o} is not in the options table" for o in sorted(offered - named)]
    problems += [f"the options table names {o}, which --help does not list" for o in sorted(named - offered)]
    problems += [f"--help does not mention {p}" for p in sorted(set(re.findall(r"/sim/[a-z_]+", doc))) if p not in text]
    return problems


def main():
    kind, program, doc_path = sys.argv[1:4]
    doc = open(doc_path, encoding="utf-8").read()
    problems = (check_qrmhost if kind == "qrmhost" else check_camsim)(program, doc)
    for problem in problems:
        print(f"{doc_path}: {problem}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
