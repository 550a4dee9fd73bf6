#!/usr/bin/env python3
"""Checks that a program's documentation and its --help agree on the options.

qrmhost: every option that `qrmhost COMMAND --help` lists is named in that command's section of
docs/qrmhost.md (its "### COMMAND ..." heading or its option table), and every option named there
exists, for that command or as a global option. camsim: every option of `vantrel-camsim --help` is in the options table
of docs/camsim.md and the other way round, and every /sim/ path the document names is in --help.

Usage: options_documented.py qrmhost PROGRAM DOC | camsim PROGRAM DOC
"""
import re
import subprocess
import sys

OPTION = re.compile(r"(?<![\w-])--[a-z][a-z0-9-]*")


def help_text(*arguments):
    return subprocess.run(list(arguments) + ["--help"], capture_output=True, text=True, check=True).stdout


def options_in(text):
    return set(OPTION.findall(text)) - {"--help"}


def listed_options(help_output):
    """The options CLI11 lists, one per line ("  --name VALUE   help"), not those named in help texts."""
    return set(re.findall(r"^\s+(?:-\w,)?(--[a-z][a-z0-9-]*)", help_output, re.M)) - {"--help"}


def documented_options(section):
    """Options of a command's section: its heading line and the rows of its option table."""
    lines = section.splitlines()
    return options_in("\n".join([lines[0]] + table_option_cells(section)))


def table_option_cells(text):
    """The first cells of the table rows that describe options ("| `--name VALUE` | meaning |")."""
    return [line.split("|")[1] for line in text.splitlines() if line.startswith("| `--")]


def sections(doc):
    """{command: text} for the '### command' headings of the Commands part."""
    found = {}
    for match in re.finditer(r"^### (\S+)(.*?)(?=^##|\Z)", doc, re.S | re.M):
        found[match.group(1)] = match.group(0)
    return found


def check_qrmhost(program, doc):
    problems = []
    head, _, listing = help_text(program).partition("Subcommands:")
    global_options = listed_options(head)
    documented = sections(doc)
    commands = re.findall(r"^([a-z][\w-]*)$", listing, re.M)
    for command in commands:
        if command not in documented:
            problems.append(f"`{command}` has no section in the document")
            continue
        offered = listed_options(help_text(program, command)) - global_options
        named = documented_options(documented[command])
        for option in sorted(offered - named):
            problems.append(f"{command}: {option} is not documented")
        for option in sorted(named - offered - global_options):
            problems.append(f"{command}: the document names {option}, which the command does not take")
    return problems


def check_camsim(program, doc):
    problems = []
    text = help_text(program)
    table = "\n".join(table_option_cells(doc))
    offered, named = listed_options(text), options_in(table)
    problems += [f"{o} is not in the options table" for o in sorted(offered - named)]
    problems += [f"the options table names {o}, which --help does not list" for o in sorted(named - offered)]
    for path in sorted(set(re.findall(r"/sim/[a-z_]+", doc))):
        if path not in text:
            problems.append(f"--help does not mention {path}")
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
